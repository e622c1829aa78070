import inspect
import itertools
import threading
import time

import numpy as np
import pytest

import tarnwell._tarnwell as native
from tarnwell._tarnwell import CostL2, Dynp, TarnwellError

# The first name of every model of the cost list, as the unsupported-model message lists them.
SUPPORTED = ", ".join(entry["name"] for entry in native._cost_models())

U64_MAX = 2**64 - 1


def infeasible_message(n, n_bkps, min_size, jump):
    return f"cannot segment {n} samples into {n_bkps} changes with min_size={min_size} and jump={jump}"


def estimate(n, jump, n_bkps):
    if n_bkps == 0:
        return 0
    grid_length = (n - 1) // jump + 2
    segments = n_bkps + 1
    return 12 * (segments + 1) * grid_length + 16 * grid_length + 24 * segments


# ---------------------------------------------------------------- exactness


def segment_costs(x):
    """cost[i][j]: within-segment sum of squared deviations of x[i:j]."""
    n = len(x)
    return [[float(((x[i:j] - x[i:j].mean(axis=0)) ** 2).sum()) if j > i else None for j in range(n + 1)]
            for i in range(n + 1)]


def admissible_segmentations(n, n_bkps, min_size, jump):
    interior = [p for p in range(jump, n, jump)]
    for changes in itertools.combinations(interior, n_bkps):
        bkps = [*changes, n]
        if all(end - start >= min_size for start, end in zip([0, *changes], bkps)):
            yield bkps


def brute_force(x, n_bkps, min_size, jump, costs):
    """Minimal cost and the lexicographically smallest breakpoints attaining it (up to round-off)."""
    scored = []
    for bkps in admissible_segmentations(len(x), n_bkps, min_size, jump):
        scored.append((sum(costs[s][e] for s, e in zip([0, *bkps[:-1]], bkps)), bkps))
    if not scored:
        return None
    best = min(cost for cost, _ in scored)
    tied = [bkps for cost, bkps in scored if cost <= best + 1e-9 * (abs(best) + 1.0)]
    return best, min(tied)


def exactness_signals():
    rng = np.random.default_rng(20261207)
    block = np.array([0.0, 0.0, 3.0, 3.0])
    return {
        "random-1d": rng.normal(size=14),
        "random-steps-2d": np.repeat(rng.normal(scale=3, size=(4, 2)), 3, axis=0) + rng.normal(size=(12, 2)),
        "random-3d": rng.normal(size=(10, 3)),
        "all-zero": np.zeros(13),
        "repeated-blocks": np.tile(block, 3),
        "repeated-blocks-2d": np.column_stack([np.tile(block, 3), np.tile(block[::-1], 3)]),
        # Tied segmentations whose computed costs differ only by round-off.
        "inexact-alternation": np.tile([0.7, 0.9], 6) + 1 / 3,
        "inexact-blocks-2d": np.column_stack([np.tile([0.3, 0.3, 1.1, 1.1], 3) + 0.05, np.full(12, 0.1)]),
    }


@pytest.mark.parametrize("name", list(exactness_signals()))
@pytest.mark.parametrize("jump", [1, 2, 3])
@pytest.mark.parametrize("min_size", [1, 2, 3])
def test_matches_brute_force_for_every_change_count(name, jump, min_size):
    x = exactness_signals()[name]
    n = len(x)
    costs = segment_costs(x)
    detector = Dynp(min_size=min_size, jump=jump).fit(x)
    total = CostL2().fit(x)
    for n_bkps in range(n + 1):
        expected = brute_force(x, n_bkps, min_size, jump, costs)
        if expected is None:
            with pytest.raises(ValueError) as failure:
                detector.predict(n_bkps)
            assert str(failure.value) == infeasible_message(n, n_bkps, min_size, jump)
            continue
        best, smallest = expected
        found = detector.predict(n_bkps)
        assert total.sum_of_costs(found) == pytest.approx(best, rel=1e-9, abs=1e-9)
        assert found == smallest, (n_bkps, found, smallest)


