"""Python-defined costs in Pelt and Dynp: the protocol, exact agreement with the
built-in squared-error cost, callback failures, reference ownership, threads
and calls back into the running search."""

import gc
import re
import sys
import threading
import traceback
import weakref

import numpy as np
import pytest

from tarnwell import Dynp, Pelt


class SquaredError:
    """The within-segment sum of squared deviations, from prefix sums."""

    pelt_pruning_constant = 0.0

    def __init__(self, min_size=1):
        self.min_size = min_size
        self.calls = 0

    def fit(self, signal):
        values = signal.reshape(signal.shape[0], -1)
        centred = values - values[0]
        zero = np.zeros((1, values.shape[1]))
        self.sums = np.vstack([zero, np.cumsum(centred, axis=0)])
        self.squares = np.vstack([zero, np.cumsum(centred * centred, axis=0)])

    def error(self, start, end):
        self.calls += 1
        sums = self.sums[end] - self.sums[start]
        return float(np.sum(self.squares[end] - self.squares[start] - sums * sums / (end - start)))


class BatchedSquaredError(SquaredError):
    def error_many(self, starts, ends):
        self.calls += 1
        sums = self.sums[ends] - self.sums[starts]
        lengths = (ends - starts).astype(float)[:, None]
        return np.sum(self.squares[ends] - self.squares[starts] - sums * sums / lengths, axis=1)


class Unpruned(SquaredError):
    pelt_pruning_constant = None


class BatchedUnpruned(BatchedSquaredError):
    pelt_pruning_constant = None


def piecewise(seed, n=120, features=1):
    rng = np.random.default_rng(seed)
    changes = np.sort(rng.choice(np.arange(10, n - 10), size=3, replace=False))
    levels = rng.normal(scale=4.0, size=(4, features))
    signal = np.repeat(levels, np.diff([0, *changes, n]), axis=0) + rng.normal(size=(n, features))
    return signal[:, 0].copy() if features == 1 else signal


COST_CLASSES = [SquaredError, BatchedSquaredError, Unpruned, BatchedUnpruned]


@pytest.mark.parametrize("cost_class", COST_CLASSES)
@pytest.mark.parametrize("seed, features, min_size, jump", [(0, 1, 1, 1), (1, 2, 3, 5), (2, 1, 2, 3), (3, 3, 5, 2)])
def test_squared_error_matches_builtin_l2(cost_class, seed, features, min_size, jump):
    signal = piecewise(seed, n=100, features=features)
    for pen in (3.0, 30.0):
        expected = Pelt(model="l2", min_size=min_size, jump=jump).fit_predict(signal, pen)
        assert Pelt(custom_cost=cost_class(), min_size=min_size, jump=jump).fit_predict(signal, pen) == expected
    for n_bkps in (0, 2, 5):
        expected = Dynp(model="l2", min_size=min_size, jump=jump).fit_predict(signal, n_bkps)
        assert Dynp(custom_cost=cost_class(), min_size=min_size, jump=jump).fit_predict(signal, n_bkps) == expected


def test_flags_repr_and_min_size():
    cost = BatchedSquaredError(min_size=4)
    search = Pelt(model="no such model", custom_cost=cost, min_size=2, jump=3)
    assert (search.model, search.min_size, search.jump) == ("custom", 4, 3)
    assert repr(search) == 'Pelt(model="custom", min_size=4, jump=3, custom_cost=true)'
    flags = lambda s: (s.is_fitted, s.uses_custom_cost, s.uses_batch_callback, s.uses_pelt_pruning)
    assert flags(search) == (False, True, False, False)
    search.fit(piecewise(0))
    assert flags(search) == (True, True, True, True)
    unpruned = Pelt(custom_cost=Unpruned(), min_size=6).fit(piecewise(0))
    assert flags(unpruned) == (True, True, False, False) and unpruned.min_size == 6
    detector = Dynp(custom_cost=cost, min_size=7, jump=2, max_memory_bytes=10**6)
    assert repr(detector) == 'Dynp(model="custom", min_size=7, jump=2, max_memory_bytes=1000000, custom_cost=true)'
    assert not detector.uses_batch_callback
    detector.fit(piecewise(0))
    assert detector.uses_batch_callback and detector.is_fitted
    assert detector.estimated_memory_bytes(2) == Dynp(jump=2).fit(piecewise(0)).estimated_memory_bytes(2)


