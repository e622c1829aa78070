"""L1Potts: exact optimum against brute force, the order of checks and their
messages, fitting semantics, concurrent predictions and the memory refusal."""

import inspect
import itertools
import os
import re
import threading

import numpy as np
import pytest

import tarnwell
from tarnwell import L1Potts, TarnwellError


def segment_cost(y, w, level):
    return float(np.sum(w * np.abs(y - level)))


def best_segment_cost(y, w):
    """The cheapest constant fit of a segment over every level of the whole signal's values."""
    return min(segment_cost(y, w, level) for level in np.unique(y))


def objective_of(y, w, breakpoints, pen):
    """Penalised cost of a breakpoint list, each segment at its best level."""
    starts = [0] + breakpoints[:-1]
    return sum(best_segment_cost(y[s:e], w[s:e]) for s, e in zip(starts, breakpoints)) + pen * (len(breakpoints) - 1)


def exhaustive_optimum(y, w, pen):
    """Minimum over every segmentation and every choice of one signal value per segment.

    Adjacent segments at the same level pay a penalty they need not pay, so
    they never beat the merged segment: the minimum over segmentations is the
    minimum over piecewise-constant fits.
    """
    n = len(y)
    levels = np.unique(y)
    best = np.inf
    for count in range(n):
        for chosen in itertools.combinations(range(1, n), count):
            starts = (0,) + chosen
            ends = chosen + (n,)
            cost = sum(min(segment_cost(y[s:e], w[s:e], level) for level in levels) for s, e in zip(starts, ends))
            best = min(best, cost + pen * count)
    return best


def random_small_problems():
    rng = np.random.default_rng(2024)
    cases = []
    for index in range(60):
        n = int(rng.integers(1, 11))
        palette = rng.choice([-2.0, -1.0, -0.0, 0.0, 0.5, 1.0, 3.0], size=int(rng.integers(1, 5)), replace=False)
        y = rng.choice(palette, size=n)
        if index % 3 == 0:
            w = None
        elif index % 3 == 1:
            w = rng.integers(0, 4, size=n).astype(float)  # zero weights included
        else:
            w = rng.uniform(0.0, 2.0, size=n) * (rng.random(n) > 0.2)
        cases.append((y, w))
    return cases


@pytest.mark.parametrize("y, w", random_small_problems(), ids=lambda value: None)
def test_objective_is_the_exhaustive_optimum(y, w):
    detector = L1Potts().fit(y, weights=w)
    weights = np.ones_like(y) if w is None else w
    for pen in (0.3, 1.0, 2.5, 50.0):
        breakpoints = detector.predict(pen)
        assert breakpoints[-1] == len(y)
        assert all(a < b for a, b in zip([0] + breakpoints, breakpoints))
        expected = exhaustive_optimum(y, weights, pen)
        assert objective_of(y, weights, breakpoints, pen) == pytest.approx(expected, rel=1e-12, abs=1e-12), pen


def dp_optimum(y, w, pen):
    """The optimum by the textbook recursion over (sample, level), in NumPy."""
    levels = np.unique(y)
    value = w[0] * np.abs(levels - y[0])
    for yi, wi in zip(y[1:], w[1:]):
        value = np.minimum(value, value.min() + pen) + wi * np.abs(levels - yi)
    return value.min()


