"""A configured cost object runs natively in every model-based search, with
the breakpoints of the same object run as a Python cost; Python costs run in
every search that takes them; the object's parameters travel with the search
(repr, parameters, pickling, cloning); every segment's fitted parameters
come from the model that found it."""

import pickle

import numpy as np
import pytest
from scipy.stats import rankdata

import tarnwell
from tarnwell import _tarnwell

MODEL_SEARCHES = [entry["name"] for entry in _tarnwell._searches() if entry["model"]]
RULES = {"Pelt": [{"pen": 4.0}, {"pen": 40.0}], "Dynp": [{"n_bkps": 2}]}
GREEDY_RULES = [{"n_bkps": 2}, {"pen": 20.0}]


def metric(d, seed=0):
    a = np.random.default_rng(seed).normal(size=(d, d))
    return a @ a.T + d * np.eye(d)


# (what the native search is given, the same cost as an object, features)
CONFIGURATIONS = [
    ("l2", lambda d: tarnwell.CostL2(), 1),
    (tarnwell.CostL1(), lambda d: tarnwell.CostL1(), 1),
    (tarnwell.CostRank(), lambda d: tarnwell.CostRank(), 2),
    (tarnwell.CostNormal(ridge=1e-3), lambda d: tarnwell.CostNormal(ridge=1e-3), 2),
    (tarnwell.CostLinear(), lambda d: tarnwell.CostLinear(), 2),
    (tarnwell.CostAR(order=2), lambda d: tarnwell.CostAR(order=2), 1),
    ("ar", lambda d: tarnwell.CostAR(), 1),
    (tarnwell.CostCLinear(), lambda d: tarnwell.CostCLinear(), 1),
    (tarnwell.CostMahalanobis(metric(2)), lambda d: tarnwell.CostMahalanobis(metric(2)), 2),
]


class AsPythonCost:
    """A built-in cost object behind the Python custom-cost protocol: the
    same segment costs, one callback each."""

    def __init__(self, cost, min_size):
        self.cost, self.min_size = cost, min_size

    def fit(self, signal):
        self.cost.fit(signal)

    def error(self, start, end):
        return self.cost.error(start, end)


def outcome(search, rule):
    """The breakpoints, or the refusal (Window may find fewer peaks than n_bkps)."""
    try:
        return search.predict(**rule)
    except ValueError as error:
        return str(error)


def signal(seed, n, d):
    rng = np.random.default_rng(seed)
    cuts = np.sort(rng.choice(np.arange(12, n - 12), size=2, replace=False))
    levels = np.repeat(rng.normal(scale=3, size=(3, d)), np.diff([0, *cuts, n]), axis=0)
    return levels + rng.normal(size=(n, d)) * rng.uniform(0.5, 2, size=(3, d)).repeat(np.diff([0, *cuts, n]), axis=0)


@pytest.mark.parametrize("search", MODEL_SEARCHES)
@pytest.mark.parametrize("native, make, d", CONFIGURATIONS, ids=lambda c: repr(c) if not callable(c) else "")
def test_native_object_equals_the_same_object_as_a_python_cost(search, native, make, d):
    cls = getattr(tarnwell, search)
    extra = {"width": 20} if search == "Window" else {}
    min_size = tarnwell.detection.default_min_size(native, d)
    for seed in range(3):
        x = signal(seed, 70, d)
        fast = cls(model=native, min_size=min_size, jump=1, **extra).fit(x)
        slow = cls(custom_cost=AsPythonCost(make(d), min_size), min_size=min_size, jump=1, **extra).fit(x)
        assert not fast.uses_custom_cost and slow.uses_custom_cost
        for rule in RULES.get(search, GREEDY_RULES):
            assert outcome(fast, rule) == outcome(slow, rule), (seed, rule)


@pytest.mark.parametrize("search", ["Binseg", "BottomUp", "Window"])
def test_greedy_searches_raise_the_python_costs_errors_and_refit_as_before(search):
    cls = getattr(tarnwell, search)

    class Failing(AsPythonCost):
        def error(self, start, end):
            raise ZeroDivisionError("inside the cost")

    x = signal(1, 60, 1)
    with pytest.raises(ZeroDivisionError, match="inside the cost"):
        cls(custom_cost=Failing(tarnwell.CostL2(), 2), jump=1).fit(x).predict(n_bkps=1)
    fitted = cls(custom_cost=AsPythonCost(tarnwell.CostL2(), 2), jump=1).fit(x)
    with pytest.raises(ValueError):
        fitted.fit(np.full(60, np.nan))
    assert fitted.is_fitted and fitted.model == "custom" and not fitted.uses_batch_callback


@pytest.mark.parametrize("search", MODEL_SEARCHES)
def test_the_objects_parameters_travel_with_the_search(search):
    from sklearn.base import clone

    cls = getattr(tarnwell, search)
    given = tarnwell.CostAR(order=3)
    estimator = cls(model=given)
    assert repr(estimator).startswith(f"{search}(") and "model=CostAR(order=3)" in repr(estimator)
    assert estimator.get_params()["model"] is given and estimator.get_params()["model__order"] == 3
    assert type(estimator.model) is tarnwell.CostAR and estimator.model.order == 3 and estimator.model is not given
    assert estimator.min_size == max(2, given.min_size)
    x = signal(2, 80, 1)
    rule = RULES.get(search, [{"pen": 20.0}])[0]
    expected = estimator.fit(x).predict(**rule)
    for copy in (pickle.loads(pickle.dumps(estimator)), clone(estimator).fit(x)):
        assert copy.model.order == 3 and copy.predict(**rule) == expected
    given.set_params(order=6)  # the search copied the parameters: the object is the caller's
    assert estimator.model.order == 3
    estimator.set_params(model__order=8)
    assert estimator.model.order == 8 and estimator.min_size == 9 and not estimator.is_fitted


