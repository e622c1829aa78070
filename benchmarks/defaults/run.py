"""Scores the default penalties on the calibration suite and prints one table.

    PYTHONPATH=build/dev .venv/bin/python benchmarks/defaults/run.py
    ... run.py --models l2,l1,normal --max-length 2000   # other costs on shorter series

Rows: every family of the calibration series (tests/calibration/series.py)
and the whole suite, for the previous default ("previous": noise from
sample-to-sample differences), the default the calibrated one replaced
("replaced": the whole signal's variability with factors from a first
search) and the current one ("new"). For "l2", "new" is `detect(x)` with
nothing given, which chooses the model too, and "model=l2" the calibrated
penalty of that model (`detect(x, model="l2")`). Columns: mean F1 (margin
5) and covering; false alarms (share of the family's series without changes
where anything was found); the share of true shifts found within 5 samples
per size in noise units; mean changes found against the truth. Every search
is Pelt with jump 1 and its default min_size.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

import numpy as np

# The series, their scores and the three defaults live with the tests, which
# run a subset of this suite.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests"))

from calibration.outcomes import (SIZE_BINS, Outcome, Summary, acceptance, detectors,  # noqa: E402
                                  large_shifts_found, run)
from calibration.series import FAMILIES, suite  # noqa: E402


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
                             "mahalanobis), the greedy searches with l2 (binseg, bottomup, window), "
                             "kernelcpd:<kernel>, l1potts (default l2)")
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
            every = float(np.mean([o.false_alarm for o in results[name] if not o.series.has_change]))
            print(f"model {model}, {name}: {time.perf_counter() - start:.1f} s; false alarms {every:.3f} "
                  f"(over series with rho <= 0.6: {alarms:.3f}), series whose shifts >= 3 were all found "
                  f"{large:.3f} (shift by shift {large_shifts_found(results[name]):.3f})")
        if args.summary:
            rows.append(summary_row(model, results))
        else:
            print(f"\nmodel {model!r}\n")
            print(table(results))
            print()
    if rows:
        names = " | ".join(f"{name} F1 / cover" for name in detectors("l1"))
        print(f"\n| cost | {names} | new: false alarms, shifts 3–4 found |\n|---|---|---|---|---|")
        print("\n".join(rows))


if __name__ == "__main__":
    main()