@pytest.mark.parametrize(
    "n, min_size, jump, n_bkps, expected",
    [
        (20, 2, 5, 2, [5, 10, 20]),  # every segmentation costs 0: the earliest wins
        (10, 2, 5, 1, [5, 10]),  # the only grid candidate
        (12, 2, 5, 2, [5, 10, 12]),  # the final segment is shorter than jump
        (7, 3, 1, 1, [3, 7]),
    ],
)
def test_exact_ties_choose_the_earliest_changes(n, min_size, jump, n_bkps, expected):
    assert Dynp(min_size=min_size, jump=jump).fit(np.zeros(n)).predict(n_bkps) == expected


def test_last_segment_need_not_be_grid_aligned():
    x = np.r_[np.zeros(10), 9.0, 9.0]
    assert Dynp(min_size=2, jump=5).fit(x).predict(1) == [10, 12]


@pytest.mark.parametrize(
    "n, min_size, jump, n_bkps",
    [
        (10, 2, 5, 2),  # 2 changes need 2 * 5 <= 10 - 2
        (3, 5, 5, 0),  # shorter than one segment, even without changes
        (10, 1, U64_MAX, 1),  # the only grid position is 0
        (10, 1, 2**63, 2),  # n_bkps * rounded min_size overflows
        (10, U64_MAX, 1, 1),
    ],
)
def test_infeasible_requests(n, min_size, jump, n_bkps):
    detector = Dynp(min_size=min_size, jump=jump).fit(np.arange(float(n)))
    with pytest.raises(ValueError) as failure:
        detector.predict(n_bkps)
    assert str(failure.value) == infeasible_message(n, n_bkps, min_size, jump)


def test_non_finite_segment_cost_fails_even_outside_the_optimum():
    # Squares of 1.3e154 are finite, their sum is not: every segment holding
    # both large samples has a non-finite cost.
    x = np.zeros(20)
    x[3] = x[4] = 1.3e154
    detector = Dynp(min_size=1, jump=1).fit(x)
    for n_bkps in (0, 1, 3):
        with pytest.raises(TarnwellError, match=r"^objective value must be finite, got (inf|NaN)$"):
            detector.predict(n_bkps)


def test_predictions_are_independent_and_repeatable():
    x = np.r_[np.zeros(30), np.full(30, 4.0), np.zeros(30), np.full(30, -4.0)]
    detector = Dynp(min_size=2, jump=1).fit(x)
    assert detector.predict(3) == [30, 60, 90, 120]
    assert detector.predict(0) == [120]
    assert detector.predict(1) == detector.predict(1)
    assert detector.predict(3) == [30, 60, 90, 120]


# ---------------------------------------------------------------- memory


@pytest.mark.parametrize(
    "n, jump, n_bkps",
    [(100, 5, 2), (100, 5, 0), (1, 1, 3), (12, 5, 1), (1000, 1, 5), (10, U64_MAX, 7), (10**6, 3, 40)],
)
def test_estimated_memory_bytes_follows_the_formula(n, jump, n_bkps):
    detector = Dynp(min_size=1, jump=jump).fit(np.zeros(n))
    assert detector.estimated_memory_bytes(n_bkps) == estimate(n, jump, n_bkps)


def test_estimate_example():
    assert Dynp(jump=5).fit(np.zeros(100)).estimated_memory_bytes(2) == 1416  # G = 21, K = 3


@pytest.mark.parametrize("n_bkps", [2**63, U64_MAX])
def test_estimate_too_large_to_represent_reports_the_saturated_value(n_bkps):
    detector = Dynp(jump=5, max_memory_bytes=1000).fit(np.zeros(100))
    with pytest.raises(MemoryError) as failure:
        detector.estimated_memory_bytes(n_bkps)
    assert str(failure.value) == f"Dynp prediction requires {U64_MAX} bytes, above configured limit 1000"


def test_limit_is_inclusive():
    x = np.r_[np.zeros(20), np.ones(20)]
    needed = estimate(40, 1, 1)
    assert Dynp(min_size=1, jump=1, max_memory_bytes=needed).fit(x).predict(1) == [20, 40]
    detector = Dynp(min_size=1, jump=1, max_memory_bytes=needed - 1).fit(x)
    with pytest.raises(MemoryError) as failure:
        detector.predict(1)
    assert str(failure.value) == f"Dynp prediction requires {needed} bytes, above configured limit {needed - 1}"
    assert detector.estimated_memory_bytes(1) == needed


