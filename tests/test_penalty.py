import math
import warnings

import numpy as np
import pytest

import tarnwell
from tarnwell._methods import available_searches
from tarnwell.penalty import OverSegmentationWarning, default_penalty, oversegmentation_message, penalty_path

N = 600
T = np.arange(N, dtype=float)


def noise(seed, scale=1.0, size=N):
    return np.random.default_rng(seed).normal(0.0, scale, size)


def steps(levels, lengths, seed):
    y = np.repeat(np.asarray(levels, dtype=float), lengths)
    return y + noise(seed, size=y.size), [int(b) for b in np.cumsum(lengths)]


STEP_SIGNALS = {
    "three even steps": steps([0, 3, -1, 2], [150] * 4, 1),
    "short and small steps": steps([0, 2, 0, 4, 1], [200, 60, 140, 100, 100], 2),
    "two features": (np.c_[steps([0, 2, 0], [200, 200, 200], 3)[0], noise(4)], [200, 400, 600]),
    "trend with a level shift": (0.01 * T + np.where(T >= 300, 4.0, 0.0) + noise(5), [300, N]),
}


@pytest.mark.parametrize("name", STEP_SIGNALS)
def test_default_finds_the_true_changes_at_every_scale(name):
    signal, truth = STEP_SIGNALS[name]
    for scale in (0.1, 1.0, 10.0, 100.0):
        with warnings.catch_warnings():
            warnings.simplefilter("error", OverSegmentationWarning)
            found = tarnwell.detect(signal * scale, jump=1).breakpoints
        assert len(found) == len(truth), (scale, found)
        assert tarnwell.precision_recall(truth, found, margin=5) == (1.0, 1.0), (scale, found)


def _ar1(seed, phi=0.7):
    shocks, y = noise(seed), np.zeros(N)
    for i in range(1, N):
        y[i] = phi * y[i - 1] + shocks[i]
    return y


CHANGELESS = {
    # name: (signal, the most changes allowed)
    "linear trend": (0.02 * T + noise(11), 2),
    "population-like growth": (1000 / (1 + np.exp(-(T - 300) / 80)) + noise(12, 0.5), 2),
    "seasonal, period 12": (5 * np.sin(2 * np.pi * T / 12) + noise(13), 0),
    "seasonal on a trend": (3 * np.sin(2 * np.pi * T / 12) + 0.01 * T + noise(14), 2),
    "a few outliers": (np.where(np.isin(T, [50, 210, 420]), 8.0, 0.0) + noise(15), 0),
    "a huge glitch": (np.where(T == 333, 1e6, 0.0) + noise(16), 2),
    "autocorrelated noise": (_ar1(17), 0),
}


@pytest.mark.parametrize("name", CHANGELESS)
def test_default_does_not_oversegment_smooth_or_noisy_series(name):
    signal, most = CHANGELESS[name]
    with warnings.catch_warnings():
        warnings.simplefilter("error", OverSegmentationWarning)
        counts = {scale: tarnwell.detect(signal * scale, jump=1).n_changes for scale in (0.1, 100.0)}
    assert counts[0.1] == counts[100.0] <= most, counts


def test_first_difference_noise_scale_would_oversegment_the_same_series():
    # Guards the reason for the default: a penalty from the sample-to-sample
    # noise cuts a smooth curve into many short steps, which the warning flags.
    signal = CHANGELESS["population-like growth"][0]
    d = np.diff(signal)
    sigma = np.median(np.abs(d - np.median(d))) / 0.6745 / np.sqrt(2)
    with pytest.warns(OverSegmentationWarning):
        naive = tarnwell.detect(signal, jump=1, pen=3 * np.log(N) * sigma**2)
    assert naive.n_changes > 50


@pytest.mark.parametrize("model, factor", [("l2", 1.0), ("l2", 7.0), ("mahalanobis", 1.0), ("l1", 1.0),
                                           ("normal", 1.0), ("rank", 1.0)])
def test_default_penalty_per_model_scales_with_the_cost(model, factor):
    signal = STEP_SIGNALS["three even steps"][0]
    try:
        base = default_penalty(signal, model, jump=1)
    except (NotImplementedError, ValueError) as error:
        pytest.skip(f"model {model} not in this build: {error}")
    scaled = default_penalty(signal * factor, model, jump=1)
    power = {"l2": 2, "mahalanobis": 2, "l1": 1, "normal": 0, "rank": 0}[model]
    assert scaled == pytest.approx(base * factor**power, rel=1e-9)
    assert base > 0


