"""Choosing the penalty of a penalized search.

A penalty is paid once per change point and is measured in the units of the
cost: the squared-error costs ("l2", "linear", "ar", "clinear",
"mahalanobis", the linear and rbf kernels) grow with the square of the
signal's scale, so a fixed number such as 3·ln(n) finds a handful of changes
in one signal and hundreds in the same signal multiplied by 10.

Default penalty
---------------
``default_penalty`` (and ``detect`` without a stopping rule) uses a
modified-BIC penalty (Zhang and Siegmund, 2007) in the noise units of the
cost, raised where the signal holds what a search would otherwise cut into
pieces::

    pen = (p + 2) · ln(n) · u · max(1, E, G)

- n is the number of samples, p the number of parameters one more segment
  adds (d for "l2", "l1", "rank", "mahalanobis", "clinear" and the kernels;
  d − 1 for "linear"; d·(1 + 4·d) for the order-4 "ar"; d + d(d+1)/2 for
  "normal"); the extra 2 pays for the change's position, as in the modified
  BIC. Every rule sits in one table, ``PENALTY_RULES``.
- u is the noise unit in the cost's units, measured so that shifts, a
  linear trend and isolated glitches do not inflate it: the standard
  deviations s₁, s₂ of the lag-one and lag-two differences (median absolute
  deviations) give, for AR(1) noise, 1 + ρ = s₂²/s₁² and the noise variance
  σ² = s₁²/(2(1 − ρ)), as in DeCAFS (Romano et al., 2022). Correlated noise
  makes segment means wander, so σ² is multiplied by the long-run variance
  factor (1 + ρ)/(1 − ρ), capped at 4. For the squared-error costs u is that
  inflated σ² (averaged over features; "linear" measures it on the
  residuals of one regression over the whole signal, the cosine kernel on
  the unit rows); for "l1" and "l1potts" half the Laplace scale
  σ·√(2/π)/2 with the same factor (times the mean weight); for "normal" and
  "rank", already on a likelihood scale, the factor alone; for the rbf
  kernel one minus the mean kernel value of neighbouring samples, corrected
  for their correlation, with the factor. "ar" models the correlation
  itself: u is the robust variance of the innovations of one order-4
  autoregression over the whole signal, without the factor.
  "clinear" draws each segment's line through single samples, so moving a
  cut to a quiet sample saves in proportion to the segments' length: its
  noise term is at least 0.5·n·σ² (on pure noise, keeping it whole needs
  about 0.2·n·σ² at n = 100 and 1.3·n·σ² at n = 600; 0.5 found the
  suite's slope changes best).
- E prices short excursions: outliers, bursts of heavy-tailed noise, the
  crests of a seasonal swing. For blocks of 2 to 32 samples (at least 25
  blocks in the signal, none shorter than min_size) every block's mean is
  compared with the running median of five block means around it, which
  follows a lasting shift but not a block that departs and comes back; the
  largest saving b·e² of cutting out a block off by e, over the squared-error
  noise term of the signal, is E. For "rank" and the rbf kernel, whose costs
  bound the pull of extreme values, it is measured on the ranks. E never
  raises the squared-error penalty above 9·n/16 noise units, what a shift of
  3 noise units with n/8 samples on either side buys: a single enormous
  glitch is then cut out (two changes) instead of silencing every shift.
- G prices trends and smooth rises. A first squared-error search at the
  penalty so far (the search itself for squared-error costs, else one Pelt
  on the same grid: one extra search) gives a staircase; a step is abrupt
  when the lines fitted on either side of it (up to 100 samples each) are
  more than 2.5 noise deviations apart, and gradual otherwise. The gradual
  steps are a trend when at least two of them climb the same way (steps up
  and down are a bump of small shifts, which are changes), or, with fewer,
  when one straight line explains at least 0.9 times what the best single
  cut explains of the signal less its abrupt shifts (a line captures at
  most three quarters of a step, and more than a step of a drift). G is
  then 1.25 times the saving of the best single cut of the staircase made
  of the gradual steps alone, over the squared-error noise term, sought
  within the stretches between the certain shifts (more than 4 noise
  deviations): a trend is left whole or cut once, while a shift that
  stands out from it still pays for itself. E and G are measured on the
  level signal divided by a power of two near its noise deviation (exact),
  so their squares stay in range whatever the signal's units.

Why: a penalty from the noise alone (the previous default, 3·ln(n)·σ̂² from
first differences) cuts trends, seasonal swings, correlated noise and
outliers into dozens of pieces; a penalty from the whole signal's
variability (the default before this one) misses plain shifts, because the
shifts themselves and a correlation factor of up to 19 measured around
them inflate it. Here each phenomenon raises the penalty only by what it
could buy a search, measured in ways that shifts do not touch. The choice
was calibrated on the generated series of ``benchmarks/defaults`` (level
shifts of 0.5 to 4 noise units, variance and slope changes, AR(1) noise up
to ρ = 0.9, Student-t tails, outliers, seasonality, slow trends, series
without changes); the README has its table. On its 320 series (seed 2026)
the default scores F1 0.812 and covering 0.827 with model "l2"; over the
series with ρ ≤ 0.6 it finds something in 6.5 % of those without changes,
and every shift of 3 noise units or more in 91 % of those with one. Every
part scales with the signal (squared for the squared-error costs) and
ignores an added constant, so the same changes are found at any scale and
offset.
``choose_penalty`` returns the parts (u's term, E, G) with the value, and
``detect``'s result reports the penalty and the model it used; when a
segment of a result holds a large abrupt shift, ``detect`` warns with
``UnderSegmentationWarning``.

Penalty path
------------
``penalty_path`` finds every distinct optimal segmentation for the penalties
in [pen_min, pen_max] (by default the default penalty divided and
multiplied by 10) with the CROPS procedure of Haynes, Eckley and
Fearnhead (2017): each segmentation is optimal on an interval of penalties,
and only about two exact searches per segmentation are needed. Its
``elbow()`` is the segmentation optimal over the widest span of log-penalty
near the default penalty, and ``plot()`` draws the path.
"""

