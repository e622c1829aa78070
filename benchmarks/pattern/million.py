"""detect(x, model="pattern") on 10^6 samples: wall time, CPU time and the
process's peak memory. The signal: sinusoids whose period changes every
200 000 samples (40, 17, 40, 25, 40), with noise.

    python benchmarks/pattern/million.py [n]
"""

import os
import resource
import sys
import time

import numpy as np

import tarnwell

n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
periods = [40, 17, 40, 25, 40]
length = n // len(periods)
phase = np.cumsum(np.concatenate([np.full(length, 2 * np.pi / p) for p in periods] +
                                 [np.full(n - length * len(periods), 2 * np.pi / periods[-1])]))
x = np.sin(phase) + 0.2 * np.random.default_rng(0).normal(size=n)
print(f"n={n}, load before {os.getloadavg()[0]:.2f}", flush=True)
wall, cpu = time.perf_counter(), time.process_time()
result = tarnwell.detect(x, model="pattern")
wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
print(f"breakpoints {result.breakpoints} (true {[length * k for k in range(1, len(periods))]})")
print(f"wall {wall:.1f} s, cpu {cpu:.1f} s, peak memory {peak:.0f} MiB (signal {x.nbytes / 2**20:.0f} MiB), "
      f"load after {os.getloadavg()[0]:.2f}")
