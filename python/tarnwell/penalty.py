"""Choosing the penalty of a penalized search.

A penalty is paid once per change point and is measured in the units of the
cost: the squared-error costs ("l2", "linear", "ar", "clinear",
"mahalanobis", the linear and rbf kernels) grow with the square of the
signal's scale, so a fixed number such as 3·ln(n) finds a handful of changes
in one signal and hundreds in the same signal multiplied by 10.

Default penalty
---------------
``default_penalty`` is a BIC-type penalty measured in the variability of the
signal itself, raised for correlated and heavy-tailed residuals::

    pen = (p + 2) · ln(n) · s · (1 + ρ)/(1 − ρ) · max(1, (κ − 1)/2)

- n is the number of samples, p the number of parameters one more segment
  adds to the model (the segment mean: d values for "l2", "l1", "clinear",
  "mahalanobis"; d − 1 regression coefficients for "linear"; d·(1 + 4·d)
  for the order-4 "ar"; d + d(d+1)/2 for "normal"; d for "rank" and the
  kernels), and the extra 2 pays for the change's position and guards against
  spurious changes in long series, as in the modified BIC.
- s converts the likelihood scale into cost units. For squared-error costs it
  is the cost of the whole signal taken as one segment divided by n and by
  the number of residual coordinates (d, or 1 for "linear"): for "l2" it is
  the mean variance of the features. For "l1" it is half the mean absolute
  deviation from the median, the scale of a Laplace likelihood. The "normal"
  and "rank" costs are already on a likelihood scale: s = 1.
- Before s is computed, each feature is clipped to its Tukey fences at three
  interquartile ranges, so a few wild glitches cannot inflate the penalty.
- ρ and κ come from a first search at the penalty without them: the lag-one
  autocorrelation (clipped to [0, 0.9]) and the kurtosis of the deviations
  from its segment medians (clipped like the signal). (1 + ρ)/(1 − ρ) is the
  long-run variance factor of AR(1) noise: correlated noise and smooth
  curves leave long runs of same-signed residuals, which a penalty for
  independent noise mistakes for changes. The tail factor, 1 for Gaussian
  noise, applies to the squared-error costs only: with heavy tails a segment
  of a couple of samples around an extreme value is not a change. For
  "linear" and "clinear" the residuals are those of their own fits (the
  regression, the joining line); "ar" models the correlation itself and
  takes neither factor.

Why the whole signal's variability and not a noise estimate: real recordings
are rarely piecewise constant. A trend, a seasonal swing or a slowly varying
level is not noise to a piecewise-constant model, yet any estimate of the
sample-to-sample noise (differences, residuals of a smooth fit) sees only
the jitter around it, so the penalty comes out tens of times too small and
the curve is cut into hundreds of short steps. Measured against the
signal's own variance, a change must explain a share of the whole
variability that grows like ln(n), which leaves a smooth trend as a few
segments and a seasonal series at its mean while genuine level shifts, which
also inflate the variance, still pay for themselves whenever the segments
around them are more than about ln(n) samples long. Scaling the signal by any
factor scales the penalty with the cost, so the same changes are found. The
price is power: a small shift next to much larger ones can be missed; the
penalty path below shows what a smaller penalty would add.

Penalty path
------------
``penalty_path`` finds every distinct optimal segmentation for the penalties
in [pen_min, pen_max] with the CROPS procedure of Haynes, Eckley and
Fearnhead (2017): each segmentation is optimal on an interval of penalties,
and only about two exact searches per segmentation are needed. Its
``plot()`` draws the elbow curve of cost against the number of changes.
"""

from __future__ import annotations

import math
import warnings
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ._costs import fitted_model_cost, kernel_cost, segmentation_cost
from ._intake import as_signal
from ._methods import normalise, search_info

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = [
    "OverSegmentationWarning", "PenaltyPath", "default_penalty", "oversegmentation_message",
    "penalty_path", "warn_if_oversegmented",
]

_Matrix = npt.NDArray[np.float64]

_SQUARED, _ABSOLUTE, _LIKELIHOOD = "squared", "absolute", "likelihood"


