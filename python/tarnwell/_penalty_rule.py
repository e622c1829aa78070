"""The default penalty of a penalized search: the rule and its parts.

    pen = (p + 2) · ln(n) · u · max(1, E, G)

p is the number of parameters one more segment adds, u the noise unit in the
cost's units (robust to shifts, trends and glitches, inflated for correlated
noise), E the raise for short excursions (outliers, bursts, seasonal crests,
from `_noise.excursion_gain`) and G the raise for trends and smooth rises
(`_penalty_trend.gradual_penalty`). Each cost's way of measuring u and
which raises apply is its `PenaltyRule`. The documentation's page on how the
default penalty was calibrated gives the reasoning, the series it was tuned
on and its scores.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _noise
from ._estimators import build_estimator
from ._intake import as_signal
from ._methods import model_facts, normalise, own_cost_penalty, search_info
from ._penalty_trend import gradual_penalty
from ._tarnwell import CostL2, Pelt

_Matrix = npt.NDArray[np.float64]


@dataclass(frozen=True)
class PenaltyRule:
    """How the default penalty of one cost is formed, as its descriptor
    declares it (the model's in the cost list, or the search's own cost's in
    the list of searches)."""

    key: str
    """What the rule belongs to: the model's name, "kernel <name>" or the search's name."""
    parameters: int
    """Parameters one more segment adds, for the signal's d features."""
    unit: str
    """How the noise unit in the cost's units is measured: "squared",
    "absolute", "likelihood", "ranks", "regression", "innovations",
    "marginal", "cosine" or "rbf" (see `_noise_unit`); "none" for a cost
    whose values are not in the signal's units (no default penalty)."""
    inflated: bool
    """Whether the bounded long-run factor for correlated noise applies."""
    excursions: bool
    """Whether the penalty is raised for short excursions."""
    gradual: bool
    """Whether the penalty is raised for trends and smooth rises."""
    per_sample: float = 0.0
    """A floor on the noise term, in noise units per sample: for costs
    whose spurious savings grow with the segment length."""
    autoregression_order: int = 0
    """The lags of the whole-signal autoregression of the "innovations" unit."""
    feature_weights: tuple[float, ...] = ()
    """Per-feature weights of the "squared" unit (a metric's diagonal); empty: all 1."""
    instead: str = ""
    """With the unit "none": why there is no default penalty and what to pass instead."""

    @classmethod
    def declared(cls, key: str, data: dict[str, Any]) -> PenaltyRule:
        return cls(key=key, parameters=int(data["segment_parameters"]), unit=str(data["unit"]),
                   inflated=bool(data["inflated"]), excursions=bool(data["excursions"]),
                   gradual=bool(data["gradual"]), per_sample=float(data["noise_floor_per_sample"]),
                   autoregression_order=int(data["autoregression_order"]),
                   feature_weights=tuple(float(w) for w in data["feature_weights"]),
                   instead=str(data["instead"]))


_CUSTOM_COST = ("there is no default penalty for a custom cost: its units are unknown; "
                "pass pen= (tarnwell.penalty.penalty_path shows the candidates)")

# E|X| / sd of a Gaussian: converts a noise standard deviation into the
# scale of the Laplace likelihood behind the absolute-deviation costs.
_LAPLACE_PER_SD = math.sqrt(2.0 / math.pi)


def _log_n(n: int) -> float:
    # ln(n) vanishes for a single sample; a penalty must stay positive.
    return max(math.log(n), 1.0)


@dataclass(frozen=True)
class PenaltyChoice:
    """The default penalty and what it was made of."""

    value: float
    """The penalty: noise_term · max(excursion, gradual)."""
    noise_term: float
    """(p + 2) · ln(n) · noise unit (inflated for correlated noise), in the cost's units."""
    excursion: float
    """The raise for short excursions (at least 1)."""
    gradual: float
    """The raise for trends and smooth rises (at least 1)."""
    rule: str
    """What the rule belongs to (the model's name, "kernel <name>" or the
    search's name), or the description detect chose."""
    signal_noise: _noise.NoiseScale | None = field(default=None, repr=False, compare=False)
    """The noise of the signal itself, when the rule measured it (reused by
    the under-segmentation check)."""
    description: Any = field(default=None, compare=False)
    """When detect chose the model as well (no model given): the description
    it chose and how far behind the others came (a
    ``_descriptions.DescriptionChoice``)."""


