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
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _noise
from ._estimators import build_estimator
from ._intake import as_signal
from ._methods import KNOWN_MODELS, model_entry, normalise, search_info
from ._noise import LARGE_SHIFT
from ._penalty_trend import gradual_penalty
from ._tarnwell import Pelt

_Matrix = npt.NDArray[np.float64]


@dataclass(frozen=True)
class PenaltyRule:
    """How the default penalty of one cost is formed (see the module text)."""

    parameters: Callable[[int], int]
    """Parameters one more segment adds, for d features."""
    unit: str
    """How the noise unit in the cost's units is measured: "squared",
    "absolute", "likelihood", "ranks", "regression", "innovations",
    "marginal", "cosine" or "rbf"."""
    inflated: bool
    """Whether the bounded long-run factor for correlated noise applies."""
    excursions: bool
    """Whether the penalty is raised for short excursions."""
    gradual: bool
    """Whether the penalty is raised for trends and smooth rises."""
    per_sample: float = 0.0
    """A floor on the noise term, in noise units per sample: for costs
    whose spurious savings grow with the segment length."""


def _listed(model: str) -> Callable[[int], int]:
    """The values a new segment adds, for d features, as the cost list says."""
    return lambda d: int(model_entry(model, d)["segment_parameters"])


AR_ORDER = int(model_entry("ar")["parameters"]["order"])
"""The order of the searches' "ar" model, from the cost list."""

# How the noise unit of each scale of the cost list is measured, for models
# the table below does not tune.
_UNIT_OF_SCALE = {"squared": "squared", "absolute": "absolute", "likelihood": "likelihood"}

# The penalty knowledge of every cost, in one place: model names of the
# model-based searches, "kernel <name>" for KernelCPD, and "l1potts". The
# parameter counts of the models come from the compiled cost list; a model
# listed there but not here gets the plain rule of its scale (penalty_rule).
PENALTY_RULES: dict[str, PenaltyRule] = {
    "l2": PenaltyRule(_listed("l2"), "squared", True, True, True),
    "mahalanobis": PenaltyRule(_listed("mahalanobis"), "squared", True, True, True),
    "ml": PenaltyRule(_listed("ml"), "squared", True, True, True),
    "l1": PenaltyRule(_listed("l1"), "absolute", True, True, True),
    "rank": PenaltyRule(_listed("rank"), "ranks", True, True, True),
    "normal": PenaltyRule(_listed("normal"), "likelihood", True, True, True),
    "linear": PenaltyRule(_listed("linear"), "regression", True, True, True),
    "ar": PenaltyRule(_listed("ar"), "innovations", False, True, True),
    # The joining line of "clinear" passes through single samples, so moving
    # a cut to a sample with little noise saves in proportion to the length
    # of the segments it anchors: on pure noise the penalty that keeps the
    # whole grows about like n (measured: 0.2·n·σ² at n = 100, 1.3·n·σ² at
    # 600). A floor of 0.5·n·σ² found the suite's slope changes best.
    "clinear": PenaltyRule(_listed("clinear"), "marginal", False, True, False, per_sample=0.5),
    "kernel linear": PenaltyRule(lambda d: d, "squared", True, True, True),
    "kernel cosine": PenaltyRule(lambda d: d, "cosine", True, True, True),
    "kernel rbf": PenaltyRule(lambda d: d, "rbf", True, True, True),
    "l1potts": PenaltyRule(lambda d: 1, "absolute", True, True, True),
}


def penalty_rule(key: str) -> PenaltyRule:
    """The rule of a cost: its entry in PENALTY_RULES, or for a model of the
    cost list that the table does not tune, the plain rule of its scale."""
    if key in PENALTY_RULES:
        return PENALTY_RULES[key]
    if key in KNOWN_MODELS:
        return PenaltyRule(_listed(key), _UNIT_OF_SCALE[model_entry(key)["scale"]], True, True, True)
    raise ValueError(f"no default penalty for {key!r}; pass pen=")


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
    """The key of the rule in PENALTY_RULES."""
    signal_noise: _noise.NoiseScale | None = field(default=None, repr=False, compare=False)
    """The noise of the signal itself, when the rule measured it (reused by
    the under-segmentation check)."""


def rule_key(estimator: Any) -> str:
    """The key of PENALTY_RULES that applies to a search object."""
    if getattr(estimator, "uses_custom_cost", False):
        raise ValueError(_CUSTOM_COST)
    model = getattr(estimator, "model", None)
    if isinstance(model, str):
        key = model.lower()
    elif isinstance(getattr(estimator, "kernel", None), str):
        key = f"kernel {estimator.kernel.lower()}"
    else:
        key = normalise(type(estimator).__name__)
    penalty_rule(key)  # a clear error for a cost without one
    return key


