"""One timed detection in a fresh process; prints one JSON line.

usage: worker.py PACKAGE SIGNAL.npy PEN
  PACKAGE  tarnwell | skchange-fpop | fastcpd | changepoint-cython

Every package solves the same problem: the plain within-segment sum of
squares plus PEN per change, segments of any length, changes anywhere. Only
the detection call is timed, after imports, loading and a warm-up call on a
small signal (numba compiles there). Breakpoints are printed in one
convention: sorted change positions c, 0 < c < n, a new segment starting at c.
"""
import math
import sys
import warnings

import numpy as np
from timed_call import print_timed_run

warnings.filterwarnings("ignore")


def runner(package):
    if package == "tarnwell":
        import tarnwell

        return lambda x, pen: tarnwell.Pelt(model="l2", min_size=1, jump=1).fit(x).predict(pen)
    if package == "skchange-fpop":
        from skchange.detectors import FPOP

        def run(x, pen):
            signal = x.reshape(-1, 1)
            return FPOP(penalty=pen).fit(signal).predict(signal)
        return run
    if package == "fastcpd":
        import fastcpd

        # Its mean cost is the Gaussian negative log-likelihood, the sum of
        # squares / 2 for a unit variance (plus a constant per sample), so the
        # same problem takes beta = pen / 2; no cost adjustment is plain BIC.
        def run(x, pen):
            return fastcpd.detect_mean(x, beta=pen / 2.0, cost_adjustment=None,
                                       variance_estimation=np.eye(1), cp_only=True).cp_set
        return run
    if package == "changepoint-cython":
        import pandas as pd
        from pychangepoints import algo_changepoints

        # mll_mean is the plain sum of squares; the package multiplies its
        # penalty argument by ln(n).
        def run(x, pen):
            changes, _ = algo_changepoints.pelt(pd.DataFrame(x), pen / math.log(len(x)), 1, "mll_mean")
            return changes
        return run
    raise SystemExit(f"unknown package {package}")


def main():
    package, path, pen = sys.argv[1], sys.argv[2], float(sys.argv[3])
    run = runner(package)
    x = np.load(path)
    rng = np.random.default_rng(7)
    warm = np.repeat(rng.uniform(-5, 5, 20), 100) + rng.standard_normal(2000)
    run(warm, 3 * math.log(2000))
    print_timed_run(run, x, pen)



if __name__ == "__main__":
    main()
