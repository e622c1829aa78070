"""The default penalty against its calibration suite (a fast subset of the
series benchmarks/defaults/run.py scores), its invariances, and what detect
reports with it."""

import warnings

import numpy as np
import pytest

import tarnwell
from tarnwell import _tarnwell
from tarnwell._methods import available_searches, cost_models
from tarnwell.penalty import UnderSegmentationWarning, choose_penalty, undersegmentation_message

from calibration.outcomes import Summary, acceptance, detectors, run
from calibration.series import FAMILIES, ar1, suite

# Short series only, so the three defaults run in a few seconds; a seed of
# its own, so the subset is not the set the constants were chosen on.
SUBSET = list(suite(seed=91, per_family=12, long=False, max_length=1500))


@pytest.fixture(scope="module")
def outcomes():
    return {name: run(detector, SUBSET) for name, detector in detectors("l2").items()}


def test_new_default_beats_every_earlier_one(outcomes):
    # "new" is detect(x), which chooses the model too; "model=l2" the l2
    # rule it had before.
    scores = {name: Summary.of(result) for name, result in outcomes.items()}
    for earlier in ("previous", "replaced", "model=l2"):
        assert scores["new"].f1 > scores[earlier].f1 + 0.05, scores
        assert scores["new"].cover > scores[earlier].cover + 0.05, scores
    quiet = [o.false_alarm for o in outcomes["new"] if not o.series.has_change]
    assert np.mean(quiet) <= 0.1  # random walks included


@pytest.mark.parametrize("family", FAMILIES)
def test_no_family_falls_behind_an_earlier_default(outcomes, family):
    # On 12 short series per family one series moves F1 by 0.08: the bar
    # leaves room for one.
    mine = {name: Summary.of([o for o in result if o.series.family == family]) for name, result in outcomes.items()}
    best = max(mine[name].f1 for name in ("previous", "replaced", "model=l2"))
    assert mine["new"].f1 >= best - 0.06, mine


def test_acceptance_bars_hold_loosely(outcomes):
    # The full suite's figures are in the documentation (how the default
    # penalty was calibrated). This subset holds only
    # short series (the hardest), and a few series move its shares, so the
    # bars sit between the new default's figures here and the earlier ones'
    # (false alarms 0.05 against 0.32; series with every large shift found
    # 0.74 against 0.65; large shifts found 0.78 against 0.69).
    false_alarms, large_found = acceptance(outcomes["new"])
    assert false_alarms <= 0.15
    assert large_found >= 0.7
    found = Summary.of(outcomes["new"]).found
    assert found[-1] >= 0.72, found  # shifts of 3 to 4 noise units, one by one


@pytest.mark.parametrize("family", ["level shifts", "AR(1) noise", "Student t(3) noise", "isolated outliers",
                                    "seasonal"])
def test_no_family_is_cut_into_pieces(outcomes, family):
    mine = [o for o in outcomes["new"] if o.series.family == family]
    summary = Summary.of(mine)
    assert summary.changes <= summary.truth + 0.5, summary


def _one_per_family():
    for name in FAMILIES:
        yield next(s for s in suite(seed=5, per_family=4, long=False, max_length=800, families=(name,))
                   if s.has_change)


COSTS = [("pelt", {})] + [("pelt", {"model": m}) for m in ("l2", "l1", "normal", "rank", "mahalanobis", "ar")] + [
    ("kernelcpd", {"kernel": k}) for k in ("linear", "rbf")] + [("l1potts", {})]
MOVES = [(1e-6, 0.0), (1e6, 0.0), (1.0, 1e6), (2.0**-20, 2.0**20)]

# Where the search itself, at an exactly rescaled penalty, already gives
# other breakpoints, the default penalty cannot help it: the "normal" cost
# adds a fixed ridge of 1e-6 to every variance; the kernel search on the
# linear kernel with values near 1e-6 and the "ar" cost on values near 1e6
# lose the comparison to rounding.
NOT_INVARIANT = {("normal", 1e-6), ("normal", 2.0**-20), ("linear", 1e-6), ("linear", 2.0**-20),
                 ("ar", 1e6), ("ar", 2.0**20)}