def test_error_many_receives_fresh_writable_uint64_arrays():
    seen = []

    class Recording(BatchedSquaredError):
        def error_many(self, starts, ends):
            seen.append((starts, ends))
            result = super().error_many(starts, ends)
            starts[:] = 0  # the arrays belong to the callback
            return result

    signal = piecewise(4)
    assert Pelt(custom_cost=Recording(), jump=1).fit_predict(signal, 10.0) == Pelt(jump=1).fit_predict(signal, 10.0)
    assert len(seen) > 10
    for starts, ends in seen:
        assert starts.dtype == np.uint64 and ends.dtype == np.uint64
        assert starts.ndim == 1 and starts.shape == ends.shape and starts.flags.writeable and ends.flags.writeable
        assert len(set(ends.tolist())) == 1
    assert len({id(array) for pair in seen for array in pair}) == 2 * len(seen)


def test_fit_receives_the_callers_array_and_checks_it_first():
    received = []

    class Keeping(SquaredError):
        def fit(self, signal):
            received.append(signal)
            super().fit(signal)

    signal = np.asfortranarray(piecewise(1, features=2))[::2]
    Pelt(custom_cost=Keeping()).fit(signal)
    assert received[0] is signal
    for bad, error, message in [
        (np.array([0.0, np.nan, 1.0]), ValueError, "signal contains a non-finite value at row 1, column 0"),
        (np.zeros((2, 2, 2)), ValueError, "signal must be one- or two-dimensional, got 3 dimensions"),
        (np.zeros((0, 2)), ValueError, "signal must contain at least one sample and one feature"),
        (np.zeros(5, dtype=np.float32), TypeError, "signal"),
    ]:
        with pytest.raises(error, match=re.escape(message)):
            Pelt(custom_cost=Keeping()).fit(bad)
    assert len(received) == 1


def members(**attributes):
    """An object of a new class with exactly these members."""
    return type("Cost", (), attributes)()


def fit(self, signal):
    pass


def error(self, start, end):
    return 0.0


@pytest.mark.parametrize(
    "cost, exception, message",
    [
        (members(error=error, min_size=1), TypeError, "custom_cost must define a callable fit() method"),
        (members(fit=3, min_size=1), TypeError, "custom_cost.fit must be callable"),
        (members(fit=fit, min_size=1), TypeError, "custom_cost must define a callable error() method"),
        (members(fit=fit, error="no", min_size=1), TypeError, "custom_cost.error must be callable"),
        (members(fit=fit, error=error), TypeError, "custom_cost must define a positive integer min_size attribute"),
        (members(fit=fit, error=error, min_size="3"), TypeError, "custom_cost.min_size must be a positive integer"),
        (members(fit=fit, error=error, min_size=2.0), TypeError, "custom_cost.min_size must be a positive integer"),
        (members(fit=fit, error=error, min_size=2**63), TypeError, "custom_cost.min_size must be a positive integer"),
        (members(fit=fit, error=error, min_size=0), ValueError, "custom_cost.min_size must be positive, got 0"),
        (members(fit=fit, error=error, min_size=-4), ValueError, "custom_cost.min_size must be positive, got -4"),
        # the checks run in order: fit, error, min_size
        (members(min_size=0), TypeError, "custom_cost must define a callable fit() method"),
        (members(fit=fit, error=None, min_size=0), TypeError, "custom_cost.error must be callable"),
    ],
)
@pytest.mark.parametrize("construct", [lambda cost: Pelt(custom_cost=cost, jump=0),
                                       lambda cost: Dynp(custom_cost=cost, jump=0, max_memory_bytes=0)])
def test_protocol_errors_at_construction(construct, cost, exception, message):
    # the protocol is checked before jump and the memory limit
    with pytest.raises(exception) as failure:
        construct(cost)
    assert str(failure.value) == message


