"""Reading a recording as a person would: the description `detect` chooses
when it is given neither a model nor a stopping rule.

A person looking at a recording first sees what kind of signal it is, then
marks where it changes. The descriptions:

- "l2": a level that holds between abrupt shifts, around noise that may be
  correlated;
- "trend": a level that follows a straight line between changes: the bend of
  a trend is a change, and so is a shift of level on a trend;
- "normal": a level and a spread that hold between changes;
- "walk": a level that wanders like a random walk: its wandering is no
  change, only a jump that stands out of its steps is.

A seasonal swing (`_season`) is looked past first: it is removed before the
descriptions are fitted.

Each description is fitted by its own exact search at its own default
penalty, then they are compared on the same footing: the Gaussian
likelihood of the signal's one-step prediction errors under each, plus
ln(n) per parameter, a change's position counting twice as in the modified
BIC. The prediction errors are, for the descriptions of a level, the
residuals' innovations (residuals from the segments' levels or lines, less
the share of the previous residual their lag-one autocorrelation predicts:
correlated noise is then not mistaken for missing changes) and, for the
walk, its steps as a local-level model predicts them (steps of a walk
measured through noise are negatively correlated, which lowers their
prediction error). Variances are winsorised, so outliers and heavy tails
weigh alike on every description.
"""

from __future__ import annotations

import functools
import math
from collections.abc import Sequence
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt

from . import _noise
from ._penalty_trend import ABRUPT, gradual_penalty
from ._season import Season, seasonal_swing
from ._costs import segmentation_cost
from . import _tarnwell
from ._methods import model_facts
from ._tarnwell import Pelt

__all__ = ["DESCRIPTIONS", "DescriptionChoice", "choose_description", "description_cost", "description_parameters",
           "fit_description"]

_Matrix = npt.NDArray[np.float64]

DESCRIPTIONS = {
    "l2": "a level that holds between abrupt shifts",
    "trend": "a level that follows a straight line between changes (bends of a trend, shifts on a trend)",
    "normal": "a level and a spread that hold between changes",
    "walk": "a level that wanders like a random walk, with jumps that stand out of its steps",
}
"""The descriptions `detect` chooses from, by the name `result.model` reports."""

# Parameters a description has besides those of its changes (level, noise
# variance and its correlation; the trend's slope; the walk's drift, step
# variance and the noise around it) and those each change adds (besides its
# position, counted twice). WALK_CLAIM: a walk must explain the signal better
# than a level by that many more parameters' worth, since a walk of small
# steps in noise also passes for a level with several small shifts, which
# people mark as such.
WALK_CLAIM = 2


# The descriptions that are no model of the cost list (the trend describes
# one feature): per feature, (parameters besides the changes', parameters a
# change adds besides its position), and the scale of their penalty:
# "squared" in the square of the signal's units, else none.
_OWN_FACTS: dict[str, tuple[int, int, str]] = {"trend": (4, 2, "squared"), "walk": (3, 1, "likelihood")}
_CLAIMS = {"walk": WALK_CLAIM}


def _base_parameters(name: str, d: int) -> int:
    """A description's parameters besides those of its changes. A model of
    the cost list counts its segment's parameters, the lag-one correlation
    of each feature's noise and, when its cost is a squared error (whose
    segments carry no spread), each feature's noise variance."""
    if name in _OWN_FACTS:
        return _OWN_FACTS[name][0] * d + _CLAIMS.get(name, 0)
    facts = model_facts(name, d)
    return int(facts["segment_parameters"]) + d * (2 if facts["scale"] == "squared" else 1)


def _change_parameters(name: str, d: int) -> int:
    # A description that is a model of the cost list counts as its model declares.
    if name in _OWN_FACTS:
        return _OWN_FACTS[name][1] * d
    return int(model_facts(name, d)["segment_parameters"])


def _penalty_unit(name: str, d: int, scale: float) -> float:
    """What a penalty in the units of the signal divided by `scale` is
    multiplied by to be in the signal's own units."""
    kind = _OWN_FACTS[name][2] if name in _OWN_FACTS else model_facts(name, d)["scale"]
    return scale * scale if kind == "squared" else 1.0


COARSE_SAMPLES = 2000
"""Signals longer than this are described from block means of at most this
many (an exact search of the trend and spread costs is quadratic in the
length); the chosen description's changes are then placed at full
resolution."""

BEND_PRICE = 1.0
"""A segment of a trend is curved when a parabola fits it better than a line
by more than BEND_PRICE · ln(n) noise units."""