def test_a_model_is_a_name_or_a_cost_object():
    with pytest.raises(TypeError, match="model.*CostAR.*custom_cost"):
        tarnwell.Pelt(model=AsPythonCost(tarnwell.CostL2(), 2))
    with pytest.raises(ValueError, match="ridge must be finite and positive"):
        tarnwell.Binseg(model=tarnwell.CostNormal(ridge=1.0)).set_params(model__ridge=-1.0)
    x = signal(3, 90, 1)
    fitted_object = tarnwell.CostL1().fit(x)
    assert tarnwell.Pelt(model=fitted_object, jump=1).fit(x).predict(10.0) == \
        tarnwell.Pelt(model="l1", jump=1).fit(x).predict(10.0)
    assert tarnwell.Pelt(model=tarnwell.CostL2()).fit(x).uses_pelt_pruning


def test_detect_takes_a_cost_object_or_the_models_parameters():
    x = np.sin(np.arange(400.0) / 3) + np.r_[np.zeros(200), np.full(200, 2.0)]
    by_keyword = tarnwell.detect(x, model="ar", order=2, pen=5.0, warn=False)
    by_object = tarnwell.detect(x, model=tarnwell.CostAR(order=2), pen=5.0, warn=False)
    assert by_keyword.breakpoints == by_object.breakpoints and repr(by_keyword.model) == "CostAR(order=2)"
    assert by_keyword.cost == pytest.approx(tarnwell.CostAR(order=2).fit(x).sum_of_costs(by_keyword.breakpoints))
    assert tarnwell.detect(x, model=tarnwell.CostNormal(ridge=1e-3)).model.ridge == 1e-3
    with pytest.raises(TypeError, match="Pelt takes no parameter 'ridge'; its parameters: .*order"):
        tarnwell.detect(x, model="ar", ridge=1.0)
    with pytest.raises(ValueError, match="custom_cost replaces the model"):
        tarnwell.detect(x, model="ar", order=2, custom_cost=AsPythonCost(tarnwell.CostL2(), 2), pen=1.0)


def _rows(x, cuts):
    return [x[a:b] for a, b in zip([0, *cuts[:-1]], cuts)]


def _ar_fit(x, a, b, order):
    n, d = x.shape
    lags = [np.vstack([np.zeros((lag, d)), x[:n - lag]]) for lag in range(1, order + 1)]
    design = np.hstack([np.ones((n, 1)), *lags])[a:b]
    return np.linalg.lstsq(design, x[a:b], rcond=None)[0].T.ravel()


def _expected(model, x, cuts):
    segments = _rows(x, cuts)
    if model in ("l2", "mahalanobis"):
        return [s.mean(axis=0) for s in segments]
    if model == "l1":
        return [np.median(s, axis=0) for s in segments]
    if model == "rank":
        ranks = np.column_stack([rankdata(c) for c in x.T]) - (len(x) + 1) / 2
        return [r.mean(axis=0) for r in _rows(ranks, cuts)]
    if model == "normal":
        upper = np.triu_indices(x.shape[1])
        return [np.r_[s.mean(axis=0), (np.cov(s, rowvar=False) + 1e-6 * np.eye(x.shape[1]))[upper]] for s in segments]
    if model == "linear":
        return [np.linalg.lstsq(s[:, 1:], s[:, 0], rcond=None)[0] for s in segments]
    if model == "ar":
        return [_ar_fit(x, a, b, 4) for a, b in zip([0, *cuts[:-1]], cuts)]
    if model == "clinear":  # the joining line's slope
        anchors = [0, *(c - 1 for c in cuts[:-1])]
        return [(x[b - 1] - x[a]) / (b - 1 - a) for a, b in zip(anchors, cuts)]
    pytest.skip(f"no NumPy fit of {model!r} written here yet")


@pytest.mark.parametrize("entry", _tarnwell._cost_models(), ids=lambda e: e["name"])
def test_segment_parameters_are_the_direct_fit_of_each_segment(entry):
    name = entry["name"]
    rng = np.random.default_rng(4)
    x = np.cumsum(rng.normal(size=(160, 2)), axis=0) if name in ("ar", "clinear") else rng.normal(size=(160, 2))
    x[70:] += [3.0, -1.0]
    result = tarnwell.detect(x, model=name, n_bkps=2, method="dynp", warn=False)
    fitted = result.segment_parameters()
    assert list(fitted) == [n.format(0, 1) for n in _tarnwell._cost_facts(name, 2)["parameter_names"]]
    table = np.column_stack(list(fitted.values()))
    np.testing.assert_allclose(table, np.array(_expected(name, x, result.breakpoints)), rtol=1e-9, atol=1e-9)


def test_segment_parameters_of_pandas_input_and_of_other_searches():
    import pandas as pd

    index = pd.date_range("2024-01-01", periods=120, freq="h")
    frame = pd.DataFrame({"temp": np.r_[np.zeros(60), np.full(60, 5.0)], "load": np.arange(120.0) % 3},
                         index=index)
    table = tarnwell.detect(frame, n_bkps=1, method="binseg").segment_parameters()
    assert list(table.columns) == ["mean[temp]", "mean[load]"] and list(table.index) == [index[0], index[60]]
    assert table["mean[temp]"].tolist() == [0.0, 5.0]
    by_object = tarnwell.detect(frame, model=tarnwell.CostAR(order=1), n_bkps=1, method="dynp", warn=False)
    assert "lag1[load->temp]" in by_object.segment_parameters().columns
    with pytest.raises(ValueError, match="no fitted parameters"):
        tarnwell.detect(frame["temp"], method="kernelcpd", n_bkps=1).segment_parameters()