def test_construction_accepts_index_objects_after_checking_min_size():
    assert Pelt(custom_cost=members(fit=fit, error=error, min_size=np.int64(3))).min_size == 3
    with pytest.raises(ValueError, match="^min_size must be positive, got 0$"):
        Pelt(custom_cost=members(), min_size=0)


class ChangingOnFit(SquaredError):
    def __init__(self, **changes):
        super().__init__(min_size=2)
        self.changes = changes

    def fit(self, signal):
        super().fit(signal)
        for name, value in self.changes.items():
            setattr(self, name, value)


@pytest.mark.parametrize(
    "changes, exception, message",
    [
        (dict(min_size=7), ValueError,
         "custom_cost.min_size changed to 7 during fit; construct {} with min_size at least 7"),
        (dict(min_size=0), ValueError, "custom_cost.min_size must be positive, got 0"),
        (dict(min_size="7"), TypeError, "custom_cost.min_size must be a positive integer"),
        (dict(error=5), TypeError, "custom_cost.error must be callable"),
        (dict(error_many=5), TypeError, "custom_cost.error_many must be callable when provided"),
        (dict(pelt_pruning_constant="x"), TypeError,
         "custom_cost.pelt_pruning_constant must be a finite float or None"),
        (dict(pelt_pruning_constant=float("nan")), ValueError, "custom_cost.pelt_pruning_constant must be finite, got NaN"),
        (dict(pelt_pruning_constant=-float("inf")), ValueError,
         "custom_cost.pelt_pruning_constant must be finite, got -inf"),
        # min_size is checked before the optional members
        (dict(min_size=9, error_many=5), ValueError,
         "custom_cost.min_size changed to 9 during fit; construct {} with min_size at least 9"),
    ],
)
@pytest.mark.parametrize("search_class", [Pelt, Dynp])
def test_a_failed_fit_leaves_the_search_unfitted(search_class, changes, exception, message):
    signal = piecewise(0)
    cost = ChangingOnFit()
    search = search_class(custom_cost=cost, min_size=5).fit(signal)
    cost.changes = changes
    with pytest.raises(exception) as failure:
        search.fit(signal)
    assert str(failure.value) == message.format(search_class.__name__)
    assert not search.is_fitted and not search.uses_batch_callback
    with pytest.raises(RuntimeError, match=f"^{search_class.__name__} must be fitted before this operation$"):
        search.predict(1)


def test_fit_accepts_a_smaller_min_size_and_integral_pruning_constants():
    search = Pelt(custom_cost=ChangingOnFit(min_size=4, pelt_pruning_constant=1), min_size=5)
    search.fit(piecewise(0))
    assert search.min_size == 5 and search.uses_pelt_pruning
    assert search.predict(10.0) == Pelt(min_size=5).fit_predict(piecewise(0), 10.0)


def test_exceptions_of_fit_propagate_unchanged():
    class Broken(SquaredError):
        def fit(self, signal):
            raise KeyError("no fit today")

    search = Pelt(custom_cost=SquaredError()).fit(piecewise(0))
    search_broken = Pelt(custom_cost=Broken())
    with pytest.raises(KeyError, match="no fit today"):
        search_broken.fit(piecewise(0))
    assert not search_broken.is_fitted and search.is_fitted


FAILURES = {
    "raise": lambda values: 1 / 0,
    "nan": lambda values: float("nan"),
    "inf": lambda values: float("inf"),
    "text": lambda values: "1.5",
}
BATCH_FAILURES = {
    "raise": lambda values: 1 / 0,
    "list": lambda values: values.tolist(),
    "float32": lambda values: values.astype(np.float32),
    "2d": lambda values: values[:, None],
    "big_endian": lambda values: values.astype(">f8"),
    "short": lambda values: values[:-1],
    "nan": lambda values: np.where(np.arange(len(values)) == 2, np.nan, values),
    "strided": lambda values: np.repeat(np.where(np.arange(len(values)) == 1, -np.inf, values), 2)[::2],
}


