"""One timed search over one cost model in a fresh process; prints one JSON line.

usage: cost_worker.py PACKAGE SEARCH MODEL SIGNAL.npy ARGUMENT
  PACKAGE   tarnwell | skchange
  SEARCH    Pelt | Binseg | BottomUp | Window | Dynp (skchange: Pelt only)
  MODEL     a tarnwell model name; skchange maps it to its matching cost
            (l2 L2Cost, l1 L1Cost, rank RankCost, normal GaussianCost or
            MultivariateGaussianCost, linear LinearRegressionCost)
  ARGUMENT  the penalty for Pelt, the number of changes otherwise

Segments of at least 5 samples, changes anywhere (jump 1; Window and Dynp use
jump 5). Only the search is timed, after imports, loading and a warm-up call
on a small signal (numba compiles there). Changes are printed as sorted
positions c, 0 < c < n, a new segment starting at c; peak_rss_kib is the
process's own high-water mark.
"""
import sys
import warnings

import numpy as np
from timed_call import print_timed_run

warnings.filterwarnings("ignore")

MIN_SIZE = 5


def tarnwell_runner(search, model):
    import tarnwell

    def run(x, argument):
        if search == "Pelt":
            return tarnwell.Pelt(model=model, min_size=MIN_SIZE, jump=1).fit(x).predict(pen=argument)
        if search == "Window":
            detector = tarnwell.Window(width=100, model=model, min_size=MIN_SIZE, jump=5)
        elif search == "Dynp":
            detector = tarnwell.Dynp(model=model, min_size=MIN_SIZE, jump=5)
        else:
            detector = getattr(tarnwell, search)(model=model, min_size=MIN_SIZE, jump=1)
        return detector.fit(x).predict(n_bkps=int(argument))
    return run


def skchange_runner(search, model, d):
    if search != "Pelt":
        raise SystemExit("skchange: Pelt only")
    from skchange import interval_scorers as costs
    from skchange.detectors import PELT

    if model == "normal":
        cost = costs.GaussianCost() if d == 1 else costs.MultivariateGaussianCost()
    elif model == "linear":
        cost = costs.LinearRegressionCost(response_col=0)
    else:
        cost = {"l2": costs.L2Cost, "l1": costs.L1Cost, "rank": costs.RankCost}[model]()

    def run(x, argument):
        frame = x.reshape(len(x), -1)
        detector = PELT(cost=cost, penalty=argument, min_segment_length=MIN_SIZE)
        return np.asarray(detector.fit(frame).predict(frame)).tolist()
    return run


def main():
    package, search, model, path, argument = sys.argv[1:6]
    argument = float(argument)
    x = np.load(path)
    d = 1 if x.ndim == 1 else x.shape[1]
    run = tarnwell_runner(search, model) if package == "tarnwell" else skchange_runner(search, model, d)
    warm = x[:2000]
    run(warm, argument if search == "Pelt" else 2)
    print_timed_run(run, x, argument)


if __name__ == "__main__":
    main()
