"""Scores the default penalties on the calibration suite and prints one table.

    PYTHONPATH=build/dev .venv/bin/python benchmarks/defaults/run.py
    ... run.py --models l2,l1,normal --max-length 2000   # other costs on shorter series

Rows: every family of `series.py` and the whole suite, for the previous
default ("previous": noise from sample-to-sample differences), the default
the calibrated one replaced ("replaced": the whole signal's variability
with factors from a first search) and the current one ("new"). Columns:
mean F1 (margin 5) and covering; false alarms (share of the family's
series without changes where anything was found); the share of true shifts
found within 5 samples per size in noise units; mean changes found against
the truth. Every search is Pelt with jump 1 and its default min_size, so
only the penalty differs.
"""

from __future__ import annotations

import argparse
import sys
import time
import warnings
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))

import tarnwell  # noqa: E402
from baselines import previous_penalty, replaced_penalty  # noqa: E402
from scoring import covering, f1_score, matched  # noqa: E402
from series import FAMILIES, Series, suite  # noqa: E402
from tarnwell._methods import search_info  # noqa: E402

Detector = Callable[[np.ndarray], list[int]]

SIZE_BINS = ((0.5, 1.0), (1.0, 2.0), (2.0, 3.0), (3.0, 4.0))
MARGIN = 5


def _search(choice: str) -> tuple[str, dict[str, Any]]:
    """The method and its cost argument for a choice such as "l1",
    "kernelcpd:rbf" or "l1potts"."""
    if choice.startswith("kernelcpd:"):
        return "kernelcpd", {"kernel": choice.split(":", 1)[1]}
    if choice == "l1potts":
        return "l1potts", {}
    return "pelt", {"model": choice}


def _shaped(choice: str, y: np.ndarray) -> np.ndarray:
    # "linear" regresses the first column on the others: a constant
    # regressor makes its segments levels, so the suite's truth applies.
    return np.c_[y, np.ones_like(y)] if choice == "linear" else y


def detectors(choice: str) -> dict[str, Detector]:
    """The three defaults for one cost; every search that has a grid uses jump 1."""
    method, cost = _search(choice)
    kind = choice.split(":")[-1]
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


def _cell(value: float) -> str:
    return "–" if np.isnan(value) else f"{value:.2f}"


def table(results: dict[str, list[Outcome]]) -> str:
    bins = " | ".join(f"found {low:g}–{high:g}" for low, high in SIZE_BINS)
    lines = [f"| family | default | F1 | cover | false alarms | {bins} | changes (truth) |",
             "|---|---|---|---|---|" + "---|" * len(SIZE_BINS) + "---|"]
    families = [*FAMILIES, "whole suite"]
    for family in families:
        for name, outcomes in results.items():
            chosen = outcomes if family == "whole suite" else [o for o in outcomes if o.series.family == family]
            if not chosen:
                continue
            s = Summary.of(chosen)
            found = " | ".join(_cell(v) for v in s.found)
            label = f"**{family}**" if family == "whole suite" else family
            lines.append(f"| {label} | {name} | {s.f1:.3f} | {s.cover:.3f} | {_cell(s.false_alarms)} | {found} | "
                         f"{s.changes:.1f} ({s.truth:.1f}) |")
    return "\n".join(lines)


def summary_row(model: str, results: dict[str, list[Outcome]]) -> str:
    """One row: F1 and covering of each default over the whole suite, and the new one's bars."""
    cells = []
    for outcomes in results.values():
        s = Summary.of(outcomes)
        cells.append(f"{s.f1:.3f} / {s.cover:.3f}")
    alarms, _ = acceptance(results["new"])
    return f"| {model} | {' | '.join(cells)} | {alarms:.2f}, {_cell(Summary.of(results['new']).found[-1])} |"


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--models", default="l2",
                        help="comma-separated costs: models of Pelt (l2, l1, normal, rank, linear, ar, clinear, "
                             "mahalanobis), kernelcpd:<kernel>, l1potts (default l2)")
    parser.add_argument("--per-family", type=int, default=40)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--max-length", type=int, default=None, help="cap every series at this length")
    parser.add_argument("--no-long", action="store_true", help="leave out the series of 1e4 to 1e5 samples")
    parser.add_argument("--summary", action="store_true",
                        help="one row per cost (the whole suite) instead of a table per family")
    args = parser.parse_args(argv)
    cases = list(suite(args.seed, args.per_family, long=not args.no_long, max_length=args.max_length))
    print(f"{len(cases)} series, {sum(c.n for c in cases)} samples, lengths {min(c.n for c in cases)}–"
          f"{max(c.n for c in cases)}, seed {args.seed}")
    rows = []
    for model in args.models.split(","):
        results = {}
        for name, detector in detectors(model).items():
            start = time.perf_counter()
            results[name] = run(detector, cases)
            alarms, large = acceptance(results[name])
            print(f"model {model}, {name}: {time.perf_counter() - start:.1f} s; over series with rho <= 0.6: "
                  f"false alarms {alarms:.3f}, series whose shifts >= 3 were all found {large:.3f} "
                  f"(shift by shift {large_shifts_found(results[name]):.3f})")
        if args.summary:
            rows.append(summary_row(model, results))
        else:
            print(f"\nmodel {model!r}\n")
            print(table(results))
            print()
    if rows:
        names = " | ".join(f"{name} F1 / cover" for name in detectors("l2"))
        print(f"\n| cost | {names} | new: false alarms, shifts 3–4 found |\n|---|---|---|---|---|")
        print("\n".join(rows))


if __name__ == "__main__":
    main()
