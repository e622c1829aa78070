"""Finds the search classes of the compiled module by name and reads what each
accepts (constructor and fit parameters, stopping rules) from its signature,
so a search added to the module is served without changes here."""

from __future__ import annotations

import inspect
from dataclasses import dataclass
from typing import Any

from . import _tarnwell

__all__ = ["KNOWN_MODELS", "SearchInfo", "available_searches", "cost_class", "cost_models", "model_entry",
           "normalise", "search_info"]

STOPPING_RULES = ("n_bkps", "pen", "epsilon")

# Every search the package knows about, so that a name that exists in some
# builds but not this one gets a precise message instead of "unknown".
_KNOWN_SEARCHES = ("Pelt", "Dynp", "Binseg", "BottomUp", "Window", "L1Potts", "KernelCPD")



def cost_models(n_features: int = 1) -> tuple[dict[str, Any], ...]:
    """The compiled module's cost list: one dict per model (its names,
    class, parameters, minimum segment length, the values a new segment adds
    for `n_features` features, how its costs follow the signal's scale and
    when to use it)."""
    return tuple(_tarnwell._cost_models(n_features))


def model_entry(model: str, n_features: int = 1) -> dict[str, Any]:
    """The cost list's entry of a model name or alias (any case)."""
    key = model.lower()
    for entry in cost_models(n_features):
        if key in entry["names"]:
            return entry
    raise ValueError(f"unknown model {model!r}; models: {', '.join(sorted(KNOWN_MODELS))}")


# Model names accepted by the searches' `model` argument, aliases included,
# and the cost class that computes the same segment cost.
KNOWN_MODELS = {name: entry["class_name"] for entry in cost_models() for name in entry["names"]}


def normalise(name: str) -> str:
    """Lower-cases a name and drops separators: "Bottom_Up" -> "bottomup"."""
    return name.lower().replace("_", "").replace("-", "").replace(" ", "")


@dataclass(frozen=True)
class SearchInfo:
    """What one search class accepts."""

    cls: type
    constructor: tuple[str, ...]
    fit: tuple[str, ...]
    rules: tuple[str, ...]

    @property
    def name(self) -> str:
        return self.cls.__name__


def _parameters(function: Any, skip: int) -> tuple[str, ...]:
    try:
        parameters = list(inspect.signature(function).parameters)
    except (TypeError, ValueError):  # no text signature: accept nothing extra
        return ()
    return tuple(parameters[skip:])


def _find_searches() -> dict[str, type]:
    found: dict[str, type] = {}
    for name in _tarnwell.__all__:
        obj = getattr(_tarnwell, name)
        if isinstance(obj, type) and all(hasattr(obj, m) for m in ("fit", "predict", "fit_predict")):
            found[normalise(name)] = obj
    return found


# The module's members are fixed once it is imported: read them once.
_SEARCHES = _find_searches()

# What each search class accepts, read from its text signatures on first use:
# parsing them costs a detect call on 10^4 samples a third of its search.
_SEARCH_INFO: dict[type, SearchInfo] = {}


def available_searches() -> dict[str, type]:
    """The search classes of this build, keyed by their normalised names."""
    return dict(_SEARCHES)


def search_info(method: str | type) -> SearchInfo:
    """Resolves a method name ("pelt", "BottomUp", "kernel_cpd") or class."""
    if isinstance(method, type):
        cls = method
    else:
        if not isinstance(method, str):
            raise TypeError(f"method must be a name such as 'pelt', got {type(method).__name__}")
        searches = _SEARCHES
        key = normalise(method)
        if key not in searches:
            names = ", ".join(cls.__name__ for cls in searches.values())
            if key in {normalise(known) for known in _KNOWN_SEARCHES}:
                raise ValueError(f"method {method!r} is not available in this build of tarnwell; "
                                 f"available methods: {names}")
            raise ValueError(f"unknown method {method!r}; available methods: {names}")
        cls = searches[key]
    return _info(cls)


def _info(cls: type) -> SearchInfo:
    info = _SEARCH_INFO.get(cls)
    if info is None:
        predict = _parameters(getattr(cls, "predict"), 1)
        info = SearchInfo(
            cls=cls,
            constructor=_parameters(cls, 0),
            fit=tuple(p for p in _parameters(getattr(cls, "fit"), 1) if p != "signal"),
            rules=tuple(rule for rule in STOPPING_RULES if rule in predict),
        )
        _SEARCH_INFO[cls] = info
    return info


def cost_class(model: str) -> type:
    """The cost class computing the segment cost of a search's `model`."""
    key = model.lower()
    if key not in KNOWN_MODELS:
        raise ValueError(f"unknown model {model!r}; models: {', '.join(sorted(set(KNOWN_MODELS)))}")
    cls = getattr(_tarnwell, KNOWN_MODELS[key], None)
    if cls is None:
        raise ValueError(f"model {model!r} is not available in this build of tarnwell")
    assert isinstance(cls, type)
    return cls
