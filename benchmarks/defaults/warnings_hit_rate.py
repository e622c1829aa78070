"""How often `detect`'s warnings fire on right and on wrong answers of the
calibration suite, so that a warning means something.

    PYTHONPATH=build/dev .venv/bin/python benchmarks/defaults/warnings_hit_rate.py
    ... warnings_hit_rate.py --models l2,normal   # explicit models beside detect(x)

For every series, the answer misses a change when some true change has no
detected one within 5 samples (one to one), and has an extra change when
some detected change matches no true one. UnderSegmentationWarning should
fire on answers that miss a change (above all a level shift of 3 noise units
or more, the size it looks for) and not on the others;
OverSegmentationWarning on answers with extra changes. Each row gives, per
kind of answer, the share on which the warning fired (and how many answers
there were).
"""

from __future__ import annotations

import argparse
import sys
import warnings
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests"))

import tarnwell  # noqa: E402
from calibration.scoring import matched  # noqa: E402
from calibration.series import suite  # noqa: E402

MARGIN = 5
LARGE = 3.0  # noise units: UnderSegmentationWarning's own threshold


def _share(hits: list[bool]) -> str:
    return f"{sum(hits) / len(hits):.2f} ({len(hits)})" if hits else "– (0)"


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--models", default="", help="explicit models of Pelt to score beside detect(x)")
    parser.add_argument("--per-family", type=int, default=40)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--max-length", type=int, default=None)
    args = parser.parse_args(argv)
    cases = list(suite(args.seed, args.per_family, max_length=args.max_length))
    print("| detect | Under… on answers missing a change | … missing a shift of 3+ noise units | … on the others "
          "| Over… on answers with an extra change | … on the others |\n|---|---|---|---|---|---|")
    for model in [None, *(m for m in args.models.split(",") if m)]:
        options: dict[str, Any] = {} if model is None else {"model": model}
        under: dict[bool, list[bool]] = {True: [], False: []}
        large: list[bool] = []
        over: dict[bool, list[bool]] = {True: [], False: []}
        for series in cases:
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                found = tarnwell.detect(series.values, **options).breakpoints
            kinds = {type(w.message) for w in caught}
            hits = matched(series.truth, found, MARGIN)
            extra = len(found) - 1 > sum(hits)
            under[not all(hits)].append(tarnwell.UnderSegmentationWarning in kinds)
            if any(not hit and size >= LARGE for hit, size in zip(hits, series.shift_sizes)):
                large.append(tarnwell.UnderSegmentationWarning in kinds)
            over[extra].append(tarnwell.OverSegmentationWarning in kinds)
        label = "detect(x)" if model is None else f"model={model!r}"
        print(f"| {label} | {_share(under[True])} | {_share(large)} | {_share(under[False])} | "
              f"{_share(over[True])} | {_share(over[False])} |", flush=True)


if __name__ == "__main__":
    main()
