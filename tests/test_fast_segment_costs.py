"""The clinear, linear and ar costs answer from prefix statistics; they must
keep agreeing with the direct per-sample computation on signals that make
sums of many terms lose digits (far from zero, tiny spread, integer ties,
exact fits), and the searches over them must find what the direct costs
find."""

import numpy as np
import pytest

import greedy_reference

from tarnwell import Binseg, BottomUp, CostAR, CostCLinear, CostLinear, Dynp, Pelt, Window


def hard_signal(kind, n, d, rng):
    steps = np.repeat(rng.normal(scale=3, size=(n // 40 + 1, d)), 40, axis=0)[:n]
    if kind == "offset":
        return 1e6 + steps + rng.normal(size=(n, d))
    if kind == "tiny":
        return 1e-7 * (steps + rng.normal(size=(n, d)))
    if kind == "integers":
        return rng.integers(0, 3, size=(n, d)).astype(float)
    if kind == "line":  # exact fits: residuals of zero
        return np.outer(np.arange(n), np.arange(1, d + 1)).astype(float)
    return steps + rng.normal(size=(n, d))


def clinear_direct(x, start, end):
    anchor, offset, span = (start - 1, 1, end - start) if start > 0 else (0, 0, end - start - 1)
    f = (np.arange(end - start) + offset) / span
    predicted = f[:, None] * (x[end - 1] - x[anchor]) + x[anchor]
    return float(np.sum((x[start:end] - predicted) ** 2))


def ar_direct(x, start, end, order=4):
    n, d = x.shape
    lags = [np.vstack([np.zeros((lag, d)), x[:n - lag]]) for lag in range(1, order + 1)]
    # Shifting every lag column and the response by the first sample (the
    # zeros before it too) changes nothing the intercept cannot absorb, and
    # keeps the reference's own solve accurate far from zero.
    design = np.hstack([np.ones((n, 1))] + [lag - x[0] for lag in lags])[start:end]
    return residual(design, x[start:end] - x[0])


def linear_direct(x, start, end):
    return residual(x[start:end, 1:], x[start:end, :1])


def residual(design, response):
    beta = np.linalg.lstsq(design, response, rcond=None)[0]
    return float(np.sum((response - design @ beta) ** 2))


COSTS = [(CostCLinear, clinear_direct), (CostLinear, linear_direct), (CostAR, ar_direct)]


@pytest.mark.parametrize("make, direct", COSTS, ids=["clinear", "linear", "ar"])
@pytest.mark.parametrize("kind", ["gaussian", "offset", "tiny", "integers", "line"])
def test_segment_costs_match_the_direct_computation(make, direct, kind):
    rng = np.random.default_rng(len(kind))
    for d in (2, 3):
        x = hard_signal(kind, 3000, d, rng)
        cost = make().fit(x)
        scale = float(np.sum((x - x.mean(axis=0)) ** 2)) / len(x)
        for _ in range(60):
            start = int(rng.integers(0, 2990))
            end = int(rng.integers(start + cost.min_size, min(3000, start + 800) + 1))
            expected = direct(x, start, end)
            # Agreement to rounding of the segment's own values, not of the
            # signal's distance from zero.
            assert cost.error(start, end) == pytest.approx(expected, rel=1e-9, abs=1e-9 * scale * (end - start))


@pytest.mark.parametrize("model", ["clinear", "linear", "ar"])
@pytest.mark.parametrize("kind", ["gaussian", "offset", "integers"])
def test_searches_over_fast_costs_match_unpruned_direct_ones(model, kind):
    # The direct costs through a custom cost, which Pelt and Dynp search exhaustively.
    rng = np.random.default_rng(len(model) + len(kind))
    x = hard_signal(kind, 150, 2, rng)
    make, direct = dict(zip(["clinear", "linear", "ar"], COSTS))[model]

    class Direct:
        pelt_pruning_constant = None
        min_size = make().min_size

        def fit(self, signal):
            self.x = signal

        def error(self, start, end):
            return direct(self.x, start, end)

    min_size = max(5, make().min_size)
    scale = make().fit(x).error(0, 150) / 150 + 1
    for pen in (0.5 * scale, 5 * scale):
        fast = Pelt(model=model, min_size=min_size, jump=3).fit(x).predict(pen)
        assert fast == Pelt(custom_cost=Direct(), min_size=min_size, jump=3).fit(x).predict(pen)
    assert (Dynp(model=model, min_size=min_size, jump=3).fit(x).predict(n_bkps=3)
            == Dynp(custom_cost=Direct(), min_size=min_size, jump=3).fit(x).predict(n_bkps=3))


GREEDY = {
    Binseg: lambda cost, n: greedy_reference.binseg(cost, n, 6, 2, n_bkps=4),
    BottomUp: lambda cost, n: greedy_reference.bottom_up(cost, n, 6, 2, n_bkps=4),
    Window: lambda cost, n: greedy_reference.window(cost, n, 40, 6, 2, n_bkps=4),
}


@pytest.mark.parametrize("search", [Binseg, BottomUp, Window], ids=["Binseg", "BottomUp", "Window"])
@pytest.mark.parametrize("model", ["clinear", "linear", "ar"])
@pytest.mark.parametrize("kind", ["gaussian", "offset", "integers"])
def test_greedy_searches_over_fast_costs_match_the_direct_ones(search, model, kind):
    rng = np.random.default_rng(len(model) * 5 + len(kind))
    x = hard_signal(kind, 300, 2, rng)
    make, direct = dict(zip(["clinear", "linear", "ar"], COSTS))[model]
    kwargs = dict(width=40) if search is Window else {}
    found = search(model=model, min_size=6, jump=2, **kwargs).fit(x).predict(n_bkps=4)
    expected = GREEDY[search](lambda start, end: direct(x, start, end), 300)
    if kind == "integers" and found != expected:
        # Exactly tied gains, which the greedy searches order without a
        # tolerance: any rounding picks one of them; both must be as good.
        def total(breakpoints):
            return sum(direct(x, a, b) for a, b in zip([0] + breakpoints[:-1], breakpoints))

        assert total(found) == pytest.approx(total(expected), rel=1e-12)
    else:
        assert found == expected
