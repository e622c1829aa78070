from fractions import Fraction

import inspect

import numpy as np
import pytest

from tarnwell import CostL2, TarnwellError


def within_segment_squares(x, start, end):
    block = np.asarray(x, dtype=float).reshape(len(x), -1)[start:end]
    return float(((block - block.mean(axis=0)) ** 2).sum())


def test_small_known_values():
    cost = CostL2().fit(np.array([0.0, 0.0, 1.0, 1.0]))
    assert cost.error(0, 4) == 1.0
    assert cost.error(0, 2) == 0.0
    assert cost.error(2, 4) == 0.0
    assert cost.sum_of_costs([2, 4]) == 0.0
    assert cost.sum_of_costs([4]) == cost.error(0, 4)


@pytest.mark.parametrize("shape", [(40,), (40, 1), (40, 3)])
def test_matches_direct_computation(shape):
    x = np.random.default_rng(1).normal(size=shape) * 3 + 2
    cost = CostL2().fit(x)
    rng = np.random.default_rng(2)
    for _ in range(50):
        start, end = sorted(rng.choice(41, size=2, replace=False))
        assert cost.error(int(start), int(end)) == pytest.approx(within_segment_squares(x, start, end), rel=1e-12, abs=1e-12)
    assert (cost.n_samples, cost.n_features) == (40, shape[1] if len(shape) == 2 else 1)


def test_features_add_up():
    x = np.random.default_rng(3).normal(size=(30, 3))
    total = CostL2().fit(x).error(4, 27)
    parts = sum(CostL2().fit(np.ascontiguousarray(x[:, j])).error(4, 27) for j in range(3))
    assert total == pytest.approx(parts, rel=1e-13)


def test_length_one_and_constant_segments_cost_exactly_zero():
    cost = CostL2().fit(np.random.default_rng(4).normal(size=(20, 2)))
    assert all(cost.error(t, t + 1) == 0.0 for t in range(20))
    flat = CostL2().fit(np.full((15, 2), 7.25))
    assert all(flat.error(a, b) == 0.0 for a in range(15) for b in range(a + 1, 16))


def test_large_offset_is_centred_away():
    x = np.random.default_rng(5).normal(size=200)
    plain = CostL2().fit(x)
    shifted = CostL2().fit(x + 1e9)
    for start, end in [(0, 200), (10, 20), (150, 199)]:
        assert shifted.error(start, end) == pytest.approx(plain.error(start, end), rel=1e-6, abs=1e-6)


@pytest.mark.parametrize("where", ["before", "inside", "after"])
@pytest.mark.parametrize("spike", [1e10, -1e15, 1e150])
@pytest.mark.parametrize("features", [1, 3])
def test_a_value_that_dwarfs_the_rest_costs_nothing_in_accuracy(where, spike, features):
    def exact(x, start, end):
        columns = np.asarray(x[start:end]).reshape(end - start, -1).T
        means = [sum(map(Fraction, column)) / len(column) for column in columns]
        return float(sum((Fraction(v) - mean) ** 2 for column, mean in zip(columns, means) for v in column))

    # The prefix sums hold the spike in every later row; a segment after it
    # must still cost what its own samples say, to rounding.
    x = np.random.default_rng(2).normal(size=(500, features)).squeeze()
    position = {"before": 450, "inside": 350, "after": 250}[where]
    x[position] = spike
    cost = CostL2().fit(x)
    for start, end in [(300, 400), (260, 262), (251, 500), (0, 250), (399, 401)]:
        assert cost.error(start, end) == pytest.approx(exact(x, start, end), rel=1e-13)
    # A level far from the first sample, with fine detail on it.
    steps = np.r_[np.zeros(100), np.full(100, 1e12)] + np.random.default_rng(3).normal(size=200) * 1e-3
    assert CostL2().fit(steps).error(120, 180) == pytest.approx(exact(steps, 120, 180), rel=1e-13)


@pytest.mark.parametrize(
    "view",
    [
        lambda a: np.asfortranarray(a),
        lambda a: np.repeat(a, 2, axis=1)[:, ::2],
        lambda a: a[::-1].copy()[::-1],
        lambda a: np.ascontiguousarray(a.T).T,
    ],
)
def test_any_layout_gives_identical_statistics(view):
    x = np.random.default_rng(6).normal(size=(25, 3))
    reference = CostL2().fit(x)
    other = CostL2().fit(view(x))
    for start, end in [(0, 25), (3, 9), (24, 25)]:
        assert other.error(start, end) == reference.error(start, end)


