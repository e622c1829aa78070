"""tarnwell's searches as an sktime change-point detector (needs sktime).

    from tarnwell.sktime import TarnwellDetector

    detector = TarnwellDetector("pelt", model="l2")
    change_points = detector.fit_predict(frame)["ilocs"]   # integer positions

`TarnwellDetector` follows sktime's detection interface (`BaseDetector`):
`fit` learns nothing (the searches are unsupervised), `predict(X)` returns
the change points of `X` in sktime's format, a DataFrame whose "ilocs"
column holds their integer positions (the first sample of each new
segment), and `predict_segments`,
`transform` and the other methods sktime derives from them work as for any
of its detectors.
"""

from __future__ import annotations

import importlib
from typing import Any

import numpy as np

try:
    pd: Any = importlib.import_module("pandas")
    _base: Any = importlib.import_module("sktime.detection.base")
except ImportError:  # pragma: no cover - exercised only without sktime
    raise ImportError("tarnwell.sktime needs sktime: pip install sktime") from None

from .detection import detect

__all__ = ["TarnwellDetector"]


class TarnwellDetector(_base.BaseDetector):  # type: ignore[misc]
    """Any tarnwell search and cost as an sktime change-point detector.

    Parameters
    ----------
    method : str, default="pelt"
        The search, as in `tarnwell.detect`: "pelt", "dynp", "binseg",
        "bottomup", "window", "kernelcpd", "l1potts".
    model : str, cost object or None, default=None
        The segment cost of the model-based searches: a model name ("l2"
        when None) or a built-in cost object such as ``CostAR(order=2)``.
    n_bkps, pen, epsilon : at most one stopping rule; with none, a search
        that takes a penalty uses `tarnwell.penalty.default_penalty`.
    params : dict or None, default=None
        The search's other parameters, for example ``{"min_size": 5}``,
        ``{"width": 50}`` or ``{"kernel": "rbf"}``; `detect`'s defaults
        otherwise (jump=1, min_size chosen per model).

    Examples
    --------
    >>> import numpy as np
    >>> import pandas as pd
    >>> from tarnwell.sktime import TarnwellDetector
    >>> X = pd.DataFrame({"level": np.repeat([0.0, 5.0], 50)})
    >>> TarnwellDetector("dynp", n_bkps=1).fit_predict(X)["ilocs"].tolist()
    [50]
    """

    _tags = {
        "authors": ["tarnwell developers"],
        "maintainers": ["tarnwell developers"],
        "python_dependencies": "tarnwell",
        "task": "change_point_detection",
        "learning_type": "unsupervised",
        "capability:multivariate": True,
        "capability:missing_values": False,
        "fit_is_empty": True,
        "X_inner_mtype": "pd.DataFrame",
    }

    def __init__(self, method: str = "pelt", model: Any = None, n_bkps: int | None = None,
                 pen: float | None = None, epsilon: float | None = None,
                 params: dict[str, Any] | None = None) -> None:
        self.method = method
        self.model = model
        self.n_bkps = n_bkps
        self.pen = pen
        self.epsilon = epsilon
        self.params = params
        super().__init__()

    def _fit(self, X: Any, y: Any = None) -> TarnwellDetector:
        return self

    def _predict(self, X: Any) -> Any:
        """The change points of X as a Series of integer positions (ilocs)."""
        result = detect(np.asarray(X, dtype=np.float64), self.method, self.model, n_bkps=self.n_bkps,
                        pen=self.pen, epsilon=self.epsilon, warn=False, **(self.params or {}))
        return pd.Series(result.change_positions, dtype="int64")

    @classmethod
    def get_test_params(cls, parameter_set: str = "default") -> list[dict[str, Any]]:
        """Parameter sets for sktime's estimator checks."""
        return [
            {},
            {"method": "binseg", "model": "l1", "pen": 5.0, "params": {"min_size": 3}},
            {"method": "kernelcpd", "n_bkps": 1, "params": {"kernel": "linear"}},
        ]
