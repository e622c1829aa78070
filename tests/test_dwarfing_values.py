"""One value that dwarfs the rest: the searches still give the exact optimum
of everything around it, and values whose squares leave the double range are
input errors that name them."""

import subprocess
import sys
from fractions import Fraction

import numpy as np
import pytest

import tarnwell


def spiked(n, spike, at=None):
    x = np.random.default_rng(2).normal(size=n)
    x[n // 2 if at is None else at] = spike
    return x


def segment_costs(x):
    """Every segment's squared error to rounding (two passes), as exact fractions."""
    n = len(x)
    cost = {}
    for s in range(n):
        for t in range(s + 1, n + 1):
            v = x[s:t]
            cost[s, t] = Fraction(float(((v - v.mean()) ** 2).sum()))
    return cost


def exact_penalized(cost, n, pen, min_size, jump):
    """The optimum in exact arithmetic over those costs; ties to the earliest changes."""
    grid = list(range(0, n, jump)) + [n]
    best, path = {0: Fraction(0)}, {0: []}
    for t in grid[1:]:
        options = [(best[s] + cost[s, t] + Fraction(pen), path[s] + [t]) for s in grid
                   if s < t and t - s >= min_size and s in best]
        if options:
            best[t], path[t] = min(options)
    return path[n]


def exact_count(cost, n, n_bkps):
    best = {(0, 0): (Fraction(0), [])}
    for k in range(1, n_bkps + 2):
        for t in range(k, n + 1):
            best[k, t] = min((best[k - 1, s][0] + cost[s, t], best[k - 1, s][1] + [t])
                             for s in range(k - 1, t) if (k - 1, s) in best)
    return best[n_bkps + 1, n][1]


@pytest.fixture(scope="module")
def problem():
    x = spiked(120, 1e10, at=60)
    return x, segment_costs(x)


@pytest.mark.parametrize("pen, min_size, jump", [(12.0, 1, 1), (3.0, 2, 1), (40.0, 2, 5), (1.0, 3, 2)])
def test_pelt_gives_the_exact_optimum_beside_a_dwarfing_value(problem, pen, min_size, jump):
    x, cost = problem
    expected = exact_penalized(cost, len(x), pen, min_size, jump)
    for pelt in (tarnwell.Pelt(min_size=min_size, jump=jump), tarnwell.Pelt(custom_cost=tarnwell.CostL2(),
                                                                              min_size=min_size, jump=jump)):
        assert pelt.fit(x).predict(pen=pen) == expected


def test_dynp_gives_the_exact_optimum_beside_a_dwarfing_value(problem):
    x, cost = problem
    assert tarnwell.Dynp(min_size=1, jump=1).fit(x).predict(5) == exact_count(cost, len(x), 5)


@pytest.mark.parametrize("search", [tarnwell.Binseg, tarnwell.BottomUp, tarnwell.Pelt, tarnwell.Window])
@pytest.mark.parametrize("model, spike", [("l2", 1e10), ("l1", 1e200)])
def test_a_dwarfing_value_does_not_cut_every_sample(search, model, spike):
    found = search(model=model, min_size=2, jump=1).fit(spiked(500, spike)).predict(pen=30.0)
    assert len(found) <= 5


def test_detect_cuts_out_the_outlier():
    assert tarnwell.detect(spiked(500, 1e10), model="l2").breakpoints == [249, 251, 500]
    # The default's model choice weighs the spread description too, whose
    # scatter the outlier leaves unresolved: it answers without it.
    assert tarnwell.detect(spiked(500, 1e10)).model == "l2"


@pytest.mark.parametrize("model", ["l2", "normal", "ar", "mahalanobis", None])
@pytest.mark.parametrize("spike", [1e200, -1e308])
def test_values_whose_squares_overflow_are_named_input_errors(model, spike):
    x = spiked(500, spike)
    with pytest.raises(ValueError, match=r"^signal value at row 250, column 0 lies -?[0-9.e]+ from the first sample"):
        tarnwell.detect(x, model=model)


def test_cli_names_the_overflowing_value(tmp_path):
    path = tmp_path / "outlier.csv"
    x = spiked(200, -1e308, at=120)
    path.write_text("value\n" + "\n".join(repr(float(v)) for v in x) + "\n")
    done = subprocess.run([sys.executable, "-m", "tarnwell", str(path)], capture_output=True, text=True, timeout=120)
    assert done.returncode != 0 and "Traceback" not in done.stderr
    assert "row 120" in done.stderr and "numerical failure" not in done.stderr