def test_limit_of_one_byte_refuses_every_table_but_not_zero_changes():
    detector = Dynp(max_memory_bytes=1).fit(np.zeros(50))
    with pytest.raises(MemoryError, match=r"^Dynp prediction requires \d+ bytes, above configured limit 1$"):
        detector.predict(1)
    assert detector.predict(0) == [50]
    assert detector.estimated_memory_bytes(1) == estimate(50, 5, 1)


def test_huge_request_fails_before_allocating():
    detector = Dynp(min_size=1, jump=1).fit(np.zeros(10**6))
    needed = estimate(10**6, 1, 1000)
    started = time.perf_counter()
    with pytest.raises(MemoryError) as failure:
        detector.predict(1000)
    assert time.perf_counter() - started < 0.5
    assert str(failure.value) == f"Dynp prediction requires {needed} bytes, above configured limit 536870912"


def test_feasibility_is_checked_before_memory():
    detector = Dynp(min_size=2, jump=5, max_memory_bytes=1).fit(np.zeros(10))
    with pytest.raises(ValueError, match="^cannot segment 10 samples into 2 changes"):
        detector.predict(2)


# ---------------------------------------------------------------- Python surface


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        # min_size first, even before the model and the custom cost
        (dict(model="nope", custom_cost=object(), min_size=0, jump=0, max_memory_bytes=0), ValueError,
         "min_size must be positive, got 0"),
        # then the custom cost's protocol, before the memory limit
        (dict(custom_cost=object(), max_memory_bytes=0), TypeError, "custom_cost must define a callable fit() method"),
        (dict(model="NoPe", jump=0, max_memory_bytes=0), ValueError,
         f'unsupported model "nope"; supported models: {SUPPORTED}'),
        (dict(jump=0, max_memory_bytes=0), ValueError, "memory limit must be positive, got 0"),
        (dict(jump=0), ValueError, "jump must be positive, got 0"),
        (dict(min_size=-1), OverflowError, None),
        (dict(max_memory_bytes=2**64), OverflowError, None),
        (dict(jump="5"), TypeError, None),
        (dict(model=2), TypeError, None),
    ],
)
def test_constructor_checks(arguments, error, message):
    with pytest.raises(error) as failure:
        Dynp(**arguments)
    if message is not None:
        assert str(failure.value) == message


@pytest.mark.parametrize(
    "arguments, model, min_size, jump, max_memory_bytes",
    [
        ({}, "l2", 2, 5, 536870912),
        (dict(model="L2", min_size=1, jump=1, max_memory_bytes=U64_MAX), "l2", 1, 1, U64_MAX),
        (dict(model="rank", min_size=1), "rank", 2, 5, 536870912),  # raised to the model minimum
        (dict(model="Ml", min_size=7, jump=3, custom_cost=None), "ml", 7, 3, 536870912),
    ],
)
def test_properties_and_repr(arguments, model, min_size, jump, max_memory_bytes):
    detector = Dynp(**arguments)
    assert (detector.model, detector.min_size, detector.jump, detector.max_memory_bytes) == (
        model, min_size, jump, max_memory_bytes)
    assert not detector.is_fitted and not detector.uses_custom_cost and not detector.uses_batch_callback
    assert repr(detector) == (f'Dynp(model="{model}", min_size={min_size}, jump={jump}, '
                              f"max_memory_bytes={max_memory_bytes}, custom_cost=false)")


def test_signatures_and_registration():
    assert str(inspect.signature(Dynp)) == (
        "(model='l2', custom_cost=None, min_size=2, jump=5, max_memory_bytes=536870912)")
    assert Dynp.__doc__ == "Exact fixed-change dynamic programming detector."
    assert Dynp.__module__ == "tarnwell._tarnwell" and Dynp.__name__ == "Dynp"
    for method, parameters in [("fit", "(signal)"), ("predict", "(n_bkps)"), ("fit_predict", "(signal, n_bkps)"),
                               ("estimated_memory_bytes", "(n_bkps)")]:
        assert str(inspect.signature(getattr(Dynp(), method))) == parameters
    assert native.__all__.index("Dynp") + 1 == native.__all__.index("Pelt")