@pytest.mark.parametrize("n_levels", [7, 9, 33, 100])
@pytest.mark.parametrize("weighted", [False, True])
def test_longer_signals_reach_the_recursion_optimum(n_levels, weighted):
    rng = np.random.default_rng(n_levels)
    n = 400
    y = (np.repeat(rng.integers(0, n_levels, size=8), n // 8) + rng.integers(-2, 3, size=n)) % n_levels
    y = y.astype(float) * 0.25
    w = rng.uniform(0.0, 3.0, size=n) if weighted else np.ones(n)
    detector = L1Potts().fit(y, weights=w if weighted else None)
    assert detector.distinct_levels == len(np.unique(y))
    for pen in (0.5, 4.0, 40.0):
        breakpoints = detector.predict(pen)
        assert objective_of(y, w, breakpoints, pen) == pytest.approx(dp_optimum(y, w, pen), rel=1e-10)


@pytest.mark.parametrize(
    "y, pen, expected",
    [
        ([0, 0, 0, 1, 1, 1], 0.5, [3, 6]),
        ([0, 0, 0, 1, 1, 1], 4.0, [6]),  # one segment at level 0 costs 3 < 4
        ([7.5], 1.0, [1]),
        ([2, 2, 2, 2], 0.001, [4]),
        ([0, 1, 0, 1], 1e300, [4]),
        # Exact ties go to the fit without a change, and to the lower level.
        ([0, 1], 1.0, [2]),
        ([1, 0], 1.0, [2]),
    ],
)
def test_worked_examples(y, pen, expected):
    assert L1Potts().fit_predict(np.array(y, dtype=float), pen) == expected


@pytest.mark.parametrize(
    "y, w, pen, expected",
    [
        # Staying at level 1 (cost 1) and changing from level 0 (cost pen)
        # are near-equal; the level is kept, so no change is made.
        ([0.0, 1.0, 1.0], [1.0, 1.0, 1.0], 1.0 - 5e-13, [3]),
        # At the last sample level 1 is smaller by 2e-13, a near-tie: the
        # lower level wins, and with it the fit without a change.
        ([0.0, 1.0], [1.0, 0.5 + 2e-13], 0.5, [2]),
    ],
)
def test_near_ties_keep_the_level_and_the_lower_index(y, w, pen, expected):
    assert L1Potts().fit_predict(np.array(y), pen, weights=np.array(w)) == expected


@pytest.mark.parametrize("scale", [2.0**20, 2.0**-20, 1e-9, 1e-12])
def test_breakpoints_do_not_depend_on_units(scale):
    # Costs are linear in the signal, so a signal and penalty scaled alike
    # pose the same problem; ties must be judged at the problem's scale.
    rng = np.random.default_rng(4)
    y = np.round(np.repeat(rng.normal(size=12) * 2, 50) + rng.normal(size=600), 1)
    w = rng.uniform(0.5, 2.0, size=600)
    for pen in (0.5, 3.0):
        expected = L1Potts().fit(y, weights=w).predict(pen)
        assert L1Potts().fit(y * scale, weights=w).predict(pen * scale) == expected


@pytest.mark.parametrize("n_levels", [3, 13, 16, 17, 40, 150])
def test_rows_near_the_largest_double_agree(n_levels):
    # Scaled by a power of two, a signal and its penalty pose exactly the same
    # problem. Near the largest double the programme cannot rule out an
    # overflow beforehand and runs rows that check every value; at ordinary
    # scales it runs the fast rows (vectorised, and for up to 16 levels held
    # in registers). Decimal levels make the tie rules decide often.
    rng = np.random.default_rng(n_levels)
    n = 400
    y = ((np.repeat(rng.integers(0, n_levels, size=8), n // 8) + rng.integers(-1, 2, size=n)) % n_levels) * 0.1
    w = rng.choice([0.0, 0.5, 1.0, 1.5], size=n)
    span = w.max() * (y.max() - y.min())
    scale = 2.0 ** np.floor(np.log2(np.finfo(float).max / (n * span)))
    for pen in (0.05, 0.3, 2.0):
        expected = L1Potts().fit(y, weights=w).predict(pen)
        assert L1Potts().fit(y * scale, weights=w).predict(pen * scale) == expected


def test_zero_weights_make_samples_free():
    y = np.array([0.0, 0.0, 9.0, -4.0, 0.0, 0.0])
    w = np.array([1.0, 1.0, 0.0, -0.0, 1.0, 1.0])
    assert L1Potts().fit(y, weights=w).predict(0.1) == [6]
    assert L1Potts().fit(y, weights=np.zeros(6)).predict(1.0) == [6]


def test_strided_and_reversed_views_are_read_in_logical_order():
    rng = np.random.default_rng(3)
    y = np.round(rng.normal(size=(80, 2)), 0)
    w = rng.uniform(0.0, 2.0, size=160)
    expected = L1Potts().fit(y[::-1, 1].copy(), weights=w[::2].copy()).predict(1.5)
    assert L1Potts().fit(y[::-1, 1], weights=w[::2]).predict(1.5) == expected
    assert L1Potts().fit(np.asfortranarray(y)[:, 1:], weights=w[1::2][::-1][::-1]).n_samples == 80


def test_both_zeros_share_one_level():
    # -0.0 and +0.0 compare equal; they are one level, and samples of either
    # sign are found on it when the objective is re-checked.
    y = np.array([0.0, -0.0, 0.0, 5.0, 5.0, -0.0, 0.0])
    detector = L1Potts().fit(y)
    assert detector.distinct_levels == 2
    assert detector.predict(0.1) == [3, 5, 7]
    assert detector.predict(100.0) == [7]
    w = np.array([1.0, 2.0, 0.5, 1.0, 1.0, 3.0, 0.0])
    assert L1Potts().fit(y, weights=w).predict(0.1) == [3, 5, 7]


def test_surface_and_registration():
    names = tarnwell.__all__
    assert names.index("L1Potts") == names.index("Window") + 1
    assert L1Potts.__module__ == "tarnwell._tarnwell"
    assert str(inspect.signature(L1Potts)) == "()"
    assert str(inspect.signature(L1Potts.fit)) == "(self, /, signal, weights=None)"
    assert str(inspect.signature(L1Potts.predict)) == "(self, /, pen)"
    assert str(inspect.signature(L1Potts.fit_predict)) == "(self, /, signal, pen, weights=None)"
    assert "Exact scalar weighted L1-Potts detector with O(KN) dynamic programming." in L1Potts.__doc__
    with pytest.raises(TypeError):
        L1Potts(1)
    with pytest.raises(TypeError):
        L1Potts(pen=1.0)
    with pytest.raises(TypeError):

        class Sub(L1Potts):  # noqa: F841
            pass


def test_unfitted_object():
    detector = L1Potts()
    assert repr(detector) == "L1Potts()"
    assert detector.is_fitted is False
    for read in (lambda: detector.predict(1.0), lambda: detector.n_samples, lambda: detector.distinct_levels):
        with pytest.raises(RuntimeError, match=r"^L1Potts must be fitted before this operation$") as caught:
            read()
        assert not isinstance(caught.value, TarnwellError)


def test_fitted_properties_and_repr():
    detector = L1Potts()
    assert detector.fit(np.array([3.0, 1.0, 3.0, 2.0, 1.0])) is detector
    assert (detector.n_samples, detector.distinct_levels, detector.is_fitted) == (5, 3, True)
    assert repr(detector) == "L1Potts(n_samples=5, distinct_levels=3)"
    # A column vector is a scalar signal too.
    assert L1Potts().fit(np.array([[1.0], [2.0]])).n_samples == 2


WEIGHT = "weight at position {} must be finite and nonnegative, got {}"


@pytest.mark.parametrize(
    "signal, weights, message",
    [
        # Signal rules first, then the feature count, then the weights.
        (np.zeros((0,)), np.ones(3), "signal must contain at least one sample and one feature"),
        (np.array([1.0, np.nan, 2.0]), np.ones(2), "signal contains a non-finite value at row 1, column 0"),
        (np.zeros((4, 2)), np.ones(3), "L1Potts requires a scalar signal with exactly one feature, got 2"),
        (np.zeros(5), np.ones(4), "weights have length 4, expected 5"),
        (np.zeros(3), np.array([np.nan]), "weights have length 1, expected 3"),
        (np.zeros(3), np.array([1.0, 0.0, -1.0]), WEIGHT.format(2, "-1")),
        (np.zeros(3), np.array([1.0, np.inf, -1.0]), WEIGHT.format(1, "inf")),
        (np.zeros(3), np.array([np.nan, 1.0, 1.0]), WEIGHT.format(0, "NaN")),
        (np.zeros(3), np.array([-1e-300, 1.0, 1.0]), WEIGHT.format(0, "-0.")),
    ],
)
def test_fit_checks_in_order(signal, weights, message):
    detector = L1Potts()
    with pytest.raises(ValueError, match="^" + re.escape(message)):
        detector.fit(signal, weights=weights)
    assert not detector.is_fitted


@pytest.mark.parametrize(
    "arguments, name",
    [
        (([1.0, 2.0],), "signal"),
        ((np.array([1, 2]),), "signal"),
        ((np.zeros(2), [1.0, 1.0]), "weights"),
        ((np.zeros(2), np.ones(2, dtype=np.float32)), "weights"),
        ((np.zeros(2), np.ones((2, 1))), "weights"),
    ],
)
def test_argument_types(arguments, name):
    with pytest.raises(TypeError, match=name):
        L1Potts().fit(*arguments)


@pytest.mark.parametrize("pen, text", [(0.0, "0"), (-0.0, "-0"), (-1.0, "-1"), (np.inf, "inf"), (np.nan, "NaN")])
def test_penalty_must_be_finite_and_positive(pen, text):
    detector = L1Potts().fit(np.array([0.0, 1.0]))
    with pytest.raises(ValueError, match=rf"^penalty must be finite and positive, got {text}$"):
        detector.predict(pen)
    with pytest.raises(TypeError, match="pen"):
        detector.predict("1")


def test_failed_fit_keeps_the_previous_state():
    detector = L1Potts().fit(np.array([1.0, 2.0, 2.0]))
    for bad in (
        lambda: detector.fit(np.zeros((3, 2))),
        lambda: detector.fit(np.zeros(4), weights=np.ones(3)),
        lambda: detector.fit(np.zeros(4), weights=np.array([1.0, -1.0, 1.0, 1.0])),
        lambda: detector.fit_predict(np.zeros((3, 2)), 1.0),
    ):
        with pytest.raises(ValueError):
            bad()
        assert repr(detector) == "L1Potts(n_samples=3, distinct_levels=2)"
    # A failed prediction of fit_predict leaves the new fit in place.
    with pytest.raises(ValueError, match="penalty"):
        detector.fit_predict(np.arange(5.0), 0.0)
    assert repr(detector) == "L1Potts(n_samples=5, distinct_levels=5)"


@pytest.mark.parametrize(
    "y, w, text",
    [
        # The first row already overflows: |1e308 - (-1e308)| is infinite.
        ([1e308, -1e308], None, "inf"),
        # A later row: the first non-finite value in level order is reported,
        # here 0 * inf for the level -1e308 at a zero-weight sample.
        ([0.0, 1e308, -1e308], [1.0, 0.0, 1.0], "NaN"),
        ([0.0, 1e308, -1e308], [1.0, 1.0, 1.0], "inf"),
    ],
)
def test_non_finite_objective(y, w, text):
    detector = L1Potts().fit(np.array(y), weights=None if w is None else np.array(w))
    with pytest.raises(TarnwellError, match=rf"^objective value must be finite, got {text}$") as caught:
        detector.predict(1.0)
    assert isinstance(caught.value, RuntimeError)


def test_long_signal_passes_the_objective_check():
    # 10^5 integer samples with pen = 0.7: the programme's optimum and the
    # re-check add about 10^5 terms each, in different orders, and their
    # roundings drift apart by more than a trillionth of the total (here
    # 6.6e-8 on 56347.1), which once failed a valid prediction with a
    # numerical failure.
    n, K = 100_000, 100
    rng = np.random.default_rng(5)
    means = rng.integers(0, K, size=20)
    y = np.repeat(means, n // 20) + np.round(rng.normal(scale=2.0, size=n))
    y = np.clip(y, 0, K - 1)
    y[:K] = np.arange(K)
    breakpoints = L1Potts().fit(y).predict(0.7)
    assert breakpoints[-1] == n and len(breakpoints) > 1000
    assert all(a < b for a, b in zip(breakpoints, breakpoints[1:]))


def test_threads_agree_with_one_thread():
    rng = np.random.default_rng(8)
    y = np.round(np.repeat(rng.normal(size=40) * 3, 2000) + rng.normal(size=80_000), 1)
    w = rng.uniform(0.5, 1.5, size=y.size)
    detector = L1Potts().fit(y, weights=w)
    penalties = [5.0, 20.0]
    expected = [detector.predict(pen) for pen in penalties]
    results = {}

    def predict(index):
        results[index] = [detector.predict(pen) for pen in penalties for _ in range(2)]

    threads = [threading.Thread(target=predict, args=(index,)) for index in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for index in range(2):
        assert results[index] == [expected[0], expected[0], expected[1], expected[1]]


def physical_memory():
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


def test_refuses_parent_flags_beyond_physical_memory():
    # Every value distinct: n K = n^2 bytes of flags, far beyond any machine
    # that runs this suite at n = 3e5 (90 GB); refused before allocation.
    n = 300_000
    y = np.arange(n, dtype=float)
    assert n * n > physical_memory()
    detector = L1Potts().fit(y)
    pattern = r"^L1Potts prediction requires (\d+) bytes, above the physical memory of this machine \((\d+) bytes\)$"
    with pytest.raises(MemoryError, match=pattern) as caught:
        detector.predict(1.0)
    required, available = map(int, re.match(pattern, str(caught.value)).groups())
    assert n * n <= required < n * n + 64 * n
    assert available == physical_memory()
    with pytest.raises(MemoryError):
        L1Potts().fit_predict(y, 1.0)
    # The object stays usable.
    assert detector.fit(y[:1000] % 7).predict(1.0)[-1] == 1000
