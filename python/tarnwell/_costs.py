"""Total costs of segmentations, in the units each search minimises.

Model-based searches use the compiled cost class of their model. The kernel
search has no cost class: its linear and cosine costs are squared-error costs
of prepared rows, and the rbf cost is summed here block by block.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _tarnwell
from ._methods import cost_class

__all__ = ["fitted_model_cost", "kernel_segment_costs", "segmentation_cost"]

_Matrix = npt.NDArray[np.float64]

# Rows per block when summing rbf kernel values: blocks of 1024 x 1024 values
# keep the working memory near 8 MB whatever the segment length.
_RBF_BLOCK = 1024


def fitted_model_cost(matrix: _Matrix, model: str) -> Any:
    """The compiled cost of `model`, fitted to a (samples, features) matrix."""
    cls = cost_class(model)
    if model.lower() in ("mahalanobis", "ml"):
        # The model names use the identity metric.
        return cls(np.eye(matrix.shape[1])).fit(matrix)
    return cls().fit(matrix)


def _cosine_rows(matrix: _Matrix) -> _Matrix:
    # Unit rows plus one extra coordinate that is 1 only for all-zero rows, so
    # a zero row is orthogonal to every other row and similar to other zeros.
    scale = np.max(np.abs(matrix), axis=1)
    zero = scale == 0
    scaled = matrix / np.where(zero, 1.0, scale)[:, None]
    norms = np.sqrt(np.sum(scaled * scaled, axis=1))
    unit = scaled / np.where(zero, 1.0, norms)[:, None]
    return np.ascontiguousarray(np.hstack([unit, zero[:, None].astype(np.float64)]))


def _rbf_pair_sum(rows: _Matrix, gamma: float) -> float:
    total = 0.0
    squares = np.sum(rows * rows, axis=1)
    for start in range(0, rows.shape[0], _RBF_BLOCK):
        block = rows[start:start + _RBF_BLOCK]
        distances = squares[start:start + _RBF_BLOCK, None] + squares[None, :] - 2.0 * block @ rows.T
        total += float(np.exp(-gamma * np.maximum(distances, 0.0)).sum())
    return total


def kernel_segment_costs(matrix: _Matrix, breakpoints: Sequence[int], kernel: str,
                         gamma: float | None) -> list[float]:
    """Kernel cost of each segment: sum of K(i, i) minus the segment's Gram sum over its length."""
    kernel = kernel.lower()
    bounds = list(zip([0, *breakpoints[:-1]], breakpoints))
    if kernel in ("linear", "cosine"):
        rows = matrix if kernel == "linear" else _cosine_rows(matrix)
        cost = _tarnwell.CostL2().fit(rows)
        return [float(cost.error(start, end)) for start, end in bounds]
    if kernel == "rbf":
        if gamma is None:
            raise ValueError("the rbf kernel cost needs the fitted bandwidth gamma")
        return [max(0.0, (end - start) - _rbf_pair_sum(matrix[start:end], gamma) / (end - start))
                for start, end in bounds]
    raise ValueError(f"unknown kernel {kernel!r}")


def segmentation_cost(matrix: _Matrix, breakpoints: Sequence[int], *, model: str | None = None,
                      kernel: str | None = None, gamma: float | None = None, custom_cost: Any = None,
                      weights: npt.NDArray[np.float64] | None = None) -> float:
    """Total cost of `breakpoints` under exactly one of the cost choices."""
    bkps = [int(b) for b in breakpoints]
    if custom_cost is not None:
        custom_cost.fit(matrix)
        return float(sum(custom_cost.error(start, end) for start, end in zip([0, *bkps[:-1]], bkps)))
    if kernel is not None:
        return float(sum(kernel_segment_costs(matrix, bkps, kernel, gamma)))
    if model is None:  # weighted absolute deviations from a weighted median (L1Potts)
        return _weighted_l1_cost(matrix[:, 0], bkps, weights)
    return float(fitted_model_cost(matrix, model).sum_of_costs(bkps))


def _weighted_l1_cost(values: npt.NDArray[np.float64], breakpoints: Sequence[int],
                      weights: npt.NDArray[np.float64] | None) -> float:
    w = np.ones_like(values) if weights is None else np.asarray(weights, dtype=np.float64)
    total = 0.0
    for start, end in zip([0, *breakpoints[:-1]], breakpoints):
        segment, segment_weights = values[start:end], w[start:end]
        order = np.argsort(segment, kind="stable")
        cumulative = np.cumsum(segment_weights[order])
        if cumulative[-1] == 0:
            continue
        median = segment[order][np.searchsorted(cumulative, cumulative[-1] / 2.0)]
        total += float(np.sum(segment_weights * np.abs(segment - median)))
    return total
