"""Builds a search object from the arguments of the one-call functions
(`detect`, `default_penalty`, `penalty_path`): routes each parameter to the
constructor, to `fit` or to the cost model, and fills in the defaults those
functions use. What a search and a model accept is read from the module's
lists (`_methods`)."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np

from . import _tarnwell
from ._methods import SearchInfo, model_facts, search_info

__all__ = ["CostChoice", "build_estimator", "configured_model", "default_min_size", "with_detect_defaults"]

CostChoice = Callable[[Any], dict[str, Any]]
"""Given the fitted search, the keywords that cost a segmentation as it does."""

def configured_model(model: Any, parameters: dict[str, Any]) -> Any:
    """The cost object of `model` (a name or a cost object) with `parameters`
    set: detect(x, model="ar", order=2) searches with CostAR(order=2)."""
    if isinstance(model, str):
        cls = getattr(_tarnwell, model_facts(model)["class_name"])
        return cls(**parameters)
    return type(model)(**{**model.get_params(deep=False), **parameters})


def _route(info: SearchInfo, model: Any, params: dict[str, Any]) -> tuple[dict[str, Any], dict[str, Any]]:
    constructor: dict[str, Any] = {}
    fit: dict[str, Any] = {}
    model_parameters: dict[str, Any] = {}
    if model is not None:
        if not info.takes_model:
            hint = " (choose its kernel with kernel=)" if "kernel" in info.constructor else ""
            raise ValueError(f"{info.name} has no model parameter{hint}")
        constructor["model"] = model
    chosen = model if model is not None else info.default_model if info.takes_model else None
    own = tuple(model_facts(chosen)["parameters"]) if info.takes_model else ()
    for key, value in params.items():
        if key in info.constructor:
            constructor[key] = value
        elif key in info.fit:
            fit[key] = value
        elif key in own:
            model_parameters[key] = value
        else:
            accepted = ", ".join(p for p in (*info.constructor, *info.fit, *own) if p != "model") or "none"
            raise TypeError(f"{info.name} takes no parameter {key!r}; its parameters: {accepted}")
    if model_parameters:
        if constructor.get("custom_cost") is not None:
            raise ValueError(f"{', '.join(model_parameters)} configure a model, but custom_cost replaces the model")
        constructor["model"] = configured_model(chosen, model_parameters)
    if fit.get("weights") is not None:
        fit["weights"] = np.ascontiguousarray(fit["weights"], dtype=np.float64)
    return constructor, fit


def default_min_size(model: Any, n_features: int = 1) -> int:
    """The shortest segment `detect` allows by default for a model (a name,
    a cost object, or None for Pelt's default model): the shortest segment on which the
    model's fit says something, as its descriptor declares (two samples for
    the models of a level or a distribution, more for the regressions and
    the covariance). A custom cost reports its own minimum."""
    chosen = model if model is not None else search_info("pelt").default_model
    return int(model_facts(chosen, n_features)["default_min_size"])


def with_detect_defaults(info: SearchInfo, params: dict[str, Any], n_features: int = 1) -> dict[str, Any]:
    """The constructor's keywords with detect's defaults added where the caller
    gave none: jump=1 (exact positions) and, for a model, min_size from
    `default_min_size`. The classes keep their own defaults; only the
    one-call functions use these."""
    completed = dict(params)
    if "jump" in info.constructor and completed.get("jump") is None:
        completed["jump"] = 1
    if info.takes_model and completed.get("min_size") is None and completed.get("custom_cost") is None:
        completed["min_size"] = default_min_size(completed.get("model", info.default_model), n_features)
    return completed


def build_estimator(info: SearchInfo, model: Any, params: dict[str, Any],
                    n_features: int = 1) -> tuple[Any, dict[str, Any], CostChoice]:
    constructor, fit = _route(info, model, params)
    constructor = with_detect_defaults(info, constructor, n_features)
    estimator = info.cls(**constructor)

    def choice(fitted: Any) -> dict[str, Any]:
        if getattr(fitted, "uses_custom_cost", False):
            return {"custom_cost": constructor["custom_cost"]}
        if info.takes_model:
            return {"model": fitted.model}
        if isinstance(getattr(fitted, "kernel", None), str):
            return {"kernel": fitted.kernel, "gamma": getattr(fitted, "gamma", None)}
        return {"weights": fit.get("weights")}

    return estimator, fit, choice
