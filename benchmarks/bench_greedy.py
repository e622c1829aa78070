"""Greedy search timings from Python: Binseg, BottomUp and Window(width=100),
L2 model, default min_size = 2 and jump = 5, 10 changes.

Binseg's work is counted exactly: it is greedy, so the prediction for k
changes is the first k splits of the one for k + 1; replaying the splits
in order gives every segment scanned. The whole signal is scanned once and
each applied split scans its two halves, so the scanned length is at most
(changes + 1) n. A scan of [a, b) evaluates 1 + 2 x (admissible positions)
segment costs.
"""

import bisect

import numpy as np

import tarnwell
from timing import best_time

N_BKPS = 10
MIN_SIZE = 2
JUMP = 5


def piecewise(n, n_bkps, seed=3):
    rng = np.random.default_rng(seed)
    levels = rng.permutation(np.arange(n_bkps + 1)) * 2.0
    return np.repeat(levels, -(-n // (n_bkps + 1)))[:n] + rng.normal(size=n)



def admissible(a, b):
    first = -(-(a + MIN_SIZE) // JUMP) * JUMP
    last = (b - MIN_SIZE) // JUMP * JUMP
    return max(0, (last - first) // JUMP + 1)


def binseg_work(search, n):
    """(scanned samples, segment costs evaluated) of predict(n_bkps=N_BKPS)."""
    order, previous = [], {n}
    for k in range(1, N_BKPS + 1):
        current = set(search.predict(n_bkps=k))
        order += sorted(current - previous)
        previous = current
    breakpoints, scanned, evaluations = [n], n, 1 + 2 * admissible(0, n)
    for split in order:
        at = bisect.bisect_left(breakpoints, split)
        start, end = (breakpoints[at - 1] if at else 0), breakpoints[at]
        scanned += end - start
        evaluations += 2 + 2 * (admissible(start, split) + admissible(split, end))
        breakpoints.insert(at, split)
    return scanned, evaluations


def main():
    runs = [
        ("Binseg", lambda: tarnwell.Binseg(min_size=MIN_SIZE, jump=JUMP), (100_000, 1_000_000)),
        ("BottomUp", lambda: tarnwell.BottomUp(min_size=MIN_SIZE, jump=JUMP), (10_000, 100_000, 1_000_000)),
        ("Window", lambda: tarnwell.Window(width=100, min_size=MIN_SIZE, jump=JUMP), (10_000, 100_000, 1_000_000)),
    ]
    print(f"{'search':>8} {'n':>9} {'fit_ms':>8} {'predict_ms':>11} {'growth':>7} {'found':>6} "
          f"{'scans':>6} {'ns/cost':>8}")
    for name, make, sizes in runs:
        previous = None
        for n in sizes:
            signal = piecewise(n, N_BKPS)
            truth = [round(k * n / (N_BKPS + 1)) for k in range(1, N_BKPS + 1)]
            search = make()
            repetitions = 3 if n >= 1_000_000 else 5
            fit_seconds, _ = best_time(lambda: search.fit(signal), repetitions)
            predict_seconds, breakpoints = best_time(lambda: search.predict(n_bkps=N_BKPS), repetitions)
            # Changes found within 10 samples of a true one.
            found = sum(any(abs(b - t) <= 10 for b in breakpoints[:-1]) for t in truth)
            growth = f"x{predict_seconds / previous:.1f}" if previous else ""
            scans = per_cost = ""
            if name == "Binseg":
                scanned, evaluations = binseg_work(search, n)
                scans = f"{scanned / n:.2f}"
                per_cost = f"{predict_seconds / evaluations * 1e9:.1f}"
            print(f"{name:>8} {n:>9} {fit_seconds * 1e3:>8.2f} {predict_seconds * 1e3:>11.2f} {growth:>7} "
                  f"{found:>3}/{N_BKPS:<2} {scans:>6} {per_cost:>8}")
            previous = predict_seconds


if __name__ == "__main__":
    main()
