"""L1Potts timings and peak memory over signal length n and level count K.

The programme does one pass over the K levels per sample, so the figure of
merit is the time per level-sample, predict time / (n K); the inner loop is
vectorised over levels and should stay at or below about 2 ns. Memory is
dominated by the parent flags, one byte per level-sample, so the growth of
the peak resident size during predict should be close to n K bytes.

Each (n, K) runs in a fresh process, so the peak resident size (ru_maxrss)
measured after predict, minus the resident size just before it, is the
prediction's own working memory. The machine is shared, so the time per
level-sample is taken from the CPU time of the predicting thread (best of a
few runs; other threads of the process, such as idle BLAS workers, are not
counted); wall-clock time is shown beside it. Signals are piecewise-constant integer
levels 0 .. K-1 with quantised noise; every level occurs.
"""

import os
import subprocess
import sys

CASES = [(100_000, 10), (100_000, 100), (100_000, 1000), (1_000_000, 10), (1_000_000, 100), (1_000_000, 1000)]

CHILD = r"""
import resource, sys, time
import numpy as np
import tarnwell
from timing import best_time

n, K = int(sys.argv[1]), int(sys.argv[2])
rng = np.random.default_rng(5)
means = rng.integers(0, K, size=20)
signal = np.repeat(means, -(-n // 20))[:n] + np.round(rng.normal(scale=max(K / 50, 0.5), size=n))
signal = np.clip(signal, 0, K - 1)
signal[:K] = np.arange(K)  # every level occurs
signal = signal.astype(np.float64)
detector = tarnwell.L1Potts().fit(signal)
pen = 2.0 * np.log(n)

def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()

before = resident()
first = detector.predict(pen)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
repetitions = 5 if n * K <= 10**8 else 2
seconds, result = best_time(lambda: detector.predict(pen), repetitions)
cpu_seconds = float("inf")
for _ in range(repetitions):
    start = time.thread_time()
    detector.predict(pen)
    cpu_seconds = min(cpu_seconds, time.thread_time() - start)
assert result == first
print(detector.distinct_levels, seconds, cpu_seconds, max(peak - before, 0), len(result) - 1)
"""


def main():
    load = os.getloadavg()[0]
    print(f"{os.cpu_count()} CPUs, load average {load:.1f} at start (CPU times inflate on a loaded machine)")
    print(f"{'n':>9} {'K':>5} {'wall s':>8} {'cpu s':>8} {'cpu ns/level-sample':>20} {'peak RSS MB':>12} {'n*K MB':>8} {'changes':>8}")
    for n, K in CASES:
        out = subprocess.run(
            [sys.executable, "-c", CHILD, str(n), str(K)],
            capture_output=True, text=True, check=True, cwd=sys.path[0] or ".",
        ).stdout.split()
        levels, seconds, cpu_seconds = int(out[0]), float(out[1]), float(out[2])
        growth, changes = int(out[3]), int(out[4])
        per = cpu_seconds / (n * levels) * 1e9
        print(f"{n:>9} {levels:>5} {seconds:>8.3f} {cpu_seconds:>8.3f} {per:>20.3f} {growth / 1e6:>12.1f} "
              f"{n * levels / 1e6:>8.1f} {changes:>8}")


if __name__ == "__main__":
    main()