def rule_of(estimator: Any, n_features: int) -> PenaltyRule:
    """The rule that applies to a search object on a signal of `n_features`
    features: its model's, its kernel's, or its own cost's."""
    if getattr(estimator, "uses_custom_cost", False):
        raise ValueError(_CUSTOM_COST)
    info = search_info(type(estimator))
    if info.takes_model:
        facts = model_facts(estimator.model, n_features)
        return PenaltyRule.declared(facts["name"], facts["penalty"])
    kernel = getattr(estimator, "kernel", None)
    own = kernel.lower() if isinstance(kernel, str) else info.name
    data = own_cost_penalty(info, own, n_features)
    if data is None:
        raise ValueError(f"no default penalty for {info.name} with {own!r}; pass pen=")
    return PenaltyRule.declared(f"kernel {own}" if isinstance(kernel, str) else normalise(own), data)


def no_default_penalty(estimator: Any, n_features: int) -> str | None:
    """Why a search object has no default penalty (a custom cost, a cost not
    in the signal's units), with what to pass instead; None when it has one."""
    try:
        rule = rule_of(estimator, n_features)
    except ValueError as error:
        return str(error)
    return rule.instead if rule.unit == "none" else None


def _level_signal(rule: PenaltyRule, matrix: _Matrix) -> _Matrix:
    """What the search cuts into levels: the signal, the residuals of the
    whole-signal regression for "linear", the unit rows for the cosine kernel."""
    if rule.unit == "regression":  # "linear": the first column regressed on the others
        return _noise.regression_residuals(matrix[:, :1], matrix[:, 1:]) if matrix.shape[1] > 1 else matrix
    if rule.unit == "cosine":
        return _noise.unit_rows(matrix)
    if rule.unit in ("ranks", "rbf"):  # costs that bound the pull of extreme values
        return _noise.average_ranks(matrix)
    return matrix


def _noise_unit(rule: PenaltyRule, matrix: _Matrix, noise: _noise.NoiseScale, *, gamma: float | None,
                weights: npt.NDArray[np.float64] | None) -> float:
    """The noise unit in the cost's units, inflated where the rule says so;
    `noise` is measured on the level signal.

    The noise variance for the squared-error costs (on the residuals of one
    whole-signal regression for "regression", on the unit rows for
    "cosine"); half the Laplace scale σ·√(2/π)/2 for the absolute costs
    (times the mean weight); the factor alone for the costs already on a
    likelihood scale; the robust variance of the innovations of one
    whole-signal autoregression for "innovations"; the marginal variance for
    "marginal"; for the rbf kernel one minus the mean kernel value of
    neighbouring samples, corrected for their correlation.
    """
    factor = noise.inflation if rule.inflated else np.ones_like(noise.rho)
    kind = rule.unit
    if kind == "squared" and rule.feature_weights:
        if len(rule.feature_weights) != noise.rho.shape[0]:
            raise ValueError(f"the cost weighs {len(rule.feature_weights)} features, the signal has "
                             f"{noise.rho.shape[0]}")
        return float(np.mean(noise.variance * factor * np.asarray(rule.feature_weights)))
    if kind in ("squared", "regression", "cosine"):
        return float(np.mean(noise.variance * factor))
    if kind == "absolute":
        # Half the Laplace scale: the absolute costs are a log-likelihood times that scale, over 2;
        # a sample of weight w counts w times.
        unit = float(np.mean(noise.sd * factor)) * _LAPLACE_PER_SD / 2.0
        return unit * (float(np.mean(weights)) if weights is not None else 1.0)
    if kind in ("likelihood", "ranks"):
        return float(np.mean(factor))
    if kind == "innovations":
        n, d = matrix.shape
        order = rule.autoregression_order
        if n > 2 * (order * d + 1):
            sd = _noise.robust_sd(_noise.autoregression_residuals(matrix, order))
            return float(np.mean(sd * sd))
        return float(np.mean(noise.variance))  # too short to fit the autoregression
    if kind == "marginal":
        return float(np.mean(noise.variance))
    if kind == "rbf":
        if gamma is None:
            raise ValueError("the rbf kernel's default penalty needs the fitted bandwidth")
        steps = matrix[1:] - matrix[:-1]
        close = float(np.mean(1.0 - np.exp(-gamma * np.sum(steps * steps, axis=1)))) if len(steps) else 0.0
        # Neighbours of correlated noise are closer than two independent
        # samples: undo that as for the variance, then inflate; a kernel
        # cost per sample never exceeds 1. That cost is the trace of the
        # kernel's covariance over all features at once (for the squared
        # error, the sum of the features' variances): per feature, as the
        # other units are, it is divided by d.
        trace = min(close / (1.0 - float(np.mean(noise.rho))), 1.0) * float(np.mean(factor))
        return float(trace / matrix.shape[1])
    raise AssertionError(f"unknown penalty unit {kind!r}")



