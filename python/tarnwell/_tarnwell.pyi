from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, final

import numpy as np
import numpy.typing as npt

__version__: str
__all__ = [
    "TarnwellError",
    "__version__",
    "CostL2",
    "Dynp",
    "Pelt",
    "Binseg",
    "BottomUp",
    "Window",
    "version",
    "validate_signal",
    "hausdorff",
    "precision_recall",
    "rand_index",
    "pw_constant",
    "pw_linear",
    "pw_normal",
    "pw_wavy",
]

_Signal = npt.NDArray[np.float64]
_Breakpoints = Sequence[SupportsIndex] | npt.NDArray[np.integer]

class TarnwellError(RuntimeError): ...

@final
class CostL2:
    def __new__(cls) -> CostL2: ...
    def fit(self, signal: _Signal) -> CostL2: ...
    def error(self, start: SupportsIndex, end: SupportsIndex) -> float: ...
    def sum_of_costs(self, breakpoints: _Breakpoints) -> float: ...
    @property
    def n_samples(self) -> int: ...
    @property
    def n_features(self) -> int: ...
    @property
    def min_size(self) -> int: ...
    @property
    def is_fitted(self) -> bool: ...

@final
class Dynp:
    def __new__(
        cls,
        model: str = "l2",
        custom_cost: object | None = None,
        min_size: SupportsIndex = 2,
        jump: SupportsIndex = 5,
        max_memory_bytes: SupportsIndex = 536870912,
    ) -> Dynp: ...
    def fit(self, signal: _Signal) -> Dynp: ...
    def predict(self, n_bkps: SupportsIndex) -> list[int]: ...
    def fit_predict(self, signal: _Signal, n_bkps: SupportsIndex) -> list[int]: ...
    def estimated_memory_bytes(self, n_bkps: SupportsIndex) -> int: ...
    @property
    def model(self) -> str: ...
    @property
    def min_size(self) -> int: ...
    @property
    def jump(self) -> int: ...
    @property
    def max_memory_bytes(self) -> int: ...
    @property
    def is_fitted(self) -> bool: ...
    @property
    def uses_custom_cost(self) -> bool: ...
    @property
    def uses_batch_callback(self) -> bool: ...

@final
class Pelt:
    def __new__(
        cls,
        model: str = "l2",
        custom_cost: object | None = None,
        min_size: SupportsIndex = 2,
        jump: SupportsIndex = 5,
    ) -> Pelt: ...
    def fit(self, signal: _Signal) -> Pelt: ...
    def predict(self, pen: SupportsFloat) -> list[int]: ...
    def fit_predict(self, signal: _Signal, pen: SupportsFloat) -> list[int]: ...
    @property
    def model(self) -> str: ...
    @property
    def min_size(self) -> int: ...
    @property
    def jump(self) -> int: ...
    @property
    def is_fitted(self) -> bool: ...
    @property
    def uses_custom_cost(self) -> bool: ...
    @property
    def uses_batch_callback(self) -> bool: ...
    @property
    def uses_pelt_pruning(self) -> bool: ...

class _Greedy:
    def predict(
        self,
        n_bkps: SupportsIndex | None = None,
        pen: SupportsFloat | None = None,
        epsilon: SupportsFloat | None = None,
    ) -> list[int]: ...
    def fit_predict(
        self,
        signal: _Signal,
        n_bkps: SupportsIndex | None = None,
        pen: SupportsFloat | None = None,
        epsilon: SupportsFloat | None = None,
    ) -> list[int]: ...
    @property
    def model(self) -> str: ...
    @property
    def min_size(self) -> int: ...
    @property
    def jump(self) -> int: ...
    @property
    def is_fitted(self) -> bool: ...

@final
class Binseg(_Greedy):
    def __new__(cls, model: str = "l2", min_size: SupportsIndex = 2, jump: SupportsIndex = 5) -> Binseg: ...
    def fit(self, signal: _Signal) -> Binseg: ...

@final
class BottomUp(_Greedy):
    def __new__(cls, model: str = "l2", min_size: SupportsIndex = 2, jump: SupportsIndex = 5) -> BottomUp: ...
    def fit(self, signal: _Signal) -> BottomUp: ...

@final
class Window(_Greedy):
    def __new__(
        cls, width: SupportsIndex = 100, model: str = "l2", min_size: SupportsIndex = 2, jump: SupportsIndex = 5
    ) -> Window: ...
    def fit(self, signal: _Signal) -> Window: ...
    @property
    def width(self) -> int: ...

def version() -> str: ...
def validate_signal(signal: _Signal) -> tuple[int, int]: ...
def hausdorff(truth: _Breakpoints, prediction: _Breakpoints) -> float: ...
def precision_recall(
    truth: _Breakpoints, prediction: _Breakpoints, margin: SupportsIndex = 10
) -> tuple[float, float]: ...
def rand_index(truth: _Breakpoints, prediction: _Breakpoints) -> float: ...
def pw_constant(
    n_samples: SupportsIndex,
    n_features: SupportsIndex = 1,
    n_bkps: SupportsIndex = 3,
    noise_std: SupportsFloat = 1.0,
    seed: SupportsIndex = 0,
) -> tuple[npt.NDArray[np.float64], list[int]]: ...
def pw_linear(
    n_samples: SupportsIndex,
    n_features: SupportsIndex = 1,
    n_bkps: SupportsIndex = 3,
    noise_std: SupportsFloat = 1.0,
    seed: SupportsIndex = 0,
) -> tuple[npt.NDArray[np.float64], list[int]]: ...
def pw_normal(
    n_samples: SupportsIndex,
    n_features: SupportsIndex = 1,
    n_bkps: SupportsIndex = 3,
    noise_std: SupportsFloat = 1.0,
    seed: SupportsIndex = 0,
) -> tuple[npt.NDArray[np.float64], list[int]]: ...
def pw_wavy(
    n_samples: SupportsIndex,
    n_features: SupportsIndex = 1,
    n_bkps: SupportsIndex = 3,
    noise_std: SupportsFloat = 1.0,
    seed: SupportsIndex = 0,
) -> tuple[npt.NDArray[np.float64], list[int]]: ...