LONGEST_EXCURSION = 16
"""The level's penalty is raised for excursions of at most this many
samples (the explicit models' rule looks up to 32): the other descriptions
take over trends, wandering and seasons, and a segment of 30 samples
between two shifts is a change, not a burst."""

ALWAYS_FITTED = 500
"""Every description is fitted to signals (or block means) of at most this
many samples; longer ones are searched for trends and spread changes only on
a hint of them."""

SPREAD_EVIDENCE = 3.0
"""Beyond ALWAYS_FITTED samples, the search for changes of spread runs when
the variance of the sample-to-sample differences, measured in blocks, varies
more than this many standard deviations of the chi-square that equal
variances give."""

TIED_SHARE = 0.05
"""Changes of spread are not sought in signals where more than this share of
consecutive samples are exactly equal (counts, quantised or noiseless data)."""


@dataclass(frozen=True)
class DescriptionChoice:
    """The description `detect` chose and why."""

    name: str
    """The chosen description (a key of DESCRIPTIONS), as result.model reports it."""
    breakpoints: list[int]
    """Its segmentation of the signal (less the seasonal swing, if any)."""
    penalty: float
    """The penalty its search used, in the units of its cost on the signal."""
    scores: dict[str, float]
    """Each fitted description's criterion (twice the negative log-likelihood
    of its prediction errors plus ln(n) per parameter) less the chosen one's,
    in units of ln(n): how many parameters' worth worse it fits."""
    excursion: float = 1.0
    """The raise of the penalty for short excursions (the level's, shared by
    the trend and spread searches)."""
    season: Season | None = field(default=None, repr=False)
    """The seasonal swing removed before the descriptions were fitted."""
    noise: _noise.NoiseScale | None = field(default=None, repr=False, compare=False)
    """The noise of the signal the descriptions were fitted to (less the swing)."""
    signal: _Matrix | None = field(default=None, repr=False, compare=False)
    """That signal, in the signal's units, when a swing was removed."""


# -- fits and prediction errors --------------------------------------------------------------------


def _innovations(residuals: _Matrix, breakpoints: Sequence[int]) -> tuple[_Matrix, npt.NDArray[np.int64]]:
    """The residuals less the share of the previous one that their lag-one
    autocorrelation predicts (within segments), and the segment of each."""
    n = residuals.shape[0]
    starts = np.asarray([0, *breakpoints[:-1]], dtype=np.int64)
    follows = np.ones(n, dtype=bool)
    follows[starts] = False
    rows = np.flatnonzero(follows)
    current, previous = residuals[rows], residuals[rows - 1]
    if rows.size < 3:
        return current, np.searchsorted(starts, rows, side="right") - 1
    # var(r_t - r_{t-1}) = 2 var(r) (1 - ρ) for a stationary residual.
    variance = _noise.winsorized_variance(residuals)
    steps = _noise.winsorized_variance(current - previous)
    with np.errstate(divide="ignore", invalid="ignore"):
        rho = np.clip(np.nan_to_num(1.0 - steps / (2.0 * variance)), 0.0, 0.99)
    return current - rho * previous, np.searchsorted(starts, rows, side="right") - 1


def _log_variance(values: _Matrix, floor: float) -> float:
    """Sum over features of the log of the winsorised variance (floored: an
    exact fit must not win by an infinite margin)."""
    return float(np.sum(np.log(np.maximum(_noise.winsorized_variance(values), floor))))


def _level_criterion(work: _Matrix, breakpoints: Sequence[int], slopes: bool, floor: float) -> float:
    errors, _ = _innovations(_noise.segment_residuals(work, breakpoints, slopes), breakpoints)
    return float((work.shape[0] - 1) * _log_variance(errors, floor))


def _spread_criterion(work: _Matrix, breakpoints: Sequence[int], floor: float) -> float:
    errors, segment = _innovations(_noise.segment_residuals(work, breakpoints, False), breakpoints)
    total = 0.0
    for index in range(len(breakpoints)):
        mine = errors[segment == index]
        if mine.shape[0] >= 2:
            total += mine.shape[0] * _log_variance(mine, floor)
    # Each segment's first sample has no prediction: count it at the mean.
    return float(total * (work.shape[0] - 1) / max(errors.shape[0], 1))


