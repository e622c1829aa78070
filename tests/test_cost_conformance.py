"""Every built-in cost model against a plain NumPy computation of its definition.

Each row of COSTS names a model, builds its cost class, computes the cost of a
segment directly from the samples (or, for models that look at samples before
the segment, from the whole signal), and gives the model's minimum segment
length. The same checks then run for every row: segment costs, sums of
costs, the minimum length, and Pelt and Dynp against brute force over all
segmentations. The checks that need no definition (the minimum length, every
greedy search runs) cover every model of the compiled cost list, rows or
not; a new cost model's definition, and with it the checks against brute
force and the reference greedy engines, which need the search's own minimum
segment length, join by adding a row.
"""

from dataclasses import dataclass
from functools import partial
from typing import Callable

import numpy as np
import pytest

import greedy_reference
import tarnwell
from exact_oracle import admissible_segmentations
from tarnwell import _tarnwell


def squared_error(block):
    return float(((block - block.mean(axis=0)) ** 2).sum())


def least_squares_rss(design, response):
    """Residual sum of squares of the minimum-norm fit, singular values <= 1e-12 dropped."""
    response = response.reshape(len(response), -1)
    largest = np.linalg.svd(design, compute_uv=False).max(initial=0.0)
    if largest <= 1e-12:
        return float((response**2).sum())
    beta = np.linalg.lstsq(design, response, rcond=1e-12 / largest)[0]
    return float(((response - design @ beta) ** 2).sum())


def linear_regression(block):
    return least_squares_rss(block[:, 1:], block[:, 0])


def lagged_design(x, order):
    """Intercept, then lags 1..order of every feature; lags before sample 0 are zeros."""
    n, d = x.shape
    padded = np.vstack([np.zeros((order, d)), x])
    lags = [padded[order - lag : order - lag + n] for lag in range(1, order + 1)]
    return np.hstack([np.ones((n, 1))] + lags)


def autoregression(order):
    def reference(x, start, end):
        return least_squares_rss(lagged_design(x, order)[start:end], x[start:end])

    return reference


def joining_line(x, start, end):
    """Squared deviations from the line through the sample before the segment (or its
    first sample at 0) and the segment's last sample."""
    length = end - start
    if start > 0:
        first, steps = x[start - 1], np.arange(1, length + 1) / length
    else:
        first, steps = x[0], np.arange(length) / (length - 1)
    predicted = first + steps[:, None] * (x[end - 1] - first)
    return float(((x[start:end] - predicted) ** 2).sum())


