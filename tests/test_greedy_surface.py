"""The Python surface of Binseg, BottomUp and Window: construction, the order
of checks and their messages, fitting semantics and concurrent predictions."""

import inspect
import threading

import numpy as np
import pytest

import tarnwell
from tarnwell import Binseg, BottomUp, Window

# The first name of every model of the cost list, as the unsupported-model message lists them.
SUPPORTED = ", ".join(entry["name"] for entry in tarnwell._tarnwell._cost_models())

CLASSES = [Binseg, BottomUp, Window]


def make(cls, width=None, **parameters):
    """An instance of any of the three; Window's width defaults to the smallest allowed."""
    if cls is Window:
        return cls(width=width or 2 * parameters.get("min_size", 2), **parameters)
    return cls(**parameters)


def test_registered_after_pelt_in_order():
    names = tarnwell.__all__
    assert names.index("Binseg") == names.index("Pelt") + 1
    assert names[names.index("Binseg") : names.index("Binseg") + 3] == ["Binseg", "BottomUp", "Window"]


@pytest.mark.parametrize(
    "cls, signature",
    [
        (Binseg, "(model='l2', min_size=2, jump=5, custom_cost=None)"),
        (BottomUp, "(model='l2', min_size=2, jump=5, custom_cost=None)"),
        (Window, "(width=100, model='l2', min_size=2, jump=5, custom_cost=None)"),
    ],
)
def test_signatures_and_defaults(cls, signature):
    assert str(inspect.signature(cls)) == signature
    assert str(inspect.signature(cls.predict)) == "(self, /, n_bkps=None, pen=None, epsilon=None)"
    search = cls()
    assert (search.model, search.min_size, search.jump, search.is_fitted) == ("l2", 2, 5, False)
    assert cls.__module__ == "tarnwell._tarnwell"


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize(
    "parameters, message",
    [
        (
            {"model": "nope", "min_size": 0, "jump": 0},
            f'^unsupported model "nope"; supported models: {SUPPORTED}$',
        ),
        ({"model": "L3"}, 'unsupported model "l3";'),
        ({"min_size": 0, "jump": 0}, "min_size must be positive, got 0"),
        ({"jump": 0}, "jump must be positive, got 0"),
    ],
)
def test_constructor_checks_in_order(cls, parameters, message):
    if cls is Window:
        parameters = {"width": 0, **parameters}  # the width rule comes last
    with pytest.raises(ValueError, match=message):
        cls(**parameters)


@pytest.mark.parametrize(
    "width, min_size, stored, message",
    [
        (101, 2, 100, None),
        (4, 2, 4, None),
        (5, 2, 4, None),
        (3, 2, None, r"invalid segment \[0, 2\) for a signal of length 4"),
        (5, 3, None, r"invalid segment \[0, 4\) for a signal of length 6"),
        (1, 1, None, r"invalid segment \[0, 0\) for a signal of length 2"),
    ],
)
def test_window_width_is_even_and_covers_two_segments(width, min_size, stored, message):
    if message is None:
        assert Window(width=width, min_size=min_size).width == stored
    else:
        with pytest.raises(ValueError, match=message):
            Window(width=width, min_size=min_size)


@pytest.mark.parametrize("cls", CLASSES)
def test_predict_checks_fitted_then_rule_count(cls):
    search = make(cls)
    with pytest.raises(RuntimeError, match=f"^{cls.__name__} must be fitted before this operation$"):
        search.predict()
    search.fit(np.arange(30.0))
    for arguments in ({}, {"n_bkps": 1, "pen": 1.0}, {"pen": 1.0, "epsilon": 1.0}, {"n_bkps": None}):
        with pytest.raises(ValueError, match="^exactly one stopping rule must be provided$"):
            search.predict(**arguments)
    assert search.predict(n_bkps=None, pen=1e9, epsilon=None) == [30]


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize(
    "rule, message",
    [
        ({"pen": 0.0}, "penalty must be finite and positive, got 0"),
        ({"pen": -0.0}, "penalty must be finite and positive, got -0"),
        ({"pen": -2.5}, "penalty must be finite and positive, got -2.5"),
        ({"pen": float("inf")}, "penalty must be finite and positive, got inf"),
        ({"pen": float("nan")}, "penalty must be finite and positive, got NaN"),
        ({"epsilon": -1.0}, "reconstruction budget must be finite and nonnegative, got -1"),
        ({"epsilon": float("inf")}, "reconstruction budget must be finite and nonnegative, got inf"),
        ({"epsilon": float("nan")}, "reconstruction budget must be finite and nonnegative, got NaN"),
    ],
)
def test_invalid_rule_values(cls, rule, message):
    # A one-sample signal is too short for min_size 2: the value check comes first.
    search = make(cls).fit(np.zeros(1))
    with pytest.raises(ValueError, match=f"^{message}$"):
        search.predict(**rule)


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("rule", [{"n_bkps": 1}, {"pen": 1.0}, {"epsilon": 0.0}])
def test_signal_shorter_than_min_size_reports_the_segment(cls, rule):
    search = make(cls, min_size=4).fit(np.arange(3.0))
    with pytest.raises(ValueError, match=r"^segment \[0, 3\) has length 3, below minimum 4$"):
        search.predict(**rule)


