"""Tie decisions depend on the problem, not on its units: a signal scaled by a
constant (with its penalty or budget scaled by the square) gets the same
breakpoints, and exact ties are settled by the earliest-changes rule."""

import numpy as np
import pytest

import tarnwell

SCALES = [2.0**20, 2.0**-20, 1e7, 1e-7]


def searches(pen):
    return {
        "Pelt": lambda x, s: tarnwell.Pelt(min_size=2, jump=1).fit(x).predict(pen * s * s),
        "Dynp": lambda x, s: tarnwell.Dynp(min_size=2, jump=1).fit(x).predict(3),
        "Binseg": lambda x, s: tarnwell.Binseg(jump=1).fit(x).predict(pen=pen * s * s),
        "Binseg-budget": lambda x, s: tarnwell.Binseg(jump=1).fit(x).predict(epsilon=100 * pen * s * s),
        "BottomUp": lambda x, s: tarnwell.BottomUp(jump=1).fit(x).predict(pen=pen * s * s),
        "Window": lambda x, s: tarnwell.Window(width=40, jump=1).fit(x).predict(pen=pen * s * s),
    }


@pytest.mark.parametrize("search", sorted(searches(1.0)))
@pytest.mark.parametrize("seed", [5, 8])
def test_breakpoints_do_not_depend_on_units(search, seed):
    x, _ = tarnwell.pw_constant(500, seed=seed)
    run = searches(3 * np.log(500))[search]
    expected = run(x, 1.0)
    for scale in SCALES:
        assert run(x * scale, scale) == expected, scale


def test_tiny_noise_is_searched_like_unit_noise():
    noise = np.random.default_rng(0).normal(size=1500)
    tiny = tarnwell.Pelt(min_size=1, jump=1).fit(noise * 1e-8).predict(1e-15)
    unit = tarnwell.Pelt(min_size=1, jump=1).fit(noise).predict(1e-15 * 1e16)
    assert tiny == unit


@pytest.mark.parametrize("n, n_bkps", [(120, 30), (61, 60)])
def test_constant_signal_takes_the_earliest_changes(n, n_bkps):
    found = tarnwell.Dynp(min_size=1, jump=1).fit(np.zeros(n)).predict(n_bkps)
    assert found == list(range(1, n_bkps + 1)) + [n]


def test_repeated_pattern_ties_resolve_to_the_earliest_optimum():
    # Every period boundary is an equally good single change.
    x = np.tile([0.0, 0.0, 5.0, 5.0], 6)
    assert tarnwell.Dynp(min_size=2, jump=1).fit(x).predict(1) == [2, 24]
    pelt = tarnwell.Pelt(min_size=2, jump=1).fit(x).predict(1e-3)
    assert pelt == list(range(2, 24, 2)) + [24]
