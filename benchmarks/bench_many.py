"""detect_many on 1 and 2 threads: the searches release the interpreter lock,
so independent signals run in parallel. Prints wall times and the speed-up
(best of 3 runs each, measured in one run of this script).

Two workloads: Pelt with the L2 model and jump 1 on long signals (the search
dominates), and Dynp on shorter ones (table-heavy, no pruning).
"""

import os

import tarnwell
from timing import best_time

WORKLOADS = {
    "pelt l2, 8 x 100000 samples, pen 50": (
        [tarnwell.pw_constant(100_000, n_bkps=200, seed=s)[0] for s in range(8)],
        {"method": "pelt", "pen": 50.0, "jump": 1, "min_size": 1}),
    "dynp l2, 8 x 2000 samples, 5 changes": (
        [tarnwell.pw_constant(2_000, n_bkps=5, seed=s)[0] for s in range(8)],
        {"method": "dynp", "n_bkps": 5, "jump": 1}),
}


def main():
    print(f"cpus: {os.cpu_count()}")
    print(f"{'workload':<40} {'1 thread s':>11} {'2 threads s':>12} {'speed-up':>9}")
    for name, (signals, options) in WORKLOADS.items():
        one, first = best_time(lambda: tarnwell.detect_many(signals, n_jobs=1, warn=False, **options), 3)
        two, second = best_time(lambda: tarnwell.detect_many(signals, n_jobs=2, warn=False, **options), 3)
        assert [r.breakpoints for r in first] == [r.breakpoints for r in second]
        print(f"{name:<40} {one:>11.3f} {two:>12.3f} {one / two:>8.2f}x")


if __name__ == "__main__":
    main()