def _walk_criterion(steps: _Matrix, n: int, floor: float) -> float:
    """(n - 1) times the log of the variance of the walk's prediction errors.

    Steps of a walk seen through noise are an MA(1), x_t = a_t + θ·a_{t-1},
    with lag-one correlation r = θ/(1 + θ²) in [-1/2, 0]; the prediction
    errors a_t = x_t - θ·a_{t-1} are what a local-level model fails to
    foresee. A shift of level that a walk of small steps does not explain
    leaves a run of them (θ near -1 decays slowly), so a staircase does not
    pass for a walk."""
    total = 0.0
    for column in steps.T:
        variance = float(_noise.winsorized_variance(column[:, None])[0])
        if column.size > 2 and variance > 0:
            pairs = float(_noise.winsorized_variance((column[1:] + column[:-1])[:, None])[0])
            r = min(max(pairs / (2.0 * variance) - 1.0, _WALK_MIN_CORRELATION), 0.0)
        else:
            r = 0.0
        theta = 0.0 if r == 0.0 else (1.0 - math.sqrt(1.0 - 4.0 * r * r)) / (2.0 * r)
        # a_t = Σ_k (-θ)^k x_{t-k}, cut where the weights fall below 1e-6.
        taps = int(math.ceil(math.log(1e-6) / math.log(abs(theta)))) if theta != 0.0 else 1
        errors = np.convolve(column, (-theta) ** np.arange(taps))[:column.size]
        total += math.log(max(float(_noise.winsorized_variance(errors[:, None])[0]), floor))
    return (n - 1) * total


# The lag-one correlation of a walk's steps is bounded by -1/2 (no walk:
# noise about a constant level); just above it the MA(1) stays invertible.
_WALK_MIN_CORRELATION = -0.49


# -- the searches -----------------------------------------------------------------------------------


def _block_means(work: _Matrix, block: int) -> _Matrix:
    count = work.shape[0] // block
    return np.asarray(work[:count * block].reshape(count, block, -1).mean(axis=1))


def _line_costs(prefix: _Matrix, starts: npt.NDArray[np.int64], ends: npt.NDArray[np.int64]) -> npt.NDArray[np.float64]:
    """Squared error of the least-squares line of each [start, end), from
    prefix sums of 1, t, t², y, t·y, y² (columns in that order)."""
    s = prefix[ends] - prefix[starts]
    count, t, tt, y, ty, yy = (s[:, i] for i in range(6))
    with np.errstate(divide="ignore", invalid="ignore"):
        stt = tt - t * t / count
        sty = ty - t * y / count
        syy = yy - y * y / count
        fit = np.where(stt > 0, sty * sty / np.where(stt > 0, stt, 1.0), 0.0)
    return np.asarray(np.maximum(syy - fit, 0.0))


def _spread_costs(prefix: _Matrix, starts: npt.NDArray[np.int64], ends: npt.NDArray[np.int64]) -> npt.NDArray[np.float64]:
    """The length of each [start, end) times the log of its variance, from
    prefix sums of 1, y, y² (the "normal" cost of one feature, but its ridge)."""
    s = prefix[ends] - prefix[starts]
    count, y, yy = s[:, 0], s[:, 1], s[:, 2]
    error = np.maximum(yy - y * y / count, 0.0)
    return np.asarray(count * np.log(np.maximum(error / count, 1e-300)))


def _refine(work: _Matrix, coarse: Sequence[int], block: int, min_size: int, jump: int,
            kind: str) -> list[int]:
    """Each change of a search on block means of `block` samples, placed
    exactly: the position within a block of its coarse place that splits its
    neighbours' span best under the description's cost (for the spread, the
    features' variances: the covariances are left to the coarse search), in
    the order of the changes."""
    n = work.shape[0]
    t = np.arange(n, dtype=np.float64) / n
    centred = work - _noise.median(work)
    prefixes = []
    for y in centred.T:
        rows = [np.ones(n), t, t * t, y, t * y, y * y] if kind == "trend" else [np.ones(n), y, y * y]
        prefix = np.zeros((n + 1, len(rows)))
        np.cumsum(np.stack(rows, axis=1), axis=0, out=prefix[1:])
        prefixes.append(prefix)
    costs = _line_costs if kind == "trend" else _spread_costs
    bounds = [0, *(min(b * block, n) for b in coarse[:-1]), n]
    for i in range(1, len(bounds) - 1):
        low = max(bounds[i - 1] + min_size, bounds[i] - 2 * block)
        high = min(bounds[i + 1] - min_size, bounds[i] + 2 * block)
        candidates = np.arange(low, high + 1, dtype=np.int64)
        candidates = candidates[candidates % jump == 0]
        if candidates.size == 0:
            continue
        left = np.full(candidates.size, bounds[i - 1], dtype=np.int64)
        right = np.full(candidates.size, bounds[i + 1], dtype=np.int64)
        total = sum(costs(prefix, left, candidates) + costs(prefix, candidates, right) for prefix in prefixes)
        bounds[i] = int(candidates[int(np.argmin(total))])
    return sorted(set(bounds[1:]))


