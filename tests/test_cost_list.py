"""The compiled cost list and list of searches reach every layer: a model
added to the cost list (with its class) is served by detect, the default
penalty, result costs, the command line, pickling, the documentation and the
stubs, and a search added to the list of searches is registered and routed
by its capabilities, or a test here fails."""

import json
import pickle
import re
from pathlib import Path

import numpy as np
import pytest

import tarnwell
from tarnwell import _tarnwell
from tarnwell._methods import KNOWN_MODELS, available_searches
from tarnwell.cli import main as cli_main

ROOT = Path(__file__).resolve().parent.parent
MODELS = _tarnwell._cost_models()
NAMES = [entry["name"] for entry in MODELS]
SEARCH_LIST = _tarnwell._searches()
SEARCHES = [entry["name"].lower() for entry in SEARCH_LIST if entry["model"]]


def _signal(entry):
    rng = np.random.default_rng(len(entry["name"]))
    d = 2 if entry["name"] == "linear" else 1  # linear regresses the first feature on the others
    x = rng.standard_normal((120, d))
    x[60:, 0] += 6.0
    return x


def _penalized(method):
    return "pen" in tarnwell._methods.search_info(method).rules


def test_names_classes_and_messages_follow_the_list():
    assert KNOWN_MODELS == {name: e["class_name"] for e in MODELS for name in e["names"]}
    for entry in MODELS:
        cls = getattr(_tarnwell, entry["class_name"])
        assert entry["class_name"] in _tarnwell.__all__ and cls.__name__ == entry["class_name"]
        assert entry["min_size"] >= 1 and entry["scale"] in ("squared", "absolute", "likelihood")
        assert entry["use_when"] and entry["segment_parameters"] >= 1
    with pytest.raises(ValueError) as error:
        tarnwell.Pelt(model="no such model")
    assert re.findall(r"\b[a-z0-9]+\b", str(error.value).split("supported models:")[1]) == NAMES
    model_doc = tarnwell.Binseg.__doc__.split("model:")[1].split("\n")[0]
    for name in NAMES:
        assert f'"{name}"' in model_doc


def test_stub_declares_every_class_and_function():
    stub = (ROOT / "python" / "tarnwell" / "_tarnwell.pyi").read_text()
    declared = set(re.findall(r"^(?:class|def) (\w+)", stub, re.MULTILINE))
    declared |= set(re.findall(r"^(\w+) = ", stub, re.MULTILINE))
    public = {name for name in _tarnwell.__all__ if name != "__version__"}
    private = {name for name in dir(_tarnwell) if name.startswith("_") and callable(getattr(_tarnwell, name))
               and not name.startswith("__")}
    assert public | private <= declared
    assert set(available_searches()) >= set(SEARCHES)


def test_the_list_of_searches_is_registered_in_order_with_its_capabilities():
    import inspect

    names = [entry["name"] for entry in SEARCH_LIST]
    classes = [name for name in _tarnwell.__all__ if name in names]
    assert classes == names and len(set(names)) == len(names)
    for entry in SEARCH_LIST:
        cls = getattr(_tarnwell, entry["name"])
        constructor = inspect.signature(cls).parameters
        predict = inspect.signature(cls.predict).parameters
        for capability, parameter in (("penalized", "pen"), ("fixed_count", "n_bkps"), ("threshold", "epsilon")):
            assert entry[capability] == (parameter in predict), (entry["name"], capability)
        assert entry["custom_cost"] == ("custom_cost" in constructor)
        assert entry["model"] == ("model" in constructor)
        assert entry["penalty_path"] == (entry["exact"] and entry["penalized"])


@pytest.mark.parametrize("entry", SEARCH_LIST, ids=lambda e: e["name"])
def test_the_penalty_path_takes_exactly_the_exact_penalized_searches(entry):
    x = np.repeat([0.0, 4.0], 40) + np.random.default_rng(0).normal(size=80)
    if entry["penalty_path"]:
        assert len(tarnwell.penalty.penalty_path(x, 0.5, 500.0, method=entry["name"])) >= 2
    else:
        with pytest.raises(ValueError, match="exact penalized search"):
            tarnwell.penalty.penalty_path(x, 0.5, 500.0, method=entry["name"])


@pytest.mark.parametrize("method", SEARCHES)
@pytest.mark.parametrize("name", NAMES)
def test_every_model_in_every_search(name, method, tmp_path):
    entry = next(e for e in MODELS if e["name"] == name)
    x = _signal(entry)
    rule = {"pen": 50.0} if _penalized(method) else {"n_bkps": 1}
    result = tarnwell.detect(x, method=method, model=name, warn=False, **rule)
    assert result.breakpoints[-1] == x.shape[0]
    assert np.isfinite(result.cost)
    if _penalized(method) and entry["penalty"]["unit"] == "none" and method not in ("pelt", "binseg"):
        with pytest.raises(ValueError, match="no default penalty"):
            tarnwell.detect(x, method=method, model=name, warn=False)
    elif _penalized(method):
        default = tarnwell.detect(x, method=method, model=name, warn=False)
        assert default.breakpoints[-1] == x.shape[0] and np.isfinite(default.cost)
    estimator = tarnwell._methods.search_info(method).cls(model=name).fit(x)
    again = pickle.loads(pickle.dumps(estimator))
    assert again.predict(**rule) == estimator.predict(**rule)
    path = tmp_path / "signal.npy"
    np.save(path, x)
    rule_flag = ["--pen", "50"] if _penalized(method) else ["--n-bkps", "1"]
    assert cli_main([str(path), "--method", method, "--model", name, "--json", *rule_flag]) == 0


def test_kernel_and_l1_potts_costs_come_from_their_classes():
    rng = np.random.default_rng(3)
    x = np.round(rng.standard_normal(200) + np.repeat([0.0, 3.0], 100))
    for kernel in ("linear", "rbf", "cosine"):
        result = tarnwell.detect(x, method="kernelcpd", kernel=kernel, n_bkps=1)
        search = tarnwell.KernelCPD(kernel=kernel, backend="full").fit(x)
        assert result.cost == pytest.approx(search.sum_of_costs(result.breakpoints), rel=1e-12)
    result = tarnwell.detect(x, method="l1potts", pen=2.0)
    assert result.cost == tarnwell.L1Potts().fit(x).sum_of_costs(result.breakpoints)
    with pytest.raises(ValueError):
        tarnwell.L1Potts().fit(x).sum_of_costs([150, 100, 200])
