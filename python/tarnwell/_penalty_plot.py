"""The drawing of a penalty path (`PenaltyPath.plot`)."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Protocol

import numpy as np

if TYPE_CHECKING:
    from matplotlib.figure import Figure


class _Path(Protocol):
    """What the drawing reads of a PenaltyPath."""

    @property
    def pen_low(self) -> list[float]: ...
    @property
    def pen_high(self) -> list[float]: ...
    @property
    def n_changes(self) -> list[int]: ...
    @property
    def costs(self) -> list[float]: ...
    @property
    def reference_penalty(self) -> float | None: ...
    def __len__(self) -> int: ...
    def elbow(self) -> int: ...


def plot_path(path: _Path, *, ax: Any = None) -> Figure:
    """Cost against the number of changes and the number of changes against
    the penalty, the elbow marked on both (see `PenaltyPath.plot`)."""
    from .plotting import _pyplot

    if ax is None:
        fig, axes = _pyplot().subplots(1, 2, figsize=(11, 4), layout="constrained")
    else:
        axes = list(np.ravel(np.asarray(ax, dtype=object)))
        if len(axes) != 2:
            raise ValueError(f"ax must hold two axes (cost and penalty panels), got {len(axes)}")
        fig = axes[0].figure
    costs_ax, penalty_ax = axes
    best = path.elbow()
    marker = "o" if len(path) <= 40 else None
    costs_ax.plot(path.n_changes, path.costs, marker=marker, markersize=3, color="tab:blue", linewidth=1)
    costs_ax.plot([path.n_changes[best]], [path.costs[best]], "o", markersize=11, markerfacecolor="none",
                  color="tab:red", label=f"elbow: {path.n_changes[best]} changes")
    costs_ax.set_xlabel("number of changes")
    costs_ax.set_ylabel("total cost")
    costs_ax.legend(loc="upper right")
    if max(path.n_changes) > 50 * max(1, min(path.n_changes)):
        costs_ax.set_xscale("symlog", linthresh=10)
    costs_ax.set_xlim(left=0)
    edges = [*path.pen_low, path.pen_high[-1]]
    penalty_ax.stairs(path.n_changes, edges, color="tab:blue", baseline=None)
    penalty_ax.axvspan(path.pen_low[best], path.pen_high[best], color="tab:red", alpha=0.15,
                       label=f"elbow: pen in [{path.pen_low[best]:.3g}, {path.pen_high[best]:.3g}]")
    if path.reference_penalty is not None and edges[0] <= path.reference_penalty <= edges[-1]:
        penalty_ax.axvline(path.reference_penalty, color="0.3", linestyle="--", linewidth=1,
                           label=f"default penalty {path.reference_penalty:.3g}")
    penalty_ax.set_xscale("log")
    if max(path.n_changes) > 50 * max(1, min(path.n_changes)):
        penalty_ax.set_yscale("symlog", linthresh=10)
    penalty_ax.set_ylim(bottom=0)
    penalty_ax.set_xlabel("penalty")
    penalty_ax.set_ylabel("number of changes")
    penalty_ax.legend(loc="upper right", fontsize=8)
    fig.suptitle(f"penalty path: {len(path)} segmentations")
    return fig  # type: ignore[no-any-return]
