"""The regression costs: CostLinear (response on the other features) and CostAR
(every sample on an intercept and its lags), their messages, and the searches
that evaluate them through the batched normal-equation path."""

import inspect

import numpy as np
import pytest

from tarnwell import BottomUp, Binseg, CostAR, CostLinear, Dynp, Pelt, TarnwellError, Window
from test_cost_conformance import autoregression, least_squares_rss

MAX = 2**64 - 1


def test_worked_linear_example():
    # beta = 34/30 (no intercept), RSS = 39 - 34^2/30 = 7/15.
    rows = np.array([[1.0, 1.0], [2.0, 2.0], [3.0, 3.0], [5.0, 4.0]])
    cost = CostLinear().fit(rows)
    assert cost.error(0, 4) == pytest.approx(7 / 15, rel=1e-12)
    # No intercept: a constant offset of the response is not absorbed.
    shifted = rows + [[10.0, 0.0]]
    assert CostLinear().fit(shifted).error(0, 4) == pytest.approx(
        least_squares_rss(shifted[:, 1:], shifted[:, 0]), rel=1e-9
    )
    assert cost.sum_of_costs([4]) == cost.error(0, 4)


def rank_deficient_designs():
    rng = np.random.default_rng(5)
    z = rng.normal(size=(30, 3))
    y = rng.normal(size=(30, 1))
    return {
        "zero column": np.hstack([y, z[:, :1], np.zeros((30, 1)), z[:, 1:2]]),
        "duplicated column": np.hstack([y, z[:, :2], z[:, :1]]),
        "scaled duplicate": np.hstack([y, z[:, :1], 3 * z[:, :1], z[:, 2:]]),
        "all zero design": np.hstack([y, np.zeros((30, 2))]),
        "more columns than rows": np.hstack([y, rng.normal(size=(30, 6))]),
    }


@pytest.mark.parametrize("name", list(rank_deficient_designs()))
def test_rank_deficient_designs_match_the_minimum_norm_fit(name):
    x = rank_deficient_designs()[name]
    cost = CostLinear().fit(x)
    for start, end in [(0, 30), (3, 17), (10, 14), (20, 22)]:
        expected = least_squares_rss(x[start:end, 1:], x[start:end, 0])
        assert cost.error(start, end) == pytest.approx(expected, rel=1e-9, abs=1e-9), (start, end)


def test_exact_fits_cost_nothing():
    rng = np.random.default_rng(2)
    design = rng.normal(size=(50, 3)) * 1e3
    x = np.hstack([design @ [[2.0], [-1.0], [0.5]], design])
    cost = CostLinear().fit(x)
    for start, end in [(0, 50), (5, 9), (30, 48)]:
        assert abs(cost.error(start, end)) < 1e-12 * (x[start:end, 0] ** 2).sum()


@pytest.mark.parametrize(
    "call, exception, message",
    [
        (lambda: CostLinear().fit(np.arange(5.0)), ValueError, "linear requires at least 2 features, got 1"),
        (lambda: CostLinear().fit(np.ones((5, 1))), ValueError, "linear requires at least 2 features, got 1"),
        (lambda: Pelt(model="linear").fit(np.arange(5.0)), ValueError, "linear requires at least 2 features, got 1"),
        (lambda: CostLinear().error(0, 2), RuntimeError, "CostLinear must be fitted before this operation"),
        (lambda: CostAR().sum_of_costs([5]), RuntimeError, "CostAR must be fitted before this operation"),
        (lambda: CostAR(order=0), ValueError, "autoregressive order must be positive, got 0"),
        (lambda: CostLinear().fit(np.ones((6, 2))).error(3, 4), ValueError,
         r"segment [3, 4) has length 1, below minimum 2"),
        (lambda: CostLinear().fit(np.ones((6, 2))).error(4, 4), ValueError,
         r"invalid segment [4, 4) for a signal of length 6"),
        (lambda: CostLinear().fit(np.ones((6, 2))).error(0, 7), ValueError,
         r"invalid segment [0, 7) for a signal of length 6"),
        (lambda: CostAR().fit(np.ones(9)).error(2, 6), ValueError, r"segment [2, 6) has length 4, below minimum 5"),
        (lambda: CostAR().fit(np.ones(9)).error(6, 2), ValueError, r"invalid segment [6, 2) for a signal of length 9"),
        (lambda: CostAR(order=6).fit(np.ones(20)).sum_of_costs([6, 20]), ValueError,
         r"segment [0, 6) has length 6, below minimum 7"),
        # The order sizes the design, so it is checked against the signal first.
        (lambda: CostAR(order=MAX).fit(np.ones(9)), ValueError,
         "autoregressive order 18446744073709551615 exceeds the 9 samples of the signal; order must be at most n_samples"),
        (lambda: CostAR(order=2**63).fit(np.ones((9, 2))), ValueError,
         "autoregressive order 9223372036854775808 exceeds the 9 samples of the signal; order must be at most n_samples"),
        (lambda: CostAR(order=2**28).fit(np.ones(1)), ValueError,
         "autoregressive order 268435456 exceeds the 1 samples of the signal; order must be at most n_samples"),
        (lambda: CostAR(order=10).fit(np.ones((9, 3))), ValueError,
         "autoregressive order 10 exceeds the 9 samples of the signal; order must be at most n_samples"),
    ],
)
def test_messages(call, exception, message):
    with pytest.raises(exception) as raised:
        call()
    assert str(raised.value) == message


def test_feature_check_comes_before_anything_else_and_keeps_the_fit():
    cost = CostLinear().fit(np.array([[1.0, 1.0], [2.0, 2.0], [3.0, 3.0], [5.0, 4.0]]))
    with pytest.raises(ValueError, match="requires at least 2 features"):
        cost.fit(np.zeros(3))
    with pytest.raises(ValueError, match="non-finite value"):
        cost.fit(np.array([[1.0, np.nan]]))
    assert cost.error(0, 4) == pytest.approx(7 / 15)