def _trend_search(view: _Matrix, pen: float, min_size: int, jump: int) -> list[int]:
    """The exact piecewise-linear segmentation (a line in time per segment) at
    penalty `pen`: the "linear" cost on the columns (signal, 1, time)."""
    count = view.shape[0]
    time = (np.arange(count, dtype=np.float64) - (count - 1) / 2.0) / count
    design = np.ascontiguousarray(np.c_[view[:, 0], np.ones(count), time])
    return [int(b) for b in Pelt(model="linear", min_size=max(min_size, 3), jump=jump).fit(design).predict(pen=pen)]


def _curvature(segment: npt.NDArray[np.float64], price: float) -> float:
    """The quadratic coefficient of a segment when a parabola fits it better
    than a line by more than `price` noise units, else 0. The noise is
    measured from the segment's second differences (variance 6σ² on
    independent noise), which a curve does not inflate as it does the
    first ones."""
    count = segment.size
    if count < 5:
        return 0.0
    unit = float(_noise.robust_sd((segment[2:] - 2.0 * segment[1:-1] + segment[:-2])[:, None])[0]) ** 2 / 6.0
    position = (np.arange(count, dtype=np.float64) - (count - 1) / 2.0) / count
    line = np.stack([np.ones(count), position], axis=1)
    parabola = np.stack([np.ones(count), position, position * position], axis=1)
    errors = []
    for design in (line, parabola):
        coefficients = np.linalg.lstsq(design, segment, rcond=None)[0]
        errors.append(float(np.sum((segment - design @ coefficients) ** 2)))
    return float(coefficients[2]) if errors[0] - errors[1] > price * unit else 0.0


def _abrupt(view: _Matrix, breakpoints: Sequence[int], log_n: float) -> list[int]:
    """The changes of a piecewise-linear fit that a person would mark. A
    smooth curve cut into lines leaves each line curved the way the curve
    bends: a change whose two segments are both significantly curved (by
    more than BEND_PRICE · ln(n) noise units) the way its own slope turns is
    a gradual turn of one curve, not a change. A bend between straight lines
    is abrupt, and so is a shift."""
    edges = [0, *breakpoints]
    column = view[:, 0]
    curvature = [_curvature(column[start:end], BEND_PRICE * log_n) for start, end in zip(edges[:-1], edges[1:])]
    kept = []
    for index, at in enumerate(edges[1:-1]):
        before, after = edges[index], edges[index + 2]
        turn = _slope(column[at:after]) - _slope(column[before:at])
        if not (turn * curvature[index] > 0 and turn * curvature[index + 1] > 0):
            kept.append(at)
    return [*kept, int(breakpoints[-1])]


def _slope(segment: npt.NDArray[np.float64]) -> float:
    count = segment.size
    if count < 2:
        return 0.0
    position = np.arange(count, dtype=np.float64) - (count - 1) / 2.0
    return float(position @ (segment - segment.mean()) / (position @ position))


def _spread_search(view: _Matrix, pen: float, min_size: int, jump: int) -> list[int]:
    """The exact segmentation under the "normal" cost (changes of level and
    spread) at penalty `pen`."""
    search = Pelt(model="normal", min_size=max(min_size, view.shape[1] + 2), jump=jump)
    return [int(b) for b in search.fit(np.ascontiguousarray(view)).predict(pen=pen)]


