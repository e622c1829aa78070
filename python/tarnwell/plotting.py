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


def _horizontal(index: Any, n: int) -> tuple[Any, str | None]:
    """The horizontal positions of the samples and their axis label: the
    index itself (dates included), durations as numbers in a unit that fits
    their span (matplotlib draws no durations), sample numbers without one."""
    if index is None:
        return np.arange(n), None
    values = np.asarray(index)
    if values.dtype.kind != "m":
        return values, None
    seconds = values / np.timedelta64(1, "s")
    span = float(np.nanmax(seconds) - np.nanmin(seconds)) if n else 0.0
    unit, size = next(((u, s) for u, s in (("days", 86400.0), ("hours", 3600.0), ("minutes", 60.0))
                       if span >= 2 * s), ("seconds", 1.0))
    name = getattr(index, "name", None)
    return seconds / size, f"{name} ({unit})" if name is not None else f"time ({unit})"


def _target_axes(ax: Any, shown: int, figsize: tuple[float, float] | None) -> tuple[Any, list[Any]]:
    """The figure and one axes per shown feature: new ones, or the caller's
    (one Axes takes every feature, a sequence one per feature)."""
    if ax is None:
        fig, axes = _pyplot().subplots(shown, 1, sharex=True, squeeze=False, layout="constrained",
                                       figsize=figsize or (10, 1.2 + 1.6 * shown))
        return fig, list(axes[:, 0])
    if hasattr(ax, "plot"):
        return ax.figure, [ax] * shown
    given = list(np.ravel(np.asarray(ax, dtype=object)))
    if len(given) != shown:
        raise ValueError(f"ax holds {len(given)} axes for {shown} features; pass one Axes or one per feature")
    return given[0].figure, given


def plot(signal: Any, breakpoints: Iterable[int] | None = None, true_breakpoints: Iterable[int] | None = None,
         *, max_features: int = 6, title: str | None = None, figsize: tuple[float, float] | None = None,
         ax: Any = None) -> Figure:
    """Draws a signal with its change points and returns the matplotlib figure.

    One panel per feature (the first `max_features` of them), labelled with
    the column's name when the signal has names. Segments of the detected
    breakpoints (or of the true ones when none are detected) are shaded in
    alternating colours; detected change points are solid red lines, true
    change points dashed black lines; the legend names only what is drawn.
    For a pandas input the horizontal axis is its index (dates included).
    `ax` draws into existing axes: one Axes (every feature on it) or one per
    feature. Save with ``fig.savefig("out.png")``.
    """
    if max_features < 1:
        raise ValueError(f"max_features must be at least 1, got {max_features}")
    intake = signal if isinstance(signal, Intake) else as_signal(signal)
    matrix = intake.matrix
    n, d = matrix.shape
    detected = _positions(breakpoints, n, "breakpoints")
    truth = _positions(true_breakpoints, n, "true_breakpoints")
    shown = min(d, max_features)
    x, x_label = _horizontal(intake.index, n)

    def at(b: int) -> Any:
        return x[min(b, n - 1)]

    plt = _pyplot()
    fig, axes = _target_axes(ax, shown, figsize)
    names = intake.columns if intake.columns and len(intake.columns) == d else None
    inner_detected = [b for b in detected if 0 < b < n]
    inner_truth = [b for b in truth if 0 < b < n]
    shading = inner_detected or inner_truth
    shaded: set[int] = set()
    for feature, panel in enumerate(axes):
        label = names[feature] if names else f"feature {feature}"
        if id(panel) not in shaded:
            shaded.add(id(panel))
            starts = [0, *shading]
            ends = [*starts[1:], n]
            for k, (start, end) in enumerate(zip(starts, ends)):
                if end > start:
                    panel.axvspan(at(start), at(end), color=_SHADES[k % 2], alpha=0.12, linewidth=0)
            for b in inner_truth:
                panel.axvline(at(b), color="black", linestyle="--", linewidth=1.2)
            for b in inner_detected:
                panel.axvline(at(b), color="tab:red", linewidth=1.2)
        overlaid = len(set(map(id, axes))) < len(axes)
        panel.plot(x, matrix[:, feature], color=None if overlaid else "0.15", linewidth=0.8,
                   label=label if overlaid else None)
        if not overlaid:
            panel.set_ylabel(label)
    if x_label is not None:
        axes[-1].set_xlabel(x_label)
    heading = title or ""
    if shown < d:
        heading = f"{heading} (first {shown} of {d} features)".strip()
    if heading:
        fig.suptitle(heading)
    handles = [line for line in axes[0].get_lines() if not line.get_label().startswith("_")]
    if inner_detected:
        handles.append(plt.Line2D([], [], color="tab:red", label="detected"))
    if inner_truth:
        handles.append(plt.Line2D([], [], color="black", linestyle="--", label="true"))
    if handles:
        axes[0].legend(handles=handles, loc="upper right", fontsize=8)
    return fig  # type: ignore[no-any-return]