from __future__ import annotations

import math
import warnings
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from . import _noise
from ._costs import segmentation_cost
from ._estimators import build_estimator
from ._intake import as_signal
from ._methods import KNOWN_MODELS, model_entry, normalise, search_info
from ._tarnwell import Pelt

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = [
    "OverSegmentationWarning", "PENALTY_RULES", "PenaltyChoice", "PenaltyPath", "PenaltyRule", "penalty_rule",
    "UnderSegmentationWarning", "choose_penalty", "default_penalty", "oversegmentation_message",
    "penalty_path", "undersegmentation_message", "warn_if_oversegmented", "warn_if_undersegmented",
]

_Matrix = npt.NDArray[np.float64]


@dataclass(frozen=True)
class PenaltyRule:
    """How the default penalty of one cost is formed (see the module text)."""

    parameters: Callable[[int], int]
    """Parameters one more segment adds, for d features."""
    unit: str
    """How the noise unit in the cost's units is measured: "squared",
    "absolute", "likelihood", "ranks", "regression", "innovations",
    "marginal", "cosine" or "rbf"."""
    inflated: bool
    """Whether the bounded long-run factor for correlated noise applies."""
    excursions: bool
    """Whether the penalty is raised for short excursions."""
    gradual: bool
    """Whether the penalty is raised for trends and smooth rises."""
    per_sample: float = 0.0
    """A floor on the noise term, in noise units per sample: for costs
    whose spurious savings grow with the segment length."""


def _listed(model: str) -> Callable[[int], int]:
    """The values a new segment adds, for d features, as the cost list says."""
    return lambda d: int(model_entry(model, d)["segment_parameters"])


AR_ORDER = int(model_entry("ar")["parameters"]["order"])
"""The order of the searches' "ar" model, from the cost list."""

# How the noise unit of each scale of the cost list is measured, for models
# the table below does not tune.
_UNIT_OF_SCALE = {"squared": "squared", "absolute": "absolute", "likelihood": "likelihood"}

# The penalty knowledge of every cost, in one place: model names of the
# model-based searches, "kernel <name>" for KernelCPD, and "l1potts". The
# parameter counts of the models come from the compiled cost list; a model
# listed there but not here gets the plain rule of its scale (penalty_rule).
PENALTY_RULES: dict[str, PenaltyRule] = {
    "l2": PenaltyRule(_listed("l2"), "squared", True, True, True),
    "mahalanobis": PenaltyRule(_listed("mahalanobis"), "squared", True, True, True),
    "ml": PenaltyRule(_listed("ml"), "squared", True, True, True),
    "l1": PenaltyRule(_listed("l1"), "absolute", True, True, True),
    "rank": PenaltyRule(_listed("rank"), "ranks", True, True, True),
    "normal": PenaltyRule(_listed("normal"), "likelihood", True, True, True),
    "linear": PenaltyRule(_listed("linear"), "regression", True, True, True),
    "ar": PenaltyRule(_listed("ar"), "innovations", False, True, True),
    # The joining line of "clinear" passes through single samples, so moving
    # a cut to a sample with little noise saves in proportion to the length
    # of the segments it anchors: on pure noise the penalty that keeps the
    # whole grows about like n (measured: 0.2·n·σ² at n = 100, 1.3·n·σ² at
    # 600). A floor of 0.5·n·σ² found the suite's slope changes best.
    "clinear": PenaltyRule(_listed("clinear"), "marginal", False, True, False, per_sample=0.5),
    "kernel linear": PenaltyRule(lambda d: d, "squared", True, True, True),
    "kernel cosine": PenaltyRule(lambda d: d, "cosine", True, True, True),
    "kernel rbf": PenaltyRule(lambda d: d, "rbf", True, True, True),
    "l1potts": PenaltyRule(lambda d: 1, "absolute", True, True, True),
}


def penalty_rule(key: str) -> PenaltyRule:
    """The rule of a cost: its entry in PENALTY_RULES, or for a model of the
    cost list that the table does not tune, the plain rule of its scale."""
    if key in PENALTY_RULES:
        return PENALTY_RULES[key]
    if key in KNOWN_MODELS:
        return PenaltyRule(_listed(key), _UNIT_OF_SCALE[model_entry(key)["scale"]], True, True, True)
    raise ValueError(f"no default penalty for {key!r}; pass pen=")


_CUSTOM_COST = ("there is no default penalty for a custom cost: its units are unknown; "
                "pass pen= (tarnwell.penalty.penalty_path shows the candidates)")

# E|X| / sd of a Gaussian: converts a noise standard deviation into the
# scale of the Laplace likelihood behind the absolute-deviation costs.
_LAPLACE_PER_SD = math.sqrt(2.0 / math.pi)


