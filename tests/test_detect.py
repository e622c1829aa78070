import pickle
import warnings

import numpy as np
import pytest

import tarnwell
from tarnwell._methods import available_searches

pd = pytest.importorskip("pandas")

LEVELS = np.repeat([0.0, 5.0, 1.0], [60, 50, 70])
NOISE = np.random.default_rng(3).normal(0.0, 0.5, LEVELS.size)
STEPS = LEVELS + NOISE
TRUTH = [60, 110, 180]


def exact(signal, pen=20.0):
    return tarnwell.Pelt(jump=1).fit_predict(np.ascontiguousarray(signal, dtype=np.float64), pen)


@pytest.mark.parametrize("convert", [
    lambda y: list(y),
    lambda y: y.astype(np.float32),
    lambda y: np.round(y * 10).astype(np.int32),
    lambda y: np.round(y * 10).astype(np.uint16) + np.uint16(100),
    lambda y: np.asfortranarray(np.c_[y, -y]),
    lambda y: np.c_[y, y][::2],  # strided view
    lambda y: pd.Series(y),
    lambda y: pd.DataFrame({"a": y, "b": np.round(y).astype(int)}),
], ids=["list", "float32", "int32", "uint16", "fortran-2d", "strided", "series", "frame"])
def test_array_likes_match_the_float64_search(convert):
    given = convert(STEPS)
    reference = np.asarray(given, dtype=np.float64)
    result = tarnwell.detect(given, pen=20.0, jump=1, warn=False)
    assert result.breakpoints == exact(reference)
    assert result.n_samples == reference.shape[0]


def test_result_fields_and_cost():
    result = tarnwell.detect(STEPS, jump=1)
    assert result.breakpoints == TRUTH
    assert result.change_points == result.change_positions == TRUTH[:-1]
    assert result.segments == [(0, 60), (60, 110), (110, 180)]
    assert result.n_changes == 2 and result.method == "Pelt" and result.model == "l2"
    assert result.penalty == pytest.approx(tarnwell.penalty.default_penalty(STEPS, jump=1))
    assert result.cost == pytest.approx(tarnwell.CostL2().fit(STEPS).sum_of_costs(TRUTH))
    clone = pickle.loads(pickle.dumps(result))
    assert clone.breakpoints == result.breakpoints and clone.cost == pytest.approx(result.cost)


def test_pandas_index_labels():
    times = pd.date_range("2024-01-01", periods=STEPS.size, freq="D")
    result = tarnwell.detect(pd.Series(STEPS, index=times), jump=1)
    assert result.change_points == [times[60], times[110]]
    assert result.change_positions == [60, 110]


@pytest.mark.parametrize("signal, error, text", [
    (np.array(["a", "b"]), TypeError, "must be numbers"),
    (np.array([1 + 2j, 3j]), TypeError, "complex"),
    (np.array(["2024-01-01"], dtype="datetime64[D]"), TypeError, "index"),
    ([1.0, "x", 3.0], TypeError, "numbers"),
    (np.zeros((3, 2, 2)), ValueError, "one or two dimensions"),
    (np.zeros(0), ValueError, "empty"),
    (np.array([1.0, np.nan, 2.0]), ValueError, "row 1"),
    (np.array([[1.0, 2.0], [3.0, np.inf], [0, 0]]), ValueError, "row 1, column 1"),
], ids=["str", "complex", "datetime", "mixed-list", "3d", "empty", "nan", "inf"])
def test_bad_signals_get_clear_errors(signal, error, text):
    with pytest.raises(error, match=text):
        tarnwell.detect(signal, pen=1.0)


def test_pandas_errors_name_the_problem():
    frame = pd.DataFrame({"value": [1.0, 2.0, 3.0], "kind": ["a", "b", "c"]})
    with pytest.raises(TypeError, match=r"non-numeric columns \['kind'\]"):
        tarnwell.detect(frame, pen=1.0)
    series = pd.Series([1.0, None, 3.0], index=["x", "y", "z"])
    with pytest.raises(ValueError, match="index label 'y'"):
        tarnwell.detect(series, pen=1.0)


