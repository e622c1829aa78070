"""Hand-built cases for the tie rules and the near-equality stops of the
greedy searches."""

import numpy as np
import pytest

from tarnwell import Binseg, BottomUp, CostL2, Window

# Integer-valued signals: every prefix sum and segment cost is exact, so
# symmetric layouts give exactly equal gains, distances and scores.
STEP_UP_DOWN = np.array([0.0] * 4 + [1.0] * 4 + [0.0] * 4)


def test_binseg_equal_gains_apply_the_smaller_split_first():
    cost = CostL2().fit(STEP_UP_DOWN)
    assert cost.error(0, 12) - cost.error(0, 4) - cost.error(4, 12) == cost.error(0, 12) - cost.error(0, 8)
    assert Binseg(min_size=1, jump=1).fit(STEP_UP_DOWN).predict(n_bkps=1) == [4, 12]


def test_bottom_up_halves_at_the_smaller_of_two_equidistant_points():
    # [0, 10): admissible 4 and 6 lie 1 from the midpoint 5. Halving at 4
    # leaves [0, 4) and [4, 10), neither of which can be cut again.
    signal = np.arange(10.0) ** 2
    search = BottomUp(min_size=3, jump=2).fit(signal)
    assert search.predict(n_bkps=1) == [4, 10]
    with pytest.raises(ValueError, match="cannot segment 10 samples into 2 changes with min_size=3 and jump=2"):
        search.predict(n_bkps=2)


def test_window_plateau_of_equal_scores_has_no_peak():
    # width 2: the score at p is (x[p] - x[p - 1])^2 / 2, equal at p = 2 and 3.
    signal = np.array([0.0, 0.0, 1.0, 2.0, 2.0, 2.0])
    search = Window(width=2, min_size=1, jump=1).fit(signal)
    assert search.predict(pen=0.01) == [6]
    with pytest.raises(ValueError, match="cannot segment 6 samples into 1 changes"):
        search.predict(n_bkps=1)


def test_window_equal_peak_scores_insert_by_increasing_position():
    signal = np.array([0.0] * 3 + [1.0] * 3 + [0.0] * 3)
    search = Window(width=2, min_size=1, jump=1).fit(signal)
    assert search.predict(n_bkps=1) == [3, 9]
    assert search.predict(n_bkps=2) == [3, 6, 9]


def test_window_change_count_inserts_the_highest_scores_first():
    # Steps of 1, 3 and 2 at 6, 12 and 18.
    signal = np.repeat([0.0, 1.0, 4.0, 6.0], 6)
    search = Window(width=4, min_size=2, jump=1).fit(signal)
    assert search.predict(n_bkps=1) == [12, 24]
    assert search.predict(n_bkps=2) == [12, 18, 24]
    assert search.predict(n_bkps=3) == [6, 12, 18, 24]


def best_binseg_gain(signal):
    cost = CostL2().fit(signal)
    n = len(signal)
    return max(cost.error(0, n) - cost.error(0, m) - cost.error(m, n) for m in range(1, n))


TWO_LEVELS = np.array([0.0, 0.1, -0.1, 0.05, 3.0, 3.1, 2.9, 3.05])


@pytest.mark.parametrize(
    "factor, expected",
    [(1 - 1e-9, [4, 8]), (1 - 1e-13, [8]), (1.0, [8]), (1 + 1e-13, [8])],
)
def test_binseg_refuses_a_gain_within_tolerance_of_pen(factor, expected):
    gain = best_binseg_gain(TWO_LEVELS)
    search = Binseg(min_size=1, jump=1).fit(TWO_LEVELS)
    assert search.predict(pen=gain * factor) == expected


@pytest.mark.parametrize(
    "factor, expected",
    [(1 - 1e-9, [4, 8]), (1 - 1e-13, [8]), (1.0, [8]), (5.0, [8])],
)
def test_binseg_budget_stops_at_or_near_the_total(factor, expected):
    whole = CostL2().fit(TWO_LEVELS).error(0, 8)
    search = Binseg(min_size=1, jump=1).fit(TWO_LEVELS)
    assert search.predict(epsilon=whole * factor) == expected


def two_leaf_merge(signal):
    # n = 10, min_size 3, jump 2: the leaves are [0, 4) and [4, 10).
    cost = CostL2().fit(signal)
    left, right = cost.error(0, 4), cost.error(4, 10)
    delta = cost.error(0, 10) - left - right
    return delta, left + right


SPREAD = np.array([0.0, 0.2, -0.1, 0.1, 2.0, 2.2, 1.9, 2.1, 2.0, 1.8])


@pytest.mark.parametrize(
    "factor, expected",
    [(1 + 1e-9, [10]), (1 + 1e-13, [4, 10]), (1.0, [4, 10]), (1 - 1e-13, [4, 10])],
)
def test_bottom_up_refuses_a_delta_within_tolerance_of_pen(factor, expected):
    delta, _ = two_leaf_merge(SPREAD)
    assert BottomUp(min_size=3, jump=2).fit(SPREAD).predict(pen=delta * factor) == expected


@pytest.mark.parametrize(
    "factor, expected",
    [(1 - 1e-9, [4, 10]), (1 - 1e-13, [10]), (1.0, [10]), (1 + 1e-9, [10])],
)
def test_bottom_up_budget_merges_when_the_new_total_is_within_tolerance(factor, expected):
    delta, total = two_leaf_merge(SPREAD)
    assert BottomUp(min_size=3, jump=2).fit(SPREAD).predict(epsilon=(total + delta) * factor) == expected


def test_window_penalty_uses_the_recomputed_gain_and_stops_at_the_first_refusal():
    # Two changes of different size; width 4, min_size 1, jump 1.
    signal = np.array([0.0] * 6 + [10.0] * 6 + [11.0] * 6)
    search = Window(width=4, min_size=1, jump=1).fit(signal)
    cost = CostL2().fit(signal)
    first_gain = cost.error(0, 18) - cost.error(0, 6) - cost.error(6, 18)
    second_gain = cost.error(6, 18) - cost.error(6, 12) - cost.error(12, 18)
    assert second_gain < first_gain
    assert search.predict(pen=second_gain * (1 - 1e-9)) == [6, 12, 18]
    assert search.predict(pen=second_gain * (1 - 1e-13)) == [6, 18]
    assert search.predict(pen=first_gain * (1 - 1e-13)) == [18]
