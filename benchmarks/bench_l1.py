"""CostL1 with its median index against the sorted segments it replaces.

For each size: the fit, segment costs from Python (`error` on random
segments of up to 1000 samples; `sum_of_costs` over segments of 100), and
the searches (Pelt with pen = 3 ln n, Binseg and BottomUp with 20 changes,
Window, Dynp with 5 changes), on one feature with a level change every 100
samples and unit noise. A sorted run is skipped when the same search took
longer than `--budget` seconds at the previous size (its growth is at least
quadratic). The index's memory is printed per sample.

    PYTHONPATH=build/dev .venv/bin/python benchmarks/bench_l1.py --sizes 10000,100000
"""

import argparse
import time

import numpy as np
import psutil

import tarnwell
from tarnwell import _tarnwell


def signal(n, every=100, seed=0):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(scale=3.0, size=-(-n // every)), every)[:n]
    return levels + rng.normal(size=n)


def seconds(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


SEARCHES = {
    "Pelt": lambda x: tarnwell.Pelt(model="l1").fit(x).predict(pen=3 * np.log(len(x))),
    "Binseg": lambda x: tarnwell.Binseg(model="l1").fit(x).predict(n_bkps=20),
    "BottomUp": lambda x: tarnwell.BottomUp(model="l1").fit(x).predict(n_bkps=20),
    "Window": lambda x: tarnwell.Window(width=200, model="l1").fit(x).predict(n_bkps=20),
    "Dynp": lambda x: tarnwell.Dynp(model="l1", jump=max(5, len(x) // 2000)).fit(x).predict(n_bkps=5),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="10000,100000")
    parser.add_argument("--budget", type=float, default=60.0)
    arguments = parser.parse_args()
    sizes = [int(size) for size in arguments.sizes.split(",")]
    print(f"{'form':<7} {'n':>8} {'what':<22} {'seconds':>9} {'us/sample':>10}")
    previous = {}
    try:
        for indexed in (False, True):
            _tarnwell._use_l1_median_index(indexed)
            form = "index" if indexed else "sorted"
            for n in sizes:
                x = signal(n)
                fit = seconds(lambda: tarnwell.CostL1().fit(x))
                resident = psutil.Process().memory_info().rss
                cost = tarnwell.CostL1().fit(x)
                held = psutil.Process().memory_info().rss - resident
                rng = np.random.default_rng(1)
                starts = rng.integers(0, n - 1000, size=2000)
                segments = [(int(s), int(s + rng.integers(2, 1000))) for s in starts]
                errors = seconds(lambda: [cost.error(a, b) for a, b in segments])
                breakpoints = list(range(100, n, 100)) + [n]
                sums = seconds(lambda: cost.sum_of_costs(breakpoints))
                print(f"{form:<7} {n:>8} {'fit':<22} {fit:>9.3f} {fit / n * 1e6:>10.3f}")
                print(f"{form:<7} {n:>8} {'memory held (bytes)':<22} {held:>9} {held / n:>7.1f}/smp")
                print(f"{form:<7} {n:>8} {'error, len < 1000':<22} {errors:>9.3f} {errors / len(segments) * 1e6:>7.2f}/seg")
                print(f"{form:<7} {n:>8} {'sum_of_costs, len 100':<22} {sums:>9.3f} "
                      f"{sums / len(breakpoints) * 1e6:>7.2f}/seg")
                for name, run in SEARCHES.items():
                    if previous.get((form, name), 0.0) > arguments.budget:
                        print(f"{form:<7} {n:>8} {name:<22} {'skipped':>9}")
                        continue
                    elapsed = seconds(lambda: run(x))
                    previous[(form, name)] = elapsed
                    print(f"{form:<7} {n:>8} {name:<22} {elapsed:>9.3f} {elapsed / n * 1e6:>10.3f}", flush=True)
    finally:
        _tarnwell._use_l1_median_index(True)


if __name__ == "__main__":
    main()