def _log_n(n: int) -> float:
    # ln(n) vanishes for a single sample; a penalty must stay positive.
    return max(math.log(n), 1.0)


@dataclass(frozen=True)
class PenaltyChoice:
    """The default penalty and what it was made of."""

    value: float
    """The penalty: noise_term · max(excursion, gradual)."""
    noise_term: float
    """(p + 2) · ln(n) · noise unit (inflated for correlated noise), in the cost's units."""
    excursion: float
    """The raise for short excursions (at least 1)."""
    gradual: float
    """The raise for trends and smooth rises (at least 1)."""
    rule: str
    """The key of the rule in PENALTY_RULES."""
    signal_noise: _noise.NoiseScale | None = field(default=None, repr=False, compare=False)
    """The noise of the signal itself, when the rule measured it (reused by
    the under-segmentation check)."""


def rule_key(estimator: Any) -> str:
    """The key of PENALTY_RULES that applies to a search object."""
    if getattr(estimator, "uses_custom_cost", False):
        raise ValueError(_CUSTOM_COST)
    model = getattr(estimator, "model", None)
    if isinstance(model, str):
        key = model.lower()
    elif isinstance(getattr(estimator, "kernel", None), str):
        key = f"kernel {estimator.kernel.lower()}"
    else:
        key = normalise(type(estimator).__name__)
    penalty_rule(key)  # a clear error for a cost without one
    return key


def _level_signal(rule: PenaltyRule, matrix: _Matrix) -> _Matrix:
    """What the search cuts into levels: the signal, the residuals of the
    whole-signal regression for "linear", the unit rows for the cosine kernel."""
    if rule.unit == "regression":  # "linear": the first column regressed on the others
        return _noise.regression_residuals(matrix[:, :1], matrix[:, 1:]) if matrix.shape[1] > 1 else matrix
    if rule.unit == "cosine":
        return _noise.unit_rows(matrix)
    if rule.unit in ("ranks", "rbf"):  # costs that bound the pull of extreme values
        return np.argsort(np.argsort(matrix, axis=0, kind="stable"), axis=0).astype(np.float64)
    return matrix


def _noise_unit(rule: PenaltyRule, matrix: _Matrix, noise: _noise.NoiseScale, *, gamma: float | None,
                weights: npt.NDArray[np.float64] | None) -> float:
    """The noise unit in the cost's units, inflated where the rule says so;
    `noise` is measured on the level signal."""
    factor = noise.inflation if rule.inflated else np.ones_like(noise.rho)
    kind = rule.unit
    if kind in ("squared", "regression", "cosine"):
        return float(np.mean(noise.variance * factor))
    if kind == "absolute":
        # Half the Laplace scale: the absolute costs are a log-likelihood times that scale, over 2;
        # a sample of weight w counts w times.
        unit = float(np.mean(noise.sd * factor)) * _LAPLACE_PER_SD / 2.0
        return unit * (float(np.mean(weights)) if weights is not None else 1.0)
    if kind in ("likelihood", "ranks"):
        return float(np.mean(factor))
    if kind == "innovations":
        n, d = matrix.shape
        if n > 2 * (AR_ORDER * d + 1):
            sd = _noise.robust_sd(_noise.autoregression_residuals(matrix, AR_ORDER))
            return float(np.mean(sd * sd))
        return float(np.mean(noise.variance))  # too short to fit the autoregression
    if kind == "marginal":
        return float(np.mean(noise.variance))
    if kind == "rbf":
        if gamma is None:
            raise ValueError("the rbf kernel's default penalty needs the fitted bandwidth")
        steps = matrix[1:] - matrix[:-1]
        close = float(np.mean(1.0 - np.exp(-gamma * np.sum(steps * steps, axis=1)))) if len(steps) else 0.0
        # Neighbours of correlated noise are closer than two independent
        # samples: undo that as for the variance, then inflate; a kernel
        # cost per sample never exceeds 1.
        return min(close / (1.0 - float(np.mean(noise.rho))), 1.0) * float(np.mean(factor))
    raise AssertionError(f"unknown penalty unit {kind!r}")


def _best_split_gain(matrix: _Matrix) -> float:
    """The largest squared-error saving of one cut, over every position."""
    n = matrix.shape[0]
    if n < 2:
        return 0.0
    sums = np.cumsum(matrix - matrix.mean(axis=0), axis=0)[:-1]
    left = np.arange(1, n, dtype=np.float64)
    return float(np.max(_noise.squared_norms(sums) * n / (left * (n - left))))


def _line_gain(matrix: _Matrix) -> float:
    """The squared-error saving of one straight line over the whole signal
    against its mean."""
    n = matrix.shape[0]
    if n < 2:
        return 0.0
    position = np.arange(n, dtype=np.float64) - (n - 1) / 2.0
    # einsum, not a matrix product: BLAS would wake its threads for one pass.
    moments = np.einsum("i,ij->j", position, matrix - matrix.mean(axis=0))
    return float(np.sum(moments * moments) / (n * (n * n - 1.0) / 12.0))