def test_transposed_input_warns_once():
    with pytest.warns(tarnwell.TransposedSignalWarning, match="3 rows and 50 columns"):
        tarnwell.detect(np.zeros((3, 50)), pen=1.0, min_size=1, jump=1)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        tarnwell.detect(np.zeros((50, 3)), pen=1.0)


@pytest.mark.parametrize("kwargs, error, text", [
    ({"pen": 1.0, "n_bkps": 2}, ValueError, "at most one"),
    ({"method": "pelt", "n_bkps": 2}, ValueError, "Pelt does not take n_bkps"),
    ({"method": "dynp"}, ValueError, "Dynp needs one of n_bkps"),
    ({"method": "nosuch"}, ValueError, "unknown method 'nosuch'; available methods: .*Pelt"),
    ({"method": 3}, TypeError, "method must be a name"),
    ({"method": "binseg", "model": 2}, TypeError, "model must be a model name .* got int"),
    ({"width": 10}, TypeError, "Pelt takes no parameter 'width'"),
    ({"model": "nosuch"}, ValueError, "unsupported model"),
    ({"pen": -1.0}, ValueError, "penalty must be finite and positive"),
])
def test_bad_requests(kwargs, error, text):
    with pytest.raises(error, match=text):
        tarnwell.detect(STEPS, **kwargs)


def test_method_absent_from_this_build_is_named():
    known = {"kernelcpd", "l1potts"} - set(available_searches())
    if not known:
        pytest.skip("this build has every search")
    with pytest.raises(ValueError, match="not available in this build"):
        tarnwell.detect(STEPS, method=known.pop())


# Parameters of a search's own tried beside its defaults, and the ones this
# short signal needs.
VARIANTS = {"KernelCPD": [{}, {"kernel": "linear"}], "Window": [{"width": 40}]}


def _served(entry):
    rules = [{"n_bkps": 2}] if entry["fixed_count"] else []
    rules += [{}, {"pen": 10.0}] if entry["penalized"] else []
    rules += [{"epsilon": 200.0}] if entry["threshold"] else []
    return [(entry, {**rule, **variant}) for rule in rules for variant in VARIANTS.get(entry["name"], [{}])]


@pytest.mark.parametrize("entry, request_", [case for entry in tarnwell._tarnwell._searches() for case in _served(entry)],
                         ids=lambda value: value["name"] if "name" in value else str(value))
def test_every_search_of_the_build_is_served(entry, request_):
    # Routed by any spelling of its name; only exact searches are held to
    # finding every change of this plain signal (the approximate ones' own
    # tests measure theirs): the others must return what their class does.
    name = entry["name"]
    info = tarnwell._methods.search_info(name)
    jump = {"jump": 1} if "jump" in info.constructor else {}
    result = tarnwell.detect(STEPS, method=name.upper(), warn=entry["exact"], **jump, **request_)
    if entry["exact"]:
        assert tarnwell.precision_recall(TRUTH, result.breakpoints, margin=3) == (1.0, 1.0)
    else:
        rule = {key: value for key, value in request_.items() if key in ("n_bkps", "pen", "epsilon")}
        own = {key: value for key, value in request_.items() if key not in rule}
        if rule:
            assert result.breakpoints == info.cls(**jump, **own).fit(STEPS).predict(**rule)
        assert result.breakpoints[-1] == STEPS.size and result.breakpoints == sorted(set(result.breakpoints))
    assert np.isfinite(result.cost) and result.cost >= 0


@pytest.mark.parametrize("spelling", ["Bottom_Up", "bottom-up", "kernel_cpd", "KernelCpd"])
def test_methods_are_found_by_any_spelling(spelling):
    assert tarnwell.detect(STEPS, method=spelling, n_bkps=2).breakpoints[-1] == STEPS.size