def _rule(model: str, d: int) -> tuple[str, int, int]:
    """(scale kind, parameters per segment, residual coordinates) of a model."""
    key = model.lower()
    if key in ("l2", "mahalanobis", "ml", "clinear"):
        return _SQUARED, d, d
    if key == "linear":
        return _SQUARED, max(d - 1, 1), 1
    if key == "ar":
        return _SQUARED, d * (1 + 4 * d), d
    if key == "l1":
        return _ABSOLUTE, d, d
    if key == "normal":
        return _LIKELIHOOD, d + d * (d + 1) // 2, d
    if key == "rank":
        return _LIKELIHOOD, d, d
    if key == "custom":
        raise ValueError("there is no default penalty for a custom cost: its units are unknown; "
                         "pass pen= (tarnwell.penalty.penalty_path shows the candidates)")
    raise ValueError(f"no default penalty for model {model!r}; pass pen=")


def _clipped(matrix: _Matrix) -> _Matrix:
    low, high = np.percentile(matrix, [25.0, 75.0], axis=0)
    spread = high - low
    fence = np.where(spread > 0, 3.0 * spread, np.inf)
    return np.ascontiguousarray(np.clip(matrix, low - fence, high + fence))


def _log_n(n: int) -> float:
    # ln(n) vanishes for a single sample; a penalty must stay positive.
    return max(math.log(n), 1.0)


def _finish(p: int, n: int, scale: float) -> float:
    if not math.isfinite(scale) or scale <= 0:
        scale = 1.0  # a constant signal: any positive penalty keeps it whole
    return (p + 2) * _log_n(n) * scale


def default_penalty(signal: Any, model: str | None = None, *, method: str = "pelt", **params: Any) -> float:
    """The default penalty of a penalized search on `signal` (see the module text).

    `method`, `model` and `params` choose the search as in `tarnwell.detect`
    (for example ``model="l1"``, or ``method="kernelcpd", kernel="rbf"``);
    the search runs once at the first-pass penalty to measure how strongly
    what is left within its segments is autocorrelated.
    """
    from .detection import _build

    intake = as_signal(signal)
    estimator, fit_params, _ = _build(search_info(method), model, params)
    estimator.fit(intake.values, **fit_params)
    return penalty_for(estimator, intake.matrix, fit_params)


def _model_penalty(matrix: _Matrix, model: str) -> float:
    n, d = matrix.shape
    kind, p, residuals = _rule(model, d)
    if kind == _LIKELIHOOD:
        return _finish(p, n, 1.0)
    clipped = _clipped(matrix)
    if kind == _ABSOLUTE:
        deviation = np.abs(clipped - np.median(clipped, axis=0))
        return _finish(p, n, float(deviation.mean()) / 2.0)
    try:
        whole = float(fitted_model_cost(clipped, model).error(0, n))
    except ValueError:  # shorter than the model's minimum segment: use the variance
        whole = float(np.sum(np.var(clipped, axis=0))) * n / d * residuals
    return _finish(p, n, whole / (n * residuals))


def _kernel_penalty(matrix: _Matrix, kernel: str, gamma: float | None) -> float:
    n, d = matrix.shape
    clipped = _clipped(matrix) if kernel.lower() != "cosine" else matrix
    whole = kernel_cost(clipped, [n], kernel, gamma)
    return _finish(d, n, whole / (n * d))


def _l1potts_penalty(values: _Matrix, weights: npt.NDArray[np.float64] | None) -> float:
    column = _clipped(values.reshape(values.shape[0], -1))[:, 0]
    n = column.shape[0]
    w = np.ones(n) if weights is None else np.asarray(weights, dtype=np.float64)
    if w.sum() <= 0:
        return _finish(1, n, 1.0)
    whole = segmentation_cost(column[:, None], [n], weights=w)
    return _finish(1, n, whole / w.sum() / 2.0)


