"""scikit-learn's estimator conventions on every compiled class, and the
sktime adapter under sktime's own checks."""

import inspect
import pickle
import re

import numpy as np
import pytest

import tarnwell

sklearn_base = pytest.importorskip("sklearn.base")

SIGNAL = np.repeat([0.0, 3.0, -1.0], 40)[:, None] + np.random.default_rng(4).normal(0, 0.3, (120, 1))


class SquaredError:
    """A custom cost with parameters of its own."""

    def __init__(self, scale=1.0):
        self.scale = scale
        self.min_size = 2

    def get_params(self, deep=True):
        return {"scale": self.scale}

    def set_params(self, **params):
        self.scale = params.get("scale", self.scale)
        return self

    def fit(self, signal):
        self.y = np.asarray(signal)[:, 0]
        return self

    def error(self, start, end):
        part = self.y[start:end]
        return self.scale * float(((part - part.mean()) ** 2).sum())


# Every class with non-default arguments (large numbers and fresh strings
# are new objects, as clone's identity check needs), one refused value.
CASES = [
    (tarnwell.CostL2, {}, None),
    (tarnwell.CostL1, {}, None),
    (tarnwell.CostRank, {}, None),
    (tarnwell.CostNormal, {"ridge": 0.25}, {"ridge": -1.0}),
    (tarnwell.CostLinear, {}, None),
    (tarnwell.CostAR, {"order": 3}, {"order": 0}),
    (tarnwell.CostCLinear, {}, None),
    (tarnwell.CostMahalanobis, {"metric": np.eye(1) * 2.0}, {"metric": np.ones(3)}),
    (tarnwell.Pelt, {"model": "".join(["l", "1"]), "min_size": 3, "jump": 1000}, {"jump": 0}),
    (tarnwell.Pelt, {"custom_cost": SquaredError(2.0), "jump": 1}, {"min_size": 0}),
    (tarnwell.Dynp, {"model": "rank", "jump": 2, "max_memory_bytes": 10**7}, {"max_memory_bytes": 0}),
    (tarnwell.Binseg, {"model": "normal", "min_size": 5, "jump": 3}, {"model": "nosuch"}),
    (tarnwell.BottomUp, {"jump": 300}, {"jump": 0}),
    (tarnwell.Window, {"width": 1000, "jump": 1}, {"width": 2, "min_size": 5}),
    (tarnwell.L1Potts, {}, None),
    (tarnwell.KernelCPD, {"kernel": "linear", "gamma": 0.5, "seed": 10**6}, {"backend": "nosuch"}),
]
IDS = [f"{cls.__name__}-{i}" for i, (cls, _, _) in enumerate(CASES)]


@pytest.mark.parametrize("cls, arguments, refused", CASES, ids=IDS)
def test_clone_and_parameter_round_trips(cls, arguments, refused):
    estimator = cls(**arguments)
    params = estimator.get_params(deep=False)
    assert set(params) == set(inspect.signature(cls).parameters)
    for name, value in arguments.items():
        assert params[name] is value                      # what was given, as given
    signal = SIGNAL if cls is not tarnwell.KernelCPD else np.c_[SIGNAL, SIGNAL]
    if cls in (tarnwell.CostLinear,):
        signal = np.c_[SIGNAL, np.arange(SIGNAL.shape[0], dtype=float)]
    estimator.fit(signal)
    copy = sklearn_base.clone(estimator)                  # raises if a parameter is not reported back
    assert type(copy) is cls and not copy.is_fitted and repr(copy).split("(")[0] == cls.__name__
    assert pickle.loads(pickle.dumps(copy)).get_params(deep=False).keys() == params.keys()
    # set_params: the same values keep the object's behaviour; it is unfitted afterwards
    # unless nothing was given.
    assert estimator.set_params() is estimator and estimator.is_fitted
    assert estimator.set_params(**copy.get_params(deep=False)) is estimator
    assert estimator.is_fitted == (not params)
    assert repr(estimator) == repr(copy) or not params
    if refused is not None:
        with pytest.raises((ValueError, TypeError, OverflowError)) as constructing:
            cls(**{**arguments, **refused})
        estimator.fit(signal)
        with pytest.raises(type(constructing.value), match=re.escape(str(constructing.value))):
            estimator.set_params(**refused)
        assert estimator.is_fitted and repr(estimator) == repr(copy)   # unchanged by the refusal
    with pytest.raises(ValueError, match="invalid parameter 'colour'"):
        estimator.set_params(colour="red")
    with pytest.raises(TypeError):
        estimator.set_params(1)


def test_nested_parameters_of_a_custom_cost():
    cost = SquaredError(2.0)
    search = tarnwell.Pelt(custom_cost=cost, jump=1)
    assert search.get_params()["custom_cost__scale"] == 2.0
    assert "custom_cost__scale" not in search.get_params(deep=False)
    search.set_params(custom_cost__scale=5.0, min_size=4)
    assert cost.scale == 5.0 and search.min_size == 4 and search.get_params()["custom_cost"] is cost
    with pytest.raises(ValueError, match="model__x"):
        tarnwell.Pelt().set_params(model__x=1)


@pytest.mark.parametrize("cls, text", [
    (tarnwell.Binseg, 'Binseg(model="l2", min_size=2, jump=5)'),
    (tarnwell.BottomUp, 'BottomUp(model="l2", min_size=2, jump=5)'),
    (tarnwell.Window, 'Window(width=100, model="l2", min_size=2, jump=5)'),
])
def test_search_representations(cls, text):
    assert repr(cls()) == text


def test_sktime_detector_passes_sktime_checks():
    pytest.importorskip("sktime")
    from sktime.utils.estimator_checks import check_estimator

    from tarnwell.sktime import TarnwellDetector

    results = check_estimator(TarnwellDetector, raise_exceptions=False)
    failed = {name: outcome for name, outcome in results.items() if outcome != "PASSED"}
    assert results and not failed, failed
    frame = __import__("pandas").DataFrame({"a": SIGNAL[:, 0]})
    found = TarnwellDetector("dynp", n_bkps=2).fit(frame).predict(frame)
    assert list(found["ilocs"]) == tarnwell.detect(SIGNAL, "dynp", n_bkps=2).change_positions