def absolute_deviation(block):
    # The lower median of each column.
    ordered = np.sort(block, axis=0)
    median = ordered[(len(block) - 1) // 2]
    return float(np.abs(block - median).sum())


def gaussian_log_likelihood(block, ridge=1e-6):
    covariance = np.atleast_2d(np.cov(block, rowvar=False)) + ridge * np.eye(block.shape[1])
    sign, log_determinant = np.linalg.slogdet(covariance)
    assert sign > 0
    return len(block) * log_determinant


def average_ranks(column):
    order = np.argsort(column, kind="stable")
    ranks = np.empty(len(column))
    i = 0
    while i < len(column):
        j = i
        while j < len(column) and column[order[j]] == column[order[i]]:
            j += 1
        ranks[order[i:j]] = (i + 1 + j) / 2
        i = j
    return ranks


def rank_deviation(x, start, end):
    """Minus the length times the squared mean centred rank of [start, end) in
    the pseudo-inverse of the rank covariance of the whole signal."""
    ranks = np.column_stack([average_ranks(x[:, k]) for k in range(x.shape[1])]) - (len(x) + 1) / 2
    precision = np.linalg.pinv(ranks.T @ ranks / len(x), hermitian=True)
    mean = ranks[start:end].mean(axis=0)
    return -(end - start) * float(mean @ precision @ mean)


class IdentityMetricCost:
    """CostMahalanobis with the identity of the signal's dimension, as the
    search model "mahalanobis" uses it (full metrics: test_costs_scatter)."""

    min_size = tarnwell.CostMahalanobis(np.eye(1)).min_size

    def fit(self, x):
        return tarnwell.CostMahalanobis(np.eye(x.reshape(len(x), -1).shape[1])).fit(x)


@dataclass(frozen=True)
class CostRow:
    model: str
    make: Callable[[], object]
    reference: Callable[[np.ndarray], float] | None  # cost of one segment's rows (2-D)
    min_size: int
    # The shortest segment error() answers (it may be below min_size).
    shortest_error: int = 1
    relative_tolerance: float = 1e-9
    # Models that need several features (a response and regressors).
    min_features: int = 1
    # For models whose segment cost reads samples outside the segment: the
    # cost of [start, end) computed from the whole 2-D signal.
    reference_in_signal: Callable[[np.ndarray, int, int], float] | None = None

    def __str__(self):
        return self.model

    def search_min_size(self, d):
        # The searches over "normal" skip segments too short for a covariance.
        return max(self.min_size, 2, d + 1 if self.model == "normal" else 0)

    def expected(self, x, start, end):
        if self.reference_in_signal is not None:
            return self.reference_in_signal(x, start, end)
        return self.reference(x[start:end])


COSTS = [
    CostRow("l2", lambda: tarnwell.CostL2(), squared_error, min_size=1),
    CostRow("l1", lambda: tarnwell.CostL1(), absolute_deviation, min_size=2),
    CostRow("rank", lambda: tarnwell.CostRank(), None, min_size=2, shortest_error=2,
            reference_in_signal=rank_deviation),
    # A segment no longer than d has a singular covariance; the 1e-6 ridge then
    # magnifies the round-off of its scatter up to a millionfold in the
    # log-determinant (well-conditioned segments: test_costs_scatter, 1e-10).
    CostRow("normal", lambda: tarnwell.CostNormal(), gaussian_log_likelihood, min_size=2, shortest_error=2,
            relative_tolerance=1e-7),
    CostRow("linear", lambda: tarnwell.CostLinear(), linear_regression, min_size=2, shortest_error=2, min_features=2),
    CostRow("ar", lambda: tarnwell.CostAR(), None, min_size=5, shortest_error=5, reference_in_signal=autoregression(4)),
    CostRow("clinear", lambda: tarnwell.CostCLinear(), None, min_size=3, shortest_error=3,
            reference_in_signal=joining_line),
    CostRow("mahalanobis", IdentityMetricCost, squared_error, min_size=2),
]


# Every model of the compiled cost list: its row, or one without a definition.
_ROWS = {row.model: row for row in COSTS}
EVERY_MODEL = [_ROWS.get(entry["name"]) or CostRow(entry["name"], partial(_tarnwell._model_cost, entry["name"]), None,
                                                   min_size=entry["min_size"], min_features=2)
               for entry in _tarnwell._cost_models()]


def random_signal(seed, n, d):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(scale=3, size=(3, d)), [n // 3, n // 3, n - 2 * (n // 3)], axis=0)
    return levels + rng.normal(size=(n, d))


def close(value, expected, row):
    return value == pytest.approx(expected, rel=row.relative_tolerance, abs=row.relative_tolerance)


@pytest.mark.parametrize("row", COSTS, ids=str)
@pytest.mark.parametrize("d", [1, 2, 5])
def test_segment_costs_match_the_definition(row, d):
    d = max(d, row.min_features)
    x = random_signal(d, 60, d)
    cost = row.make().fit(x)
    rng = np.random.default_rng(100 + d)
    for _ in range(40):
        start = int(rng.integers(0, 60 - row.shortest_error + 1))
        end = int(rng.integers(start + row.shortest_error, 61))
        assert close(cost.error(start, end), row.expected(x, start, end), row), (start, end)
    assert (cost.n_samples, cost.n_features) == (60, d)


@pytest.mark.parametrize("row", COSTS, ids=str)
def test_sum_of_costs_adds_the_segments(row):
    x = random_signal(7, 40, 2)
    cost = row.make().fit(x)
    m = max(row.min_size, 2)
    breakpoints = [m, 3 * m, 40]
    starts = [0] + breakpoints[:-1]
    expected = sum(row.expected(x, a, b) for a, b in zip(starts, breakpoints))
    assert close(cost.sum_of_costs(breakpoints), expected, row)
    short = [row.min_size - 1, 40] if row.min_size > 1 else None
    if short:
        with pytest.raises(ValueError, match="below minimum"):
            cost.sum_of_costs(short)


@pytest.mark.parametrize("row", EVERY_MODEL, ids=str)
def test_min_size_is_the_model_minimum_everywhere(row):
    assert row.make().min_size == row.min_size
    for search in (tarnwell.Pelt, tarnwell.Dynp, tarnwell.Binseg, tarnwell.BottomUp):
        assert search(model=row.model, min_size=1).min_size == row.min_size


def brute_force(cost, n, min_size, jump, objective):
    best = None
    for breakpoints in admissible_segmentations(n, min_size, jump):
        value = objective(cost.sum_of_costs(breakpoints), breakpoints)
        if best is None or value < best[0]:
            best = (value, breakpoints)
    return best


@pytest.mark.parametrize("row", COSTS, ids=str)
@pytest.mark.parametrize("seed", range(4))
def test_exact_searches_reach_the_brute_force_optimum(row, seed):
    n, d = 11, max(1 + seed % 2, row.min_features)
    x = random_signal(seed, n, d)
    cost = row.make().fit(x)
    min_size = row.search_min_size(d)
    for jump in (1, 2):
        pen = 1.5
        optimum, _ = brute_force(cost, n, min_size, jump, lambda total, b: total + pen * (len(b) - 1))
        found = tarnwell.Pelt(model=row.model, min_size=min_size, jump=jump).fit(x).predict(pen)
        assert close(cost.sum_of_costs(found) + pen * (len(found) - 1), optimum, row)
        for n_bkps in (1, 2):
            candidates = [b for b in admissible_segmentations(n, min_size, jump) if len(b) == n_bkps + 1]
            if not candidates:
                continue
            fixed_optimum = min(cost.sum_of_costs(b) for b in candidates)
            found = tarnwell.Dynp(model=row.model, min_size=min_size, jump=jump).fit(x).predict(n_bkps)
            assert len(found) == n_bkps + 1
            assert close(cost.sum_of_costs(found), fixed_optimum, row)


@pytest.mark.parametrize("row", EVERY_MODEL, ids=str)
@pytest.mark.parametrize("search", ["Binseg", "BottomUp", "Window"])
def test_greedy_searches_run_every_model(row, search):
    x = random_signal(3, 90, 2)
    arguments = dict(model=row.model, min_size=max(row.min_size, 5), jump=1)
    if search == "Window":
        arguments["width"] = 2 * arguments["min_size"] + 10
    found = getattr(tarnwell, search)(**arguments).fit(x).predict(n_bkps=2)
    assert len(found) == 3 and found[-1] == 90


GREEDY = {
    "Binseg": lambda cost, n, width, min_size, rule: greedy_reference.binseg(cost, n, min_size, 1, **rule),
    "BottomUp": lambda cost, n, width, min_size, rule: greedy_reference.bottom_up(cost, n, min_size, 1, **rule),
    "Window": lambda cost, n, width, min_size, rule: greedy_reference.window(cost, n, width, min_size, 1, **rule),
}


def outcome(run):
    try:
        return run()
    except greedy_reference.Infeasible:
        return "infeasible"
    except ValueError as error:
        assert str(error).startswith("cannot segment"), error
        return "infeasible"


@pytest.mark.parametrize("row", COSTS, ids=str)
@pytest.mark.parametrize("search", GREEDY)
def test_greedy_searches_follow_the_reference_engines(row, search):
    for seed in range(3):
        n = 30 + 7 * seed
        x = random_signal(10 + seed, n, max(1 + seed % 2, row.min_features))
        cost = row.make().fit(x).error
        min_size = row.search_min_size(x.shape[1])
        width = 2 * min_size + 4
        arguments = dict(model=row.model, min_size=min_size, jump=1)
        if search == "Window":
            arguments["width"] = width
        engine = getattr(tarnwell, search)(**arguments).fit(x)
        for rule in ({"n_bkps": 1}, {"n_bkps": 3}, {"pen": 2.0}, {"epsilon": abs(cost(0, n)) * 0.5}):
            expected = outcome(lambda: GREEDY[search](cost, n, width, min_size, rule))
            assert outcome(lambda: engine.predict(**rule)) == expected, (seed, rule)