@pytest.mark.parametrize(
    "start, end",
    [(3, 3), (4, 3), (0, 11), (11, 12)],
)
def test_invalid_segments(start, end):
    cost = CostL2().fit(np.zeros(10))
    with pytest.raises(ValueError, match=rf"^invalid segment \[{start}, {end}\) for a signal of length 10$"):
        cost.error(start, end)


@pytest.mark.parametrize(
    "breakpoints, message",
    [
        ([], "breakpoints must not be empty"),
        ([0, 10], "breakpoint at position 0 is 0, but breakpoints must be strictly increasing and no larger than 10"),
        ([5, 5, 10], "breakpoint at position 1 is 5, but breakpoints must be strictly increasing and no larger than 10"),
        ([5, 11], "breakpoint at position 1 is 11, but breakpoints must be strictly increasing and no larger than 10"),
        ([5], r"last breakpoint must equal n_samples \(10\), got 5"),
    ],
)
def test_sum_of_costs_validation(breakpoints, message):
    cost = CostL2().fit(np.arange(10.0))
    with pytest.raises(ValueError, match=f"^{message}$"):
        cost.sum_of_costs(breakpoints)


@pytest.mark.parametrize("container", [list, tuple, np.array, lambda b: np.array(b, dtype=np.uint32)])
def test_sum_of_costs_accepts_sequences(container):
    x = np.arange(10.0)
    cost = CostL2().fit(x)
    expected = cost.error(0, 3) + cost.error(3, 7) + cost.error(7, 10)
    assert cost.sum_of_costs(container([3, 7, 10])) == pytest.approx(expected, rel=1e-15)


@pytest.mark.parametrize("value, error", [("3,10", TypeError), ([3.5, 10], TypeError), ([-3, 10], OverflowError),
                                          (np.array([-3, 10]), OverflowError), ({3, 10}, TypeError),
                                          ([2**64, 10], OverflowError)])
def test_sum_of_costs_refuses_bad_sequences(value, error):
    cost = CostL2().fit(np.arange(10.0))
    with pytest.raises(error, match="breakpoints"):
        cost.sum_of_costs(value)


def test_unfitted_object():
    cost = CostL2()
    assert not cost.is_fitted and cost.min_size == 1 and repr(cost) == "CostL2()"
    for call in (lambda: cost.error(0, 1), lambda: cost.sum_of_costs([1]), lambda: cost.n_samples,
                 lambda: cost.n_features):
        with pytest.raises(RuntimeError, match="^CostL2 must be fitted before this operation$"):
            call()


def test_failed_fit_keeps_previous_statistics():
    cost = CostL2().fit(np.array([0.0, 0.0, 1.0, 1.0]))
    bad = np.array([0.0, np.nan, 1.0])
    with pytest.raises(ValueError, match="^signal contains a non-finite value at row 1, column 0$"):
        cost.fit(bad)
    with pytest.raises(ValueError, match="got 3 dimensions"):
        cost.fit(np.zeros((2, 2, 2)))
    with pytest.raises(ValueError, match="at least one sample"):
        cost.fit(np.zeros((5, 0)))
    assert cost.error(0, 4) == 1.0 and repr(cost) == "CostL2(n_samples=4, n_features=1)"


def test_fit_returns_self_and_refits():
    cost = CostL2()
    assert cost.fit(np.zeros((3, 2))) is cost
    cost.fit(np.zeros(7))
    assert (cost.n_samples, cost.n_features) == (7, 1)


@pytest.mark.parametrize("signal, row, column", [([0.0, 1e200], 1, 0), ([[0.0, 1.0], [2.0, -1e300], [0.0, 0.0]], 1, 1)])
def test_squares_that_overflow_are_input_errors_naming_the_value(signal, row, column):
    with pytest.raises(ValueError, match=f"^signal value at row {row}, column {column} lies .* clip or remove"):
        CostL2().fit(np.array(signal))


def test_class_surface():
    assert CostL2.__module__ == "tarnwell._tarnwell"
    assert str(inspect.signature(CostL2)) == "()"
    assert CostL2.__doc__.splitlines()[-1] == (
        "Fitting retains only owned prefix statistics; it does not retain the input array.")
    with pytest.raises(TypeError):
        CostL2(1)
    with pytest.raises(TypeError):
        type("Sub", (CostL2,), {})
    cost = CostL2()
    with pytest.raises(AttributeError):
        cost.extra = 1
    with pytest.raises(AttributeError):
        cost.min_size = 3