@pytest.mark.parametrize("method, cost", COSTS, ids=[c.get("model", c.get("kernel", m)) for m, c in COSTS])
@pytest.mark.parametrize("scale, offset", MOVES)
def test_breakpoints_ignore_scale_and_offset(method, cost, scale, offset):
    name = cost.get("model", cost.get("kernel", method))
    if method not in available_searches():
        pytest.skip(f"{method} is not in this build")
    if (name, scale) in NOT_INVARIANT or (name, offset) in NOT_INVARIANT:
        pytest.skip(f"the {name} search itself is not invariant under this move")
    for series in _one_per_family():
        y = series.values[:300] if name in ("l1", "ar") else series.values  # slow costs: shorter
        y = (y - y.mean()) / y.std()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            reference = tarnwell.detect(y, method, **cost).breakpoints
            moved = tarnwell.detect(y * scale + offset, method, **cost).breakpoints
        assert moved == reference, (series.family, scale, offset)


def test_penalty_scales_with_the_cost_for_every_rule():
    signal = next(_one_per_family()).values
    signal = (signal - signal.mean()) / signal.std()
    for method, cost in [*COSTS, ("pelt", {"model": "clinear"}), ("kernelcpd", {"kernel": "cosine"})]:
        if method not in available_searches():
            continue
        y = np.c_[signal, np.ones_like(signal)] if cost.get("model") == "linear" else signal
        base = tarnwell.penalty.default_penalty(y, method=method, **cost)
        power = {"l1": 1, "l1potts": 1, "normal": 0, "rank": 0, "rbf": 0, "cosine": 0}.get(
            cost.get("model", cost.get("kernel", method)), 2)
        # The cosine kernel compares directions, which an offset changes.
        offset = 0.0 if cost.get("kernel") == "cosine" else 3.0
        assert tarnwell.penalty.default_penalty(y * 8.0 - offset, method=method, **cost) == pytest.approx(
            base * 8.0**power, rel=1e-9), (method, cost)


def test_every_cost_declares_a_rule_that_agrees_with_its_scale():
    family = {"squared": {"squared", "regression", "innovations", "marginal"}, "absolute": {"absolute"},
              "likelihood": {"likelihood", "ranks"}}
    for d in (1, 2, 3):
        for entry in cost_models(d):
            if entry["penalty"]["unit"] == "none":  # a cost not in the signal's units says what to pass
                assert entry["penalty"]["instead"], entry["name"]
                continue
            assert entry["penalty"]["segment_parameters"] == entry["segment_parameters"], (entry["name"], d)
            assert entry["penalty"]["unit"] in family[entry["scale"]], entry["name"]
    # A penalized search that brings its own cost declares that cost's rule.
    for entry in _tarnwell._searches():
        assert entry["model"] or not entry["penalized"] or entry["own_cost_penalties"], entry["name"]


def test_large_shift_in_strongly_correlated_noise_is_found():
    # The case the earlier default missed: a jump of many noise units for the
    # last third, on correlated noise, where a correlation factor measured
    # around the unfitted jump reached 19.
    rng = np.random.default_rng(3)
    y = ar1(rng, 900, 0.8) + np.where(np.arange(900) >= 600, 20.0, 0.0)
    result = tarnwell.detect(y)
    assert any(abs(b - 600) <= 5 for b in result.change_positions), result.breakpoints
    assert result.n_changes <= 3


@pytest.mark.parametrize("n, drift", [(150, 2.5), (250, 2.0), (700, 1.5)])
def test_linear_drift_without_change_is_left_whole(n, drift):
    # Short drifts whose first search finds a single gradual step: the
    # earlier rule needed two before it priced a trend, and cut each once.
    y = drift * np.linspace(0.0, 1.0, n) + np.random.default_rng(1).normal(size=n)
    assert tarnwell.detect(y).n_changes == 0


