"""Each vectorised routine against its portable twin on the same problems:
identical answers, and the counts show which form ran."""

import contextlib
from pathlib import Path

import numpy as np
import pytest

from tarnwell import _tarnwell as native
from tarnwell import KernelCPD, L1Potts, Pelt

_flags = Path("/proc/cpuinfo").read_text() if Path("/proc/cpuinfo").exists() else ""
HAS_AVX2 = " avx2" in _flags


@contextlib.contextmanager
def portable_paths():
    native._force_portable_paths(True)
    try:
        yield
    finally:
        native._force_portable_paths(False)


def _runs(path, run):
    before = native._vector_path_counts()[path]
    answer = run()
    after = native._vector_path_counts()[path]
    return answer, (after[0] - before[0], after[1] - before[1])


def _steps(rng, n):
    levels = rng.integers(-3, 4, size=1 + n // 40).astype(float)
    return np.repeat(levels, 40)[:n] + rng.standard_normal(n) * rng.choice([0.3, 1.0])


def _pelt(rng):
    x = _steps(rng, int(rng.integers(50, 400)))
    if rng.random() < 0.3:
        x = np.round(x)  # exact ties
    pen = float(rng.choice([0.5, 3.0, 20.0]))
    min_size = int(rng.integers(1, 4))
    return lambda: Pelt(model="l2", min_size=min_size, jump=1).fit(x).predict(pen=pen)


def _l1_potts(rng):
    x = _steps(rng, int(rng.integers(30, 300)))
    if rng.random() < 0.5:
        x = np.round(x)
    weights = rng.uniform(0.5, 2.0, size=x.size)
    pen = float(rng.choice([0.5, 2.0, 10.0]))
    return lambda: L1Potts().fit(x, weights=weights).predict(pen=pen)


def _kernel_columns(rng):
    x = _steps(rng, int(rng.integers(60, 200))).reshape(-1, 1)
    kernel = str(rng.choice(["linear", "rbf", "cosine"]))
    n_bkps = int(rng.integers(4, 8))
    return lambda: KernelCPD(kernel=kernel, min_size=2, jump=1).fit(x).predict(n_bkps=n_bkps)


def _clinear_costs(rng):
    n, d = int(rng.integers(20, 200)), int(rng.integers(1, 4))
    x = np.cumsum(rng.standard_normal((n, d)) * rng.choice([0.1, 1.0]), axis=0) + rng.choice([0.0, 1e6])
    if rng.random() < 0.3:
        x = np.round(x)
    pen, jump = float(rng.choice([0.1, 3.0, 50.0])), int(rng.integers(1, 3))
    return lambda: Pelt(model="clinear", min_size=3, jump=jump).fit(x).predict(pen=pen)


@pytest.mark.parametrize("path, problem", [("pelt_sweep", _pelt), ("l1_potts_rows", _l1_potts),
                                           ("kernel_columns", _kernel_columns), ("clinear_costs", _clinear_costs)])
def test_vectorised_and_portable_forms_agree(path, problem):
    rng = np.random.default_rng(sum(map(ord, path)))
    for _ in range(40):
        run = problem(rng)
        fast, fast_runs = _runs(path, run)
        with portable_paths():
            portable, portable_runs = _runs(path, run)
        assert fast == portable
        assert portable_runs[0] == 0 and portable_runs[1] > 0
        if HAS_AVX2:
            assert fast_runs[0] > 0 and fast_runs[1] == 0
