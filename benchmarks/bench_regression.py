"""Pelt (unpruned for these costs) and Dynp(n_bkps=5) with the regression and
continuous-linear models: best of 3 runs, min_size = the model's, jump = 1.

Signals: "linear" regresses the first of 3 features on the other two with
slopes changing 5 times; "ar" and "clinear" use a 1-D signal with 5 changes of
AR(2) dynamics and of slope. The batch-versus-exact-solver comparison is the
native program regression_batch_benchmark (make bench).
"""

import numpy as np

import tarnwell
from timing import best_time

SIZES = (1000, 2000)


def signal(model, n, seed=3):
    rng = np.random.default_rng(seed)
    regime = np.minimum(np.arange(n) * 6 // n, 5)
    if model == "linear":
        design = rng.normal(size=(n, 2))
        slopes = rng.normal(scale=2.0, size=(6, 2))[regime]
        return np.hstack([(design * slopes).sum(axis=1, keepdims=True) + 0.3 * rng.normal(size=(n, 1)), design])
    if model == "ar":
        coefficients = rng.uniform(-0.6, 0.6, size=(6, 2))[regime]
        x = np.zeros(n)
        for t in range(2, n):
            x[t] = coefficients[t, 0] * x[t - 1] + coefficients[t, 1] * x[t - 2] + rng.normal()
        return x
    slopes = rng.normal(scale=0.05, size=6)[regime]
    return np.cumsum(slopes) + 0.2 * rng.normal(size=n)


def main():
    print(f"{'model':<8} {'n':>6} {'Pelt [s]':>10} {'Dynp [s]':>10}  breakpoints (Dynp)")
    for model in ("linear", "ar", "clinear"):
        for n in SIZES:
            x = signal(model, n)
            pen = 3 * np.log(n) * (x.shape[1] if x.ndim == 2 else 1)
            pelt = tarnwell.Pelt(model=model, jump=1).fit(x)
            dynp = tarnwell.Dynp(model=model, jump=1).fit(x)
            pelt_time, _ = best_time(lambda: pelt.predict(pen), repetitions=3)
            dynp_time, found = best_time(lambda: dynp.predict(n_bkps=5), repetitions=3)
            print(f"{model:<8} {n:>6} {pelt_time:>10.3f} {dynp_time:>10.3f}  {found}")


if __name__ == "__main__":
    main()