def _first_pass(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> tuple[float, bool, bool]:
    """The first-pass penalty; whether the first pass's residuals are
    measured (not for "ar"); whether the cost squares them (so heavy tails
    make short segments pay)."""
    name = type(estimator).__name__
    if getattr(estimator, "uses_custom_cost", False):
        _rule("custom", 1)
    model = getattr(estimator, "model", None)
    if isinstance(model, str):
        key = model.lower()
        squared = key in ("l2", "mahalanobis", "ml", "linear", "clinear")
        return _model_penalty(matrix, model), key != "ar", squared
    kernel = getattr(estimator, "kernel", None)
    if isinstance(kernel, str):
        return _kernel_penalty(matrix, kernel, getattr(estimator, "gamma", None)), True, kernel.lower() == "linear"
    if name == "L1Potts":
        return _l1potts_penalty(matrix, fit_params.get("weights")), True, False
    raise ValueError(f"no default penalty for {name}; pass pen=")


def _segment_residuals(segment: _Matrix, before: _Matrix | None, model: str | None) -> _Matrix:
    if model == "linear":  # the first column regressed on the others, no intercept
        response, design = segment[:, :1], segment[:, 1:]
        if design.shape[1] == 0:
            return response
        coefficients = np.linalg.lstsq(design, response, rcond=None)[0]
        return np.asarray(response - design @ coefficients)
    if model == "clinear":  # deviations from the line joining the previous sample to the last
        anchor = segment[0] if before is None else before
        steps = np.arange(segment.shape[0], dtype=np.float64) + (0.0 if before is None else 1.0)
        span = steps[-1] if steps[-1] > 0 else 1.0
        return np.asarray(segment - (anchor + (segment[-1] - anchor) * (steps / span)[:, None]))
    return np.asarray(segment - np.median(segment, axis=0))


def _residuals(matrix: _Matrix, breakpoints: Sequence[int], model: str | None) -> _Matrix:
    """What the segments' fits leave (deviations from the segment medians,
    or the regression residuals of "linear" and "clinear"), clipped to their
    Tukey fences."""
    parts = [_segment_residuals(matrix[start:end], matrix[start - 1] if start > 0 else None, model)
             for start, end in zip([0, *breakpoints[:-1]], breakpoints)]
    return _unit_scaled(_clipped(np.concatenate(parts)))


def _unit_scaled(values: _Matrix) -> _Matrix:
    """`values` times the power of two that brings the largest magnitude into
    [0.5, 1): exact, and it keeps the squares and fourth powers of the
    scale-free statistics below from overflowing or underflowing at extreme
    units of measurement."""
    largest = float(np.max(np.abs(values))) if values.size else 0.0
    if not (math.isfinite(largest) and largest > 0):
        return values
    return np.asarray(np.ldexp(values, -math.frexp(largest)[1]))


def _autocorrelation(residuals: _Matrix, breakpoints: Sequence[int]) -> float:
    """Lag-one autocorrelation pooled over segments and features."""
    products = sum(float(np.sum(residuals[start + 1:end] * residuals[start:end - 1]))
                   for start, end in zip([0, *breakpoints[:-1]], breakpoints))
    squares = float(np.sum(residuals * residuals))
    return products / squares if squares > 0 else 0.0


def _kurtosis(residuals: _Matrix) -> float:
    second = np.mean(residuals * residuals, axis=0)
    fourth = np.mean(residuals**4, axis=0)
    usable = second > 0
    return float(np.mean(fourth[usable] / second[usable] ** 2)) if usable.any() else 3.0


def penalty_and_result(estimator: Any, matrix: _Matrix,
                       fit_params: dict[str, Any]) -> tuple[float, list[int] | None]:
    """The default penalty for a fitted search object, with the search's
    result at that penalty when the first pass already computed it.

    The first-pass penalty is multiplied by two factors measured on the
    residuals of the search's own result at that penalty (deviations from
    the segment medians, clipped at three interquartile ranges):

    - the long-run variance factor (1 + ρ)/(1 − ρ), ρ the lag-one
      autocorrelation clipped to [0, 0.9]: correlated noise makes segment
      means wander, and a smooth curve leaves long runs of same-signed
      residuals;
    - for squared-error costs, the tail factor max(1, (κ − 1)/2), κ the
      kurtosis (3 for Gaussian noise): with heavy tails a segment of a couple
      of samples around an extreme value is not a change.
    """
    first, level_model, squared = _first_pass(estimator, matrix, fit_params)
    if not level_model or matrix.shape[0] < 3:
        return first, None
    breakpoints = [int(b) for b in estimator.predict(pen=first)]
    model = getattr(estimator, "model", None)
    residuals = _residuals(matrix, breakpoints, model.lower() if isinstance(model, str) else None)
    rho = min(max(_autocorrelation(residuals, breakpoints), 0.0), _MAX_RHO)
    factor = (1.0 + rho) / (1.0 - rho)
    if squared:
        factor *= max(1.0, (_kurtosis(residuals) - 1.0) / 2.0)
    if factor == 1.0:
        return first, breakpoints
    return first * factor, None


def penalty_for(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> float:
    """The default penalty for a fitted search object (see `penalty_and_result`)."""
    return penalty_and_result(estimator, matrix, fit_params)[0]


_MAX_RHO = 0.9


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
        """Row index of the elbow of the cost curve.

        The elbow is the point of the curve (number of changes, cost), both
        rescaled to [0, 1], farthest from the chord joining its two ends; with
        fewer than three segmentations it is the one with the fewest changes.
        """
        if len(self) < 3:
            return len(self) - 1
        x = np.asarray(self.n_changes, dtype=np.float64)
        y = np.asarray(self.costs, dtype=np.float64)
        x = (x - x.min()) / (np.ptp(x) or 1.0)
        y = (y - y.min()) / (np.ptp(y) or 1.0)
        chord = np.array([x[-1] - x[0], y[-1] - y[0]])
        distance = np.abs(chord[0] * (y - y[0]) - chord[1] * (x - x[0])) / (np.hypot(*chord) or 1.0)
        return int(np.argmax(distance))

    def plot(self, *, ax: Any = None) -> Figure:
        """Elbow plot: cost against the number of changes, the elbow marked,
        each point labelled with its penalty interval. Needs matplotlib."""
        from .plotting import _pyplot

        if ax is None:
            fig, ax = _pyplot().subplots(figsize=(7, 4), layout="constrained")
        else:
            fig = ax.figure
        ax.plot(self.n_changes, self.costs, "o-", color="tab:blue")
        best = self.elbow()
        ax.plot([self.n_changes[best]], [self.costs[best]], "o", markersize=12, markerfacecolor="none",
                color="tab:red", label=f"elbow: {self.n_changes[best]} changes")
        for changes, cost, low, high in zip(self.n_changes, self.costs, self.pen_low, self.pen_high):
            ax.annotate(f"[{low:.3g}, {high:.3g}]", (changes, cost), textcoords="offset points",
                        xytext=(4, 4), fontsize=7, color="0.35")
        ax.set_xlabel("number of changes")
        ax.set_ylabel("total cost")
        ax.set_title("penalty path (labels: penalty intervals)")
        ax.legend()
        return fig  # type: ignore[no-any-return]


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
    range is the default penalty divided and multiplied by 10.

    The procedure (CROPS) runs the search at both ends; whenever the two
    segmentations of an interval differ by more than one change, it runs it
    again at the penalty where their penalized costs are equal: if the result
    there is one of the two, they are neighbours on the path, otherwise the
    interval is split there.
    """
    from .detection import _build

    intake = as_signal(signal)
    info = search_info(method)
    if normalise(info.name) not in _EXACT_PENALIZED:
        raise ValueError(f"the penalty path needs an exact penalized search (Pelt, KernelCPD or L1Potts), "
                         f"not {info.name}: a greedy search's result is not optimal for its penalty")
    estimator, fit_params, choice = _build(info, model, params)
    estimator.fit(intake.values, **fit_params)
    matrix = intake.matrix
    if pen_min is None or pen_max is None:
        reference = penalty_for(estimator, matrix, fit_params)
        pen_min = reference / 10.0 if pen_min is None else pen_min
        pen_max = reference * 10.0 if pen_max is None else pen_max
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
                       n_searches=len(runs))
