import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import tarnwell  # noqa: E402

PNG_MAGIC = b"\x89PNG\r\n\x1a\n"
SIGNAL = np.repeat([0.0, 3.0, 1.0], 50)[:, None] + np.linspace(0, 1, 150)[:, None] * np.arange(1, 10)


def vertical_lines(ax, color):
    return [line for line in ax.get_lines()
            if line.get_color() == color and len(set(np.atleast_1d(line.get_xdata()))) == 1]


@pytest.mark.parametrize("features, max_features, panels", [(1, 6, 1), (3, 6, 3), (9, 4, 4)])
def test_plot_renders_panels_lines_and_shading(tmp_path, features, max_features, panels):
    fig = tarnwell.plot(SIGNAL[:, :features], [50, 100, 150], [48, 100, 150], max_features=max_features)
    try:
        assert len(fig.axes) == panels
        for ax in fig.axes:
            assert len(vertical_lines(ax, "tab:red")) == 2          # detected, the final n not drawn
            assert len(vertical_lines(ax, "black")) == 2            # true
            assert len(ax.patches) == 3                             # one shaded span per segment
        if features > max_features:
            assert f"first {max_features} of {features}" in fig._suptitle.get_text()
        target = tmp_path / "plot.png"
        fig.savefig(target)
        assert target.read_bytes()[:8] == PNG_MAGIC and target.stat().st_size > 5000
    finally:
        plt.close(fig)


def test_result_and_path_plots_and_pandas_axis(tmp_path):
    pd = pytest.importorskip("pandas")
    times = pd.date_range("2020-01-01", periods=150, freq="h")
    series = pd.Series(SIGNAL[:, 0], index=times, name="load")
    result = tarnwell.detect(series, pen=5.0, jump=1)
    fig = result.plot(true_breakpoints=[50, 100, 150], title="load")
    assert fig.axes[0].get_ylabel() == "load"
    fig.savefig(tmp_path / "result.png")
    plt.close(fig)
    path = tarnwell.penalty.penalty_path(SIGNAL[:, 0], 0.1, 100.0, jump=1)
    fig = path.plot()
    fig.savefig(tmp_path / "path.png")
    assert (tmp_path / "path.png").read_bytes()[:8] == PNG_MAGIC
    plt.close(fig)


@pytest.mark.parametrize("bkps, text", [([20, 10, 150], "increasing"), ([50, 200], "between 0 and 150")])
def test_plot_rejects_bad_breakpoints(bkps, text):
    with pytest.raises(ValueError, match=text):
        tarnwell.plot(SIGNAL, bkps)


def test_plot_into_given_axes_names_only_what_is_drawn():
    fig, axes = plt.subplots(1, 2)
    assert tarnwell.plot(SIGNAL[:, :2], [150], ax=axes) is fig
    assert all(ax.get_legend() is None for ax in axes)                  # nothing detected, nothing listed
    fig, ax = plt.subplots()
    tarnwell.plot(SIGNAL[:, :3], [50, 150], ax=ax)                       # one Axes: features overlaid
    assert [t.get_text() for t in ax.get_legend().get_texts()] == ["feature 0", "feature 1", "feature 2",
                                                                    "detected"]
    with pytest.raises(ValueError, match="ax holds 2 axes for 3 features"):
        tarnwell.plot(SIGNAL[:, :3], ax=axes)
    plt.close("all")


def test_penalty_path_plot_stays_readable_with_hundreds_of_rows(tmp_path):
    noisy = np.random.default_rng(2).normal(0, 1, 1500) + np.repeat([0.0, 2.0, 0.5], 500)
    path = tarnwell.penalty.penalty_path(noisy, 0.05, 500.0)
    assert len(path) >= 200
    fig = path.plot()
    labels = [t for ax in fig.axes for t in ax.texts]
    assert not labels and len(fig.axes[0].get_legend().get_texts()) == 1   # only the elbow is named
    fig.savefig(tmp_path / "path.png")
    plt.close(fig)


@pytest.mark.parametrize("freq, unit", [("s", "time (minutes)"), ("1ms", "time (seconds)"), ("h", "time (days)")])
def test_a_duration_index_is_drawn_in_a_unit_that_fits(tmp_path, freq, unit):
    pd = pytest.importorskip("pandas")
    series = pd.Series(np.r_[np.zeros(100), np.ones(100) * 5], index=pd.timedelta_range(0, periods=200, freq=freq))
    fig = tarnwell.detect(series).plot()
    assert fig.axes[-1].get_xlabel() == unit
    line = vertical_lines(fig.axes[0], "tab:red")[0]
    assert line.get_xdata()[0] == pytest.approx(series.index[100].total_seconds() / {
        "time (minutes)": 60, "time (seconds)": 1, "time (days)": 86400}[unit])
    fig.savefig(tmp_path / "durations.png")
    plt.close(fig)
