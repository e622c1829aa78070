"""The compiled module's two lists, read once: the searches with their
capabilities (`_tarnwell._searches()`) and the cost models with their facts
(`_tarnwell._cost_models()`, `_tarnwell._cost_facts()`). A search or a model
added to the module is served without changes here."""

from __future__ import annotations

import inspect
from dataclasses import dataclass
from typing import Any

from . import _tarnwell

__all__ = ["KNOWN_MODELS", "SearchInfo", "available_searches", "cost_models", "model_entry", "model_facts",
           "is_cost_object", "normalise", "own_cost_penalty", "search_info"]

# predict's stopping rules, by the capability that accepts each.
_RULE_OF_CAPABILITY = {"fixed_count": "n_bkps", "penalized": "pen", "threshold": "epsilon"}
STOPPING_RULES = tuple(_RULE_OF_CAPABILITY.values())


def cost_models(n_features: int = 1) -> tuple[dict[str, Any], ...]:
    """The compiled module's cost list: one dict per model, for its default
    parameters (see `_tarnwell._cost_models`)."""
    return tuple(_tarnwell._cost_models(n_features))


def model_facts(model: Any, n_features: int = 1) -> dict[str, Any]:
    """The cost list's entry of a model name (any case, aliases included) or
    of a built-in cost object, with that object's parameters."""
    return dict(_tarnwell._cost_facts(model, n_features))


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


# The built-in cost classes, whose objects a model-based search takes as its model.
_COST_CLASSES = tuple({getattr(_tarnwell, entry["class_name"]) for entry in cost_models()})


def is_cost_object(model: Any) -> bool:
    """Whether `model` is a built-in cost object (a configured model)."""
    return isinstance(model, _COST_CLASSES)


def normalise(name: str) -> str:
    """Lower-cases a name and drops separators: "Bottom_Up" -> "bottomup"."""
    return name.lower().replace("_", "").replace("-", "").replace(" ", "")


@dataclass(frozen=True)
class SearchInfo:
    """What one search class accepts, and what it can do (its entry in the
    list of searches)."""

    cls: type
    constructor: tuple[str, ...]
    fit: tuple[str, ...]
    rules: tuple[str, ...]
    capabilities: dict[str, Any]

    @property
    def name(self) -> str:
        return self.cls.__name__

    @property
    def takes_model(self) -> bool:
        return bool(self.capabilities["model"])

    @property
    def default_model(self) -> Any:
        """The model the class uses when none is given (its signature's default)."""
        return inspect.signature(self.cls).parameters["model"].default

    @property
    def has_penalty_path(self) -> bool:
        """Exact and penalized: every optimum over a range of penalties can be traced."""
        return bool(self.capabilities["penalty_path"])



def own_cost_penalty(info: SearchInfo, key: str, n_features: int = 1) -> dict[str, Any] | None:
    """The default penalty's rule of a cost a search brings itself (a
    kernel's by its name, or the search's own under the search's name), for
    `n_features` features; None when it has none by that name."""
    for entry in _tarnwell._searches(n_features):
        if entry["name"] == info.name:
            rule = entry["own_cost_penalties"].get(key)
            return None if rule is None else dict(rule)
    return None


def _parameters(function: Any, skip: int) -> tuple[str, ...]:
    try:
        parameters = list(inspect.signature(function).parameters)
    except (TypeError, ValueError):  # no text signature: accept nothing extra
        return ()
    return tuple(parameters[skip:])


# The list of searches, in registration order, keyed by normalised name.
_SEARCHES = {normalise(entry["name"]): dict(entry) for entry in _tarnwell._searches()}

# What each search class accepts, read from its text signatures on first use:
# parsing them costs a detect call on 10^4 samples a third of its search.
_SEARCH_INFO: dict[type, SearchInfo] = {}


def available_searches() -> dict[str, type]:
    """The search classes of this build, keyed by their normalised names."""
    return {key: getattr(_tarnwell, entry["name"]) for key, entry in _SEARCHES.items()}


def search_info(method: str | type) -> SearchInfo:
    """Resolves a method name ("pelt", "BottomUp", "kernel_cpd") or class."""
    if isinstance(method, type):
        key = normalise(method.__name__)
        if key not in _SEARCHES or getattr(_tarnwell, _SEARCHES[key]["name"]) is not method:
            raise ValueError(f"{method.__name__} is not a search of tarnwell")
    else:
        if not isinstance(method, str):
            raise TypeError(f"method must be a name such as 'pelt', got {type(method).__name__}")
        key = normalise(method)
        if key not in _SEARCHES:
            names = ", ".join(entry["name"] for entry in _SEARCHES.values())
            raise ValueError(f"unknown method {method!r}; available methods: {names}")
    return _info(key)


def _info(key: str) -> SearchInfo:
    entry = _SEARCHES[key]
    cls = getattr(_tarnwell, entry["name"])
    info = _SEARCH_INFO.get(cls)
    if info is None:
        info = SearchInfo(
            cls=cls,
            constructor=_parameters(cls, 0),
            fit=tuple(p for p in _parameters(getattr(cls, "fit"), 1) if p != "signal"),
            rules=tuple(rule for capability, rule in _RULE_OF_CAPABILITY.items() if entry[capability]),
            capabilities=entry,
        )
        _SEARCH_INFO[cls] = info
    return info