def test_overflowing_residuals_are_reported_not_returned():
    rng = np.random.default_rng(1)
    x = rng.normal(size=(20, 2)) * 1e200
    with pytest.raises(TarnwellError, match=r"^objective value must be finite, got inf$"):
        CostLinear().fit(x).error(0, 20)
    # The batch of a search must not trust overflowing normal equations either.
    with pytest.raises(TarnwellError, match=r"^objective value must be finite, got inf$"):
        Pelt(model="linear").fit(x).predict(1.0)


def test_surface():
    assert str(inspect.signature(CostLinear)) == "()"
    assert str(inspect.signature(CostAR)) == "(order=4)"
    assert repr(CostLinear()) == "CostLinear()"
    assert repr(CostLinear().fit(np.ones((7, 3)))) == "CostLinear(n_samples=7, n_features=3)"
    assert repr(CostAR(order=3)) == "CostAR(order=3)"
    assert repr(CostAR(order=3).fit(np.ones((7, 2)))) == "CostAR(order=3)"
    ar = CostAR(order=3).fit(np.ones((7, 2)))
    assert (ar.order, ar.n_samples, ar.n_features, ar.is_fitted) == (3, 7, 2, True)
    assert not CostAR().is_fitted and CostLinear().min_size == 2


@pytest.mark.parametrize("order, min_size", [(1, 5), (2, 5), (4, 5), (7, 8), (10, 11), (MAX - 1, MAX), (MAX, MAX)])
def test_ar_min_size_saturates(order, min_size):
    assert CostAR(order=order).min_size == min_size


def test_ar_lags_reach_before_the_segment():
    rng = np.random.default_rng(4)
    x = rng.normal(size=(40, 2))
    before = CostAR(order=3).fit(x).error(10, 30)
    x[9] += 1.0
    assert CostAR(order=3).fit(x).error(10, 30) != pytest.approx(before, rel=1e-6)
    # Lags before sample 0 are zeros, whatever comes later.
    reference = autoregression(3)
    assert CostAR(order=3).fit(x).error(0, 12) == pytest.approx(reference(x, 0, 12), rel=1e-9)


@pytest.mark.parametrize("order, d", [(1, 1), (2, 2), (3, 2), (4, 3)])
def test_ar_matches_lstsq_on_the_lagged_design(order, d):
    rng = np.random.default_rng(order * 10 + d)
    x = rng.normal(size=(60, d)).cumsum(axis=0)
    cost = CostAR(order=order).fit(x)
    reference = autoregression(order)
    for _ in range(25):
        start = int(rng.integers(0, 60 - cost.min_size + 1))
        end = int(rng.integers(start + cost.min_size, 61))
        assert cost.error(start, end) == pytest.approx(reference(x, start, end), rel=1e-9, abs=1e-9)


def exact_autoregressive_signal(n):
    x = np.zeros((n, 2))
    x[:2] = [[1.0, -0.5], [0.3, 0.8]]
    for t in range(2, n):
        x[t] = 0.5 * x[t - 1] - 0.3 * x[t - 2][::-1] + [0.1, -0.2]
    return x


def test_exact_autoregressive_signal_costs_nothing_away_from_the_start():
    x = exact_autoregressive_signal(60)
    cost = CostAR(order=2).fit(x)
    for start, end in [(2, 60), (10, 20), (30, 35)]:
        assert abs(cost.error(start, end)) < 1e-18
    # The batched search path falls back to the exact solver on such segments.
    assert Dynp(model="ar", jump=1).fit(x).predict(n_bkps=1)[-1] == 60


def regime_change_signal():
    rng = np.random.default_rng(8)
    design = rng.normal(size=(200, 2))
    slopes = np.where(np.arange(200)[:, None] < 120, [[3.0, -1.0]], [[-2.0, 2.0]])
    response = (design * slopes).sum(axis=1, keepdims=True) + 0.1 * rng.normal(size=(200, 1))
    return np.hstack([response, design])


@pytest.mark.parametrize("noise", [True, False], ids=["noisy", "exact"])
def test_searches_find_a_change_of_regression_slopes(noise):
    x = regime_change_signal()
    if not noise:
        x[:, 0] = (x[:, 1:] * np.where(np.arange(200)[:, None] < 120, [[3.0, -1.0]], [[-2.0, 2.0]])).sum(axis=1)
    assert Pelt(model="linear", jump=1).fit(x).predict(5.0) == [120, 200]
    assert Dynp(model="linear", jump=1).fit(x).predict(n_bkps=1) == [120, 200]
    # The greedy searches are approximate: near the change is enough.
    for greedy in (Binseg(model="linear", jump=1), BottomUp(model="linear", jump=1),
                   Window(model="linear", width=40, jump=1)):
        found = greedy.fit(x).predict(n_bkps=1)
        assert len(found) == 2 and abs(found[0] - 120) <= 2


def test_ar_searches_find_a_change_of_dynamics():
    rng = np.random.default_rng(9)
    x = np.zeros(300)
    for t in range(2, 300):
        a = (1.6, -0.9) if t < 150 else (-0.5, 0.2)
        x[t] = a[0] * x[t - 1] + a[1] * x[t - 2] + rng.normal()
    for search in (Pelt(model="ar", jump=1), Dynp(model="ar", jump=1)):
        found = search.fit(x).predict(20.0) if isinstance(search, Pelt) else search.fit(x).predict(n_bkps=1)
        assert len(found) == 2 and abs(found[0] - 150) <= 5
