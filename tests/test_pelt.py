import inspect
import threading
import time
from fractions import Fraction

import numpy as np
import pytest

from exact_oracle import admissible_segmentations, scored_segmentations
from tarnwell import CostL2, Pelt, TarnwellError, _tarnwell

# The first name of every model of the cost list, as the unsupported-model message lists them.
SUPPORTED = ", ".join(entry["name"] for entry in _tarnwell._cost_models())


def small_integer_signals():
    rng = np.random.default_rng(11)
    cases = []
    for n in (1, 2, 5, 9, 12, 14):
        for d in (1, 2, 3):
            cases.append(rng.integers(0, 3, size=(n, d)).astype(float))
    cases.append(np.zeros((12, 1)))
    cases.append(np.tile([0.0, 0.0, 4.0, 4.0], 3).reshape(-1, 1))
    cases.append(np.tile([[1.0, 0.0], [0.0, 1.0]], (6, 1)))
    cases.append(np.array([0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0], dtype=float).reshape(-1, 1))
    return cases


@pytest.mark.parametrize("signal", small_integer_signals(), ids=lambda s: f"n{s.shape[0]}d{s.shape[1]}")
@pytest.mark.parametrize("min_size, jump", [(1, 1), (2, 1), (1, 2), (2, 3), (3, 2), (4, 5)])
def test_exact_optimum_and_tie_rule(signal, min_size, jump):
    n = signal.shape[0]
    search = Pelt(min_size=min_size, jump=jump).fit(signal)
    if n < min_size:
        with pytest.raises(ValueError, match=rf"^segment \[0, {n}\) has length {n}, below minimum {min_size}$"):
            search.predict(1.0)
        return
    scored = scored_segmentations(signal.tolist(), min_size, jump)
    for pen in (0.25, 1.0, 3.0):
        penalised = [(cost + Fraction(pen) * (len(b) - 1), b) for cost, b in scored]
        optimum = min(value for value, _ in penalised)
        expected = min(b for value, b in penalised if value == optimum)
        assert search.predict(pen) == expected, pen


@pytest.mark.parametrize("seed", range(6))
def test_random_real_signals_reach_the_minimal_objective(seed):
    rng = np.random.default_rng(seed)
    n, d = 13, 1 + seed % 3
    signal = rng.normal(size=(n, d)) + np.repeat(rng.normal(size=(3, d)) * 3, [4, 5, 4], axis=0)
    cost = CostL2().fit(signal)
    pen = 2.0
    objectives = {
        tuple(b): cost.sum_of_costs(b) + pen * (len(b) - 1) for b in admissible_segmentations(n, 1, 1)
    }
    found = Pelt(min_size=1, jump=1).fit(signal).predict(pen)
    assert objectives[tuple(found)] == pytest.approx(min(objectives.values()), rel=1e-12, abs=1e-12)


def test_clear_changes_are_found():
    rng = np.random.default_rng(3)
    signal = np.repeat([0.0, 8.0, -4.0, 3.0], 250) + rng.normal(size=1000)
    assert Pelt(min_size=2, jump=1).fit(signal).predict(3 * np.log(1000)) == [250, 500, 750, 1000]
    assert Pelt(min_size=5, jump=5).fit_predict(signal, 3 * np.log(1000)) == [250, 500, 750, 1000]


@pytest.mark.parametrize(
    "signal, params, pen, expected",
    [
        (np.ones(20), {}, 1.0, [20]),
        (np.arange(7.0), {"jump": 10}, 1.0, [7]),
        (np.r_[np.zeros(10), np.ones(10)], {"min_size": 1, "jump": 1}, 1e-3, [10, 20]),
    ],
)
def test_edge_cases(signal, params, pen, expected):
    assert Pelt(**params).fit(signal).predict(pen) == expected


@pytest.mark.parametrize("pen, text", [(0.0, "0"), (-0.0, "-0"), (-1.0, "-1"), (float("nan"), "NaN"),
                                       (float("inf"), "inf"), (-float("inf"), "-inf"), (1e-400, "0")])
def test_penalty_must_be_finite_and_positive(pen, text):
    search = Pelt().fit(np.zeros(10))
    with pytest.raises(ValueError, match=f"^penalty must be finite and positive, got {text}$"):
        search.predict(pen)


def test_penalty_conversion():
    search = Pelt().fit(np.zeros(10))
    assert search.predict(1) == search.predict(np.float32(1.0)) == [10]
    with pytest.raises(TypeError, match="pen"):
        search.predict("1.0")
    with pytest.raises(TypeError):
        search.predict()