def test_large_shift_is_found_beside_an_enormous_glitch():
    # One glitch of 100 noise units must not raise the penalty above what
    # the shift buys: it is cut out instead of silencing the signal.
    rng = np.random.default_rng(0)
    y = np.where(np.arange(2000) >= 1500, 3.5, 0.0) + rng.normal(size=2000)
    y[500] += 100.0
    assert any(abs(b - 1500) <= 5 for b in tarnwell.detect(y).change_positions)


@pytest.mark.parametrize("method, cost", [("pelt", {"model": "l1"}), ("pelt", {"model": "rank"}), ("l1potts", {})])
@pytest.mark.parametrize("scale", [1e-300, 1e300])
def test_breakpoints_ignore_extreme_units(method, cost, scale):
    # Costs without squares work in any unit, and so does their penalty
    # (and the check of the result, without overflowing on the way).
    if method not in available_searches():
        pytest.skip(f"{method} is not in this build")
    y = np.repeat([0.0, 3.0, -1.0], 100) + np.random.default_rng(2).normal(size=300)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        reference = tarnwell.detect(y, method, **cost)
        moved = tarnwell.detect(y * scale, method, **cost)
    assert moved.breakpoints == reference.breakpoints
    assert moved.penalty == pytest.approx(reference.penalty * (1.0 if cost.get("model") == "rank" else scale))


def test_result_reports_the_penalty_and_the_model():
    y = np.repeat([0.0, 4.0], 150) + np.random.default_rng(8).normal(size=300)
    result = tarnwell.detect(y, model="l1")
    search = tarnwell.Pelt(model="l1").fit(y)
    chosen, _ = choose_penalty(search, y.reshape(-1, 1), {})
    assert result.model == "l1" and result.penalty == pytest.approx(chosen.value)
    assert chosen.value == pytest.approx(chosen.noise_term * max(chosen.excursion, chosen.gradual))
    assert tarnwell.detect(y, pen=7.5).penalty == 7.5


def test_undersegmentation_warning():
    t = np.arange(400.0)
    steps = np.where(t >= 200, 6.0, 0.0) + np.random.default_rng(4).normal(size=400)
    with pytest.warns(UnderSegmentationWarning, match=r"\[0, 400\) holds a shift .* at sample 20\d"):
        tarnwell.detect(steps, pen=1e6)
    trend = 0.05 * t + np.random.default_rng(5).normal(size=400)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        tarnwell.detect(steps)                       # found: nothing left inside
        tarnwell.detect(trend, pen=1e6)              # a trend is not an abrupt shift
        tarnwell.detect(steps, pen=1e6, warn=False)
    assert undersegmentation_message(steps, [200, 400]) is None
    assert undersegmentation_message(np.zeros(50), [50]) is None  # no noise to measure against


@pytest.mark.parametrize("options", [{}, {"model": "l2"}, {"method": "binseg"}, {"method": "bottomup"},
                                     {"method": "kernelcpd", "kernel": "linear"}])
def test_noiseless_step_is_found(options):
    # Most steps are exactly 0: the one that is not is the change, not the noise.
    if options.get("method", "pelt") not in available_searches():
        pytest.skip("not in this build")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert tarnwell.detect([0] * 20 + [5] * 20, **options).breakpoints == [20, 40]


def test_rank_finds_a_step_in_mostly_constant_integers():
    # Ties share their mean rank: in order of appearance a run of equal
    # values became a ramp, which the trend raise took for a trend.
    rng = np.random.default_rng(0)
    counts = np.r_[np.full(100, 3.0), np.full(100, 13.0)]
    counts[rng.choice(200, 10, replace=False)] += rng.choice([-1.0, 1.0], 10)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert tarnwell.detect(counts, model="rank").breakpoints == [100, 200]


def test_normal_says_when_it_isolates_runs_of_equal_values():
    rng = np.random.default_rng(0)
    runs = np.repeat(rng.poisson(3, 60), rng.integers(1, 6, 60)).astype(float)
    with pytest.warns(tarnwell.OverSegmentationWarning, match="hold a single repeated value.*steps of 1"):
        tarnwell.detect(runs, model="normal")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert tarnwell.detect(runs).model != "normal"  # spread is not described on tied data
