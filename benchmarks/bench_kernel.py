"""KernelCPD timings and memory.

Times are the best of a few runs of the calling thread's processor time (the
searches run on it with the interpreter lock released); on a shared machine
the wall clock mostly measures the other processes, so it is shown beside.

1. Fused rbf, 5 changes: the fold touches every (start, end) pair once, so
   time should grow as n^2 (x4 per doubling).
2. The three backends on one signal: fused runs its own programmes, full and
   streaming go through the shared Dynp (n_bkps) and Pelt (pen) engines.
3. Penalised fused search on a signal with a change every 200 samples:
   pruning drops the starts before each change, and the folds stop at the
   lowest active start, so time grows about linearly.
4. Bandwidth: the sampled median (10 000 pairs) against the exact one over
   all n (n - 1) / 2 pairs.
5. Peak resident memory of a fit and prediction in a fresh process, sampled
   by a thread while the search runs (linear kernel, 5 changes): fused and streaming keep O(n) state, so the growth
   from n = 20 000 to 40 000 should be about x2, not x4.

The four-column AVX2 update against the scalar one is timed natively by
kernel_benchmark (make bench).
"""

import subprocess
import sys
import time

import numpy as np

from tarnwell import KernelCPD


def piecewise(n, spacing, d=1, seed=7):
    rng = np.random.default_rng(seed)
    blocks = -(-n // spacing)
    levels = np.repeat(rng.normal(scale=3.0, size=(blocks, d)), spacing, axis=0)[:n]
    return levels + rng.normal(size=(n, d))


def timed(call, repetitions=3):
    best_cpu = best_wall = float("inf")
    result = None
    for _ in range(repetitions):
        wall, cpu = time.perf_counter(), time.thread_time()
        result = call()
        best_cpu = min(best_cpu, time.thread_time() - cpu)
        best_wall = min(best_wall, time.perf_counter() - wall)
    return best_cpu, best_wall, result


def fused_scaling():
    print("fused rbf, 5 changes, d = 1, min_size = 2, jump = 1")
    print(f"{'n':>8} {'cpu_s':>8} {'wall_s':>8} {'x prev':>7}  breakpoints")
    previous = None
    for n in (2000, 5000, 10000, 20000):
        search = KernelCPD(gamma=0.5).fit(piecewise(n, n // 6 + 1))
        cpu, wall, bkps = timed(lambda: search.predict(n_bkps=5), 1 if n >= 20000 else 3)
        growth = f"{cpu / previous:7.2f}" if previous else " " * 7
        print(f"{n:>8} {cpu:8.3f} {wall:8.3f} {growth}  {bkps}")
        previous = cpu


def backends():
    n = 5000
    x = piecewise(n, n // 6 + 1)
    print(f"\nbackends at n = {n}, rbf (gamma 0.5), min_size = 2, jump = 1")
    print(f"{'backend':>10} {'fit_cpu_s':>10} {'n_bkps=5':>10} {'pen=20':>10}  same")
    reference = None
    for backend in ("fused", "full", "streaming"):
        fit_cpu, _, search = timed(lambda: KernelCPD(gamma=0.5, backend=backend).fit(x), 1)
        fixed, _, by_count = timed(lambda: search.predict(n_bkps=5), 1)
        penalised, _, by_pen = timed(lambda: search.predict(pen=20.0), 1)
        reference = reference or (by_count, by_pen)
        print(f"{backend:>10} {fit_cpu:10.3f} {fixed:10.3f} {penalised:10.3f}  {(by_count, by_pen) == reference}")


def penalised_scaling():
    print("\npenalised fused rbf, a change every 200 samples, pen = 20")
    print(f"{'n':>8} {'cpu_s':>8} {'wall_s':>8} {'x prev':>7}  changes found")
    previous = None
    for n in (10_000, 100_000):
        search = KernelCPD(gamma=0.5).fit(piecewise(n, 200))
        cpu, wall, bkps = timed(lambda: search.predict(pen=20.0), 1)
        growth = f"{cpu / previous:7.2f}" if previous else " " * 7
        print(f"{n:>8} {cpu:8.3f} {wall:8.3f} {growth}  {len(bkps) - 1} (true {(n - 1) // 200})")
        previous = cpu


def bandwidths():
    n = 20000
    x = piecewise(n, 1000)
    print(f"\nbandwidth at n = {n} (fit of the fused backend)")
    print(f"{'policy':>10} {'cpu_s':>8} {'gamma':>12}")
    for policy in ("sampled", "exact"):
        cpu, _, search = timed(lambda: KernelCPD(gamma_policy=policy).fit(x), 1)
        print(f"{policy:>10} {cpu:8.3f} {search.gamma:12.6f}")


PEAK_SCRIPT = """
import os, sys, threading
import numpy as np
from tarnwell import KernelCPD

def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

n, backend = int(sys.argv[1]), sys.argv[2]
x = np.random.default_rng(0).normal(size=n)
before, peak, done = resident(), [0], threading.Event()

def sample():
    while not done.is_set():
        peak[0] = max(peak[0], resident())
        done.wait(0.0005)

sampler = threading.Thread(target=sample)
sampler.start()
KernelCPD(kernel="linear", backend=backend).fit(x).predict(n_bkps=5)
done.set()
sampler.join()
print((max(peak[0], resident()) - before) // 1024)
"""


def peak_memory():
    print("\npeak resident growth of fit + predict (KiB), linear kernel, 5 changes, fresh process")
    print(f"{'backend':>10} {'n=20000':>10} {'n=40000':>10} {'ratio':>7}")
    for backend in ("fused", "streaming"):
        peaks = [int(subprocess.run([sys.executable, "-c", PEAK_SCRIPT, str(n), backend], check=True,
                                    capture_output=True, text=True).stdout) for n in (20000, 40000)]
        print(f"{backend:>10} {peaks[0]:>10} {peaks[1]:>10} {peaks[1] / max(peaks[0], 1):7.2f}")


if __name__ == "__main__":
    fused_scaling()
    backends()
    penalised_scaling()
    bandwidths()
    peak_memory()
