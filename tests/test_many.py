import numpy as np
import pytest

import tarnwell

SIGNALS = [tarnwell.pw_constant(300, n_bkps=k, noise_std=0.3, seed=k)[0] for k in range(1, 7)]


@pytest.mark.parametrize("n_jobs", [None, 1, 2, 4, -1])
def test_same_results_in_order_on_any_number_of_threads(n_jobs):
    serial = [tarnwell.detect(s, jump=1, pen=10.0).breakpoints for s in SIGNALS]
    results = tarnwell.detect_many(SIGNALS, n_jobs=n_jobs, jump=1, pen=10.0)
    assert [r.breakpoints for r in results] == serial


def test_failures_stay_in_place_and_the_others_complete():
    signals = [SIGNALS[0], np.array([1.0, np.nan]), SIGNALS[1], "text", SIGNALS[2]]
    results = tarnwell.detect_many(signals, n_jobs=2, jump=1)
    assert [type(r).__name__ for r in results] == ["DetectionResult", "DetectionFailure", "DetectionResult",
                                                   "DetectionFailure", "DetectionResult"]
    assert isinstance(results[1].error, ValueError) and results[1].index == 1
    assert isinstance(results[3].error, TypeError) and "signal 3: TypeError" in str(results[3])
    assert results[4].breakpoints == tarnwell.detect(SIGNALS[2], jump=1).breakpoints


def test_mapping_keeps_keys_and_generators_are_accepted():
    named = {"north": SIGNALS[0], "south": SIGNALS[1]}
    results = tarnwell.detect_many(named, method="binseg", n_bkps=2, n_jobs=2)
    assert list(results) == ["north", "south"]
    assert results["south"].breakpoints == tarnwell.detect(SIGNALS[1], "binseg", n_bkps=2).breakpoints
    assert len(tarnwell.detect_many(s for s in SIGNALS[:3])) == 3


@pytest.mark.parametrize("n_jobs", [0, 1.5, "2", True])
def test_bad_thread_counts(n_jobs):
    with pytest.raises(ValueError, match="n_jobs"):
        tarnwell.detect_many(SIGNALS, n_jobs=n_jobs)


def test_runs_over_a_dask_cluster():
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        futures = client.map(tarnwell.detect, SIGNALS, pure=False, jump=1, pen=10.0)
        remote = client.gather(futures)
    assert [r.breakpoints for r in remote] == [tarnwell.detect(s, jump=1, pen=10.0).breakpoints for s in SIGNALS]
    assert remote[0].cost == pytest.approx(tarnwell.detect(SIGNALS[0], jump=1, pen=10.0).cost)


def test_negative_thread_counts_count_back_from_the_cores(monkeypatch):
    monkeypatch.setattr("os.cpu_count", lambda: 4)
    from tarnwell.detection import _workers
    assert [_workers(n) for n in (-1, -2, -4, -9)] == [4, 3, 1, 1]
    assert len(tarnwell.detect_many(SIGNALS[:3], n_jobs=-2)) == 3
