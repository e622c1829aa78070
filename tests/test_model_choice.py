"""detect(x) with nothing given chooses the description of the signal (level,
trend, spread, wandering level) as well as the penalty, and says why."""

import warnings

import numpy as np
import pytest

import tarnwell

RNG = np.random.default_rng


def _sales(seed):
    # Daily sales: a trend, a weekend effect and two large shifts.
    t = np.arange(730)
    return 200 + 0.1 * t + 25 * (t % 7 >= 5) + 60 * (t >= 250) - 90 * (t >= 500) + RNG(seed).normal(0, 10, 730)


def _detect(y, **options):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return tarnwell.detect(y, **options)


def _near(found, truth, margin=5):
    return sum(any(abs(b - t) <= margin for b in found) for t in truth)


def test_sales_shifts_are_found_on_their_trend_and_weekly_season():
    results = [_detect(_sales(seed)) for seed in range(10)]
    assert sum(_near(r.change_positions, [250, 500]) == 2 and r.n_changes == 2 for r in results) >= 9
    season = results[0].penalty_choice.description.season
    assert season is not None and round(season.period) in (7, 14)


def test_random_walks_have_no_change():
    walks = [np.cumsum(RNG(seed).normal(size=2000)) for seed in range(10)]
    assert sum(_detect(w).n_changes == 0 for w in walks) >= 9
    jumped = walks[0] + np.where(np.arange(2000) >= 1200, 25.0, 0.0)
    result = _detect(jumped)
    assert result.model == "walk" and result.change_positions == [1200]


@pytest.mark.parametrize("seed", range(5))
def test_twenty_small_shifts_of_long_levels(seed):
    rng = RNG(seed)
    y = np.repeat(rng.uniform(-3, 3, 20), 5000) + rng.normal(0, 1, 100_000)
    found = _detect(y).change_positions
    truth = range(5000, 100_000, 5000)
    # Every shift is found; where the exact optimum puts one of a fraction
    # of a noise unit (adjacent levels drawn close) can be a dozen samples off.
    assert len(found) == 19 and _near(found, truth) >= 16


def _bend(rng):
    t = np.arange(300.0)
    return np.where(t < 150, 0.05 * t, 7.5 - 0.08 * (t - 150)) + rng.normal(0, 0.5, 300)


@pytest.mark.parametrize("name, make, truth", [
    ("l2", lambda rng: np.repeat([0.0, 3.0, -1.0], 150) + rng.normal(size=450), [150, 300]),
    ("trend", _bend, [150]),
    ("normal", lambda rng: rng.normal(size=600) * np.repeat([1.0, 4.0, 1.5], 200), [200, 400]),
    # Three axes: every description counts the parameters of all of them.
    ("l2", lambda rng: np.repeat([[0, 0, 0], [2, -1, 0], [2, 1, 1]], 150, axis=0) + rng.normal(size=(450, 3)),
     [150, 300]),
    ("normal", lambda rng: rng.normal(size=(600, 3)) * np.repeat([1.0, 3.0, 1.5], 200)[:, None], [200, 400]),
])
def test_the_description_a_person_would_use_is_chosen(name, make, truth):
    y = make(RNG(1))
    result = _detect(y)
    assert result.model == name and _near(result.change_positions, truth, 8) == len(truth) == result.n_changes
    description = result.penalty_choice.description
    assert description.name == name and description.scores[name] == 0.0
    assert min(description.scores.values()) == 0.0 and len(description.scores) >= 2
    assert result.penalty == description.penalty and np.isfinite(result.cost)
    if name == "trend":  # the explicit description gives what detect chose
        assert _detect(y, model="trend").breakpoints == result.breakpoints


def test_explicit_descriptions_are_searched_by_pelt_only():
    y = np.cumsum(RNG(2).normal(size=300))
    assert _detect(y, model="walk", pen=1e9).n_changes == 0
    with pytest.raises(ValueError, match="Pelt only"):
        tarnwell.detect(y, "binseg", model="walk")
    with pytest.raises(TypeError, match="takes no parameter 'width'"):
        tarnwell.detect(y, model="trend", width=3)


@pytest.mark.parametrize("kernel", ["linear", "rbf", "cosine"])
def test_kernel_default_finds_the_plain_changes_of_two_features(kernel):
    x, _ = tarnwell.pw_constant(200, n_features=2, n_bkps=3, seed=1)  # changes at 67, 102, 106
    found = _detect(x, method="kernelcpd", kernel=kernel).change_positions
    assert _near(found, [67, 102]) == 2 and len(found) <= 4