class FailingError(SquaredError):
    """error() fails the way `mode` says once `after` calls have succeeded."""

    def __init__(self, mode, after=3):
        super().__init__()
        self.mode, self.after, self.last = mode, after, None

    def error(self, start, end):
        value = super().error(start, end)
        return value if self.calls <= self.after else FAILURES[self.mode](value)


class FailingBatch(BatchedSquaredError):
    """error_many() fails the same way, on a batch of at least three segments."""

    def __init__(self, mode, after=3):
        super().__init__()
        self.mode, self.after, self.last = mode, after, None

    def error_many(self, starts, ends):
        values = super().error_many(starts, ends)
        if self.calls <= self.after or len(starts) < 3:
            return values
        self.last = (starts.copy(), ends.copy())
        return BATCH_FAILURES[self.mode](values)


def expected_callback_message(cost):
    if isinstance(cost, FailingError):
        return "custom cost for segment returned a non-finite value: " + {"nan": "NaN", "inf": "inf"}[cost.mode]
    starts, ends = cost.last
    if cost.mode == "short":
        return f"custom_cost.error_many returned {len(starts) - 1} values for {len(starts)} segments"
    if cost.mode in ("nan", "strided"):
        index, text = (2, "NaN") if cost.mode == "nan" else (1, "-inf")
        return f"custom_cost.error_many returned a non-finite value {text} for segment [{starts[index]}, {ends[0]})"
    return "custom_cost.error_many must return a one-dimensional float64 NumPy array"


@pytest.mark.parametrize(
    "mode, batched, exception",
    [
        ("raise", False, ZeroDivisionError), ("nan", False, ValueError), ("inf", False, ValueError),
        ("text", False, TypeError),
        ("raise", True, ZeroDivisionError), ("list", True, TypeError), ("float32", True, TypeError),
        ("2d", True, TypeError), ("big_endian", True, TypeError), ("short", True, ValueError),
        ("nan", True, ValueError), ("strided", True, ValueError),
    ],
)
@pytest.mark.parametrize("search_class, stop", [(Pelt, 5.0), (Dynp, 3)])
def test_callback_failures_reach_the_caller(search_class, stop, mode, batched, exception):
    cost = (FailingBatch if batched else FailingError)(mode)
    search = search_class(custom_cost=cost, jump=2)
    assert search.uses_custom_cost and not search.uses_batch_callback
    with pytest.raises(exception) as failure:
        search.fit_predict(piecewise(5), stop)
    assert search.is_fitted and search.uses_batch_callback == batched
    if mode not in ("raise", "text"):
        assert str(failure.value) == expected_callback_message(cost)
    # the search stays usable once the object behaves
    cost.after = 10**9
    assert search.predict(stop) == search_class(jump=2).fit_predict(piecewise(5), stop)


def test_the_users_exception_keeps_its_traceback_and_cause():
    class Chained(SquaredError):
        def error(self, start, end):
            try:
                {}["missing"]
            except KeyError as cause:
                raise LookupError("segment cost unavailable") from cause

    with pytest.raises(LookupError) as failure:
        Pelt(custom_cost=Chained()).fit_predict(piecewise(0), 3.0)
    assert type(failure.value) is LookupError and str(failure.value) == "segment cost unavailable"
    assert isinstance(failure.value.__cause__, KeyError)
    frames = [frame.name for frame in traceback.extract_tb(failure.value.__traceback__)]
    assert "error" in frames


def test_search_errors_without_a_callback_failure_are_the_usual_ones():
    search = Pelt(custom_cost=SquaredError(min_size=5)).fit(np.zeros(3))
    with pytest.raises(ValueError, match=re.escape("segment [0, 3) has length 3, below minimum 5")):
        search.predict(1.0)
    with pytest.raises(ValueError, match="penalty must be finite and positive, got 0"):
        search.predict(0.0)
    with pytest.raises(ValueError, match="cannot segment 3 samples"):
        Dynp(custom_cost=SquaredError(min_size=5)).fit_predict(np.zeros(3), 1)

    class Negative(SquaredError):
        def error(self, start, end):
            return -1e308

    # finite costs whose sum overflows: the search's own non-finite objective error
    with pytest.raises(RuntimeError, match="objective value must be finite, got -inf"):
        Dynp(custom_cost=Negative(), jump=1).fit_predict(np.zeros(20), 3)


