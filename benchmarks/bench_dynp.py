"""Dynp timings and peak memory: L2 model, min_size = jump = 1, 5 changes.

Work counts follow from the grid: at grid index j the admissible starts are the
cnt_j grid positions at least min_size before grid[j]; the engine asks the cost
for those cnt_j segments once and updates each of the min(j, K) segment counts
from them. Time should grow as G^2 (x4 per doubling of n).

Peak memory is measured in a fresh process per size by a thread that samples
the resident size while the prediction runs (it releases the interpreter
lock). The resident size is read from /proc/self/smaps_rollup, which walks the
page tables: the cheaper counters behind /proc/self/statm and VmHWM are kept
per CPU and can lag by hundreds of KiB. That process serves every buffer of
4 KiB or more from fresh pages (glibc's mmap threshold), so memory freed
earlier and still resident cannot hide the prediction's own. The peak should
match estimated_memory_bytes within 10 %.
"""

import os
import re
import subprocess
import sys
import threading
import time

import numpy as np

import tarnwell
from timing import best_time

SIZES = (1000, 2000, 4000)
N_BKPS = 5
MIN_SIZE = 1
JUMP = 1


def piecewise(n, n_bkps, seed=7):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(scale=4.0, size=n_bkps + 1), -(-n // (n_bkps + 1)))[:n]
    return levels + rng.normal(size=n)


def work_counts(n, n_bkps, min_size, jump):
    """(candidate segments, candidate x segment-count updates) of one prediction."""
    grid = np.r_[np.arange(0, n, jump), n]
    segments = n_bkps + 1
    candidates = updates = 0
    for j in range(1, len(grid)):
        count = int(np.searchsorted(grid[:j], grid[j] - min_size, side="right")) if grid[j] >= min_size else 0
        candidates += count
        updates += count * min(j, segments)
    return candidates, updates


def detector(n):
    return tarnwell.Dynp(model="l2", min_size=MIN_SIZE, jump=JUMP).fit(piecewise(n, N_BKPS))


def resident_bytes():
    with open("/proc/self/smaps_rollup") as rollup:
        return int(re.search(r"^Rss:\s+(\d+) kB", rollup.read(), re.MULTILINE).group(1)) * 1024


def measure_peak_in_this_process(n):
    search = detector(n)
    detector(50).predict(2)  # page in the code paths first
    done = threading.Event()
    peak = [0]

    def sample():
        while not done.is_set():
            peak[0] = max(peak[0], resident_bytes())

    sampler = threading.Thread(target=sample)
    sampler.start()
    time.sleep(0.05)
    before = resident_bytes()
    peak[0] = before
    search.predict(N_BKPS)
    done.set()
    sampler.join()
    print(peak[0] - before)


def peak_bytes(n):
    environment = dict(os.environ, GLIBC_TUNABLES="glibc.malloc.mmap_threshold=4096")
    output = subprocess.run([sys.executable, __file__, "--peak", str(n)], check=True, capture_output=True, text=True,
                            env=environment)
    return int(output.stdout.strip())



def main():
    print(f'Dynp(model="l2", min_size={MIN_SIZE}, jump={JUMP}), n_bkps={N_BKPS}')
    print(f"{'n':>6} {'predict_ms':>11} {'candidates':>11} {'updates':>11} {'ns/update':>10} {'growth':>7} "
          f"{'estimate_B':>11} {'peak_B':>9} {'peak/est':>9}  breakpoints")
    previous = None
    for n in SIZES:
        search = detector(n)
        seconds, breakpoints = best_time(lambda: search.predict(N_BKPS))
        candidates, updates = work_counts(n, N_BKPS, MIN_SIZE, JUMP)
        estimate = search.estimated_memory_bytes(N_BKPS)
        peak = peak_bytes(n)
        growth = f"x{seconds / previous:.2f}" if previous else ""
        print(f"{n:>6} {seconds * 1e3:>11.2f} {candidates:>11} {updates:>11} {seconds * 1e9 / updates:>10.2f} "
              f"{growth:>7} {estimate:>11} {peak:>9} {peak / estimate:>9.3f}  {breakpoints}")
        previous = seconds


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--peak":
        measure_peak_in_this_process(int(sys.argv[2]))
    else:
        main()
