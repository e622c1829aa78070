"""End-to-end Pelt timings from Python (fit + predict), L2 model, min_size = jump = 1.

Candidate counts and nanoseconds per candidate come from the native benchmark
(build/bench/pelt_benchmark, built by `make bench`), which runs the same engine
without the Python layer.
"""


import numpy as np

import tarnwell
from timing import best_time


def piecewise(n, spacing, seed=42):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(size=n // spacing + 1) * 3.0, spacing)[:n]
    return levels + rng.normal(size=n)



def main():
    print(f"{'n':>9} {'spacing':>8} {'fit_ms':>9} {'predict_ms':>11} {'changes':>8} {'growth':>8}")
    for spacing in (100, 1000):
        previous = None
        for n in (10_000, 100_000, 1_000_000):
            signal = piecewise(n, spacing)
            search = tarnwell.Pelt(model="l2", min_size=1, jump=1)
            repetitions = 3 if n >= 1_000_000 else 5
            fit_seconds, _ = best_time(lambda: search.fit(signal), repetitions)
            pen = 3 * np.log(n)
            predict_seconds, breakpoints = best_time(lambda: search.predict(pen), repetitions)
            growth = f"x{predict_seconds / previous:.1f}" if previous else ""
            print(f"{n:>9} {spacing:>8} {fit_seconds * 1e3:>9.2f} {predict_seconds * 1e3:>11.2f} "
                  f"{len(breakpoints) - 1:>8} {growth:>8}")
            previous = predict_seconds


if __name__ == "__main__":
    main()