@pytest.mark.parametrize("operation", [lambda d: d.predict(1), lambda d: d.estimated_memory_bytes(1)])
def test_unfitted_operations(operation):
    with pytest.raises(RuntimeError, match="^Dynp must be fitted before this operation$"):
        operation(Dynp())


def test_fit_returns_self_and_failed_refit_leaves_unfitted():
    detector = Dynp()
    assert detector.fit(np.zeros(20)) is detector and detector.is_fitted
    with pytest.raises(ValueError):
        detector.fit(np.array([0.0, np.nan]))
    assert not detector.is_fitted
    with pytest.raises(RuntimeError, match="must be fitted"):
        detector.predict(0)


def test_fit_predict_keeps_the_fit_when_prediction_fails():
    detector = Dynp(jump=5)
    with pytest.raises(ValueError, match="^cannot segment 20 samples into 9 changes"):
        detector.fit_predict(np.zeros(20), 9)
    assert detector.is_fitted
    assert detector.predict(1) == [5, 20]
    assert detector.fit_predict(np.r_[np.zeros(10), np.ones(10)], n_bkps=1) == [10, 20]


# ---------------------------------------------------------------- concurrency


def slow_detector():
    """A prediction that runs for roughly 0.2 s with the interpreter lock released."""
    rng = np.random.default_rng(3)
    x = np.repeat(rng.normal(scale=4, size=9), 700) + rng.normal(size=6300)
    return Dynp(min_size=1, jump=1).fit(x), 8


def test_concurrent_predictions_share_the_fitted_cost():
    detector, n_bkps = slow_detector()
    expected = detector.predict(n_bkps)
    results = [None, None]

    def run(slot):
        results[slot] = detector.predict(n_bkps)

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected, expected]


def test_fit_during_a_prediction_is_refused():
    detector, n_bkps = slow_detector()
    started = threading.Event()
    outcome = {}

    def run():
        started.set()
        outcome["breakpoints"] = detector.predict(n_bkps)

    thread = threading.Thread(target=run)
    thread.start()
    started.wait()
    time.sleep(0.05)  # the prediction has borrowed the object and released the lock
    try:
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            detector.fit(np.zeros(10))
    finally:
        thread.join()
    assert len(outcome["breakpoints"]) == n_bkps + 1
    assert detector.is_fitted and detector.predict(0) == [6300]


@pytest.mark.parametrize("model, earliest", [("ar", [5, 10, 15, 40]), ("linear", [2, 4, 6, 40]),
                                             ("clinear", [3, 6, 9, 40])])
def test_exact_ties_of_regression_costs_go_to_the_earliest_changes(model, earliest):
    # A constant signal fits every segment exactly: all costs are 0 up to round-off.
    assert native.Dynp(model=model, min_size=1, jump=1).fit(np.ones((40, 2))).predict(3) == earliest


@pytest.mark.parametrize("model, scales", [("ar", [1e-7, 1e7]), ("clinear", [1e-160, 1e-7, 1e7])])
def test_regression_costs_take_the_exact_solver_path_independently_of_the_unit(model, scales):
    # The answers and the costs follow the unit (the work, which made these
    # 100 times slower in small units, is checked by the native tests).
    rng = np.random.default_rng(0)
    x = np.concatenate([rng.normal(0, 1, 300), rng.normal(2, 1, 300), rng.normal(-1, 2, 300)])
    expected = native.Dynp(model=model).fit(x).predict(3)
    for scale in scales:
        assert native.Dynp(model=model).fit(x * scale).predict(3) == expected
        cost = getattr(native, "CostAR" if model == "ar" else "CostCLinear")().fit(x * scale)
        reference = getattr(native, "CostAR" if model == "ar" else "CostCLinear")().fit(x)
        assert cost.error(100, 700) == pytest.approx(reference.error(100, 700) * scale**2, rel=1e-9)
