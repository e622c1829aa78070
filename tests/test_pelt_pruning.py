"""Pelt's pruning must never change the answer.

The reference is a plain exhaustive dynamic programme in NumPy that applies
the same rules as the search (near-equal values within a trillionth are tied,
ties go to the breakpoint list whose first difference comes first), so it
returns the same breakpoints whatever the pruning discards. The signals have
long quiet stretches (where pruning by the cost's functional form discards
most starts), exact ties (small integers), offsets and every min_size/jump
pair the other tests use.
"""

import numpy as np
import pytest

from tarnwell import Pelt


def near(a, b):
    return a == b or abs(a - b) <= 1e-12 * max(abs(a), abs(b)) + 1e-12


def exhaustive_pelt(signal, pen, min_size, jump):
    signal = signal.reshape(len(signal), -1)
    n = len(signal)
    centred = signal - signal[0]
    sums = np.vstack([np.zeros(signal.shape[1]), np.cumsum(centred, axis=0)])
    squares = np.vstack([np.zeros(signal.shape[1]), np.cumsum(centred**2, axis=0)])
    grid = list(range(0, n, jump)) + [n]
    best = [np.inf] * len(grid)
    best[0] = -pen
    pred = [None] * len(grid)

    def path(k, j):
        points = []
        while k != 0:
            points.append(grid[k])
            k = pred[k]
        return points[::-1] + [grid[j]]

    positions = np.array(grid)
    for j in range(1, len(grid)):
        end = grid[j]
        m = int(np.searchsorted(positions[:j], end - min_size, side="right"))
        if m == 0:
            continue
        starts = positions[:m]
        length = (end - starts)[:, None]
        delta = sums[end] - sums[starts]
        cost = ((squares[end] - squares[starts]) - (delta / length) * delta).clip(min=0).sum(axis=1)
        cost[length[:, 0] == 1] = 0.0
        values = (cost + np.array(best[:m])) + pen
        lowest, runner_up = np.partition(values, 1)[:2] if m > 1 else (values[0], np.inf)
        if runner_up - lowest > 2 * (1e-12 * max(abs(runner_up), abs(lowest)) + 1e-12):
            # Offered one by one, the clearly lowest value would win anyway.
            best[j], pred[j] = lowest, int(np.argmin(values))
            continue
        for k in range(m):  # near-ties: offered in order, as the search does
            value = values[k]
            if np.isinf(value):  # no segmentation reaches that start
                continue
            if np.isinf(best[j]) or (not near(value, best[j]) and value < best[j]):
                best[j], pred[j] = value, k
            elif near(value, best[j]) and path(k, j) < path(pred[j], j):
                best[j], pred[j] = value, k
    return path(pred[-1], len(grid) - 1)


def piecewise(rng, n, d, spacing, kind):
    levels = np.repeat(rng.normal(scale=3, size=(n // spacing + 1, d)), spacing, axis=0)[:n]
    if kind == "integers":
        return (rng.integers(0, 3, size=(n // spacing + 1, d)).repeat(spacing, axis=0)[:n]
                + rng.integers(0, 3, size=(n, d))).astype(float)
    noise = rng.normal(size=(n, d))
    if kind == "offset":
        return 1e6 + 1e-3 * (levels + noise)
    return levels + noise


CASES = [
    # (n, d, spacing, kind)
    (300, 1, 300, "gaussian"),
    (300, 1, 90, "gaussian"),
    (300, 1, 7, "gaussian"),
    (300, 1, 150, "integers"),
    (300, 1, 20, "integers"),
    (300, 1, 200, "offset"),
    (200, 2, 80, "gaussian"),
    (200, 3, 200, "integers"),
]


@pytest.mark.parametrize("n, d, spacing, kind", CASES)
@pytest.mark.parametrize("min_size, jump", [(1, 1), (2, 1), (1, 2), (2, 3), (3, 2), (4, 5)])
def test_same_breakpoints_as_the_exhaustive_programme(n, d, spacing, kind, min_size, jump):
    rng = np.random.default_rng(n * 31 + d * 7 + spacing)
    signal = piecewise(rng, n, d, spacing, kind)
    if d == 1:
        signal = signal[:, 0]
    scale = 1e-6 if kind == "offset" else 1.0
    search = Pelt(min_size=min_size, jump=jump).fit(signal)
    for pen in (1e-6 * scale, 2.0 * scale, 3 * np.log(n) * scale, 1e9):
        assert search.predict(pen) == exhaustive_pelt(signal, pen, min_size, jump), pen


@pytest.mark.parametrize("spacing", [1200, 100_000])
def test_long_quiet_stretches(spacing):
    # Thousands of samples without a change: most starts are discarded long
    # before their values stop being competitive by the inequality alone.
    rng = np.random.default_rng(spacing)
    signal = piecewise(rng, 2500, 1, spacing, "gaussian")[:, 0]
    pen = 3 * np.log(signal.size)
    assert Pelt(min_size=1, jump=1).fit(signal).predict(pen) == exhaustive_pelt(signal, pen, 1, 1)