@pytest.mark.parametrize("cls", CLASSES)
def test_unsplittable_signal(cls):
    # 9 samples, min_size 5: no admissible split, no window fits (width 10).
    signal = np.array([0.0, 5.0, 0.0, 5.0, 0.0, 5.0, 0.0, 5.0, 0.0])
    search = make(cls, min_size=5, jump=1).fit(signal)
    assert search.predict(n_bkps=0) == [9]
    assert search.predict(pen=1e-6) == [9]
    assert search.predict(epsilon=0.0) == [9]
    with pytest.raises(ValueError, match="^cannot segment 9 samples into 1 changes with min_size=5 and jump=1$"):
        search.predict(n_bkps=1)


@pytest.mark.parametrize("cls", CLASSES)
def test_more_changes_than_the_grid_allows(cls):
    # Grid positions 5, 10, ..., 35 allow at most 7 changes.
    search = make(cls).fit(np.random.default_rng(1).normal(size=40))
    with pytest.raises(ValueError, match="^cannot segment 40 samples into 8 changes with min_size=2 and jump=5$"):
        search.predict(n_bkps=8)


def clean_signal(d):
    rng = np.random.default_rng(11)
    truth = [300, 700, 1000, 1500, 1800]
    levels = rng.permutation(np.arange(len(truth)) * 4.0)
    signal = np.concatenate([np.full((b - a, d), level) for a, b, level in zip([0] + truth[:-1], truth, levels)])
    return signal + rng.normal(scale=0.5, size=signal.shape), truth


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("d", [1, 3])
def test_finds_well_separated_changes(cls, d):
    signal, truth = clean_signal(d)
    assert make(cls, width=100, min_size=2, jump=5).fit_predict(signal, n_bkps=len(truth) - 1) == truth


@pytest.mark.parametrize("cls", CLASSES)
def test_failed_fit_keeps_the_previous_fit(cls):
    search = make(cls, jump=1).fit(np.repeat([0.0, 10.0], 10))
    with pytest.raises(ValueError):
        search.fit(np.array([0.0, np.nan, 1.0]))
    assert search.is_fitted
    assert search.predict(n_bkps=1) == [10, 20]
    with pytest.raises(ValueError):
        search.fit_predict(np.array([[np.inf]]), n_bkps=1)
    assert search.predict(n_bkps=1) == [10, 20]


@pytest.mark.parametrize("cls", CLASSES)
def test_failed_prediction_keeps_the_new_fit(cls):
    search = make(cls, jump=1).fit(np.zeros(8))
    assert search.fit_predict(np.repeat([0.0, 10.0], 10), n_bkps=1) == [10, 20]
    with pytest.raises(ValueError, match="exactly one stopping rule"):
        search.fit_predict(np.repeat([0.0, 10.0], 15))
    assert search.predict(n_bkps=1) == [15, 30]


@pytest.mark.parametrize("cls", CLASSES)
def test_threads_predict_on_one_fitted_object(cls):
    signal, truth = clean_signal(1)
    search = make(cls, width=100).fit(np.tile(signal, (20, 1)))
    expected = search.predict(pen=50.0)
    results, errors = [], []

    def work():
        try:
            for _ in range(3):
                results.append(search.predict(pen=50.0))
        except Exception as error:  # pragma: no cover - reported below
            errors.append(error)

    threads = [threading.Thread(target=work) for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert results == [expected] * 6