def _staircase_split_gains(levels: _Matrix, lengths: npt.NDArray[np.int64],
                           sections: npt.NDArray[np.int64]) -> float:
    """The largest saving of one cut of a noiseless staircase (segment
    `levels` and `lengths`) within any of its `sections` (section number per
    segment, non-decreasing). The best cut of a piecewise-constant signal
    lies at one of its steps, so only the steps are tried."""
    weighted = levels * lengths[:, None]
    first = np.flatnonzero(np.concatenate(([True], sections[1:] != sections[:-1])))
    count = np.diff(np.append(first, len(lengths)))
    totals_n = np.add.reduceat(lengths, first).astype(np.float64)
    totals = np.add.reduceat(weighted, first, axis=0)
    # Samples and sums left of every step, counted from the section's start.
    ends_n = np.cumsum(lengths)
    left_n = (ends_n - np.repeat(np.concatenate(([0], ends_n[first[1:] - 1])), count)).astype(np.float64)
    before = np.concatenate([np.zeros((1, levels.shape[1])), np.cumsum(weighted, axis=0)])
    left = before[1:] - np.repeat(before[first], count, axis=0)
    section_n, section_sum = np.repeat(totals_n, count), np.repeat(totals, count, axis=0)
    inner = left_n < section_n  # the last segment of a section ends it: no step there
    if not inner.any():
        return 0.0
    deviation = left[inner] - left_n[inner, None] * section_sum[inner] / section_n[inner, None]
    right_n = section_n[inner] - left_n[inner]
    return float(np.max(_noise.squared_norms(deviation) * section_n[inner] / (left_n[inner] * right_n)))


def gradual_penalty(matrix: _Matrix, breakpoints: Sequence[int], noise: _noise.NoiseScale) -> float:
    """GRADUAL_SHARE times the saving of the best single cut of the gradual
    part of a piecewise-constant fit, or 0 when that part is no trend.

    A step of the fit is abrupt when the lines fitted on either side of it
    are more than ABRUPT noise deviations apart, and gradual otherwise: what
    a piecewise-constant model makes of a trend or a smooth rise is a
    staircase of gradual steps. It is a trend when at least GRADUAL_STEPS
    of its steps climb the same way (steps up and down are a bump of small
    shifts, which are changes), or, with fewer, when a straight line
    explains at least LINE_SHARE of what the best single cut of the signal
    explains once its abrupt shifts are taken out (a lone step of a trend
    is as well described by the line; a lone small shift is not: a line
    captures at most three quarters of a step). The best cut is sought
    between the steps that are certain shifts (more than SPLIT noise
    deviations): once a search cuts those, a trend is cut only within the
    stretches between them. A penalty above that saving leaves the rise
    whole or cut once, while an abrupt shift that stands out from it still
    pays.
    """
    if len(breakpoints) < 2:
        return 0.0
    bounds = [0, *breakpoints]
    jumps, sds = _noise.abrupt_jumps(matrix, list(zip(bounds[:-2], bounds[1:-1], bounds[2:])), noise)
    abrupt = np.any(np.abs(jumps) > ABRUPT * sds, axis=1)
    if abrupt.all():
        return 0.0
    edges = np.asarray(bounds, dtype=np.int64)
    lengths = np.diff(edges)
    means = np.add.reduceat(matrix, edges[:-1], axis=0) / lengths[:, None]
    steps = np.where(abrupt[:, None], 0.0, np.diff(means, axis=0))
    climbing = max(int(np.max(np.sum(steps > 0, axis=0))), int(np.max(np.sum(steps < 0, axis=0))))
    if climbing < GRADUAL_STEPS:
        shifts = np.where(abrupt[:, None], jumps, 0.0)
        rest = matrix - np.repeat(np.concatenate([np.zeros((1, matrix.shape[1])), np.cumsum(shifts, axis=0)]),
                                  lengths, axis=0)
        if _line_gain(rest) < LINE_SHARE * _best_split_gain(rest):
            return 0.0
    staircase = np.concatenate([np.zeros((1, matrix.shape[1])), np.cumsum(steps, axis=0)])
    sections = np.concatenate(([0], np.cumsum(np.any(np.abs(jumps) > SPLIT * sds, axis=1))))
    return GRADUAL_SHARE * _staircase_split_gains(staircase, lengths, sections)


# Chosen on the calibration suite (benchmarks/defaults): fewer gradual
# steps or a lower threshold let trends through, a larger share costs shifts.
# LINE_SHARE sits between what a line explains of a step (at most 0.75) and
# of a drift (more than the step does). SPLIT: the first search places its
# cuts where noise makes the jump look largest, so steps of a trend often
# read 2 to 3 deviations; only well above that do they split the trend.
GRADUAL_STEPS = 2
ABRUPT = 2.5
GRADUAL_SHARE = 1.25
LINE_SHARE = 0.9
SPLIT = 4.0

LARGE_SHIFT = 3.0
"""Shifts of level at least this many noise standard deviations are large:
the default penalty never grows beyond what one of them buys (see
EXCURSION_ROOM), and a segment holding one draws UnderSegmentationWarning."""

EXCURSION_ROOM = 8
"""Excursions raise the squared-error penalty at most to the saving of a
LARGE_SHIFT shift with n / EXCURSION_ROOM samples on either side of it,
LARGE_SHIFT² · n / (2 · EXCURSION_ROOM) noise units: a single enormous
glitch is then cut out rather than silencing every shift of the signal."""


