"""Total costs of segmentations, in the units each search minimises.

Every cost comes from a compiled class, so no formula lives twice: the
model-based searches use their model's cost class, the kernel search and
L1Potts their own fitted `sum_of_costs`.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _tarnwell

__all__ = ["fitted_model_cost", "kernel_cost", "segmentation_cost"]

_Matrix = npt.NDArray[np.float64]


def fitted_model_cost(matrix: _Matrix, model: Any) -> Any:
    """The compiled cost of `model` (a name or a cost object), fitted to a
    (samples, features) matrix."""
    return _tarnwell._model_cost(model).fit(matrix)


def kernel_cost(matrix: _Matrix, breakpoints: Sequence[int], kernel: str, gamma: float | None) -> float:
    """Total kernel cost of a segmentation: per segment, the sum of K(i, i)
    minus the segment's Gram sum over its length."""
    if kernel.lower() == "rbf" and gamma is None:
        raise ValueError("the rbf kernel cost needs the fitted bandwidth gamma")
    search = _tarnwell.KernelCPD(kernel=kernel, gamma=gamma, min_size=1, jump=1).fit(matrix)
    return float(search.sum_of_costs([int(b) for b in breakpoints]))


def segmentation_cost(matrix: _Matrix, breakpoints: Sequence[int], *, model: Any = None,
                      kernel: str | None = None, gamma: float | None = None, custom_cost: Any = None,
                      weights: npt.NDArray[np.float64] | None = None) -> float:
    """Total cost of `breakpoints` under exactly one of the cost choices."""
    bkps = [int(b) for b in breakpoints]
    if custom_cost is not None:
        custom_cost.fit(matrix)
        return float(sum(custom_cost.error(start, end) for start, end in zip([0, *bkps[:-1]], bkps)))
    if kernel is not None:
        return kernel_cost(matrix, bkps, kernel, gamma)
    if model is None:  # weighted absolute deviations from a weighted median (L1Potts)
        column = np.ascontiguousarray(matrix[:, 0])
        w = None if weights is None else np.ascontiguousarray(weights, dtype=np.float64)
        return float(_tarnwell.L1Potts().fit(column, weights=w).sum_of_costs(bkps))
    return float(fitted_model_cost(matrix, model).sum_of_costs(bkps))
