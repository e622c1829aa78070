import inspect
import resource
import threading

import numpy as np
import pytest

import tarnwell._tarnwell as native
from kernel_oracle import exact_median_gamma, sampled_median_gamma
from tarnwell._tarnwell import KernelCPD, TarnwellError

BACKENDS = ["fused", "full", "streaming"]
NOT_FITTED = "^KernelCPD must be fitted before this operation$"
ONE_RULE = "^exactly one stopping rule must be provided$"


def steps(n=120, d=1, seed=0):
    rng = np.random.default_rng(seed)
    levels = np.array([0.0, 6.0, -4.0, 3.0])[:, None] + rng.normal(size=(4, d))
    return np.repeat(levels, n // 4, axis=0) + 0.5 * rng.normal(size=(n // 4 * 4, d))


def test_class_surface():
    assert native.__all__.index("KernelCPD") < native.__all__.index("version")
    assert native.__all__[native.__all__.index("KernelCPD") - 1] in ("Window", "L1Potts")
    assert KernelCPD.__module__ == "tarnwell._tarnwell"
    assert str(inspect.signature(KernelCPD)) == (
        "(kernel='rbf', min_size=2, jump=1, gamma=None, gamma_policy='exact', gamma_samples=10000, seed=0, "
        "backend='fused', max_gram_bytes=536870912)")
    assert str(inspect.signature(KernelCPD.predict)) == "(self, /, n_bkps=None, pen=None)"
    assert str(inspect.signature(KernelCPD.fit_predict)) == "(self, /, signal, n_bkps=None, pen=None)"
    search = KernelCPD(kernel="RBF", backend="FuSeD", min_size=3, jump=4)
    assert (search.kernel, search.backend, search.min_size, search.jump) == ("rbf", "fused", 3, 4)
    assert repr(search) == ('KernelCPD(kernel="rbf", min_size=3, jump=4, gamma=None, gamma_policy="exact", '
                            'gamma_samples=10000, seed=0, backend="fused", max_gram_bytes=536870912)')
    with pytest.raises(TypeError):
        class Sub(KernelCPD):
            pass
    with pytest.raises(AttributeError):
        search.kernel = "linear"


@pytest.mark.parametrize(
    "arguments, message",
    [
        (dict(min_size=0, jump=0, kernel="x"), "min_size must be positive, got 0"),
        (dict(jump=0, kernel="x", backend="y"), "jump must be positive, got 0"),
        (dict(kernel="Gauss", gamma_policy="y", backend="z"),
         'unsupported kernel "Gauss"; supported kernels: linear, rbf, cosine'),
        (dict(kernel='a"b\\', backend="z"), 'unsupported kernel "a\\"b\\\\"; supported kernels: linear, rbf, cosine'),
        (dict(gamma_policy="Median", backend="z"),
         'unsupported gamma policy "Median"; supported policies: exact, sampled'),
        (dict(backend="GPU"), 'unsupported kernel backend "GPU"; supported backends: fused, full, streaming'),
        (dict(kernel="linear", gamma_policy="median", backend="gpu"),
         'unsupported kernel backend "gpu"; supported backends: fused, full, streaming'),
    ],
)
def test_constructor_checks_in_order(arguments, message):
    with pytest.raises(ValueError) as failure:
        KernelCPD(**arguments)
    assert str(failure.value) == message


def test_policy_is_read_only_when_a_bandwidth_is_chosen():
    assert KernelCPD(kernel="linear", gamma_policy="median").kernel == "linear"
    assert KernelCPD(gamma=0.5, gamma_policy="median").fit(steps()).gamma == 0.5
    assert KernelCPD(kernel="cosine", gamma=-3.0).fit(steps()).gamma is None


@pytest.mark.parametrize(
    "arguments, error",
    [
        (dict(kernel=1), TypeError),
        (dict(kernel=None), TypeError),
        (dict(gamma="wide"), TypeError),
        (dict(min_size=-1), OverflowError),
        (dict(seed=2**64), OverflowError),
        (dict(max_gram_bytes=1.5), TypeError),
        (dict(bandwidth=1.0), TypeError),
    ],
)
def test_argument_conversion(arguments, error):
    with pytest.raises(error):
        KernelCPD(**arguments)


def test_unfitted_state():
    search = KernelCPD()
    assert not search.is_fitted and search.gamma is None
    with pytest.raises(RuntimeError, match=NOT_FITTED):
        search.stored_gram_entries
    with pytest.raises(RuntimeError, match=NOT_FITTED):
        search.predict(n_bkps=1)
    for rules in (dict(), dict(n_bkps=1, pen=1.0), dict(n_bkps=None, pen=None)):
        with pytest.raises(ValueError, match=ONE_RULE):
            search.predict(**rules)


@pytest.mark.parametrize("backend, entries", [("full", 10000), ("streaming", 0), ("fused", 0)])
def test_fitted_properties(backend, entries):
    x = steps(n=100)[:99]
    search = KernelCPD(kernel="linear", backend=backend).fit(x)
    assert search.is_fitted and search.stored_gram_entries == entries and search.gamma is None
    assert KernelCPD(gamma=0.5, backend=backend).fit(x).gamma == 0.5
    assert search.predict(n_bkps=0) == [99]


@pytest.mark.parametrize("gamma, text", [(0.0, "0"), (-1.0, "-1"), (float("nan"), "NaN"), (float("inf"), "inf")])
def test_gamma_is_checked_at_fit(gamma, text):
    search = KernelCPD(gamma=gamma)
    with pytest.raises(ValueError, match=f"^gamma must be finite and positive, got {text}$"):
        search.fit(steps())
    assert not search.is_fitted


def test_median_bandwidths_match_numpy():
    rng = np.random.default_rng(5)
    # 50 rows have an odd number of pairs, 52 an even one.
    for n, d in [(50, 1), (52, 3)]:
        x = rng.normal(size=(n, d))
        assert KernelCPD().fit(x).gamma == pytest.approx(exact_median_gamma(x), rel=1e-14)
        for samples, seed in [(1, 0), (2, 17), (999, 3), (1000, 2**64 - 1)]:
            search = KernelCPD(gamma_policy="Sampled", gamma_samples=samples, seed=seed).fit(x)
            assert search.gamma == pytest.approx(sampled_median_gamma(x, samples, seed), rel=1e-14)
    # Beyond four million pairs the exact median is selected without storing them all.
    x = np.round(rng.normal(size=3001), 2)
    assert KernelCPD().fit(x).gamma == pytest.approx(exact_median_gamma(x), rel=1e-14)


def test_degenerate_bandwidths():
    assert KernelCPD().fit(np.array([4.0])).gamma == 1.0
    assert KernelCPD(gamma_policy="sampled", gamma_samples=0).fit(np.array([4.0])).gamma == 1.0
    assert KernelCPD().fit(np.full((20, 2), 7.0)).gamma == 1.0
    with pytest.raises(ValueError, match="^sampled median requires at least one pair, got 0$"):
        KernelCPD(gamma_policy="sampled", gamma_samples=0).fit(steps())


@pytest.mark.parametrize("backend", BACKENDS)
def test_stopping_rules(backend):
    x = steps()
    search = KernelCPD(backend=backend)
    with pytest.raises(ValueError, match=ONE_RULE):
        search.fit_predict(x)
    assert search.is_fitted  # the rule is checked after fitting
    for pen, text in [(0.0, "0"), (-1.0, "-1"), (float("nan"), "NaN"), (float("inf"), "inf")]:
        with pytest.raises(ValueError, match=f"^penalty must be finite and positive, got {text}$"):
            search.predict(pen=pen)
    assert search.fit_predict(x, n_bkps=3) == [30, 60, 90, 120]
    assert search.predict(pen=5.0) == [30, 60, 90, 120]
    with pytest.raises(OverflowError):
        search.predict(n_bkps=-1)
    with pytest.raises(TypeError):
        search.predict(pen="high")


def test_gram_memory_limit():
    x = np.random.default_rng(2).normal(size=999)
    with pytest.raises(MemoryError, match="^Gram prefix requires 8008000 bytes, above configured limit 8007999$"):
        KernelCPD(kernel="linear", backend="full", max_gram_bytes=8007999).fit(x)
    search = KernelCPD(kernel="linear", backend="full", max_gram_bytes=8008000).fit(x)
    assert search.stored_gram_entries == 1000**2


def test_full_table_is_refused_before_allocation():
    x = np.random.default_rng(3).normal(size=40000)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    with pytest.raises(MemoryError, match="^Gram prefix requires 12800960016 bytes, above configured limit 536870912$"):
        KernelCPD(kernel="linear", backend="full").fit(x)
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 50_000  # kilobytes


@pytest.mark.parametrize("backend", BACKENDS)
def test_failed_refit_keeps_the_previous_state(backend):
    x = steps()
    search = KernelCPD(backend=backend, max_gram_bytes=200_000).fit(x)
    expected = search.predict(n_bkps=3), search.predict(pen=4.0), search.gamma
    bad = x.copy()
    bad[7] = np.nan
    with pytest.raises(ValueError, match=r"^signal contains a non-finite value at row 7, column 0$"):
        search.fit(bad)
    if backend == "full":
        with pytest.raises(MemoryError):
            search.fit(np.zeros(500))
    with pytest.raises(ValueError):
        search.fit_predict(np.zeros((3, 0)), n_bkps=1)
    assert search.is_fitted
    assert (search.predict(n_bkps=3), search.predict(pen=4.0), search.gamma) == expected


@pytest.mark.parametrize("backend", BACKENDS)
def test_numerical_failures(backend):
    with pytest.raises(TarnwellError, match="^numerical failure while centering linear kernel observations$"):
        KernelCPD(kernel="linear", backend=backend).fit(np.array([-1e308, 1e308]))
    search = KernelCPD(kernel="linear", min_size=1, backend=backend).fit(np.array([0.0, 1e200, 0.0, 1e200]))
    with pytest.raises(TarnwellError, match="^objective value must be finite, got (inf|NaN)$"):
        search.predict(n_bkps=1)


def test_threads_predicting_on_one_streaming_object_agree():
    x = steps(n=1600, d=2, seed=4)
    search = KernelCPD(backend="streaming", min_size=5, jump=2).fit(x)
    expected = [search.predict(n_bkps=3), search.predict(pen=8.0)]
    results = []

    def predict(rule):
        results.append((rule, search.predict(**rule)))

    rules = [dict(n_bkps=3), dict(pen=8.0)] * 2
    threads = [threading.Thread(target=predict, args=(rule,)) for rule in rules]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 4
    for rule, found in results:
        assert found == (expected[0] if "n_bkps" in rule else expected[1])


def test_repeated_calls_do_not_leak(memory_growth):
    x = steps(n=40)
    search = KernelCPD(backend="streaming")
    assert memory_growth(lambda: search.fit_predict(x, n_bkps=2), repetitions=1000) < 2_000_000


@pytest.mark.parametrize("n, samples", [(2, 2), (2, 2**27), (3, 4), (50, 1226)])
def test_gamma_samples_beyond_the_number_of_pairs_is_refused_before_allocating(n, samples):
    pairs = n * (n - 1) // 2
    search = KernelCPD(gamma_policy="sampled", gamma_samples=samples)
    with pytest.raises(ValueError, match=f"^gamma_samples {samples} exceeds the {pairs} pairs of {n} samples"):
        search.fit(np.arange(float(n)))
    assert KernelCPD(gamma_policy="sampled", gamma_samples=pairs).fit(np.arange(float(n))).gamma > 0


def four_levels(seed=1):
    rng = np.random.default_rng(seed)
    return np.concatenate([rng.normal(0, 1, (57, 2)), rng.normal(3, 1, (18, 2)), rng.normal(-2, 1, (87, 2)),
                           rng.normal(1, 1, (138, 2))])


@pytest.mark.parametrize("scale", [1e-150, 1e-8, 1e-7, 1.0, 1e7, 1e150])
@pytest.mark.parametrize("backend", ["fused", "full", "streaming"])
def test_the_linear_kernel_answers_the_same_in_any_unit(scale, backend):
    search = KernelCPD(kernel="linear", backend=backend).fit(four_levels() * scale)
    assert search.predict(n_bkps=3) == [57, 75, 162, 300]
    assert search.predict(pen=50 * scale * scale) == [57, 75, 162, 300]


@pytest.mark.parametrize("kernel, signal", [
    ("cosine", np.ones((33, 2))),
    ("linear", np.ones((33, 2))),
    ("cosine", np.repeat([[1.0, 2.0]], 33, axis=0) * 1e-5),
])
def test_backends_break_exact_ties_alike_towards_the_earliest_changes(kernel, signal):
    found = {backend: KernelCPD(kernel=kernel, backend=backend).fit(signal).predict(n_bkps=5)
             for backend in ("fused", "full", "streaming")}
    assert found == dict.fromkeys(found, [2, 4, 6, 8, 10, 33])


@pytest.mark.parametrize("scale", [1e-170, 1e-160, 1e160, 1e200])
def test_median_bandwidth_beyond_a_double_is_a_clear_error(scale):
    x = np.random.default_rng(0).normal(size=(50, 2)) * scale
    for policy in ("exact", "sampled"):
        with pytest.raises(ValueError, match="^the rbf bandwidth from the median .* cannot be represented at this "
                                             "signal's scale; rescale the signal .* or pass gamma$"):
            KernelCPD(gamma_policy=policy, gamma_samples=100).fit(x)
    unit = KernelCPD().fit(x / scale).gamma
    assert KernelCPD().fit(x / scale * 1e150).gamma == pytest.approx(unit * 1e-300, rel=1e-14)


def test_every_backend_breaks_a_tie_of_every_segmentation_alike():
    # A kernel so narrow that a segment of L samples costs L - 1: at pen=1
    # every segmentation has the same objective, and the penalised rule
    # (earliest changes first) must pick one answer on every backend.
    x = np.random.default_rng(1).normal(size=33)
    answers = {backend: KernelCPD(gamma=1e300, min_size=1, backend=backend).fit(x).predict(pen=1.0)
               for backend in ("fused", "full", "streaming")}
    assert answers["fused"] == answers["full"] == answers["streaming"] == list(range(1, 34))
