"""CostL1 and CostRank: worked values, invariances, ties and signed zeros,
minimum lengths and the class surface."""

import math

import numpy as np
import pytest

import tarnwell


def random_signal(seed, n=80, d=2):
    return np.random.default_rng(seed).normal(size=(n, d))


def all_segments(n, shortest):
    return [(s, e) for s in range(n) for e in range(s + shortest, n + 1)]


@pytest.mark.parametrize(
    "values, expected",
    [
        ([1.0, 2.0, 3.0, 10.0], 10.0),  # lower median 2
        ([5.0], 0.0),
        ([3.0, -1.0], 4.0),
        ([0.0, -0.0, 1.0, -0.0], 1.0),
    ],
)
def test_l1_worked_values(values, expected):
    cost = tarnwell.CostL1().fit(np.array(values))
    assert cost.error(0, len(values)) == expected


def test_l1_features_add_up():
    x = random_signal(1, 30, 2)
    both = tarnwell.CostL1().fit(x)
    first = tarnwell.CostL1().fit(np.ascontiguousarray(x[:, 0]))
    second = tarnwell.CostL1().fit(np.ascontiguousarray(x[:, 1]))
    for start, end in [(0, 30), (4, 9), (10, 29)]:
        assert both.error(start, end) == pytest.approx(first.error(start, end) + second.error(start, end), rel=1e-15)


# Lengths on both sides of the switch from insertion sort to the general sort.
@pytest.mark.parametrize("length", [2, 7, 20, 21, 64, 333])
def test_l1_does_not_depend_on_sample_order_within_a_segment(length):
    rng = np.random.default_rng(length)
    x = np.round(rng.normal(size=(length + 10, 3)), 1)  # rounded: many ties
    x[::7, 0] = -0.0
    x[::5, 0] = 0.0
    shuffled = x.copy()
    shuffled[5 : 5 + length] = rng.permutation(shuffled[5 : 5 + length])
    original = tarnwell.CostL1().fit(x)
    permuted = tarnwell.CostL1().fit(shuffled)
    assert permuted.error(5, 5 + length) == original.error(5, 5 + length)


def test_l1_single_samples_cost_zero_but_segmentations_need_two():
    cost = tarnwell.CostL1().fit(np.arange(6.0))
    assert cost.error(2, 3) == 0.0
    with pytest.raises(ValueError, match=r"^segment \[0, 1\) has length 1, below minimum 2$"):
        cost.sum_of_costs([1, 6])
    assert cost.sum_of_costs([6]) == cost.error(0, 6)


def test_l1_keeps_its_own_copy_of_the_signal():
    x = np.array([1.0, 2.0, 3.0, 10.0])
    cost = tarnwell.CostL1().fit(x)
    x[:] = 0.0
    assert cost.error(0, 4) == 10.0


def test_rank_worked_example():
    cost = tarnwell.CostRank().fit(np.array([1.0, 2.0, 3.0, 4.0]))
    assert cost.error(0, 2) == -1.6
    assert cost.error(2, 4) == -1.6
    whole = cost.error(0, 4)
    assert whole == 0.0 and math.copysign(1.0, whole) == -1.0
    assert cost.sum_of_costs([2, 4]) == -3.2


@pytest.mark.parametrize(
    "values",
    [[1.0, 1.0, 2.0], [0.0, -0.0, 1.0], [-0.0, 0.0, 7.5]],
    ids=["ties", "signed-zeros", "signed-zeros-swapped"],
)
def test_rank_ties_share_their_average_rank(values):
    # Centred ranks -0.5, -0.5, 1.0: covariance 0.5, precision 2.
    cost = tarnwell.CostRank().fit(np.array(values))
    assert cost.error(0, 2) == pytest.approx(-1.0, rel=1e-15)
    assert cost.error(1, 3) == pytest.approx(-0.25, rel=1e-15)
    assert cost.error(0, 3) == 0.0


def test_rank_constant_feature_contributes_nothing():
    rng = np.random.default_rng(3)
    varying = rng.normal(size=40)
    with_constant = np.column_stack([varying, np.full(40, 2.5)])
    alone = tarnwell.CostRank().fit(varying)
    together = tarnwell.CostRank().fit(with_constant)
    constant = tarnwell.CostRank().fit(np.full(40, 2.5))
    for start, end in [(0, 2), (3, 17), (10, 40)]:
        assert together.error(start, end) == pytest.approx(alone.error(start, end), rel=1e-12)
        value = constant.error(start, end)
        assert value == 0.0 and math.copysign(1.0, value) == -1.0


@pytest.mark.parametrize(
    "transform",
    [lambda v: 3.0 * v + 1.0, np.exp, lambda v: v**3, lambda v: -1.0 / (10.0 + v)],
    ids=["affine", "exp", "cube", "reciprocal"],
)
def test_rank_costs_ignore_strictly_increasing_transforms(transform):
    x = random_signal(4, 50, 3)
    changed = x.copy()
    changed[:, 1] = transform(changed[:, 1])
    original = tarnwell.CostRank().fit(x)
    transformed = tarnwell.CostRank().fit(changed)
    for start, end in all_segments(50, 2)[::37]:
        assert transformed.error(start, end) == original.error(start, end)


def test_rank_costs_are_never_positive():
    cost = tarnwell.CostRank().fit(random_signal(5, 40, 4))
    assert all(cost.error(s, e) <= 0.0 for s, e in all_segments(40, 2))


@pytest.mark.parametrize("cls", [tarnwell.CostL1, tarnwell.CostRank])
def test_class_surface(cls):
    name = cls.__name__
    cost = cls()
    assert cost.min_size == 2 and not cost.is_fitted
    assert repr(cost) == f"{name}()"
    assert cls.__text_signature__ == "()"
    with pytest.raises(RuntimeError, match=f"^{name} must be fitted before this operation$"):
        cost.error(0, 2)
    cost.fit(np.zeros((7, 3)))
    assert repr(cost) == f"{name}(n_samples=7, n_features=3)"
    assert (cost.n_samples, cost.n_features, cost.is_fitted) == (7, 3, True)


def test_rank_refuses_single_samples():
    cost = tarnwell.CostRank().fit(np.arange(5.0))
    with pytest.raises(ValueError, match=r"^segment \[3, 4\) has length 1, below minimum 2$"):
        cost.error(3, 4)
    with pytest.raises(ValueError, match=r"^invalid segment \[4, 4\) for a signal of length 5$"):
        cost.error(4, 4)