def test_reference_counts_return_to_their_start():
    cost = BatchedSquaredError()
    failing = FailingError("raise")
    start, failing_start = sys.getrefcount(cost), sys.getrefcount(failing)
    search = Pelt(custom_cost=cost)
    assert sys.getrefcount(cost) == start + 1
    search.fit(piecewise(0))
    assert sys.getrefcount(cost) == start + 2  # the search and its fitted adapter
    search.predict(5.0)
    search.fit(piecewise(1))
    assert sys.getrefcount(cost) == start + 2
    for _ in range(3):
        with pytest.raises(ZeroDivisionError):
            Dynp(custom_cost=failing, jump=1).fit_predict(piecewise(0), 2)
    del search
    gc.collect()
    assert sys.getrefcount(cost) == start and sys.getrefcount(failing) == failing_start


def test_a_fitted_search_keeps_its_cost_alive_and_cycles_are_collected():
    def fitted_search():
        cost = SquaredError()
        return Pelt(custom_cost=cost).fit(piecewise(2)), weakref.ref(cost)

    search, alive = fitted_search()
    gc.collect()
    assert alive() is not None
    assert search.predict(5.0) == Pelt().fit_predict(piecewise(2), 5.0)
    del search
    assert alive() is None

    cost = SquaredError()
    cost.search = Pelt(custom_cost=cost).fit(piecewise(2))
    alive = weakref.ref(cost)
    del cost
    gc.collect()
    assert alive() is None


def lengths(self, start, end):
    return float(end - start)


def test_many_searches_do_not_grow_memory(memory_growth):
    # cheap callbacks, so that ten thousand searches take little time
    signal = piecewise(3, n=40)
    common = dict(fit=fit, error=lengths, min_size=1, pelt_pruning_constant=0.0)
    batched = members(error_many=lambda self, starts, ends: np.ones(len(starts)), **common)
    listing = members(error_many=lambda self, starts, ends: [1.0] * len(starts), **common)
    raising = members(fit=fit, error=lambda self, start, end: 1 / 0, min_size=1)

    def run():
        Pelt(custom_cost=members(**common), jump=4).fit_predict(signal, 5.0)
        Dynp(custom_cost=batched, jump=4).fit_predict(signal, 2)
        with pytest.raises(TypeError):
            Pelt(custom_cost=listing, jump=2).fit_predict(signal, 5.0)
        with pytest.raises(ZeroDivisionError):
            Dynp(custom_cost=raising).fit_predict(signal, 2)

    # 11 000 searches, half of them failing
    assert memory_growth(run, repetitions=2500) < 1 << 20



