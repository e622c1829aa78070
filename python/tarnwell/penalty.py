"""Choosing the penalty of a penalized search.

A penalty is paid once per change point and is measured in the units of the
cost: the squared-error costs ("l2", "linear", "ar", "clinear",
"mahalanobis", the linear and rbf kernels) grow with the square of the
signal's scale, so a fixed number such as 3·ln(n) finds a handful of changes
in one signal and hundreds in the same signal multiplied by 10.

- ``default_penalty`` (and ``detect`` without a stopping rule) uses a
  modified-BIC penalty in the noise units of the cost, raised where the
  signal holds short excursions or trends that a search would otherwise cut
  into pieces: (p + 2) · ln(n) · u · max(1, E, G). ``choose_penalty``
  returns those parts with the value. It scales with the signal and ignores
  an added constant, so the same changes are found at any scale and offset.
  The documentation's page on how the default penalty was calibrated
  explains each part and gives the series it was tuned on and its scores.
- ``penalty_path`` finds every distinct optimal segmentation for the
  penalties in a range (CROPS); its ``elbow()`` and ``plot()`` help choose.
- ``detect`` checks its results: ``OverSegmentationWarning`` when most
  segments are only a few samples long, ``UnderSegmentationWarning`` when a
  segment holds a large abrupt shift; ``warn_if_*`` and the ``*_message``
  functions run the same checks on any result.
"""

from ._penalty_checks import OverSegmentationWarning as OverSegmentationWarning
from ._penalty_checks import UnderSegmentationWarning as UnderSegmentationWarning
from ._penalty_checks import oversegmentation_message as oversegmentation_message
from ._penalty_checks import undersegmentation_message as undersegmentation_message
from ._penalty_checks import warn_if_oversegmented as warn_if_oversegmented
from ._penalty_checks import warn_if_undersegmented as warn_if_undersegmented
from ._penalty_path import PenaltyPath as PenaltyPath
from ._penalty_path import penalty_path as penalty_path
from ._penalty_rule import PenaltyChoice as PenaltyChoice
from ._penalty_rule import choose_penalty as choose_penalty
from ._penalty_rule import default_penalty as default_penalty

__all__ = [
    "OverSegmentationWarning", "PenaltyChoice", "PenaltyPath", "UnderSegmentationWarning", "choose_penalty",
    "default_penalty", "oversegmentation_message", "penalty_path", "undersegmentation_message",
    "warn_if_oversegmented", "warn_if_undersegmented",
]
