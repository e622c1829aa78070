"""The pattern model's own stopping rule for `detect`: with model="pattern"
and no n_bkps or pen, the compiled neighbour search runs once and a binary
segmentation accepts each split only when its gain passes a test (its gain in
units of its sampling error above PATTERN_THRESHOLD). The subsequence width
and the neighbourhood come from the data unless given."""

from __future__ import annotations

from typing import Any

from . import _tarnwell

__all__ = ["PATTERN_PARAMETERS", "PATTERN_THRESHOLD", "is_pattern_model", "pattern_breakpoints"]

# z above which a split is accepted. Calibrated on synthetic signals without
# changes (white and autoregressive noise, noisy sinusoids, repeated motifs
# with jitter), whose best split reaches z of about 2.3 to 2.6 for white noise
# and periodic signals; results on recorded series move little between 3 and
# 4.5 (see the benchmark benchmarks/pattern/).
PATTERN_THRESHOLD = 3.5

# Parameters of the pattern model detect accepts (CostPattern's).
PATTERN_PARAMETERS = ("width", "neighbours")


def is_pattern_model(model: Any) -> bool:
    return isinstance(model, str) and model.lower() == "pattern"


def pattern_breakpoints(values: Any, params: dict[str, Any]) -> tuple[list[int], int]:
    """Breakpoints of the tested binary segmentation and the width used."""
    unknown = sorted(set(params) - set(PATTERN_PARAMETERS))
    if unknown:
        raise TypeError(f"model 'pattern' without n_bkps or pen takes no parameter {unknown[0]!r}; "
                        f"its parameters: {', '.join(PATTERN_PARAMETERS)}")
    width = params.get("width")
    neighbours = params.get("neighbours")
    breakpoints, used = _tarnwell._pattern_segmentation(
        values, width=0 if width is None else width, neighbours=3 if neighbours is None else neighbours,
        threshold=PATTERN_THRESHOLD)
    return [int(b) for b in breakpoints], int(used)