def _walk_search(work: _Matrix, price: float, min_size: int, jump: int) -> tuple[list[int], _Matrix]:
    """The jumps of a walk: steps whose squared size, in units of the robust
    variance of the steps, exceeds `price` (the exact optimum of a walk whose
    every step is Gaussian but at the jumps, each jump paying `price`), at
    least `min_size` apart (the larger first), on the grid of `jump`; and the
    steps about their median, zero at the jumps."""
    n = work.shape[0]
    steps = work[1:] - work[:-1]
    steps = steps - _noise.median(steps)
    sd = _noise.robust_sd(steps)
    size = np.sum((steps / np.where(sd > 0, sd, 1.0)) ** 2, axis=1) if np.any(sd > 0) else np.zeros(n - 1)
    chosen: list[int] = []
    for index in np.argsort(-size, kind="stable"):
        if size[index] <= price:
            break
        # Step `index` goes from sample index to index + 1: the new level starts there.
        at = int(round((index + 1) / jump) * jump)
        if min_size <= at <= n - min_size and all(abs(at - other) >= min_size for other in chosen):
            chosen.append(at)
    # A jump's own step is explained by the jump: it is set to the typical
    # step (zero, about the median) so it does not pass for a prediction error.
    explained = steps.copy()
    explained[np.asarray(chosen, dtype=np.int64) - 1] = 0.0
    return [*sorted(chosen), n], np.asarray(explained)