def test_default_penalty_refuses_custom_costs():
    class Squares:
        min_size = 1

        def fit(self, signal):
            self.y = np.asarray(signal)[:, 0]
            return self

        def error(self, start, end):
            part = self.y[start:end]
            return float(((part - part.mean()) ** 2).sum())

    with pytest.raises(ValueError, match="no default penalty for a custom cost"):
        tarnwell.detect(np.arange(20.0), custom_cost=Squares())


@pytest.mark.parametrize("lengths, kwargs, flagged", [
    ([3, 3, 3, 3, 3, 100], {}, True),
    ([3, 3, 3, 100, 100, 100], {}, False),   # exactly half short
    ([3, 3, 3, 3], {}, False),               # too few segments to tell
    ([8, 8, 8, 8, 8], {"jump": 5}, True),    # 2·jump samples is still short
    ([8, 8, 8, 8, 8], {}, False),
])
def test_oversegmentation_rule(lengths, kwargs, flagged):
    bkps = [int(b) for b in np.cumsum(lengths)]
    assert (oversegmentation_message(bkps, **kwargs) is not None) == flagged


# -- penalty path ----------------------------------------------------------------------------------

PATH_SIGNAL = steps([0, 2, -1, 1.5, 0, 3], [40, 30, 50, 25, 35, 40], 21)[0]


@pytest.mark.parametrize("model, jump, min_size", [("l2", 1, 2), ("l2", 5, 2), ("l2", 1, 7), ("l1", 3, 2),
                                                   ("mahalanobis", 1, 2)])
def test_path_segmentations_are_the_searches_inside_each_interval(model, jump, min_size):
    try:
        path = penalty_path(PATH_SIGNAL, 0.5, 500.0, model=model, jump=jump, min_size=min_size)
    except (NotImplementedError, ValueError) as error:
        pytest.skip(f"model {model} not in this build: {error}")
    pelt = tarnwell.Pelt(model=model, jump=jump, min_size=min_size).fit(PATH_SIGNAL)
    assert len(path) >= 4
    assert path.pen_low[0] == 0.5 and path.pen_high[-1] == 500.0
    assert path.pen_high[:-1] == path.pen_low[1:]                  # the intervals tile the range
    assert all(a > b for a, b in zip(path.n_changes, path.n_changes[1:]))
    assert all(a < b for a, b in zip(path.costs, path.costs[1:]))
    for low, high, bkps in zip(path.pen_low, path.pen_high, path.breakpoints):
        for pen in (low + 0.01 * (high - low), (low + high) / 2, high - 0.01 * (high - low)):
            assert pelt.predict(pen) == bkps, (pen, low, high)
            assert path.segmentation(pen) == bkps
    # Every optimal segmentation is on the path: none is found between the grid points.
    counts = {len(pelt.predict(pen)) - 1 for pen in np.geomspace(0.5, 500.0, 60)}
    assert counts <= set(path.n_changes)


def test_path_costs_and_elbow():
    path = penalty_path(PATH_SIGNAL, 0.5, 2000.0, jump=1)
    cost = tarnwell.CostL2().fit(PATH_SIGNAL)
    assert path.costs == pytest.approx([cost.sum_of_costs(b) for b in path.breakpoints])
    assert path.n_searches <= 2 * len(path) + 1
    elbow = path.n_changes[path.elbow()]
    assert 3 <= elbow <= 6


@pytest.mark.skipif("kernelcpd" not in available_searches(), reason="KernelCPD is not in this build")
@pytest.mark.parametrize("kernel", ["linear", "rbf", "cosine"])
def test_path_for_kernel_search(kernel):
    signal = np.c_[PATH_SIGNAL, np.roll(PATH_SIGNAL, 3)]
    path = penalty_path(signal, 0.01, 100.0, method="kernelcpd", kernel=kernel, min_size=2, jump=1)
    search = tarnwell.KernelCPD(kernel=kernel, min_size=2, jump=1).fit(signal)
    for low, high, bkps in zip(path.pen_low, path.pen_high, path.breakpoints):
        assert search.predict(pen=(low + high) / 2) == bkps


@pytest.mark.parametrize("args, kwargs, text", [
    ((10.0, 1.0), {}, "0 < pen_min < pen_max"),
    ((0.0, 1.0), {}, "0 < pen_min < pen_max"),
    ((1.0, np.inf), {}, "0 < pen_min < pen_max"),
    ((1.0, 10.0), {"method": "binseg"}, "exact penalized search"),
])
def test_path_rejects_bad_requests(args, kwargs, text):
    with pytest.raises(ValueError, match=text):
        penalty_path(PATH_SIGNAL, *args, **kwargs)


