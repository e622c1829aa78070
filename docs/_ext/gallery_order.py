"""The order of the gallery's examples: from the first detection a newcomer
makes to the tools for many signals and costs of one's own (an example not
listed comes last, by file name)."""

ORDER = [
    "plot_level_shifts.py", "plot_variance_change.py", "plot_trend_change.py", "plot_robust_outliers.py",
    "plot_kernel_distribution.py", "plot_pattern_changes.py", "plot_penalty_path.py", "plot_many_signals.py", "plot_custom_cost.py",
]


class GalleryOrder:
    """A sort key for sphinx-gallery's within_subsection_order."""

    def __init__(self, src_dir: str) -> None:
        self.src_dir = src_dir

    def __call__(self, filename: str) -> tuple[int, str]:
        return (ORDER.index(filename) if filename in ORDER else len(ORDER), filename)

    def __repr__(self) -> str:
        return f"<{type(self).__name__}>"
