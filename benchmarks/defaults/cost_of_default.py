"""What the default penalty costs: CPU time of `detect(x)` with the default
penalty over that of a plain search at a given penalty (the same value, so
both find the same changes), per cost.

    PYTHONPATH=build/dev .venv/bin/python benchmarks/defaults/cost_of_default.py
    ... cost_of_default.py --lengths 10000 --repeats 7 --models l2,kernelcpd:rbf

CPU time of this process (time.process_time), the median of at least
--repeats runs and of enough runs to take half a second, so a busy machine
inflates every column alike; the load is printed before and after the
table. `detect(x, pen=p)` is detect at the default penalty given (it still
checks the result for under-segmentation, as `detect(x)` does). The signal:
level shifts every 500 to 2000 samples on Gaussian noise.
"""

from __future__ import annotations

import argparse
import cProfile
import os
import pstats
import statistics
import sys
import time
import warnings
from collections.abc import Callable
from pathlib import Path
from typing import Any

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests"))

import tarnwell  # noqa: E402
from calibration.outcomes import _search, _shaped  # noqa: E402
from tarnwell._estimators import default_min_size  # noqa: E402
from tarnwell._methods import available_searches, search_info  # noqa: E402

COSTS = ("detect(x)", "l2", "l1", "normal", "rank", "linear", "ar", "clinear", "mahalanobis",
         "kernelcpd:linear", "kernelcpd:rbf", "kernelcpd:cosine", "l1potts")


def signal(n: int, seed: int = 1) -> np.ndarray:
    rng = np.random.default_rng(seed)
    ends = np.cumsum(rng.integers(500, 2001, size=n // 500 + 1))
    levels = np.cumsum(rng.choice([-1.0, 1.0], size=ends.size) * rng.uniform(1.0, 4.0, size=ends.size))
    return levels[np.searchsorted(ends, np.arange(n), side="right")] + rng.standard_normal(n)


def cpu_median(call: Callable[[], Any], repeats: int) -> float:
    """Median CPU time of at least `repeats` runs, and of enough runs to
    take half a second: a run of a millisecond needs many."""
    times: list[float] = []
    while len(times) < repeats or sum(times) < 0.5:
        start = time.process_time()
        call()
        times.append(time.process_time() - start)
    return statistics.median(times)


def _described_calls(y: np.ndarray) -> tuple[Callable[[], Any], Callable[[], Any], Callable[[], Any]]:
    """The three calls for `detect(x)` with nothing given: it chooses the
    model too. The given penalty and the plain search are those of the
    chosen model ("l2" on these signals)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        chosen = tarnwell.detect(y)
    if chosen.model != "l2":
        raise ValueError(f"the benchmark signal was described as {chosen.model!r}, not as levels")

    def default() -> Any:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return tarnwell.detect(y)

    def given() -> Any:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return tarnwell.detect(y, model="l2", pen=chosen.penalty)

    def plain() -> Any:
        return tarnwell.Pelt(model="l2", min_size=2, jump=1).fit(y).predict(pen=chosen.penalty)

    return default, given, plain


def calls(choice: str, y: np.ndarray) -> tuple[Callable[[], Any], Callable[[], Any], Callable[[], Any]]:
    """(detect with the default penalty, detect at that penalty given, the
    plain search at that penalty); "detect(x)" is detect with nothing given."""
    if choice == "detect(x)":
        return _described_calls(y)
    method, cost = _search(choice)
    x = _shaped(choice, y)
    info = search_info(method)
    options: dict[str, Any] = {**cost}
    if "jump" in info.constructor:
        options["jump"] = 1
    if "min_size" in info.constructor:
        options["min_size"] = default_min_size(cost.get("model"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        pen = tarnwell.detect(x, method, **options).penalty

    def default() -> Any:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return tarnwell.detect(x, method, **options)

    def given() -> Any:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return tarnwell.detect(x, method, pen=pen, **options)

    def plain() -> Any:
        return info.cls(**options).fit(x).predict(pen=pen)

    return default, given, plain


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--models", default=",".join(COSTS))
    parser.add_argument("--lengths", default="10000,100000")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--profile", action="store_true", help="profile detect(x) for each row")
    args = parser.parse_args(argv)
    print(f"load before: {os.getloadavg()[0]:.2f}")
    print("| cost | n | detect(x), ms | detect(x, pen=p), ms | plain search, ms | detect(x) / plain |\n"
          "|---|---|---|---|---|---|")
    for choice in args.models.split(","):
        if choice != "detect(x)" and _search(choice)[0] not in available_searches():
            continue
        for n in (int(v) for v in args.lengths.split(",")):
            default, given, plain = calls(choice, signal(n))
            if args.profile:
                profiler = cProfile.Profile()
                profiler.runcall(default)
                pstats.Stats(profiler).sort_stats("cumulative").print_stats(18)
            spent, fixed, base = (cpu_median(call, args.repeats) for call in (default, given, plain))
            print(f"| {choice} | {n} | {1e3 * spent:.3g} | {1e3 * fixed:.3g} | {1e3 * base:.3g} | {spent / base:.2f} |",
                  flush=True)
    print(f"load after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