def test_oversegmentation_warning_names_cause_and_remedy():
    trend = np.linspace(0, 100, 400) + np.random.default_rng(1).normal(0, 0.1, 400)
    with pytest.warns(tarnwell.OverSegmentationWarning, match="penalty too small.*Remedy"):
        tarnwell.detect(trend, pen=0.5, jump=1)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        tarnwell.detect(trend, pen=0.5, jump=1, warn=False)
        tarnwell.detect(trend, jump=1)


def test_detect_defaults_to_exact_positions_and_a_min_size_per_model():
    # A change at 1899 on the grid of 5 used to be reported at 1900 or later.
    signal = np.r_[np.zeros(1899), np.full(1101, 4.0)] + np.random.default_rng(8).normal(0, 0.5, 3000)
    assert tarnwell.detect(signal).breakpoints == [1899, 3000]
    assert tarnwell.Pelt().jump == 5                                     # the classes keep theirs
    assert [tarnwell.detection.default_min_size(m, 3) for m in ("l2", "clinear", "linear", "normal", "ar")] \
        == [2, 3, 4, 5, 10]
    ar = tarnwell.detect(np.sin(np.arange(400.0) / 3), model="ar", pen=1.0, warn=False)
    assert min(np.diff([0, *ar.breakpoints])) >= 10
    assert tarnwell.detect(STEPS, min_size=30, pen=5.0).breakpoints == \
        tarnwell.Pelt(min_size=30, jump=1).fit_predict(STEPS, 5.0)


def test_window_blames_its_width_and_star_import_brings_detect():
    with pytest.raises(ValueError, match=r"Window\(width=100\).*width / 2 = 50.*smaller width"):
        tarnwell.detect(np.repeat([0.0, 5.0, 0.0], 100), "window", width=100, n_bkps=3)
    namespace: dict = {}
    exec("from tarnwell import *", namespace)
    assert {"detect", "detect_many", "plot", "penalty", "Pelt"} <= set(namespace)


SWAPPED = [*range(5), 6, 5, *range(7, 60)]


@pytest.mark.parametrize("index", [pd.date_range("2024-01-01", periods=60)[SWAPPED],
                                   pd.Index(np.arange(60.0)[SWAPPED])])
def test_an_unsorted_index_is_refused(index):
    with pytest.raises(ValueError, match=r"the index is not sorted: row 6 .*sort_index"):
        tarnwell.detect(pd.Series(np.arange(60.0), index=index))
    depth = pd.Series(STEPS, index=np.linspace(100.0, 0.0, STEPS.size))   # decreasing runs one way: fine
    assert tarnwell.detect(depth, pen=20.0).breakpoints == exact(STEPS)


def test_repeated_index_labels_are_said():
    index = pd.date_range("2024-01-01", periods=60, freq="min")[[*range(30), 29, *range(31, 60)]]
    with pytest.warns(tarnwell.RepeatedIndexWarning, match=r"repeats labels \(1 rows, the first .* at row 30\)"):
        tarnwell.detect(pd.Series(STEPS[:60], index=index), pen=20.0)


def test_progress_reaches_a_callable_and_a_bar_erases_itself():
    import io

    from tarnwell._progress import ProgressBar

    reports = []
    x = np.random.default_rng(0).normal(size=3000)  # a search of a second or so: polled
    tarnwell.detect(x, model="clinear", pen=50.0, progress=lambda done, total: reports.append((done, total)))
    assert reports and all(0 < done <= total for done, total in reports)
    assert [done for done, _ in reports] == sorted(done for done, _ in reports)
    # The bar: silent for a quick search, drawn for a long one, then erased.
    now = [0.0]
    stream = io.StringIO()
    bar = ProgressBar(stream, clock=lambda: now[0])
    for second, done in [(0.5, 10), (1.5, 30), (3.0, 60)]:
        now[0] = second
        bar(done, 100)
    assert "60%" in stream.getvalue() and "about 2 s left" in stream.getvalue()
    bar.close()
    assert stream.getvalue().endswith("\r" + " " * 72 + "\r")
    quick = ProgressBar(io.StringIO(), clock=lambda: now[0])
    now[0] = 1.2
    quick(95, 100)
    assert not quick.shown
