"""The two earlier default penalties, frozen here so the suite can compare the
current one against them after the package has moved on.

- `previous`: (p + 2) · ln(n) · σ̂², σ̂ the noise scale from sample-to-sample
  differences (median absolute deviation of the first differences over
  0.6745·√2, per feature, averaged): blind to trends and seasonal swings.
- `replaced`: the default until the calibrated one: the whole signal's
  variability (after clipping at three interquartile ranges) times
  (1 + ρ)/(1 − ρ), ρ ≤ 0.9, and a kurtosis factor, both measured on the
  residuals of a first search (the code below is that version, unchanged
  apart from names).
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from tarnwell._costs import fitted_model_cost, kernel_cost, segmentation_cost

_Matrix = npt.NDArray[np.float64]


def previous_penalty(matrix: _Matrix, model: str = "l2", gamma: float | None = None) -> float:
    """The sample-to-sample noise penalty in the cost's units: σ̂² for the
    squared-error costs (and the linear and rbf kernels, whose unit is close
    to it for standardised data), half the Laplace scale σ̂·√(2/π) for the
    absolute ones ("l1", "l1potts"), 1 for the likelihood-scaled ones, and
    for the rbf kernel (bandwidth `gamma`) one minus the mean kernel value of
    neighbouring samples."""
    n, d = matrix.shape
    if n < 3:
        return 1.0
    steps = np.diff(matrix, axis=0)
    mad = np.median(np.abs(steps - np.median(steps, axis=0)), axis=0)
    sigma = mad / 0.6745 / math.sqrt(2.0)
    key = "l1" if model == "l1potts" else "l2" if model in ("linear", "rbf", "cosine") else model
    kind, p, _ = _rule(key, d)
    if model == "rbf":
        unit = 1.0 - float(np.mean(np.exp(-(gamma or 1.0) * np.sum(steps * steps, axis=1))))
    elif kind == _ABSOLUTE:
        unit = float(np.mean(sigma)) * math.sqrt(2.0 / math.pi) / 2.0
    elif kind == _LIKELIHOOD:
        unit = 1.0
    else:
        unit = float(np.mean(sigma**2))
    return (p + 2) * _log_n(n) * (unit if unit > 0 else 1.0)


_SQUARED, _ABSOLUTE, _LIKELIHOOD = "squared", "absolute", "likelihood"


def _rule(model: str, d: int) -> tuple[str, int, int]:
    """(scale kind, parameters per segment, residual coordinates) of a model."""
    key = model.lower()
    if key in ("l2", "mahalanobis", "ml", "clinear"):
        return _SQUARED, d, d
    if key == "linear":
        return _SQUARED, max(d - 1, 1), 1
    if key == "ar":
        return _SQUARED, d * (1 + 4 * d), d
    if key == "l1":
        return _ABSOLUTE, d, d
    if key == "normal":
        return _LIKELIHOOD, d + d * (d + 1) // 2, d
    if key == "rank":
        return _LIKELIHOOD, d, d
    if key == "custom":
        raise ValueError("there is no default penalty for a custom cost: its units are unknown; "
                         "pass pen= (tarnwell.penalty.penalty_path shows the candidates)")
    raise ValueError(f"no default penalty for model {model!r}; pass pen=")


def _clipped(matrix: _Matrix) -> _Matrix:
    low, high = np.percentile(matrix, [25.0, 75.0], axis=0)
    spread = high - low
    fence = np.where(spread > 0, 3.0 * spread, np.inf)
    return np.ascontiguousarray(np.clip(matrix, low - fence, high + fence))


def _log_n(n: int) -> float:
    # ln(n) vanishes for a single sample; a penalty must stay positive.
    return max(math.log(n), 1.0)


def _finish(p: int, n: int, scale: float) -> float:
    if not math.isfinite(scale) or scale <= 0:
        scale = 1.0  # a constant signal: any positive penalty keeps it whole
    return (p + 2) * _log_n(n) * scale




def _model_penalty(matrix: _Matrix, model: str) -> float:
    n, d = matrix.shape
    kind, p, residuals = _rule(model, d)
    if kind == _LIKELIHOOD:
        return _finish(p, n, 1.0)
    clipped = _clipped(matrix)
    if kind == _ABSOLUTE:
        deviation = np.abs(clipped - np.median(clipped, axis=0))
        return _finish(p, n, float(deviation.mean()) / 2.0)
    try:
        whole = float(fitted_model_cost(clipped, model).error(0, n))
    except ValueError:  # shorter than the model's minimum segment: use the variance
        whole = float(np.sum(np.var(clipped, axis=0))) * n / d * residuals
    return _finish(p, n, whole / (n * residuals))


def _kernel_penalty(matrix: _Matrix, kernel: str, gamma: float | None) -> float:
    n, d = matrix.shape
    clipped = _clipped(matrix) if kernel.lower() != "cosine" else matrix
    whole = kernel_cost(clipped, [n], kernel, gamma)
    return _finish(d, n, whole / (n * d))


def _l1potts_penalty(values: _Matrix, weights: npt.NDArray[np.float64] | None) -> float:
    column = _clipped(values.reshape(values.shape[0], -1))[:, 0]
    n = column.shape[0]
    w = np.ones(n) if weights is None else np.asarray(weights, dtype=np.float64)
    if w.sum() <= 0:
        return _finish(1, n, 1.0)
    whole = segmentation_cost(column[:, None], [n], weights=w)
    return _finish(1, n, whole / w.sum() / 2.0)


def _first_pass(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> tuple[float, bool, bool]:
    """The first-pass penalty; whether the first pass's residuals are
    measured (not for "ar"); whether the cost squares them (so heavy tails
    make short segments pay)."""
    name = type(estimator).__name__
    if getattr(estimator, "uses_custom_cost", False):
        _rule("custom", 1)
    model = getattr(estimator, "model", None)
    if isinstance(model, str):
        key = model.lower()
        squared = key in ("l2", "mahalanobis", "ml", "linear", "clinear")
        return _model_penalty(matrix, model), key != "ar", squared
    kernel = getattr(estimator, "kernel", None)
    if isinstance(kernel, str):
        return _kernel_penalty(matrix, kernel, getattr(estimator, "gamma", None)), True, kernel.lower() == "linear"
    if name == "L1Potts":
        return _l1potts_penalty(matrix, fit_params.get("weights")), True, False
    raise ValueError(f"no default penalty for {name}; pass pen=")


def _segment_residuals(segment: _Matrix, before: _Matrix | None, model: str | None) -> _Matrix:
    if model == "linear":  # the first column regressed on the others, no intercept
        response, design = segment[:, :1], segment[:, 1:]
        if design.shape[1] == 0:
            return response
        coefficients = np.linalg.lstsq(design, response, rcond=None)[0]
        return np.asarray(response - design @ coefficients)
    if model == "clinear":  # deviations from the line joining the previous sample to the last
        anchor = segment[0] if before is None else before
        steps = np.arange(segment.shape[0], dtype=np.float64) + (0.0 if before is None else 1.0)
        span = steps[-1] if steps[-1] > 0 else 1.0
        return np.asarray(segment - (anchor + (segment[-1] - anchor) * (steps / span)[:, None]))
    return np.asarray(segment - np.median(segment, axis=0))


def _residuals(matrix: _Matrix, breakpoints: Sequence[int], model: str | None) -> _Matrix:
    """What the segments' fits leave (deviations from the segment medians,
    or the regression residuals of "linear" and "clinear"), clipped to their
    Tukey fences."""
    parts = [_segment_residuals(matrix[start:end], matrix[start - 1] if start > 0 else None, model)
             for start, end in zip([0, *breakpoints[:-1]], breakpoints)]
    return _clipped(np.concatenate(parts))


def _autocorrelation(residuals: _Matrix, breakpoints: Sequence[int]) -> float:
    """Lag-one autocorrelation pooled over segments and features."""
    products = sum(float(np.sum(residuals[start + 1:end] * residuals[start:end - 1]))
                   for start, end in zip([0, *breakpoints[:-1]], breakpoints))
    squares = float(np.sum(residuals * residuals))
    return products / squares if squares > 0 else 0.0


def _kurtosis(residuals: _Matrix) -> float:
    second = np.mean(residuals * residuals, axis=0)
    fourth = np.mean(residuals**4, axis=0)
    usable = second > 0
    return float(np.mean(fourth[usable] / second[usable] ** 2)) if usable.any() else 3.0


def replaced_penalty_and_result(estimator: Any, matrix: _Matrix,
                       fit_params: dict[str, Any]) -> tuple[float, list[int] | None]:
    """The default penalty for a fitted search object, with the search's
    result at that penalty when the first pass already computed it.

    The first-pass penalty is multiplied by two factors measured on the
    residuals of the search's own result at that penalty (deviations from
    the segment medians, clipped at three interquartile ranges):

    - the long-run variance factor (1 + ρ)/(1 − ρ), ρ the lag-one
      autocorrelation clipped to [0, 0.9]: correlated noise makes segment
      means wander, and a smooth curve leaves long runs of same-signed
      residuals;
    - for squared-error costs, the tail factor max(1, (κ − 1)/2), κ the
      kurtosis (3 for Gaussian noise): with heavy tails a segment of a couple
      of samples around an extreme value is not a change.
    """
    first, level_model, squared = _first_pass(estimator, matrix, fit_params)
    if not level_model or matrix.shape[0] < 3:
        return first, None
    breakpoints = [int(b) for b in estimator.predict(pen=first)]
    model = getattr(estimator, "model", None)
    residuals = _residuals(matrix, breakpoints, model.lower() if isinstance(model, str) else None)
    rho = min(max(_autocorrelation(residuals, breakpoints), 0.0), _MAX_RHO)
    factor = (1.0 + rho) / (1.0 - rho)
    if squared:
        factor *= max(1.0, (_kurtosis(residuals) - 1.0) / 2.0)
    if factor == 1.0:
        return first, breakpoints
    return first * factor, None


def replaced_penalty(estimator: Any, matrix: _Matrix, fit_params: dict[str, Any]) -> float:
    """The default penalty for a fitted search object (see `penalty_and_result`)."""
    return replaced_penalty_and_result(estimator, matrix, fit_params)[0]


_MAX_RHO = 0.9
