"""The pattern model: changes of shape, rhythm or motif with level and spread
unchanged, found by detect(x, model="pattern") with no parameter, and the
CostPattern segment cost that the searches run over."""

import pickle

import numpy as np
import pytest

import tarnwell

rng = np.random.default_rng(36)


def sinusoids(periods, length=1500, noise=0.1):
    """Segments of a unit sinusoid, one period per segment, phase-continuous."""
    phase = np.cumsum(np.concatenate([np.full(length, 2 * np.pi / p) for p in periods]))
    return np.sin(phase) + noise * rng.normal(size=phase.size)


def motifs(shapes, repeats=25, noise=0.05):
    """Each segment repeats one motif with jittered length and amplitude."""
    parts = []
    for shape in shapes:
        for _ in range(repeats):
            size = int(rng.integers(55, 66))
            grid = np.linspace(0, 1, size)
            parts.append(shape(grid) * rng.uniform(0.9, 1.1))
    return np.concatenate(parts) + noise * rng.normal(size=sum(p.size for p in parts))


def gait(cadences, length=2000):
    """Three axes of a walking-like recording whose step rhythm changes per segment."""
    steps = np.cumsum(np.concatenate([np.full(length, 1.0 / c) for c in cadences])) * 2 * np.pi
    axes = np.stack([np.sin(steps) + 0.5 * np.sin(2 * steps), np.cos(steps),
                     np.abs(np.sin(steps / 2)) - 0.6], axis=1)
    return axes + 0.1 * rng.normal(size=axes.shape)


def near(found, truth, tolerance):
    return len(found) == len(truth) and all(abs(f - t) <= tolerance for f, t in zip(found, truth))