def _first_pass(estimator: Any, rule: PenaltyRule, level: _Matrix, pen: float, unit: float) -> list[int]:
    """The breakpoints of a squared-error search on the level signal divided
    by `unit` at penalty `pen`: the search itself (on the signal, at pen·unit²)
    when it minimises that cost, else a Pelt with its grid."""
    if rule.unit == "squared":  # the level signal is the signal itself
        return [int(b) for b in estimator.predict(pen=pen * unit * unit)]
    first = Pelt(model="l2", min_size=max(int(getattr(estimator, "min_size", 1)), 1),
                 jump=int(getattr(estimator, "jump", 1)))
    return [int(b) for b in first.fit(np.ascontiguousarray(level)).predict(pen=pen)]


def choose_penalty(estimator: Any, matrix: _Matrix,
                   fit_params: dict[str, Any]) -> tuple[PenaltyChoice, list[int] | None]:
    """The default penalty for a fitted search object (see the module text),
    with the search's result at that penalty when computing it needed it anyway."""
    key = rule_key(estimator)
    rule = penalty_rule(key)
    n, d = matrix.shape
    level = _level_signal(rule, matrix)
    noise = _noise.noise_scale(level)
    weights = fit_params.get("weights")
    if key == "l1potts" and weights is None:
        weights = np.ones(n)
    unit = _noise_unit(rule, matrix, noise, gamma=getattr(estimator, "gamma", None), weights=weights)
    measured = math.isfinite(unit) and unit > 0
    if not measured:
        # A constant signal (any positive penalty keeps it whole), or one
        # whose squared units leave the floating-point range.
        unit = 1.0
    noise_term = max((rule.parameters(d) + 2) * _log_n(n), rule.per_sample * n) * unit
    own = noise if level is matrix else None
    if not (measured and (rule.excursions or rule.gradual)):
        return PenaltyChoice(noise_term, noise_term, 1.0, 1.0, key, own), None
    # The two raises are measured in squared error on the level signal, as
    # multiples of its own noise term, and applied to the cost's noise term.
    # They are ratios, so they are measured on the level signal in units of
    # about its noise (a power of two: exact), where squares neither
    # overflow nor underflow whatever the signal's own units.
    scale = _noise.power_of_two_near(float(np.max(noise.sd)))
    level, noise = level / scale, noise.in_units_of(scale)
    squared_unit = noise.inflated
    if not math.isfinite(squared_unit) or squared_unit <= 0:
        return PenaltyChoice(noise_term, noise_term, 1.0, 1.0, key, own), None
    squared_term = (level.shape[1] + 2) * _log_n(n) * squared_unit
    excursion = 1.0
    if rule.excursions:
        gain = _noise.excursion_gain(level, shortest=int(getattr(estimator, "min_size", 1)))
        ceiling = LARGE_SHIFT**2 * n / (2 * EXCURSION_ROOM) * squared_unit
        excursion = max(1.0, min(gain, ceiling) / squared_term)
    if not rule.gradual:
        return PenaltyChoice(noise_term * excursion, noise_term, excursion, 1.0, key, own), None
    first = _first_pass(estimator, rule, level, squared_term * excursion, scale)
    gradual = max(1.0, gradual_penalty(level, first, noise) / squared_term)
    value = noise_term * max(excursion, gradual)
    reuse = gradual <= excursion and rule.unit == "squared"
    return PenaltyChoice(value, noise_term, excursion, gradual, key, own), first if reuse else None