def _searches_squared_error(estimator: Any, rule: PenaltyRule) -> bool:
    """Whether the search itself minimises the plain squared error of the
    signal exactly at a penalty (a greedy search's result at a small penalty
    is a stack of spurious steps, which would pass for a trend)."""
    return rule.unit == "squared" and not rule.feature_weights and search_info(type(estimator)).has_penalty_path


def _first_pass(estimator: Any, rule: PenaltyRule, level: _Matrix, pen: float, unit: float) -> list[int]:
    """The breakpoints of a squared-error search on the level signal divided
    by `unit` at penalty `pen`: the search itself (on the signal, at pen·unit²)
    when it minimises that cost, else a Pelt with its grid."""
    if _searches_squared_error(estimator, rule):
        return [int(b) for b in estimator.predict(pen=pen * unit * unit)]
    first = Pelt(model=CostL2(), min_size=max(int(getattr(estimator, "min_size", 1)), 1),
                 jump=int(getattr(estimator, "jump", 1)))
    return [int(b) for b in first.fit(np.ascontiguousarray(level)).predict(pen=pen)]


def choose_penalty(estimator: Any, matrix: _Matrix,
                   fit_params: dict[str, Any]) -> tuple[PenaltyChoice, list[int] | None]:
    """The default penalty for a fitted search object (see the module text),
    with the search's result at that penalty when computing it needed it anyway."""
    n, d = matrix.shape
    rule = rule_of(estimator, d)
    if rule.unit == "none":
        raise ValueError(rule.instead)
    key = rule.key
    level = _level_signal(rule, matrix)
    noise = _noise.noise_scale(level)
    weights = fit_params.get("weights")
    unit = _noise_unit(rule, matrix, noise, gamma=getattr(estimator, "gamma", None), weights=weights)
    measured = math.isfinite(unit) and unit > 0
    if not measured:
        # A constant signal (any positive penalty keeps it whole), or one
        # whose squared units leave the floating-point range.
        unit = 1.0
    noise_term = max((rule.parameters + 2) * _log_n(n), rule.per_sample * n) * unit
    own = noise if level is matrix else None
    if not (measured and (rule.excursions or rule.gradual)):
        return PenaltyChoice(noise_term, noise_term, 1.0, 1.0, key, own), None
    # The two raises are measured in squared error on the level signal, as
    # multiples of its own noise term, and applied to the cost's noise term.
    # They are ratios, so they are measured on the level signal in units of
    # about its noise (a power of two: exact), where squares neither
    # overflow nor underflow whatever the signal's own units.
    scale = _noise.power_of_two_near(float(np.max(noise.sd)))
    level, noise = level / scale, noise.in_units_of(scale)
    squared_unit = noise.inflated
    if not math.isfinite(squared_unit) or squared_unit <= 0:
        return PenaltyChoice(noise_term, noise_term, 1.0, 1.0, key, own), None
    squared_term = (level.shape[1] + 2) * _log_n(n) * squared_unit
    excursion = 1.0
    if rule.excursions:
        excursion = _noise.excursion_raise(level, squared_unit, squared_term,
                                           shortest=int(getattr(estimator, "min_size", 1)))
    if not rule.gradual:
        return PenaltyChoice(noise_term * excursion, noise_term, excursion, 1.0, key, own), None
    try:
        first = _first_pass(estimator, rule, level, squared_term * excursion, scale)
    except ValueError as error:
        if "leave the double range" not in str(error):
            raise
        # A value so far from the rest that its square leaves the double
        # range: no squared-error pass can measure gradual change, and the
        # excursion rule alone sets the penalty (the search itself may well
        # take such values, as the l1 cost does).
        return PenaltyChoice(noise_term * excursion, noise_term, excursion, 1.0, key, own), None
    gradual = max(1.0, gradual_penalty(level, first, noise) / squared_term)
    value = noise_term * max(excursion, gradual)
    reuse = gradual <= excursion and _searches_squared_error(estimator, rule)
    return PenaltyChoice(value, noise_term, excursion, gradual, key, own), first if reuse else None


def penalty_for(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> float:
    """The default penalty for a fitted search object."""
    return choose_penalty(estimator, matrix, fit_params)[0].value


def default_penalty(signal: Any, model: Any = None, *, method: str = "pelt", **params: Any) -> float:
    """The default penalty of a penalized search on `signal` (see the module text).

    `method`, `model` and `params` choose the search as in `tarnwell.detect`
    (for example ``model="l1"``, or ``method="kernelcpd", kernel="rbf"``).
    No search runs: the penalty comes from robust statistics of the signal.
    """

    intake = as_signal(signal)
    estimator, fit_params, _ = build_estimator(search_info(method), model, params, intake.matrix.shape[1])
    estimator.fit(intake.values, **fit_params)
    return penalty_for(estimator, intake.matrix, fit_params)
