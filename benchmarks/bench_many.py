"""detect_many on 1 and 2 threads: the searches release the interpreter lock,
so independent signals run in parallel. Prints wall times and the speed-up
(best of 3 runs each, measured in one run of this script).

Two workloads: Pelt with the L2 model and jump 1 on long signals (the search
dominates), and Dynp on shorter ones (table-heavy, no pruning).

    python benchmarks/bench_many.py                    # 8 signals per workload
    python benchmarks/bench_many.py --signals 200      # 200 x 100000 samples for Pelt
    python benchmarks/bench_many.py --signals 200 --only pelt --repeat 1
"""

import argparse
import os

import tarnwell
from timing import best_time


def workloads(count, samples):
    return {
        f"pelt l2, {count} x {samples} samples, pen 50": (
            lambda: [tarnwell.pw_constant(samples, n_bkps=200, seed=s)[0] for s in range(count)],
            {"method": "pelt", "pen": 50.0, "jump": 1, "min_size": 1}),
        f"dynp l2, {count} x 2000 samples, 5 changes": (
            lambda: [tarnwell.pw_constant(2_000, n_bkps=5, seed=s)[0] for s in range(count)],
            {"method": "dynp", "n_bkps": 5, "jump": 1}),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--signals", type=int, default=8, help="signals per workload (default 8)")
    parser.add_argument("--samples", type=int, default=100_000, help="samples per Pelt signal (default 100000)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per timing, the best is kept (default 3)")
    parser.add_argument("--only", choices=["pelt", "dynp"], help="run one workload")
    arguments = parser.parse_args()
    print(f"cpus: {os.cpu_count()}, load average at start: {os.getloadavg()[0]:.2f}")
    print(f"{'workload':<44} {'1 thread s':>11} {'2 threads s':>12} {'speed-up':>9}")
    for name, (make, options) in workloads(arguments.signals, arguments.samples).items():
        if arguments.only and not name.startswith(arguments.only):
            continue
        signals = make()
        repeat = arguments.repeat
        one, first = best_time(lambda: tarnwell.detect_many(signals, n_jobs=1, warn=False, **options), repeat)
        two, second = best_time(lambda: tarnwell.detect_many(signals, n_jobs=2, warn=False, **options), repeat)
        assert [r.breakpoints for r in first] == [r.breakpoints for r in second]
        print(f"{name:<44} {one:>11.3f} {two:>12.3f} {one / two:>8.2f}x")


if __name__ == "__main__":
    main()