def test_path_default_range_brackets_the_default_penalty():
    path = penalty_path(PATH_SIGNAL, jump=1)
    pen = default_penalty(PATH_SIGNAL, jump=1)
    assert path.pen_low[0] == pytest.approx(pen / 10) and path.pen_high[-1] == pytest.approx(pen * 10)
    assert path.segmentation(pen) == tarnwell.detect(PATH_SIGNAL, jump=1).breakpoints


@pytest.mark.skipif("kernelcpd" not in available_searches(), reason="KernelCPD is not in this build")
@pytest.mark.parametrize("kernel", ["rbf", "linear"])
def test_kernel_default_penalty_finds_steps_and_leaves_noise_alone(kernel):
    signal, truth = STEP_SIGNALS["three even steps"]
    for scale in (0.1, 100.0):
        found = tarnwell.detect(signal * scale, method="kernelcpd", kernel=kernel).breakpoints
        assert tarnwell.precision_recall(truth, found, margin=5) == (1.0, 1.0) and len(found) == len(truth)
    for name in ("seasonal, period 12", "a few outliers", "autocorrelated noise"):
        assert tarnwell.detect(CHANGELESS[name][0], method="kernelcpd", kernel=kernel).n_changes == 0, name


@pytest.mark.parametrize("model", ["clinear", "linear"])
def test_regression_models_measure_their_own_residuals(model):
    kink = np.abs(T - 300) * 0.05 + noise(31)
    def shaped(y):
        return y if model == "clinear" else np.c_[y, np.ones_like(y)]  # "linear": a level via a constant regressor
    try:
        found = tarnwell.detect(shaped(kink), model=model, jump=5)
    except NotImplementedError:
        pytest.skip(f"model {model} is not in this build")
    if model == "clinear":
        assert found.n_changes == 1 and abs(found.breakpoints[0] - 300) <= 20
    for name in ("seasonal, period 12", "autocorrelated noise"):
        for scale in (0.1, 100.0):
            assert tarnwell.detect(shaped(CHANGELESS[name][0] * scale), model=model, jump=5).n_changes == 0, name


def test_default_path_range_and_an_elbow_that_ignores_the_range():
    signal = STEP_SIGNALS["short and small steps"][0] * 30.0            # the signal's own units
    path = penalty_path(signal)
    reference = default_penalty(signal)
    assert path.reference_penalty == pytest.approx(reference)
    assert (path.pen_low[0], path.pen_high[-1]) == pytest.approx((reference / 10, reference * 10))
    elbows = {path.n_changes[path.elbow()]}
    for low, high in [(reference / 100, reference * 10), (reference / 10, reference * 1000), (1e-3, 1e9)]:
        other = penalty_path(signal, low, high)
        elbows.add(other.n_changes[other.elbow()])
    assert elbows == {4}


def test_penalty_path_rows_stay_ordered_when_rounding_inverts_a_switch():
    # Three segmentations whose switches tie in exact arithmetic (4/3) but
    # round in the wrong order: the middle one is optimal for no penalty.
    from tarnwell._penalty_path import _lower_envelope, _Run

    runs = [_Run([1, 2, 3, 4], 0.0), _Run([1, 2, 4], 1.3333333333333428), _Run([1, 4], 2.6666666666666572)]
    kept = _lower_envelope(runs)
    assert [run.changes for run in kept] == [3, 1]
    assert _lower_envelope(runs[:2]) == runs[:2] and _lower_envelope([runs[0], runs[2]]) == [runs[0], runs[2]]


@pytest.mark.parametrize("scale", [1e-300, 1e-170, 1e154, 1e160, 1e200, 1e300])
@pytest.mark.parametrize("choice", [{"model": "rank"}, {"model": "l1"}, {"method": "kernelcpd", "kernel": "cosine"}])
def test_default_penalties_stay_finite_at_extreme_scales(scale, choice):
    # Statistics squared or raised to the fourth power must not overflow to
    # NaN; the scale-free costs (rank, cosine) keep their penalty.
    rng = np.random.default_rng(0)
    x = np.concatenate([rng.normal(0, 1, (100, 2)), rng.normal(5, 1, (100, 2))])
    found = default_penalty(x * scale, **choice)
    assert math.isfinite(found) and found > 0
    if choice.get("model") != "l1":
        assert found == pytest.approx(default_penalty(x, **choice), rel=1e-6)
    assert tarnwell.detect(x * scale, **choice).breakpoints[-1] == 200
