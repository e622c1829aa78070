"""Independent NumPy forms of the kernel costs, bandwidths and exhaustive optima.

The Gram matrix is built explicitly and every admissible segmentation of a
small signal is scored from it, so the searches are checked against a plain
definition rather than against their own running sums.
"""

from itertools import combinations

import numpy as np

MASK = 2**64 - 1


def as_rows(x):
    x = np.asarray(x, dtype=float)
    return x.reshape(len(x), -1)


def prepared_rows(x, kernel):
    rows = as_rows(x)
    if kernel == "linear":
        return rows - rows[0]
    if kernel == "cosine":
        norms = np.linalg.norm(rows, axis=1)
        zero = norms == 0
        unit = np.divide(rows, np.where(zero, 1.0, norms)[:, None])
        return np.column_stack([unit, zero.astype(float)])
    return rows


def squared_distances(rows):
    return ((rows[:, None, :] - rows[None, :, :]) ** 2).sum(axis=2)


def gram(x, kernel, gamma=None):
    rows = prepared_rows(x, kernel)
    if kernel == "rbf":
        return np.exp(-gamma * squared_distances(rows))
    return rows @ rows.T


def segment_cost_table(g):
    """cost[s][e] of every segment [s, e) from the Gram matrix."""
    n = len(g)
    cost = np.full((n + 1, n + 1), np.nan)
    for s in range(n):
        for e in range(s + 1, n + 1):
            block = g[s:e, s:e]
            cost[s, e] = max(np.trace(block) - block.sum() / (e - s), 0.0)
    return cost.tolist()


def segmentations(n, min_size, jump, n_bkps=None):
    interior = list(range(jump, n, jump))
    counts = range(len(interior) + 1) if n_bkps is None else [n_bkps]
    for count in counts:
        for chosen in combinations(interior, count):
            bkps = [*chosen, n]
            if all(b - a >= min_size for a, b in zip([0, *chosen], bkps)):
                yield bkps


def objective(cost, bkps, pen=0.0):
    starts = [0, *bkps[:-1]]
    return sum(cost[a][b] for a, b in zip(starts, bkps)) + pen * (len(bkps) - 1)


def later_changes_first(bkps):
    """Order of the fused programmes: each state keeps its earliest last start."""
    return tuple(reversed([0, *bkps[:-1]]))


def optima(cost, n, min_size, jump, n_bkps=None, pen=0.0):
    """Breakpoints of the optimum with near-ties broken the fused way and the
    shared engines' way (earliest changes first); None when infeasible."""
    scored = [(objective(cost, b, pen), b) for b in segmentations(n, min_size, jump, n_bkps)]
    if not scored:
        return None, None
    best = min(value for value, _ in scored)
    tied = [b for value, b in scored if value <= best + 1e-9 * (abs(best) + 1.0)]
    return min(tied, key=later_changes_first), min(tied)


def splitmix64_pairs(n, samples, seed):
    state = seed
    pairs = []

    def draw():
        nonlocal state
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    for _ in range(samples):
        i = draw() % n
        j = draw() % (n - 1)
        pairs.append((i, j + 1 if j >= i else j))
    return pairs


def median_gamma(values):
    median = float(np.median(values))
    return 1.0 / median if median > 0 else 1.0


def exact_median_gamma(x):
    rows = as_rows(x)
    if len(rows) <= 1:
        return 1.0
    pairs = [((rows[i + 1:] - rows[i]) ** 2).sum(axis=1) for i in range(len(rows) - 1)]
    return median_gamma(np.concatenate(pairs))


def sampled_median_gamma(x, samples, seed):
    rows = as_rows(x)
    if len(rows) <= 1:
        return 1.0
    i, j = np.array(splitmix64_pairs(len(rows), samples, seed)).T
    return median_gamma(((rows[i] - rows[j]) ** 2).sum(axis=1))
