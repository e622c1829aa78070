"""Shared fitted searches under concurrent predictions and refits.

Searches release the interpreter lock, so predictions on one object overlap
each other and the refits that other threads attempt. A refit must either
fail at once with "Already borrowed" (a prediction holds the object) or
happen between predictions; a prediction must either fail at once with
"Already mutably borrowed" (a refit holds it) or return exactly what a
single-threaded prediction returns on one of the signals the object was
fitted with, never a mixture.
"""

import threading

import numpy as np
import pytest

import tarnwell

PREDICTING_THREADS = 8
REFITTING_THREADS = 3
ROUNDS = 12


def signals():
    # Different lengths, so that every result shows which fit it came from.
    first, _ = tarnwell.pw_constant(700, 2, n_bkps=4, noise_std=1.0, seed=3)
    second, _ = tarnwell.pw_constant(500, 2, n_bkps=6, noise_std=1.0, seed=4)
    return first, second


SEARCHES = [
    pytest.param(lambda: tarnwell.Pelt(min_size=2, jump=1), dict(pen=30.0), id="Pelt"),
    pytest.param(lambda: tarnwell.Dynp(min_size=3, jump=2), dict(n_bkps=5), id="Dynp"),
    pytest.param(lambda: tarnwell.Binseg(min_size=2, jump=1), dict(n_bkps=6), id="Binseg"),
]


@pytest.mark.parametrize("make_search, arguments", SEARCHES)
def test_predictions_on_a_shared_object_while_others_refit_it(make_search, arguments):
    fits = signals()
    expected = {len(signal): make_search().fit(signal).predict(**arguments) for signal in fits}
    assert expected[700] != expected[500]
    shared = make_search().fit(fits[0])
    start = threading.Barrier(PREDICTING_THREADS + REFITTING_THREADS)
    failures, outcomes = [], []
    lock = threading.Lock()

    def record(outcome):
        with lock:
            outcomes.append(outcome)

    def predict():
        start.wait()
        for _ in range(ROUNDS):
            try:
                result = shared.predict(**arguments)
            except RuntimeError as error:
                if str(error) != "Already mutably borrowed":
                    failures.append(repr(error))
                record("predict refused")
                continue
            if result != expected.get(result[-1]):
                failures.append(f"prediction {result} matches no single-threaded one")
            record("predicted")

    def refit(offset):
        start.wait()
        for round_ in range(ROUNDS):
            try:
                assert shared.fit(fits[(round_ + offset) % 2]) is shared
            except RuntimeError as error:
                if str(error) != "Already borrowed":
                    failures.append(repr(error))
                record("refit refused")
                continue
            record("refitted")

    threads = [threading.Thread(target=predict) for _ in range(PREDICTING_THREADS)]
    threads += [threading.Thread(target=refit, args=(offset,)) for offset in range(REFITTING_THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert failures == []
    assert outcomes.count("predicted") > 0 and outcomes.count("refitted") > 0
    assert len(outcomes) == ROUNDS * len(threads)
    # The object is whole afterwards: it predicts as a fresh one does.
    assert shared.predict(**arguments) in expected.values()


@pytest.mark.parametrize("make_search, arguments", SEARCHES)
def test_concurrent_predictions_agree_with_a_single_thread(make_search, arguments):
    signal = signals()[0]
    shared = make_search().fit(signal)
    expected = shared.predict(**arguments)
    start = threading.Barrier(PREDICTING_THREADS)
    results = []

    def predict():
        start.wait()
        for _ in range(ROUNDS):
            results.append(shared.predict(**arguments))

    threads = [threading.Thread(target=predict) for _ in range(PREDICTING_THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected] * (PREDICTING_THREADS * ROUNDS)