def _level_signal(rule: PenaltyRule, matrix: _Matrix) -> _Matrix:
    """What the search cuts into levels: the signal, the residuals of the
    whole-signal regression for "linear", the unit rows for the cosine kernel."""
    if rule.unit == "regression":  # "linear": the first column regressed on the others
        return _noise.regression_residuals(matrix[:, :1], matrix[:, 1:]) if matrix.shape[1] > 1 else matrix
    if rule.unit == "cosine":
        return _noise.unit_rows(matrix)
    if rule.unit in ("ranks", "rbf"):  # costs that bound the pull of extreme values
        return np.argsort(np.argsort(matrix, axis=0, kind="stable"), axis=0).astype(np.float64)
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
        if n > 2 * (AR_ORDER * d + 1):
            sd = _noise.robust_sd(_noise.autoregression_residuals(matrix, AR_ORDER))
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
        # cost per sample never exceeds 1.
        return min(close / (1.0 - float(np.mean(noise.rho))), 1.0) * float(np.mean(factor))
    raise AssertionError(f"unknown penalty unit {kind!r}")



EXCURSION_ROOM = 8
"""Excursions raise the squared-error penalty at most to the saving of a
LARGE_SHIFT shift with n / EXCURSION_ROOM samples on either side of it,
LARGE_SHIFT² · n / (2 · EXCURSION_ROOM) noise units: a single enormous
glitch is then cut out rather than silencing every shift of the signal."""


def _first_pass(estimator: Any, rule: PenaltyRule, level: _Matrix, pen: float, unit: float) -> list[int]:
    """The breakpoints of a squared-error search on the level signal divided
    by `unit` at penalty `pen`: the search itself (on the signal, at pen·unit²)
    when it minimises that cost, else a Pelt with its grid."""
    if rule.unit == "squared":  # the level signal is the signal itself
        return [int(b) for b in estimator.predict(pen=pen * unit * unit)]
    first = Pelt(model="l2", min_size=max(int(getattr(estimator, "min_size", 1)), 1),
                 jump=int(getattr(estimator, "jump", 1)))
    return [int(b) for b in first.fit(np.ascontiguousarray(level)).predict(pen=pen)]


def choose_penalty(estimator: Any, matrix: _Matrix,
                   fit_params: dict[str, Any]) -> tuple[PenaltyChoice, list[int] | None]:
    """The default penalty for a fitted search object (see the module text),
    with the search's result at that penalty when computing it needed it anyway."""
    key = rule_key(estimator)
    rule = penalty_rule(key)
    n, d = matrix.shape
    level = _level_signal(rule, matrix)
    noise = _noise.noise_scale(level)
    weights = fit_params.get("weights")
    if key == "l1potts" and weights is None:
        weights = np.ones(n)
    unit = _noise_unit(rule, matrix, noise, gamma=getattr(estimator, "gamma", None), weights=weights)
    measured = math.isfinite(unit) and unit > 0
    if not measured:
        # A constant signal (any positive penalty keeps it whole), or one
        # whose squared units leave the floating-point range.
        unit = 1.0
    noise_term = max((rule.parameters(d) + 2) * _log_n(n), rule.per_sample * n) * unit
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
        gain = _noise.excursion_gain(level, shortest=int(getattr(estimator, "min_size", 1)))
        ceiling = LARGE_SHIFT**2 * n / (2 * EXCURSION_ROOM) * squared_unit
        excursion = max(1.0, min(gain, ceiling) / squared_term)
    if not rule.gradual:
        return PenaltyChoice(noise_term * excursion, noise_term, excursion, 1.0, key, own), None
    first = _first_pass(estimator, rule, level, squared_term * excursion, scale)
    gradual = max(1.0, gradual_penalty(level, first, noise) / squared_term)
    value = noise_term * max(excursion, gradual)
    reuse = gradual <= excursion and rule.unit == "squared"
    return PenaltyChoice(value, noise_term, excursion, gradual, key, own), first if reuse else None


def penalty_for(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> float:
    """The default penalty for a fitted search object."""
    return choose_penalty(estimator, matrix, fit_params)[0].value


def default_penalty(signal: Any, model: str | None = None, *, method: str = "pelt", **params: Any) -> float:
    """The default penalty of a penalized search on `signal` (see the module text).

    `method`, `model` and `params` choose the search as in `tarnwell.detect`
    (for example ``model="l1"``, or ``method="kernelcpd", kernel="rbf"``).
    No search runs: the penalty comes from robust statistics of the signal.
    """

    intake = as_signal(signal)
    estimator, fit_params, _ = build_estimator(search_info(method), model, params, intake.matrix.shape[1])
    estimator.fit(intake.values, **fit_params)
    return penalty_for(estimator, intake.matrix, fit_params)
