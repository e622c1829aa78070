import numpy as np
import pytest

from kernel_oracle import exact_median_gamma, optima, gram, sampled_median_gamma, segment_cost_table
from tarnwell._tarnwell import KernelCPD

BACKENDS = ["fused", "full", "streaming"]
KERNELS = {
    "linear": dict(kernel="linear"),
    "cosine": dict(kernel="cosine"),
    "rbf-exact": dict(kernel="rbf"),
    "rbf-sampled": dict(kernel="rbf", gamma_policy="sampled", gamma_samples=7, seed=3),
    "rbf-given": dict(kernel="rbf", gamma=0.3),
}


def small_signals():
    rng = np.random.default_rng(20261207)
    with_zero_rows = rng.normal(size=(9, 2))
    with_zero_rows[[2, 3, 7]] = 0.0
    return {
        "random-1d": rng.normal(size=11),
        "random-2d": rng.normal(size=(10, 2)),
        "steps-3d": np.repeat(rng.normal(scale=3, size=(3, 3)), 4, axis=0) + 0.3 * rng.normal(size=(12, 3)),
        "constant": np.full(10, 2.5),
        "duplicated-rows": np.repeat(rng.normal(size=(4, 2)), [3, 2, 3, 2], axis=0),
        "zero-rows": with_zero_rows,
        "small-integers": rng.integers(0, 3, size=12).astype(float),
        # Exactly tied optima where the fused fixed-count rule (earliest last
        # change) and the engines' rule (earliest first change) pick
        # different lists.
        "tied-binary": np.array([1.0, 1, 0, 1, 0, 1, 1, 0, 1, 0]),
        # Tied optima whose computed costs differ only by round-off.
        "inexact-alternation": np.tile([0.7, 0.9], 5) + 1 / 3,
    }


SIGNALS = small_signals()
GRIDS = [(1, 1), (2, 1), (2, 3), (3, 2), (1, 4)]


def fitted_cost_table(x, case):
    """Expected bandwidth and the segment costs of the explicit Gram matrix."""
    kernel = case["kernel"]
    gamma = None
    if kernel == "rbf":
        if "gamma" in case:
            gamma = case["gamma"]
        elif case.get("gamma_policy") == "sampled":
            gamma = sampled_median_gamma(x, case["gamma_samples"], case["seed"])
        else:
            gamma = exact_median_gamma(x)
    return gamma, segment_cost_table(gram(x, kernel, gamma))


@pytest.mark.parametrize("kernel", list(KERNELS))
@pytest.mark.parametrize("name", list(SIGNALS))
def test_every_backend_matches_exhaustive_search(kernel, name):
    x = SIGNALS[name]
    n = len(x)
    case = KERNELS[kernel]
    gamma, cost = fitted_cost_table(x, case)
    for min_size, jump in GRIDS:
        searches = {b: KernelCPD(min_size=min_size, jump=jump, backend=b, **case).fit(x) for b in BACKENDS}
        if gamma is not None:
            assert all(s.gamma == pytest.approx(gamma, rel=1e-12) for s in searches.values())
        rules = [dict(n_bkps=k) for k in range(n)] + [dict(pen=p) for p in (0.05, 0.5, 3.0)]
        for rule in rules:
            fused_way, engine_way = optima(cost, n, min_size, jump, **rule)
            for backend, search in searches.items():
                if fused_way is None:
                    message = (f"^cannot segment {n} samples into {rule['n_bkps']} changes "
                               f"with min_size={min_size} and jump={jump}$")
                    with pytest.raises(ValueError, match=message):
                        search.predict(**rule)
                    continue
                # Penalised optima break ties alike on every backend.
                expected = fused_way if backend == "fused" and "n_bkps" in rule else engine_way
                assert search.predict(**rule) == expected, (backend, min_size, jump, rule)


@pytest.mark.parametrize("backend", BACKENDS)
@pytest.mark.parametrize("kernel", ["linear", "cosine", "rbf"])
def test_constant_signal_ties_take_the_earliest_changes(backend, kernel):
    search = KernelCPD(kernel=kernel, min_size=2, jump=1, backend=backend).fit(np.full((10, 2), -1.5))
    assert search.predict(n_bkps=2) == [2, 4, 10]
    assert search.predict(pen=1.0) == [10]
    assert search.predict(n_bkps=0) == [10]


def test_signal_shorter_than_min_size():
    for backend in BACKENDS:
        search = KernelCPD(min_size=5, backend=backend).fit(np.arange(3.0))
        with pytest.raises(ValueError, match=r"^segment \[0, 3\) has length 3, below minimum 5$"):
            search.predict(pen=1.0)
        with pytest.raises(ValueError, match=r"^cannot segment 3 samples into 0 changes with min_size=5 and jump=1$"):
            search.predict(n_bkps=0)


@pytest.mark.parametrize("n_bkps, feasible", [(2, True), (3, False)])
def test_feasibility_follows_the_grid(n_bkps, feasible):
    # min_size 2 on a grid of step 3: the shortest grid segment is 3, so
    # n_bkps changes need 3 n_bkps + 2 <= 10 samples.
    x = np.random.default_rng(1).normal(size=10)
    for backend in BACKENDS:
        search = KernelCPD(min_size=2, jump=3, backend=backend).fit(x)
        if feasible:
            assert len(search.predict(n_bkps=n_bkps)) == n_bkps + 1
        else:
            with pytest.raises(ValueError, match="^cannot segment 10 samples into 3 changes with min_size=2 and jump=3$"):
                search.predict(n_bkps=n_bkps)


@pytest.mark.parametrize("kernel", ["linear", "cosine", "rbf"])
@pytest.mark.parametrize("n, d, min_size, jump", [(300, 1, 2, 1), (700, 3, 5, 3), (1500, 2, 20, 7)])
def test_backends_agree_on_larger_signals(kernel, n, d, min_size, jump):
    rng = np.random.default_rng(n + d)
    levels = rng.normal(scale=2.0, size=(6, d))
    x = np.repeat(levels, n // 6 + 1, axis=0)[:n] + rng.normal(size=(n, d))
    pen = {"linear": 10.0 * d * np.log(n), "cosine": 2.0, "rbf": 3.0}[kernel]
    outcomes = []
    for backend in BACKENDS:
        search = KernelCPD(kernel=kernel, min_size=min_size, jump=jump, backend=backend).fit(x)
        outcomes.append((search.predict(n_bkps=5), search.predict(pen=pen)))
    assert outcomes[0] == outcomes[1] == outcomes[2]
    assert len(outcomes[0][0]) == 6


def test_noise_free_steps_far_from_the_first_row():
    # Constant segments far from row 0 make the linear sums cancel exactly in
    # theory and only up to round-off in practice: a clamp, not a failure.
    x = np.repeat([0.0, 1234.567, -2500.3, 4000.71], 100)
    for backend in BACKENDS:
        search = KernelCPD(kernel="linear", min_size=2, backend=backend).fit(x)
        assert search.predict(n_bkps=3) == [100, 200, 300, 400]
        assert search.predict(pen=1.0) == [100, 200, 300, 400]