def _spread_evidence(work: _Matrix) -> float:
    """How unequal the variance of the sample-to-sample differences is across
    blocks of the signal, in standard deviations of the chi-square that equal
    variances give (0 when the signal is too short to tell)."""
    n, d = work.shape
    block = max(16, n // 64)
    count = (n - 1) // block
    if count < 4:
        return 0.0
    # Blocks as columns: (steps within a block, blocks × features).
    steps = (work[1:count * block + 1] - work[:count * block]).reshape(count, block, d)
    columns = steps.transpose(1, 0, 2).reshape(block, count * d)
    # Medians of absolute deviations, so that the step of a shift or a
    # glitch does not pass for spread; the log of one over m steps has a
    # variance of about 7/m (measured on Gaussian, AR(1) and t(3) noise:
    # 6 to 8.5).
    logs = 2.0 * np.log(np.maximum(_noise.robust_sd(columns), 1e-300)).reshape(count, d)
    statistic = float(np.sum((logs - logs.mean(axis=0)) ** 2) / (7.0 / block))
    dof = (count - 1) * d
    return float((statistic - dof) / math.sqrt(2.0 * dof))


def _has_gradual_steps(work: _Matrix, breakpoints: Sequence[int], noise: _noise.NoiseScale) -> bool:
    """Whether a piecewise-constant fit holds a step that the lines on either
    side of it explain (a trend cut into a staircase), or, without any step,
    whether one straight line explains the signal better than a change would."""
    if len(breakpoints) < 2:
        n = work.shape[0]
        position = np.arange(n, dtype=np.float64) - (n - 1) / 2.0
        moments = position @ (work - work.mean(axis=0))
        gain = float(np.sum(moments * moments) / (n * (n * n - 1.0) / 12.0))
        return bool(gain > (work.shape[1] + 2) * math.log(n) * noise.inflated)
    bounds = [0, *breakpoints]
    jumps, sds = _noise.abrupt_jumps(work, list(zip(bounds[:-2], bounds[1:-1], bounds[2:])), noise)
    return bool(np.any(np.all(np.abs(jumps) <= ABRUPT * sds, axis=1)))


# -- the choice -------------------------------------------------------------------------------------


def choose_description(matrix: _Matrix, *, min_size: int = 2, jump: int = 1) -> DescriptionChoice:
    """The description of `matrix` (samples × features) a person would use,
    with its segmentation and why (see the module text).

    Signals longer than COARSE_SAMPLES are described from the means of
    blocks of samples (the trend and spread searches are quadratic in the
    length); the chosen description's changes are then placed at full
    resolution: the level's and the walk's by their own searches, the
    trend's and the spread's near their blocks."""
    n, d = matrix.shape
    noise = _noise.noise_scale(matrix)
    scale = _noise.power_of_two_near(float(np.max(noise.sd)))
    # In units of about the noise (a power of two: exact) and centred, so
    # that squares neither overflow nor lose the signal to an offset.
    work = (matrix - _noise.median(matrix)) / scale
    level_size = max(min_size, 1)
    full = _LevelFit(work, noise.in_units_of(scale), level_size, jump)
    if not full.measured:
        return DescriptionChoice("l2", [n], full.penalty * scale * scale, {"l2": 0.0}, noise=noise)
    season = seasonal_swing(work[:, 0], full.breakpoints, full.unit) if d == 1 else None
    if season is not None:
        work = work - season.values[:, None]
        full = _LevelFit(work, _noise.noise_scale(work), level_size, jump)
    block = max(1, math.ceil(n / COARSE_SAMPLES))
    view, size, step = (work, level_size, jump) if block == 1 else (_block_means(work, block), 1, 1)
    level = full if block == 1 else _LevelFit(view, _noise.noise_scale(view), size, step)
    if not (level.measured and full.measured):
        return DescriptionChoice("l2", full.breakpoints, full.penalty * scale * scale, {"l2": 0.0}, noise=noise)
    count = view.shape[0]
    log_n = max(math.log(count), 1.0)
    # A run of equal values has no variance, but is only known to within
    # the data's resolution: an exact fit must not win by an infinite margin.
    floor = max(level.unit * 1e-12, float(np.mean(_noise.resolution(view) ** 2)) / 12.0)
    fits: dict[str, tuple[list[int], float, float]] = {}
    # The level's penalty is the modified BIC in noise units, raised for
    # short excursions (E) and, as the explicit "l2" rule does, for gradual
    # steps (G: the excursions of strongly correlated noise). The raises
    # guard the search against what would pass for changes; the criterion
    # weighs those itself, robustly, so it chooses among the three.
    raises = {"plain": 1.0, "excursions": level.excursion,
              "gradual": max(level.excursion, level.gradual_raise())}
    price = (_change_parameters("l2", d) + 2) * log_n
    raise_name = "plain"
    candidates = {name: level.at(level.term * factor) for name, factor in raises.items()}
    if level.excursion > 1.0 and count >= 5:
        # Glitches pull a squared-error search off the shifts between them:
        # the same search on the signal less its glitches (each sample the
        # median of the five around it) is a candidate too.
        candidates["despiked"] = _despiked_search(view, level.term, size, step)
        raises["despiked"] = 1.0
    # The raises often leave the segmentation as it was: each distinct one is weighed once.
    weighed: dict[tuple[int, ...], float] = {}
    for name, found in candidates.items():
        if tuple(found) not in weighed:
            weighed[tuple(found)] = _level_criterion(view, found, False, floor)
        criterion = weighed[tuple(found)]
        if "l2" not in fits or criterion + (len(found) - 1) * price < fits["l2"][2] + (len(fits["l2"][0]) - 1) * price:
            fits["l2"], raise_name = (found, level.term * raises[name], criterion), name
    walk_price = (d + 2) * log_n
    walk, steps = _walk_search(view, walk_price, size, step)
    fits["walk"] = (walk, walk_price, _walk_criterion(steps, count, floor))
    # The trend and spread searches cost a quadratic time: beyond ALWAYS_FITTED
    # samples they run only when the signal gives a hint of what they describe.
    if d == 1 and count >= 8 and (count <= ALWAYS_FITTED or _has_gradual_steps(view, level.breakpoints, level.noise)):
        pen = 4.0 * log_n * level.unit * level.excursion
        trend = _abrupt(view, _trend_search(view, pen, max(size, 3), step), log_n)
        fits["trend"] = (trend, pen, _level_criterion(view, trend, True, floor))
    # The "normal" cost of a run of equal values is bounded only by its ridge
    # (1e-6): on data with ties it pays for isolating every run.
    tied = float(np.mean(np.all(view[1:] == view[:-1], axis=1))) if count > 1 else 0.0
    if tied <= TIED_SHARE and (count <= ALWAYS_FITTED or _spread_evidence(view) > SPREAD_EVIDENCE):
        pen = (_change_parameters("normal", d) + 2) * log_n * float(np.mean(level.noise.inflation)) * level.excursion
        # A value that dwarfs the rest can leave a segment's scatter beyond
        # what its factorisation resolves; the spread description is then no
        # candidate, and the others still describe the signal.
        try:
            spread = _spread_search(view, pen, max(size, d + 2), step)
        except _tarnwell.TarnwellError:
            spread = None
        if spread is not None:
            fits["normal"] = (spread, pen, _spread_criterion(view, spread, floor))
    totals = {name: criterion + (_base_parameters(name, d) + (len(bkps) - 1) * (_change_parameters(name, d) + 2))
              * log_n for name, (bkps, _, criterion) in fits.items()}
    chosen = min(totals, key=lambda name: totals[name])
    breakpoints, pen, _ = fits[chosen]
    excursion = 1.0 if chosen == "walk" else raises[raise_name] if chosen == "l2" else level.excursion
    # Penalties in the units of each search's cost on the signal: squared
    # error for the level and the trend (a change in block means saves a
    # block's length times less), none for the walk (squared steps over
    # their robust variance), likelihood for "normal".
    if block > 1:
        if chosen == "l2" and raise_name == "despiked":
            pen = full.term
            breakpoints = _despiked_search(work, pen, level_size, jump)
        elif chosen == "l2":
            pen = full.term * _full_raise(full, work)
            breakpoints = full.at(pen)
        elif chosen == "walk":
            pen = (d + 2) * max(math.log(n), 1.0)
            breakpoints = _walk_search(work, pen, level_size, jump)[0]
        else:
            pen = pen * block if chosen == "trend" else pen
            breakpoints = _refine(work, breakpoints, block, max(level_size, 3), jump, chosen)
    return DescriptionChoice(chosen, breakpoints, pen * _penalty_unit(chosen, d, scale),
                             {name: (total - totals[chosen]) / log_n for name, total in totals.items()},
                             excursion=excursion, season=season, noise=full.noise.in_units_of(1.0 / scale),
                             signal=(work * scale if season is not None else None))


def _despiked_search(work: _Matrix, pen: float, min_size: int, jump: int) -> list[int]:
    """The level's search on the signal less its glitches (every sample the
    median of the five around it) at penalty `pen`."""
    search = Pelt(model="l2", min_size=min_size, jump=jump).fit(np.ascontiguousarray(_noise.despiked(work)))
    return [int(b) for b in search.predict(pen=pen)]


def _full_raise(full: _LevelFit, work: _Matrix) -> float:
    """The level's raise at full resolution of a long signal, whose block
    means hide the glitches of single samples and the wandering of
    correlated noise within a block: the excursions', or the gradual steps'
    when the criterion, on the whole signal, prefers that segmentation."""
    gradual = max(full.excursion, full.gradual_raise())
    if gradual <= full.excursion or full.at(full.term * gradual) == full.at(full.term * full.excursion):
        return full.excursion
    n, d = work.shape
    floor = max(full.unit * 1e-12, float(np.mean(_noise.resolution(work) ** 2)) / 12.0)
    price = (_change_parameters("l2", d) + 2) * max(math.log(n), 1.0)
    totals = {factor: _level_criterion(work, full.at(full.term * factor), False, floor)
              + (len(full.at(full.term * factor)) - 1) * price for factor in (full.excursion, gradual)}
    return min(totals, key=lambda factor: totals[factor])


def fit_description(matrix: _Matrix, name: str, *, min_size: int = 2, jump: int = 1,
                    pen: float | None = None) -> DescriptionChoice:
    """The segmentation of `matrix` under one description given by name,
    "trend" or "walk", at penalty `pen` (in the units result.penalty reports
    for it) or at the default penalty of that description in
    `choose_description` (no seasonal swing is removed: the signal is
    searched as given)."""
    n, d = matrix.shape
    if name == "trend" and d != 1:
        raise ValueError(f"the 'trend' description fits a line in time to one feature; this signal has {d}")
    noise = _noise.noise_scale(matrix)
    scale = _noise.power_of_two_near(float(np.max(noise.sd)))
    work = (matrix - _noise.median(matrix)) / scale
    size = max(min_size, 1)
    full = _LevelFit(work, noise.in_units_of(scale), size, jump)
    log_n = max(math.log(n), 1.0)
    if name == "walk":
        price = (d + 2) * log_n if pen is None else float(pen)
        return DescriptionChoice("walk", _walk_search(work, price, size, jump)[0], price, {"walk": 0.0}, noise=noise)
    if not full.measured:
        return DescriptionChoice("trend", [n], 4.0 * log_n * scale * scale, {"trend": 0.0}, noise=noise)
    unit_pen = 4.0 * log_n * full.unit * full.excursion if pen is None else float(pen) / (scale * scale)
    block = max(1, math.ceil(n / COARSE_SAMPLES))
    if block == 1:
        breakpoints = _trend_search(work, unit_pen, max(size, 3), jump)
    else:
        coarse = _trend_search(_block_means(work, block), unit_pen / block, max(3, math.ceil(size / block)), 1)
        breakpoints = _refine(work, coarse, block, max(size, 3), jump, "trend")
    if pen is None:
        breakpoints = _abrupt(work, breakpoints, log_n)
    return DescriptionChoice("trend", breakpoints, unit_pen * scale * scale, {"trend": 0.0},
                             excursion=full.excursion, noise=full.noise.in_units_of(1.0 / scale))


class _LevelFit:
    """The piecewise-constant description: the squared-error search at the
    modified-BIC penalty in noise units, raised for short excursions."""

    def __init__(self, work: _Matrix, noise: _noise.NoiseScale, min_size: int, jump: int) -> None:
        n, d = work.shape
        self.noise = noise
        self.unit = noise.inflated
        self.measured = math.isfinite(self.unit) and self.unit > 0
        log_n = max(math.log(n), 1.0)
        self._found: dict[float, list[int]] = {}
        if not self.measured:
            self.unit, self.excursion = 1.0, 1.0
            self.term = self.penalty = (d + 2) * log_n
            self.breakpoints = [n]
            return
        self.term = (d + 2) * log_n * self.unit
        self.excursion = _noise.excursion_raise(work, self.unit, self.term, shortest=min_size,
                                                longest=LONGEST_EXCURSION)
        self.penalty = self.term * self.excursion
        self._work = work
        self._search = Pelt(model="l2", min_size=min_size, jump=jump).fit(np.ascontiguousarray(work))

    @functools.cached_property
    def breakpoints(self) -> list[int]:
        """The breakpoints of the level's search at its penalty (searched on first use)."""
        return self.at(self.penalty)

    def at(self, pen: float) -> list[int]:
        """The breakpoints of the level's search at penalty `pen` (each penalty searched once)."""
        if pen not in self._found:
            self._found[pen] = [int(b) for b in self._search.predict(pen=pen)]
        return self._found[pen]

    def gradual_raise(self) -> float:
        """G of the explicit "l2" rule: the raise for gradual steps of the
        segmentation at the penalty raised for excursions (at least 1)."""
        return float(max(1.0, gradual_penalty(self._work, self.breakpoints, self.noise) / self.term))



def description_cost(choice: DescriptionChoice, matrix: _Matrix, breakpoints: Sequence[int]) -> float:
    """The total cost of `breakpoints` in the chosen description's own cost,
    on the signal it was fitted to (less the seasonal swing): squared error
    about the segments' levels ("l2") or lines ("trend"), the "normal" cost,
    or for "walk" the squared steps about their median but at the jumps."""
    signal = matrix if choice.signal is None else choice.signal
    bkps = [int(b) for b in breakpoints]
    if choice.name in ("l2", "normal"):
        return segmentation_cost(signal, bkps, model=choice.name)
    centred = signal - _noise.median(signal)
    if choice.name == "trend":
        residuals = _noise.segment_residuals(centred, bkps, True)
        return float(np.sum(residuals * residuals))
    steps = centred[1:] - centred[:-1]
    keep = np.ones(steps.shape[0], dtype=bool)
    keep[np.asarray(bkps[:-1], dtype=np.int64) - 1] = False
    others = steps[keep] - _noise.median(steps[keep]) if keep.any() else steps[keep]
    return float(np.sum(others * others))


def description_parameters(choice: DescriptionChoice, matrix: _Matrix,
                           breakpoints: Sequence[int]) -> tuple[list[str], npt.NDArray[np.float64]]:
    """Each segment's fitted parameters under the chosen description, on the
    signal it was fitted to (less the seasonal swing): the model's own for a
    description that is a model of the cost list ("l2", "normal"); per
    feature, the line's value at the segment's first sample and its slope per
    sample for "trend"; the mean level for "walk". Names as the cost list
    writes them ("{f}" standing for feature f)."""
    signal = matrix if choice.signal is None else choice.signal
    bkps = [int(b) for b in breakpoints]
    d = signal.shape[1]
    if choice.name not in ("trend", "walk"):
        names = list(model_facts(choice.name, d)["parameter_names"])
        return names, np.asarray(_tarnwell._segment_parameters(choice.name, signal, bkps))
    starts = [0, *bkps[:-1]]
    if choice.name == "walk":
        means = [signal[a:b].mean(axis=0) for a, b in zip(starts, bkps)]
        return [f"mean[{{{f}}}]" for f in range(d)], np.asarray(means, dtype=np.float64).reshape(len(bkps), d)
    rows = []
    for a, b in zip(starts, bkps):
        time = np.arange(b - a, dtype=np.float64)
        design = np.column_stack([np.ones_like(time), time])
        intercept, slope = np.linalg.lstsq(design, signal[a:b], rcond=None)[0]
        rows.append(np.concatenate([intercept, slope]))
    names = [f"intercept[{{{f}}}]" for f in range(d)] + [f"slope[{{{f}}}]" for f in range(d)]
    return names, np.asarray(rows, dtype=np.float64)