def penalty_for(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> float:
    """The default penalty for a fitted search object."""
    return choose_penalty(estimator, matrix, fit_params)[0].value


def default_penalty(signal: Any, model: str | None = None, *, method: str = "pelt", **params: Any) -> float:
    """The default penalty of a penalized search on `signal` (see the module text).

    `method`, `model` and `params` choose the search as in `tarnwell.detect`
    (for example ``model="l1"``, or ``method="kernelcpd", kernel="rbf"``).
    No search runs: the penalty comes from robust statistics of the signal.
    """

    intake = as_signal(signal)
    estimator, fit_params, _ = build_estimator(search_info(method), model, params, intake.matrix.shape[1])
    estimator.fit(intake.values, **fit_params)
    return penalty_for(estimator, intake.matrix, fit_params)


# -- over-segmentation -------------------------------------------------------------------------


class OverSegmentationWarning(UserWarning):
    """Most segments of a result are only a few samples long."""


def oversegmentation_message(breakpoints: Sequence[int], *, min_size: int = 1, jump: int = 1) -> str | None:
    """Why a segmentation looks over-segmented, or None when it looks sound.

    It looks over-segmented when it has at least five segments and more than
    half of them are at most max(5, 2·min_size, 2·jump) samples long.
    """
    lengths = np.diff(np.asarray([0, *breakpoints], dtype=np.int64))
    if lengths.size < 5:
        return None
    short = max(5, 2 * min_size, 2 * jump)
    n_short = int(np.count_nonzero(lengths <= short))
    if 2 * n_short <= lengths.size:
        return None
    return (f"{n_short} of {lengths.size} segments are at most {short} samples long: the result looks "
            "over-segmented. Likely cause: a penalty too small for the signal's scale (a penalty is in the "
            "units of the cost, so it grows with the noise variance: the same signal times 10 needs a "
            "penalty 100 times larger), or a model that does not describe the signal (a trend or a smooth "
            "curve is cut into many short steps by a piecewise-constant model). Remedy: leave pen unset to "
            "use tarnwell.penalty.default_penalty, pick a penalty from "
            "tarnwell.penalty.penalty_path(...).elbow(), raise min_size, or choose a model that fits "
            "(for example 'clinear' or 'linear' for trends)")


def warn_if_oversegmented(breakpoints: Sequence[int], *, min_size: int = 1, jump: int = 1,
                          stacklevel: int = 2) -> None:
    """Warns with OverSegmentationWarning when `oversegmentation_message` finds a reason."""
    message = oversegmentation_message(breakpoints, min_size=min_size, jump=jump)
    if message is not None:
        warnings.warn(message, OverSegmentationWarning, stacklevel=stacklevel + 1)


# -- under-segmentation ------------------------------------------------------------------------


class UnderSegmentationWarning(UserWarning):
    """A segment of a result probably holds a large shift of level."""


SHIFT_WINDOW = 30
"""Samples on either side of a cut whose lines measure the shift there."""


def _best_inner_cuts(matrix: _Matrix, starts: npt.NDArray[np.int64], ends: npt.NDArray[np.int64],
                     sd: npt.NDArray[np.float64], side: int) -> npt.NDArray[np.int64]:
    """Each segment's best single cut (squared error, features in noise
    units) with at least `side` samples on each side; every segment holds at
    least 2·side samples. All segments at once, from one prefix sum."""
    n, d = matrix.shape
    # Centred on the first sample so that an offset costs no precision, in
    # noise units so that squares stay in range.
    scaled = (matrix[:, 0] - matrix[0, 0]) / sd[0] if d == 1 else (matrix - matrix[0]) / sd
    prefix = np.zeros((n + 1, *scaled.shape[1:]))
    np.cumsum(scaled, axis=0, out=prefix[1:])
    lengths = ends - starts
    counts = lengths - 2 * side + 1  # the cuts each segment allows
    first = _noise.offsets_of(counts)
    cut = np.repeat(starts + side - first, counts) + np.arange(int(counts.sum()))
    left = (cut - np.repeat(starts, counts)).astype(np.float64)
    share = left / np.repeat(lengths.astype(np.float64), counts)
    # The sum left of the cut less its share of the segment's sum.
    partial = prefix[cut] - np.repeat(prefix[starts], counts, axis=0)
    spread = np.repeat(prefix[ends] - prefix[starts], counts, axis=0)
    partial -= share * spread if d == 1 else share[:, None] * spread
    gains = (partial * partial if d == 1 else _noise.squared_norms(partial)) / (share * (1.0 - share))
    # The first position of each segment's largest gain, as argmax would pick.
    best = np.repeat(np.maximum.reduceat(gains, first), counts)
    hits = np.flatnonzero(gains == best)
    return np.asarray(cut[hits[np.searchsorted(hits, first)]], dtype=np.int64)


def undersegmentation_message(signal: Any, breakpoints: Sequence[int], *, min_size: int = 1,
                              noise: _noise.NoiseScale | None = None) -> str | None:
    """Why a segmentation looks under-segmented, or None when it looks sound.

    It looks under-segmented when some segment, cut at its best single
    position with at least max(10, min_size) samples on each side, shows an
    abrupt shift of level there of at least LARGE_SHIFT noise standard
    deviations: the lines fitted on either side of the cut (up to
    SHIFT_WINDOW samples each, after each sample is replaced by the median
    of the five around it, so a glitch does not count) are that far apart,
    so neither a trend nor an outlier is mistaken for a shift. The noise is measured from lag differences (the marginal
    deviation, correlated noise included), so shifts do not inflate it.
    Shifts of level only: the regression models ("linear", "ar", "clinear")
    are not judged this way. `noise` is the signal's noise when already
    measured (``choose_penalty(...)[0].signal_noise``).
    """
    matrix = as_signal(signal).matrix
    if noise is None:
        noise = _noise.noise_scale(matrix)
    # A feature without noise (its "noise" is rounding) gives no scale to
    # judge a shift by: it is left out.
    spread = np.ptp(matrix, axis=0)
    sd = noise.sd
    usable = sd > 1e-6 * spread
    if not usable.any():
        return None
    side = max(10, min_size)
    ends = np.asarray(breakpoints, dtype=np.int64)
    starts = np.concatenate(([0], ends[:-1]))
    long = ends - starts >= 2 * side
    if not long.any():
        return None
    starts, ends = starts[long], ends[long]
    inner = _best_inner_cuts(matrix, starts, ends, np.where(usable, sd, 1.0), side)
    cuts = list(zip(starts.tolist(), inner.tolist(), ends.tolist()))
    jumps, _ = _noise.abrupt_jumps(matrix, cuts, noise, window=SHIFT_WINDOW, despike=True)
    sizes = np.max(np.abs(jumps[:, usable]) / sd[usable], axis=1)
    worst = int(np.argmax(sizes))
    if sizes[worst] < LARGE_SHIFT:
        return None
    start, at, end = cuts[worst]
    return (f"segment [{start}, {end}) holds a shift of level of {sizes[worst]:.1f} noise standard deviations "
            f"at sample {at}: the result looks under-segmented. Likely cause: a penalty raised by strongly "
            "correlated noise, by large isolated excursions or by a trend (the default penalty grows with "
            "each), or a model that does not describe the change. Remedy: compare the segmentations of "
            "tarnwell.penalty.penalty_path(...) or pass a smaller pen")


def warn_if_undersegmented(signal: Any, breakpoints: Sequence[int], *, min_size: int = 1,
                           noise: _noise.NoiseScale | None = None, stacklevel: int = 2) -> None:
    """Warns with UnderSegmentationWarning when `undersegmentation_message` finds a reason."""
    message = undersegmentation_message(signal, breakpoints, min_size=min_size, noise=noise)
    if message is not None:
        warnings.warn(message, UnderSegmentationWarning, stacklevel=stacklevel + 1)


# -- penalty path ------------------------------------------------------------------------------

# Searches whose penalized result is the exact optimum, which the path relies on.
_EXACT_PENALIZED = ("pelt", "kernelcpd", "l1potts")


@dataclass(frozen=True)
class PenaltyPath:
    """Every distinct optimal segmentation for penalties in [pen_min, pen_max].

    Rows are ordered by increasing penalty (so decreasing numbers of
    changes): segmentation i is optimal for every penalty between
    ``pen_low[i]`` and ``pen_high[i]``; at a shared end both are optimal.
    """

    pen_low: list[float]
    pen_high: list[float]
    n_changes: list[int]
    costs: list[float]
    breakpoints: list[list[int]]
    n_searches: int = field(default=0, compare=False)
    """How many searches the procedure ran."""
    reference_penalty: float | None = field(default=None, compare=False)
    """The default penalty of the search on this signal (None for a custom cost)."""

    def __len__(self) -> int:
        return len(self.n_changes)

    def segmentation(self, pen: float) -> list[int]:
        """The optimal breakpoints at penalty `pen` (within the path's range)."""
        if not self.pen_low[0] <= pen <= self.pen_high[-1]:
            raise ValueError(f"penalty {pen} lies outside the path's range "
                             f"[{self.pen_low[0]}, {self.pen_high[-1]}]")
        for low, high, bkps in zip(self.pen_low, self.pen_high, self.breakpoints):
            if low <= pen <= high:
                return list(bkps)
        raise AssertionError("the penalty intervals cover the range")

    def elbow(self) -> int:
        """Row index of the elbow: the segmentation that stays optimal over
        the widest span of penalties on a logarithmic scale.

        Each row is optimal on [pen_low, pen_high]; its width
        ln(pen_high / pen_low) is how much the gain of one more change drops
        after it: wide where the cost curve of changes bends most. Widths
        are measured within the default penalty's neighbourhood (a factor
        of ELBOW_SPAN below and above it) when the path knows that penalty,
        so any range containing that neighbourhood gives the same elbow;
        otherwise within the path's own range. Ties go to fewer changes.
        """
        low_end, high_end = self.pen_low[0], self.pen_high[-1]
        if self.reference_penalty is not None:
            low_end = max(low_end, self.reference_penalty / ELBOW_SPAN)
            high_end = min(high_end, self.reference_penalty * ELBOW_SPAN)
        best, widest = len(self) - 1, -math.inf
        for row in range(len(self) - 1, -1, -1):  # fewest changes first, so ties keep them
            low, high = max(self.pen_low[row], low_end), min(self.pen_high[row], high_end)
            if high <= low:
                continue
            width = math.log(high / low)
            if width > widest * (1.0 + 1e-12):
                best, widest = row, width
        return best

    def plot(self, *, ax: Any = None) -> Figure:
        """The path in two panels: cost against the number of changes, and
        the number of changes against the penalty (logarithmic), the elbow
        marked on both and the default penalty drawn when known. Readable
        for hundreds of rows: only the elbow is labelled. `ax` takes two
        axes to draw into. Needs matplotlib."""
        from .plotting import _pyplot

        if ax is None:
            fig, axes = _pyplot().subplots(1, 2, figsize=(11, 4), layout="constrained")
        else:
            axes = list(np.ravel(np.asarray(ax, dtype=object)))
            if len(axes) != 2:
                raise ValueError(f"ax must hold two axes (cost and penalty panels), got {len(axes)}")
            fig = axes[0].figure
        costs_ax, penalty_ax = axes
        best = self.elbow()
        marker = "o" if len(self) <= 40 else None
        costs_ax.plot(self.n_changes, self.costs, marker=marker, markersize=3, color="tab:blue", linewidth=1)
        costs_ax.plot([self.n_changes[best]], [self.costs[best]], "o", markersize=11, markerfacecolor="none",
                      color="tab:red", label=f"elbow: {self.n_changes[best]} changes")
        costs_ax.set_xlabel("number of changes")
        costs_ax.set_ylabel("total cost")
        costs_ax.legend(loc="upper right")
        if max(self.n_changes) > 50 * max(1, min(self.n_changes)):
            costs_ax.set_xscale("symlog", linthresh=10)
        costs_ax.set_xlim(left=0)
        edges = [*self.pen_low, self.pen_high[-1]]
        penalty_ax.stairs(self.n_changes, edges, color="tab:blue", baseline=None)
        penalty_ax.axvspan(self.pen_low[best], self.pen_high[best], color="tab:red", alpha=0.15,
                           label=f"elbow: pen in [{self.pen_low[best]:.3g}, {self.pen_high[best]:.3g}]")
        if self.reference_penalty is not None and edges[0] <= self.reference_penalty <= edges[-1]:
            penalty_ax.axvline(self.reference_penalty, color="0.3", linestyle="--", linewidth=1,
                               label=f"default penalty {self.reference_penalty:.3g}")
        penalty_ax.set_xscale("log")
        if max(self.n_changes) > 50 * max(1, min(self.n_changes)):
            penalty_ax.set_yscale("symlog", linthresh=10)
        penalty_ax.set_ylim(bottom=0)
        penalty_ax.set_xlabel("penalty")
        penalty_ax.set_ylabel("number of changes")
        penalty_ax.legend(loc="upper right", fontsize=8)
        fig.suptitle(f"penalty path: {len(self)} segmentations")
        return fig  # type: ignore[no-any-return]


# The elbow is sought within this factor of the default penalty, which is
# also the default range of `penalty_path`.
ELBOW_SPAN = 10.0


@dataclass
class _Run:
    breakpoints: list[int]
    cost: float

    @property
    def changes(self) -> int:
        return len(self.breakpoints) - 1


def _switch(many: _Run, few: _Run) -> float:
    """The penalty at which the two segmentations' penalized costs are equal."""
    return (few.cost - many.cost) / (many.changes - few.changes)


def _lower_envelope(runs: list[_Run]) -> list[_Run]:
    """The runs (most changes first) that are optimal on an interval of
    penalties: a run whose switch to its successor comes before the switch
    from its predecessor (possible when rounding separates near-ties) is
    optimal for no penalty and is dropped, so every row has pen_low <= pen_high."""
    kept: list[_Run] = []
    for current in runs:
        while len(kept) >= 2 and _switch(kept[-2], kept[-1]) > _switch(kept[-1], current):
            kept.pop()
        kept.append(current)
    return kept


def penalty_path(signal: Any, pen_min: float | None = None, pen_max: float | None = None, *,
                 method: str = "pelt", model: str | None = None, **params: Any) -> PenaltyPath:
    """All distinct optimal segmentations of `signal` for penalties in [pen_min, pen_max].

    `method` is an exact penalized search ("pelt", "kernelcpd" or "l1potts");
    `model` and `params` go to its constructor (or `fit`, for example
    `weights`) as in `tarnwell.detect`. Without `pen_min` and `pen_max` the
    range is the default penalty divided and multiplied by 10 (ELBOW_SPAN),
    in the cost's own units, so it suits the signal whatever its scale; the
    path's `elbow()` looks within that neighbourhood whatever the range.

    The procedure (CROPS) runs the search at both ends; whenever the two
    segmentations of an interval differ by more than one change, it runs it
    again at the penalty where their penalized costs are equal: if the result
    there is one of the two, they are neighbours on the path, otherwise the
    interval is split there.
    """

    intake = as_signal(signal)
    info = search_info(method)
    if normalise(info.name) not in _EXACT_PENALIZED:
        raise ValueError(f"the penalty path needs an exact penalized search (Pelt, KernelCPD or L1Potts), "
                         f"not {info.name}: a greedy search's result is not optimal for its penalty")
    estimator, fit_params, choice = build_estimator(info, model, params, intake.matrix.shape[1])
    estimator.fit(intake.values, **fit_params)
    matrix = intake.matrix
    reference = _reference_penalty(estimator, matrix, fit_params)
    if pen_min is None or pen_max is None:
        if reference is None:
            raise ValueError("give pen_min and pen_max: there is no default penalty for a custom cost to "
                             "centre the range on")
        pen_min = reference / ELBOW_SPAN if pen_min is None else pen_min
        pen_max = reference * ELBOW_SPAN if pen_max is None else pen_max
    low_end, high_end = float(pen_min), float(pen_max)
    if not (math.isfinite(low_end) and math.isfinite(high_end) and 0 < low_end < high_end):
        raise ValueError(f"need finite penalties 0 < pen_min < pen_max, got {pen_min} and {pen_max}")

    runs: dict[float, _Run] = {}

    def run(pen: float) -> _Run:
        if pen not in runs:
            bkps = [int(b) for b in estimator.predict(pen=pen)]
            runs[pen] = _Run(bkps, segmentation_cost(matrix, bkps, **choice(estimator)))
        return runs[pen]

    pending = [(low_end, high_end)]
    while pending:
        low, high = pending.pop()
        many, few = run(low), run(high)
        if many.changes <= few.changes + 1:
            continue
        crossing = (few.cost - many.cost) / (many.changes - few.changes)
        if not low < crossing < high:  # rounding: the two are neighbours
            continue
        middle = run(crossing)
        if middle.changes not in (many.changes, few.changes):
            pending += [(low, crossing), (crossing, high)]

    distinct: dict[int, _Run] = {}
    for run_result in runs.values():
        distinct.setdefault(run_result.changes, run_result)
    ordered = _lower_envelope([distinct[k] for k in sorted(distinct, reverse=True)])
    switches = [_switch(a, b) for a, b in zip(ordered, ordered[1:])]
    lows = [low_end, *(min(max(s, low_end), high_end) for s in switches)]
    highs = [*(min(max(s, low_end), high_end) for s in switches), high_end]
    return PenaltyPath(pen_low=lows, pen_high=highs, n_changes=[r.changes for r in ordered],
                       costs=[r.cost for r in ordered], breakpoints=[r.breakpoints for r in ordered],
                       n_searches=len(runs), reference_penalty=reference)


def _reference_penalty(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> float | None:
    """The default penalty the path's default range and elbow centre on;
    None where there is none (a custom cost, whose units are unknown)."""
    if getattr(estimator, "uses_custom_cost", False):
        return None
    return penalty_for(estimator, matrix, fit_params)
