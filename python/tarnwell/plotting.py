"""Pictures of signals and their change points (needs matplotlib)."""

from __future__ import annotations

from collections.abc import Iterable
from typing import TYPE_CHECKING, Any

import numpy as np

from ._intake import Intake, as_signal

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = ["plot"]

_SHADES = ("#4c72b0", "#dd8452")


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        raise ImportError("plotting needs matplotlib: pip install matplotlib") from None
    return plt


def _positions(breakpoints: Iterable[int] | None, n: int, what: str) -> list[int]:
    if breakpoints is None:
        return []
    values = [int(b) for b in breakpoints]
    if any(not 0 <= b <= n for b in values) or values != sorted(values):
        raise ValueError(f"{what} must be increasing sample positions between 0 and {n}, got {values}")
    return values


def plot(signal: Any, breakpoints: Iterable[int] | None = None, true_breakpoints: Iterable[int] | None = None,
         *, max_features: int = 6, title: str | None = None, figsize: tuple[float, float] | None = None) -> Figure:
    """Draws a signal with its change points and returns the matplotlib figure.

    One panel per feature (the first `max_features` of them). Segments of the
    detected breakpoints (or of the true ones when none are detected) are
    shaded in alternating colours; detected change points are solid red
    lines, true change points dashed black lines. For a pandas input the
    horizontal axis is its index. Save with ``fig.savefig("out.png")``.
    """
    if max_features < 1:
        raise ValueError(f"max_features must be at least 1, got {max_features}")
    intake = signal if isinstance(signal, Intake) else as_signal(signal)
    matrix = intake.matrix
    n, d = matrix.shape
    detected = _positions(breakpoints, n, "breakpoints")
    truth = _positions(true_breakpoints, n, "true_breakpoints")
    shown = min(d, max_features)
    x: Any = np.arange(n) if intake.index is None else np.asarray(intake.index)

    def at(b: int) -> Any:
        return x[min(b, n - 1)]

    plt = _pyplot()
    fig, axes = plt.subplots(shown, 1, sharex=True, squeeze=False, layout="constrained",
                             figsize=figsize or (10, 1.2 + 1.6 * shown))
    names = intake.columns if intake.columns and len(intake.columns) == d else None
    shading = detected or truth
    for feature, ax in enumerate(axes[:, 0]):
        starts = [0, *[b for b in shading if b < n]]
        ends = [*starts[1:], n]
        for k, (start, end) in enumerate(zip(starts, ends)):
            if end > start:
                ax.axvspan(at(start), at(end), color=_SHADES[k % 2], alpha=0.12, linewidth=0)
        ax.plot(x, matrix[:, feature], color="0.15", linewidth=0.8)
        for b in truth:
            if 0 < b < n:
                ax.axvline(at(b), color="black", linestyle="--", linewidth=1.2)
        for b in detected:
            if 0 < b < n:
                ax.axvline(at(b), color="tab:red", linewidth=1.2)
        ax.set_ylabel(names[feature] if names else f"feature {feature}")
    heading = title or ""
    if shown < d:
        heading = f"{heading} (first {shown} of {d} features)".strip()
    if heading:
        fig.suptitle(heading)
    handles = []
    if detected:
        handles.append(plt.Line2D([], [], color="tab:red", label="detected"))
    if truth:
        handles.append(plt.Line2D([], [], color="black", linestyle="--", label="true"))
    if handles:
        axes[0, 0].legend(handles=handles, loc="upper right", fontsize=8)
    return fig  # type: ignore[no-any-return]
