"""The penalty path: every distinct optimal segmentation of a signal over a
range of penalties, found with the CROPS procedure of Haynes, Eckley and
Fearnhead (2017), and its elbow."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ._costs import segmentation_cost
from ._estimators import build_estimator
from ._intake import as_signal
from ._methods import available_searches, search_info
from ._penalty_rule import no_default_penalty, penalty_for

if TYPE_CHECKING:
    from matplotlib.figure import Figure

_Matrix = npt.NDArray[np.float64]


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
    """The default penalty of the search on this signal (None for a custom cost
    and for a model without a default penalty)."""

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
        from ._penalty_plot import plot_path

        return plot_path(self, ax=ax)


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
                 method: str = "pelt", model: Any = None, **params: Any) -> PenaltyPath:
    """All distinct optimal segmentations of `signal` for penalties in [pen_min, pen_max].

    `method` is an exact penalized search (such as "pelt", "kernelcpd" or
    "l1potts": the list of searches says which); `model` and `params` go to
    its constructor, its model (for example `order`) or `fit` (for example
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
    if not info.has_penalty_path:
        exact = ", ".join(cls.__name__ for cls in available_searches().values() if search_info(cls).has_penalty_path)
        why = (f"{info.name} takes no penalty" if info.capabilities["exact"]
               else "a greedy search's result is not optimal for its penalty")
        raise ValueError(f"the penalty path needs an exact penalized search ({exact}), not {info.name}: {why}")
    estimator, fit_params, choice = build_estimator(info, model, params, intake.matrix.shape[1])
    estimator.fit(intake.values, **fit_params)
    matrix = intake.matrix
    reference = _reference_penalty(estimator, matrix, fit_params)
    if pen_min is None or pen_max is None:
        if reference is None:
            if getattr(estimator, "uses_custom_cost", False):
                raise ValueError("give pen_min and pen_max: there is no default penalty for a custom cost to "
                                 "centre the range on")
            raise ValueError(no_default_penalty(estimator, matrix.shape[1]))
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
    None where there is none (a custom cost, whose units are unknown, or a
    model whose costs are not in the signal's units)."""
    if no_default_penalty(estimator, matrix.shape[1]) is not None:
        return None
    return penalty_for(estimator, matrix, fit_params)