@pytest.mark.parametrize("signal, truth", [
    (sinusoids([40, 17, 40]), [1500, 3000]),
    (motifs([lambda g: np.sin(2 * np.pi * g), lambda g: 2 * g - 1, lambda g: np.sin(2 * np.pi * g) ** 3]), None),
    (gait([30, 18, 30]), [2000, 4000]),
], ids=["frequency", "motif shape", "three-axis rhythm"])
def test_finds_changes_of_pattern(signal, truth):
    if truth is None:  # motifs: the true changes are where the shapes meet
        truth = list(np.cumsum([len(signal) // 3] * 2))
        tolerance = 0.04 * len(signal)
    else:
        tolerance = 0.02 * len(signal)
    result = tarnwell.detect(signal, model="pattern")
    assert near(result.change_positions, truth, tolerance), result.breakpoints
    assert result.model == "pattern" and result.breakpoints[-1] == len(signal)


@pytest.mark.parametrize("signal", [
    sinusoids([40]), rng.normal(size=3000), motifs([lambda g: np.sin(2 * np.pi * g) ** 3]),
], ids=["sinusoid", "white noise", "repeated motif"])
def test_one_pattern_has_no_change(signal):
    assert tarnwell.detect(signal, model="pattern").breakpoints == [len(signal)]


def test_level_and_spread_changes_alone_are_not_patterns():
    # The same sinusoid moved and stretched: level and spread change, shape not.
    base = sinusoids([30], length=4000)
    shifted = np.concatenate([base[:2000], 5 + 3 * base[2000:]])
    assert tarnwell.detect(shifted, model="pattern").breakpoints == [4000]


@pytest.mark.parametrize("scale, offset", [(1e-9, 0.0), (1e6, -3e6), (-1.0, 7.0)])
def test_scale_and_offset_keep_the_breakpoints(scale, offset):
    x = gait([30, 18], length=1500)
    expected = tarnwell.detect(x, model="pattern").breakpoints
    assert tarnwell.detect(x * scale + offset, model="pattern").breakpoints == expected


def brute_force_cost(x, width, k, start, end):
    """Minus the share of the segment's windows' k links that stay inside it."""
    x = x.reshape(len(x), -1)
    x = (x - x.mean(0)) / x.std(0)
    m = len(x) - width + 1
    windows = np.stack([x[i:i + width] for i in range(m)])  # m, width, d
    centred = windows - windows.mean(1, keepdims=True)
    unit = centred / np.linalg.norm(centred, axis=1, keepdims=True)
    similarity = np.einsum("iwf,jwf->ijf", unit, unit).mean(2)
    i, j = np.indices(similarity.shape)
    similarity[np.abs(i - j) < width] = -np.inf
    order = np.argsort(-similarity, axis=1, kind="stable")[:, :k]  # ties: the smaller index
    first = min(max(start - width // 2, 0), m)
    last = min(max(end - width // 2, 0), m)
    inside = sum(first <= j < last for row in range(first, last) for j in order[row])
    return -inside / (k * (last - first))


@pytest.mark.parametrize("features", [1, 3])
def test_costs_match_a_brute_force_neighbour_search(features):
    x = rng.normal(size=(300, features)).cumsum(0) + np.sin(np.arange(300) / 5)[:, None]
    cost = tarnwell.CostPattern(width=12, neighbours=3).fit(x if features > 1 else x[:, 0])
    for start, end in [(0, 300), (0, 150), (150, 300), (37, 211), (290, 300)]:
        assert cost.error(start, end) == pytest.approx(brute_force_cost(x, 12, 3, start, end), abs=1e-12)


def test_searches_run_over_the_pattern_cost():
    x = sinusoids([40, 17], length=600)
    found = {name: cls(model="pattern") for name, cls in
             [("pelt", tarnwell.Pelt), ("binseg", tarnwell.Binseg), ("dynp", tarnwell.Dynp)]}
    assert near(found["pelt"].fit_predict(x, pen=0.2)[:-1], [600], 24)
    assert near(found["binseg"].fit_predict(x, n_bkps=1)[:-1], [600], 24)
    assert near(found["dynp"].fit_predict(x, n_bkps=1)[:-1], [600], 24)
    path = tarnwell.penalty.penalty_path(x, 0.01, 0.5, model="pattern", jump=5)
    assert any(near(b[:-1], [600], 24) for b in path.breakpoints)


def test_cost_object_surface():
    cost = tarnwell.CostPattern(neighbours=2)
    assert (cost.width, cost.neighbours, repr(cost)) == (0, 2, "CostPattern(width=0, neighbours=2)")
    x = sinusoids([40, 17], length=600)
    cost.fit(x)
    assert repr(cost) == f"CostPattern(width={max(8, 40 // 8)}, neighbours=2)"
    assert -1.0 <= cost.error(0, 1200) <= 0.0
    restored = pickle.loads(pickle.dumps(cost))
    assert [restored.error(s, e) for s, e in [(0, 600), (300, 1200)]] == \
        [cost.error(s, e) for s, e in [(0, 600), (300, 1200)]]
    with pytest.raises(ValueError, match="neighbours must be positive"):
        tarnwell.CostPattern(neighbours=0)
    with pytest.raises(TypeError, match="width, neighbours"):
        tarnwell.detect(x, model="pattern", min_size=5)


# Neighbour tables whose size wraps around 2^64 (a search of all windows, or
# windows too long for any neighbour) are refused, not written past.
@pytest.mark.parametrize("width", [5, 20])
@pytest.mark.parametrize("neighbours", [2**63, 2**64 - 1])
def test_neighbour_counts_beyond_memory_are_refused(width, neighbours):
    with pytest.raises(MemoryError):
        tarnwell.CostPattern(width=width, neighbours=neighbours).fit(np.zeros((30, 2)))


@pytest.mark.parametrize("call", [
    lambda x: tarnwell.penalty.default_penalty(x, model="pattern"),
    lambda x: tarnwell.penalty.penalty_path(x, model="pattern"),
], ids=["default_penalty", "penalty_path"])
def test_no_default_penalty_in_signal_units(call):
    with pytest.raises(ValueError, match="the pattern model has no default penalty"):
        call(sinusoids([40], length=400))


def test_short_and_flat_signals_have_no_change():
    for x in [np.zeros(500), np.arange(12.0), np.ones((40, 2))]:
        assert tarnwell.detect(x, model="pattern").breakpoints == [len(x)]