def test_two_threads_predict_with_their_own_costs():
    order = []

    class Noting(SquaredError):
        def error(self, start, end):
            order.append(threading.get_ident())
            return super().error(start, end)

    signals = [piecewise(seed, n=200) for seed in (6, 7)]
    expected = [Pelt(jump=1).fit_predict(signal, 8.0) for signal in signals]
    searches = [Pelt(custom_cost=Noting(), jump=1).fit(signals[0]),
                Pelt(custom_cost=Noting(), jump=1).fit(signals[1])]
    results, failures = {}, []
    barrier = threading.Barrier(2)

    def predict(index):
        try:
            barrier.wait()
            results[index] = [searches[index].predict(8.0) for _ in range(2)]
        except Exception as failure:  # pragma: no cover - reported below
            failures.append(failure)

    threads = [threading.Thread(target=predict, args=(index,)) for index in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not failures
    assert results == {0: [expected[0]] * 2, 1: [expected[1]] * 2}
    # the callbacks of the two searches interleaved
    assert sum(1 for previous, current in zip(order, order[1:]) if previous != current) >= 2


class CallingBack(SquaredError):
    """Calls `action(search)` from inside the first error callback."""

    def __init__(self, action, catch=False):
        super().__init__()
        self.action, self.catch, self.search, self.caught = action, catch, None, []

    def error(self, start, end):
        if self.action is not None:
            action, self.action = self.action, None
            try:
                action(self.search)
            except RuntimeError as failure:
                if not self.catch:
                    raise
                self.caught.append(str(failure))
        return super().error(start, end)


@pytest.mark.parametrize(
    "call, action, message",
    [
        ("predict", lambda search: search.fit(piecewise(1)), "Already borrowed"),
        ("predict", lambda search: search.fit_predict(piecewise(1), 5.0), "Already borrowed"),
        ("fit_predict", lambda search: search.predict(5.0), "Already mutably borrowed"),
        ("fit_predict", lambda search: search.fit(piecewise(1)), "Already borrowed"),
    ],
)
@pytest.mark.parametrize("catch", [False, True])
def test_calling_back_into_the_running_search(call, action, message, catch):
    cost = CallingBack(None, catch)
    search = Pelt(custom_cost=cost).fit(piecewise(0))
    cost.search, cost.action = search, action
    run = (lambda: search.predict(5.0)) if call == "predict" else (lambda: search.fit_predict(piecewise(0), 5.0))
    if catch:
        assert run() == Pelt().fit_predict(piecewise(0), 5.0)
        assert cost.caught == [message]
    else:
        with pytest.raises(RuntimeError, match=f"^{message}$"):
            run()
    # the search is intact and still fitted to the first signal
    assert search.is_fitted and search.predict(5.0) == Pelt().fit_predict(piecewise(0), 5.0)


def test_a_callback_may_read_and_predict_with_the_running_search():
    nested = []

    def action(search):
        nested.append((search.is_fitted, search.model, search.predict(5.0)))

    cost = CallingBack(None)
    search = Pelt(custom_cost=cost).fit(piecewise(0))
    cost.search, cost.action = search, action
    expected = Pelt().fit_predict(piecewise(0), 5.0)
    assert search.predict(5.0) == expected
    assert nested == [(True, "custom", expected)]


def test_the_objects_fit_cannot_use_the_search_being_fitted():
    class Peeking(SquaredError):
        def fit(self, signal):
            super().fit(signal)
            self.search.predict(1)

    cost = Peeking()
    cost.search = search = Dynp(custom_cost=cost)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        search.fit(piecewise(0))
    assert not search.is_fitted


class Recursing(SquaredError):
    """Predicts from every error call: with its own search, or with a new
    search over a new cost of the same kind."""

    def __init__(self, search_class, rule, own):
        super().__init__()
        self.search_class, self.rule, self.own, self.search = search_class, rule, own, None

    def fit(self, signal):
        self.signal = signal
        return super().fit(signal)

    def error(self, start, end):
        if self.own:
            return float(self.search.predict(**self.rule)[0])
        nested = self.search_class(custom_cost=Recursing(self.search_class, self.rule, False), jump=1)
        return float(nested.fit(self.signal).predict(**self.rule)[0])


@pytest.mark.parametrize("search_class, rule", [(Pelt, {"pen": 1.0}), (Dynp, {"n_bkps": 1})])
@pytest.mark.parametrize("own", [True, False])
def test_recursing_callbacks_raise_recursion_error_on_a_small_stack(search_class, rule, own):
    """Python's recursion limit counts only Python frames: with a raised limit
    and a 256 KiB thread stack the native depth guard must still stop the
    recursion with a clear error instead of overflowing the stack."""
    cost = Recursing(search_class, rule, own)
    search = cost.search = search_class(custom_cost=cost, jump=1).fit(piecewise(0)[:20])
    outcome = []

    def run():
        try:
            search.predict(**rule)
        except BaseException as error:  # noqa: BLE001 - reported to the main thread
            outcome.append(error)

    limit, stack = sys.getrecursionlimit(), threading.stack_size(256 * 1024)
    sys.setrecursionlimit(10**6)
    try:
        worker = threading.Thread(target=run)
        worker.start()
        worker.join()
    finally:
        sys.setrecursionlimit(limit)
        threading.stack_size(stack)
    assert len(outcome) == 1 and isinstance(outcome[0], RecursionError)
    assert re.search(f"^{search_class.__name__} .* more than 8 searches deep on one thread$", str(outcome[0]))
