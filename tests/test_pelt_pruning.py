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

from tarnwell import Pelt, _tarnwell


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
    if kind == "offset_unit":
        return 1e6 + levels + noise
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


# The split bound each model declares (nothing, or 4 d ln 2 for normal,
# whose covariance divides by len - 1; none for clinear), by class.
MODELS = {entry["class_name"]: entry["name"] for entry in _tarnwell._cost_models()}
BOUNDED = sorted(name for name, model in MODELS.items()
                 if name != "CostL2" and _tarnwell._cost_facts(model)["split_bound"] is not None)


def split_bound(name, d):
    return _tarnwell._cost_facts(MODELS[name], d)["split_bound"]


def make_cost(name, d):
    import tarnwell

    cls = getattr(tarnwell, name)
    return cls(np.eye(d)) if name == "CostMahalanobis" else cls()


@pytest.mark.parametrize("name", BOUNDED)
@pytest.mark.parametrize("kind", ["gaussian", "integers", "offset", "offset_unit"])
def test_a_split_raises_the_total_by_at_most_the_declared_bound(name, kind):
    rng = np.random.default_rng(len(name) * 13 + len(kind))
    for d in (1, 2, 3):
        if name == "CostLinear" and d == 1:
            continue
        # Short segments and few samples make the parts' refits matter most.
        signal = piecewise(rng, 60, d, int(rng.integers(3, 30)), kind)
        cost = make_cost(name, d).fit(signal)
        least = cost.min_size
        for _ in range(150):
            a = int(rng.integers(0, 60 - 2 * least + 1))
            c = int(rng.integers(a + 2 * least, 61))
            b = int(rng.integers(a + least, c - least + 1))
            whole = cost.error(a, c)
            parts = cost.error(a, b) + cost.error(b, c)
            rounding = 1e-9 * (abs(whole) + abs(cost.error(a, b)) + abs(cost.error(b, c)) + 1)
            assert parts <= whole + split_bound(name, d) + rounding, (d, a, b, c, parts - whole)


@pytest.mark.parametrize("model, pruned", [(name, _tarnwell._cost_facts(name)["split_bound"] is not None)
                                           for entry in _tarnwell._cost_models() for name in entry["names"]])
def test_every_model_with_a_bound_is_pruned(model, pruned):
    signal = np.random.default_rng(1).normal(size=(40, 2))
    search = Pelt(model=model)
    assert not search.uses_pelt_pruning
    assert search.fit(signal).uses_pelt_pruning is pruned


class Unpruned:
    """A built-in cost class as a custom cost without a pruning constant: the
    exhaustive search over the very same segment costs."""

    pelt_pruning_constant = None

    def __init__(self, cost):
        self.cost = cost
        self.min_size = cost.min_size

    def fit(self, signal):
        self.cost.fit(signal)

    def error(self, start, end):
        return self.cost.error(start, end)


TESTED_MODELS = [("l1", "CostL1"), ("rank", "CostRank"), ("normal", "CostNormal"), ("mahalanobis", "CostMahalanobis"),
                 ("linear", "CostLinear"), ("ar", "CostAR")]
PAIRS = [(1, 1), (2, 1), (1, 2), (2, 3), (3, 2), (4, 5)]
KINDS = ["gaussian", "integers", "offset", "offset_unit"]


@pytest.mark.parametrize("model, name", TESTED_MODELS)
@pytest.mark.parametrize("seed", range(4))
def test_pruned_models_match_the_exhaustive_search(model, name, seed):
    # Long enough for the models' own tests to come due (after a few blocks of
    # samples), with rare changes (one long segment or two) and frequent ones.
    rng = np.random.default_rng(1000 * seed + len(name))
    for kind in KINDS:
        d = int(rng.integers(2 if model == "linear" else 1, 4))
        n = int(rng.integers(150, 260))
        spacing = int(rng.choice([n, n // 2, 40, 11]))
        signal = piecewise(rng, n, d, spacing, kind)
        if d == 1:
            signal = signal[:, 0]
        min_size, jump = PAIRS[int(rng.integers(len(PAIRS)))]
        if model == "normal":  # the searches skip segments with a singular covariance
            min_size = max(min_size, d + 1)
        pruned = Pelt(model=model, min_size=min_size, jump=jump).fit(signal)
        exhaustive = Pelt(custom_cost=Unpruned(make_cost(name, d)), min_size=min_size, jump=jump).fit(signal)
        scale = abs(make_cost(name, d).fit(signal).error(0, n)) / n + 1
        for pen in (1e-9, 0.5 * scale, 3 * np.log(n) * (1 + d) * scale, 1e12):
            assert pruned.predict(pen) == exhaustive.predict(pen), (kind, d, spacing, min_size, jump, pen)


def test_normal_short_segments_at_a_large_offset():
    # Costs of two-sample segments exceed the likelihood form by up to 2 ln 2
    # and that excess shrinks as a segment grows: a start's lower bound from
    # the per-sample floors must allow for it, or a start that wins is skipped.
    rng = np.random.default_rng([6, 10])
    rng.integers(1, 6, size=2)  # the draws of the long run that found it
    rng.choice(5)
    signal = piecewise(rng, 253, 1, 253, "offset")[:, 0]
    pruned = Pelt(model="normal", min_size=2, jump=1).fit(signal)
    exhaustive = Pelt(custom_cost=Unpruned(make_cost("CostNormal", 1)), min_size=2, jump=1).fit(signal)
    assert pruned.predict(1e-9) == exhaustive.predict(1e-9)
