"""Builds a search object from the arguments of the one-call functions
(`detect`, `default_penalty`, `penalty_path`): routes each parameter to the
constructor or to `fit`, and fills in the defaults those functions use."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np

from ._methods import KNOWN_MODELS, SearchInfo, model_entry

__all__ = ["CostChoice", "build_estimator", "default_min_size", "with_detect_defaults"]

CostChoice = Callable[[Any], dict[str, Any]]
"""Given the fitted search, the keywords that cost a segmentation as it does."""


def _route(info: SearchInfo, model: str | None, params: dict[str, Any]) -> tuple[dict[str, Any], dict[str, Any]]:
    constructor: dict[str, Any] = {}
    fit: dict[str, Any] = {}
    if model is not None:
        if "model" not in info.constructor:
            hint = " (choose its kernel with kernel=)" if "kernel" in info.constructor else ""
            raise ValueError(f"{info.name} has no model parameter{hint}")
        constructor["model"] = model
    for key, value in params.items():
        if key in info.constructor:
            constructor[key] = value
        elif key in info.fit:
            fit[key] = value
        else:
            accepted = ", ".join(p for p in (*info.constructor, *info.fit) if p != "model") or "none"
            raise TypeError(f"{info.name} takes no parameter {key!r}; its parameters: {accepted}")
    if fit.get("weights") is not None:
        fit["weights"] = np.ascontiguousarray(fit["weights"], dtype=np.float64)
    return constructor, fit


# -- detect's own defaults for jump and min_size ----------------------------------------------

# The order of the autoregressive cost that the model name "ar" stands for.
_AR_ORDER = int(model_entry("ar")["parameters"]["order"])


def default_min_size(model: str | None, n_features: int = 1) -> int:
    """The shortest segment `detect` allows by default for a model.

    The shortest segment on which the model's fit says something: two
    samples for the models of a level or a distribution ("l2", "l1",
    "rank", "mahalanobis" and the kernels; one sample is an outlier, not a
    segment), three for "clinear" (a line through the previous sample needs
    two more points to have a residual), one more than the coefficients of
    "linear" (d - 1 regressors: d + 1 samples), two more than the features
    for "normal" (a covariance estimate is singular below d + 1 samples),
    and 2 * (order + 1) for "ar", so the lagged regression has more equations
    than coefficients. A custom cost reports its own minimum.
    """
    key = (model or "l2").lower()
    if key == "clinear":
        return 3
    if key == "linear":
        return max(n_features + 1, 3)
    if key == "normal":
        return n_features + 2
    if key == "ar":
        return 2 * (_AR_ORDER + 1)
    if key in KNOWN_MODELS:
        return max(2, int(model_entry(key)["min_size"]))
    return 2


def with_detect_defaults(info: SearchInfo, model: str | None, params: dict[str, Any],
                         n_features: int = 1) -> dict[str, Any]:
    """`params` with detect's defaults added where the caller gave none:
    jump=1 (exact positions) and min_size from `default_min_size`. The
    classes keep their own defaults; only the one-call functions use these."""
    completed = dict(params)
    if "jump" in info.constructor and completed.get("jump") is None:
        completed["jump"] = 1
    if "min_size" in info.constructor and completed.get("min_size") is None \
            and completed.get("custom_cost") is None:
        chosen = model if "model" in info.constructor else None
        completed["min_size"] = default_min_size(chosen, n_features)
    return completed


def build_estimator(info: SearchInfo, model: str | None, params: dict[str, Any],
           n_features: int = 1) -> tuple[Any, dict[str, Any], CostChoice]:
    constructor, fit = _route(info, model, with_detect_defaults(info, model, params, n_features))
    estimator = info.cls(**constructor)

    def choice(fitted: Any) -> dict[str, Any]:
        if getattr(fitted, "uses_custom_cost", False):
            return {"custom_cost": constructor["custom_cost"]}
        if isinstance(getattr(fitted, "model", None), str):
            return {"model": fitted.model}
        if isinstance(getattr(fitted, "kernel", None), str):
            return {"kernel": fitted.kernel, "gamma": getattr(fitted, "gamma", None)}
        return {"weights": fit.get("weights")}

    return estimator, fit, choice