def test_short_signal_and_unfitted():
    with pytest.raises(RuntimeError, match="^Pelt must be fitted before this operation$"):
        Pelt().predict(1.0)
    with pytest.raises(ValueError, match=r"^segment \[0, 3\) has length 3, below minimum 5$"):
        Pelt(min_size=5).fit(np.zeros(3)).predict(1.0)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"min_size": 0}, ValueError, "^min_size must be positive, got 0$"),
        ({"min_size": 0, "model": "nope"}, ValueError, "^min_size must be positive, got 0$"),
        ({"model": "Foo"}, ValueError,
         f'^unsupported model "foo"; supported models: {SUPPORTED}$'),
        ({"model": "l3", "jump": 0}, ValueError, '^unsupported model "l3"'),
        ({"jump": 0}, ValueError, "^jump must be positive, got 0$"),
        ({"min_size": -1}, OverflowError, "min_size"),
        ({"jump": 2**64}, OverflowError, "jump"),
        ({"jump": 1.5}, TypeError, "jump"),
        ({"model": 3}, TypeError, "model"),
        ({"pen": 1}, TypeError, "pen"),
    ],
)
def test_constructor_checks(kwargs, error, message):
    with pytest.raises(error, match=message):
        Pelt(**kwargs)


@pytest.mark.parametrize(
    "model, requested, stored",
    [("l2", 1, 1), ("L2", 3, 3), ("rank", 1, 2), ("ar", 2, 5), ("clinear", 1, 3), ("ML", 1, 2)],
)
def test_min_size_is_raised_to_the_cost_minimum(model, requested, stored):
    search = Pelt(model=model, min_size=requested)
    assert search.min_size == stored
    assert search.model == model.lower()


def test_properties_and_repr():
    search = Pelt(model="AR")
    assert repr(search) == 'Pelt(model="ar", min_size=5, jump=5, custom_cost=false)'
    assert repr(Pelt(model='l"2', custom_cost=None, min_size=3, jump=1) if False else Pelt()) == (
        'Pelt(model="l2", min_size=2, jump=5, custom_cost=false)')
    fresh = Pelt(custom_cost=None)
    assert (fresh.is_fitted, fresh.uses_custom_cost, fresh.uses_batch_callback, fresh.uses_pelt_pruning) == (
        False, False, False, False)
    fresh.fit(np.zeros(10))
    assert fresh.is_fitted and fresh.uses_pelt_pruning
    assert str(inspect.signature(Pelt)) == "(model='l2', custom_cost=None, min_size=2, jump=5)"
    assert Pelt.__doc__.endswith("Exact penalized change-point detection using PELT pruning.")
    assert Pelt.__module__ == "tarnwell._tarnwell"
    with pytest.raises(TypeError):
        type("Sub", (Pelt,), {})
    with pytest.raises(AttributeError):
        fresh.jump = 3


def test_failed_refit_leaves_object_unfitted():
    search = Pelt().fit(np.zeros(10))
    with pytest.raises(ValueError, match="non-finite value at row 2"):
        search.fit(np.array([0.0, 1.0, np.nan]))
    assert not search.is_fitted
    with pytest.raises(RuntimeError, match="must be fitted"):
        search.predict(1.0)


def test_fit_predict_keeps_the_fit_when_prediction_fails():
    search = Pelt()
    with pytest.raises(ValueError, match="penalty"):
        search.fit_predict(np.zeros(10), -1.0)
    assert search.is_fitted


def test_threads_share_predictions_and_fit_is_refused_meanwhile():
    rng = np.random.default_rng(0)
    # Two features: searched without the one-feature functional pruning, so a
    # prediction lasts long enough for the concurrent fits to meet it.
    signal = np.repeat(rng.normal(size=(200, 2)) * 5, 1000, axis=0) + rng.normal(size=(200_000, 2))
    search = Pelt(min_size=1, jump=1).fit(signal)
    results, errors = [], []

    def predict():
        try:
            results.append(search.predict(3 * np.log(signal.size)))
        except Exception as error:  # pragma: no cover - reported below
            errors.append(error)

    threads = [threading.Thread(target=predict) for _ in range(2)]
    for thread in threads:
        thread.start()
    refused = None
    deadline = time.monotonic() + 5
    while refused is None and any(t.is_alive() for t in threads) and time.monotonic() < deadline:
        try:
            search.fit(signal)
        except RuntimeError as error:
            refused = error
    for thread in threads:
        thread.join()
    assert not errors
    assert len(results) == 2 and results[0] == results[1]
    assert refused is not None and str(refused) == "Already borrowed"


def test_repeated_calls_do_not_leak(memory_growth):
    signal = np.repeat([0.0, 5.0], 50)
    search = Pelt(min_size=1, jump=1).fit(signal)

    def calls():
        search.predict(5.0)
        for bad in (-1.0, "x"):
            try:
                search.predict(bad)
            except (TypeError, ValueError):
                pass
        try:
            Pelt(model="nope")
        except ValueError:
            pass

    assert memory_growth(calls, repetitions=10000) < 1 << 20


def test_objective_overflow_is_reported():
    signal = np.array([0.0, 1.2e154, -1.2e154, 1.2e154])
    with pytest.raises(TarnwellError):
        Pelt(min_size=1, jump=1).fit(signal).predict(1.0)
