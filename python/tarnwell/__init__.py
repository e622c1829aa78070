"""Offline change-point detection with an exact, compiled core.

The compiled searches, costs, metrics and generators are re-exported from
``tarnwell._tarnwell``. Beside them:
``detect`` and ``detect_many`` (any array-like in, a result object out),
``tarnwell.penalty`` (default penalty, penalty path, over- and
under-segmentation warnings) and ``plot``; ``__all__`` lists both.
``tarnwell.sktime`` adapts the searches to sktime's detection interface
(imported on demand).
"""

import copyreg as _copyreg
import sys as _sys
from collections.abc import Callable as _Callable

from . import _tarnwell
from ._tarnwell import *  # noqa: F401,F403
from ._tarnwell import __version__ as __version__

from . import penalty as penalty
from ._intake import RepeatedIndexWarning as RepeatedIndexWarning
from ._intake import TransposedSignalWarning as TransposedSignalWarning
from .detection import DetectionFailure as DetectionFailure
from .detection import DetectionResult as DetectionResult
from .detection import detect as detect
from .detection import detect_many as detect_many
from .penalty import OverSegmentationWarning as OverSegmentationWarning
from .penalty import UnderSegmentationWarning as UnderSegmentationWarning
from .plotting import plot as plot

# The compiled names (in the module's order, written from its lists by
# scripts/write_stub.py: make stub), then the package's own, so
# `from tarnwell import *` brings detect and its companions too. Static
# lists, as type checkers read them.
# <generated: names>
__all__ = [
    "TarnwellError",
    "__version__",
    "CostL2",
    "CostL1",
    "CostRank",
    "CostNormal",
    "CostLinear",
    "CostAR",
    "CostCLinear",
    "CostMahalanobis",
    "CostMl",
    "CostPattern",
    "Dynp",
    "Pelt",
    "Binseg",
    "BottomUp",
    "Window",
    "L1Potts",
    "KernelCPD",
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
# </generated>
__all__ += [
    "detect", "detect_many", "DetectionResult", "DetectionFailure", "plot", "penalty", "OverSegmentationWarning",
    "UnderSegmentationWarning", "TransposedSignalWarning", "RepeatedIndexWarning",
]


# The error class is named "_tarnwell.TarnwellError", and "_tarnwell" is not
# importable under that name, so pickle could not find the class by it. Its
# instances pickle through this package instead, which any process that
# unpickles one can import: errors cross process pools like any other. Tools
# that install their own reducer for every exception class (tblib, as used by
# dask) refer to the class by its name, so that name resolves too once the
# package is imported.
def _rebuild_tarnwell_error(*args: object) -> _tarnwell.TarnwellError:
    return _tarnwell.TarnwellError(*args)


def _reduce_tarnwell_error(
    error: _tarnwell.TarnwellError,
) -> tuple[_Callable[..., _tarnwell.TarnwellError], tuple[object, ...], dict[str, object] | None]:
    return _rebuild_tarnwell_error, error.args, error.__dict__ or None


_copyreg.pickle(_tarnwell.TarnwellError, _reduce_tarnwell_error)
_sys.modules.setdefault(_tarnwell.TarnwellError.__module__, _tarnwell)
