"""The default penalties scored on the calibration series: the three
detectors of one cost (the previous default, the one it replaced and the
current one), their outcomes per series and the summaries and acceptance
bars the tests and benchmarks/defaults/run.py report."""

from __future__ import annotations

import warnings
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np

import tarnwell
from tarnwell._methods import search_info

from .baselines import previous_penalty, replaced_penalty
from .scoring import covering, f1_score, matched
from .series import Series

Detector = Callable[[np.ndarray], list[int]]

SIZE_BINS = ((0.5, 1.0), (1.0, 2.0), (2.0, 3.0), (3.0, 4.0))
MARGIN = 5


GREEDY = ("binseg", "bottomup", "window")


def _search(choice: str) -> tuple[str, dict[str, Any]]:
    """The method and its cost argument for a choice such as "l1",
    "kernelcpd:rbf", "l1potts" or a greedy search ("binseg", "bottomup",
    "window": with "l2")."""
    if choice.startswith("kernelcpd:"):
        return "kernelcpd", {"kernel": choice.split(":", 1)[1]}
    if choice == "l1potts":
        return "l1potts", {}
    if choice in GREEDY:
        return choice, {"model": "l2"}
    return "pelt", {"model": choice}


def _shaped(choice: str, y: np.ndarray) -> np.ndarray:
    # "linear" regresses the first column on the others: a constant
    # regressor makes its segments levels, so the suite's truth applies.
    return np.c_[y, np.ones_like(y)] if choice == "linear" else y


def detectors(choice: str) -> dict[str, Detector]:
    """The defaults for one cost: the previous one, the one it replaced and
    the current one ("new"); every search that has a grid uses jump 1. For
    "l2", "new" is `detect(x)` itself, which chooses the model as well, and
    "model=l2" the current rule of that model when it is given."""
    method, cost = _search(choice)
    kind = "l2" if choice in GREEDY else choice.split(":")[-1]
    info = search_info(method)
    options: dict[str, Any] = {**cost, **({"jump": 1} if "jump" in info.constructor else {})}

    def fitted(signal: np.ndarray) -> Any:
        estimator: Any = info.cls(**options)
        estimator.fit(signal)
        return estimator

    def previous(y: np.ndarray) -> list[int]:
        signal = _shaped(choice, y)
        matrix = signal.reshape(signal.shape[0], -1)
        estimator = fitted(signal)
        pen = previous_penalty(matrix, kind, getattr(estimator, "gamma", None))
        return [int(b) for b in estimator.predict(pen=pen)]

    def replaced(y: np.ndarray) -> list[int]:
        signal = _shaped(choice, y)
        estimator = fitted(signal)
        pen = replaced_penalty(estimator, signal.reshape(signal.shape[0], -1), {})
        return [int(b) for b in estimator.predict(pen=pen)]

    def new(y: np.ndarray) -> list[int]:
        return tarnwell.detect(_shaped(choice, y), method, warn=False, **options).breakpoints

    def described(y: np.ndarray) -> list[int]:
        return tarnwell.detect(y, warn=False).breakpoints

    if choice == "l2":
        return {"previous": previous, "replaced": replaced, "model=l2": new, "new": described}
    return {"previous": previous, "replaced": replaced, "new": new}


@dataclass
class Outcome:
    series: Series
    found: list[int]

    @property
    def f1(self) -> float:
        return f1_score(self.series.truth, self.found, MARGIN)

    @property
    def cover(self) -> float:
        return covering(self.series.truth, self.found)

    @property
    def hits(self) -> list[bool]:
        return matched(self.series.truth, self.found, MARGIN)

    @property
    def near(self) -> list[bool]:
        """For every true change, whether a detected one lies within MARGIN
        samples of it (no one-to-one pairing: the words of the acceptance bar)."""
        detected = np.asarray(self.found[:-1], dtype=np.int64)
        return [bool(np.any(np.abs(detected - point) <= MARGIN)) for point in self.series.truth[:-1]]

    @property
    def false_alarm(self) -> bool:
        return not self.series.has_change and len(self.found) > 1


def run(detector: Detector, cases: Iterable[Series]) -> list[Outcome]:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return [Outcome(s, detector(s.values)) for s in cases]


def _mean(values: Sequence[float]) -> float:
    return float(np.mean(values)) if len(values) else float("nan")


def shares_found(outcomes: Sequence[Outcome], low: float, high: float) -> float:
    found = [hit for o in outcomes for hit, size in zip(o.hits, o.series.shift_sizes) if low <= size < high + 1e-9]
    return _mean(found)


@dataclass(frozen=True)
class Summary:
    f1: float
    cover: float
    false_alarms: float
    found: tuple[float, ...]
    changes: float
    truth: float

    @classmethod
    def of(cls, outcomes: Sequence[Outcome]) -> Summary:
        return cls(_mean([o.f1 for o in outcomes]), _mean([o.cover for o in outcomes]),
                   _mean([o.false_alarm for o in outcomes if not o.series.has_change]),
                   tuple(shares_found(outcomes, low, high) for low, high in SIZE_BINS),
                   _mean([len(o.found) - 1 for o in outcomes]), _mean([len(o.series.truth) - 1 for o in outcomes]))


LARGE = 3.0


def acceptance(outcomes: Sequence[Outcome], max_rho: float = 0.6) -> tuple[float, float]:
    """The issue's two bars over the series with ρ ≤ max_rho: (the share of
    those without changes where something was found, the share of those
    with a shift of LARGE noise units or more where every such shift was
    found, a detected change lying within MARGIN samples of it)."""
    calm = [o for o in outcomes if o.series.rho <= max_rho]
    alarms = _mean([o.false_alarm for o in calm if not o.series.has_change])
    large = [all(hit for hit, size in zip(o.near, o.series.shift_sizes) if size >= LARGE)
             for o in calm if any(size >= LARGE for size in o.series.shift_sizes)]
    return alarms, _mean(large)


def large_shifts_found(outcomes: Sequence[Outcome], max_rho: float = 0.6) -> float:
    """Shift by shift: the share of shifts of LARGE noise units or more, in
    series with ρ ≤ max_rho, with a detected change within MARGIN samples."""
    return _mean([hit for o in outcomes if o.series.rho <= max_rho
                  for hit, size in zip(o.near, o.series.shift_sizes) if size >= LARGE])
