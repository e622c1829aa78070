"""The L1, Rank, Normal and Mahalanobis models from Python.

First table: `error` per call (one segment, Python call included) for d = 1, 5,
20; the native benchmark (build/bench/costs_benchmark, `make bench`) gives the
bare segment_cost times, allocation counts and baselines. Second table: Pelt
(unpruned for these models, so about (n/jump)^2/2 segment costs; the L1
costs of one batch walk a sorted column of the segment, so L1 grows like n^3,
the others like n^2) and Dynp(n_bkps=5)
at n = 1000 and 2000 with the growth factor between the two sizes.
"""

import numpy as np

import tarnwell
from timing import best_time

MODELS = {
    "l1": lambda d: tarnwell.CostL1(),
    "rank": lambda d: tarnwell.CostRank(),
    "normal": lambda d: tarnwell.CostNormal(),
    "mahalanobis": lambda d: tarnwell.CostMahalanobis(np.eye(d)),
}


def piecewise(n, d, seed=0):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(scale=3.0, size=(6, d)), -(-n // 6), axis=0)[:n]
    return levels + rng.normal(size=(n, d))


def error_table():
    print(f"{'model':<12} {'d':>3} {'us/error':>9}")
    for model, make in MODELS.items():
        for d in (1, 5, 20):
            cost = make(d).fit(piecewise(2000, d))
            starts = np.random.default_rng(1).integers(0, 1900, size=2000).tolist()

            def run():
                for start in starts:
                    cost.error(start, start + 100)

            seconds, _ = best_time(run, 3)
            print(f"{model:<12} {d:>3} {seconds / len(starts) * 1e6:>9.2f}")


def search_table():
    print(f"\n{'model':<12} {'search':<7} {'n':>5} {'ms':>9} {'growth':>7}")
    for model in MODELS:
        for name, run in (
            ("Pelt", lambda x: tarnwell.Pelt(model=model, min_size=2).fit(x).predict(pen=3 * np.log(len(x)))),
            ("Dynp", lambda x: tarnwell.Dynp(model=model, min_size=2).fit(x).predict(n_bkps=5)),
        ):
            previous = None
            for n in (1000, 2000):
                x = piecewise(n, 2)
                # L1 walks every candidate segment: a single run says enough.
                seconds, _ = best_time(lambda: run(x), 1 if model == "l1" else 3)
                growth = f"x{seconds / previous:.1f}" if previous else ""
                print(f"{model:<12} {name:<7} {n:>5} {seconds * 1e3:>9.1f} {growth:>7}")
                previous = seconds


if __name__ == "__main__":
    error_table()
    search_table()
