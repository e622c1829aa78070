"""Ctrl-C during a long search arrives promptly as KeyboardInterrupt."""

import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import tarnwell

LONG_SEARCHES = {
    # Each runs for many seconds if left alone.
    "Dynp": "tarnwell.Dynp(min_size=1, jump=1).fit(x).predict(60)",
    # clinear has no pruning bound, so Pelt tries every start.
    "Pelt": "tarnwell.Pelt(model='clinear', min_size=3, jump=1).fit(x).predict(1e-9)",
    # The one-feature squared-error search runs its steps in one compiled loop.
    "Pelt-l2": "tarnwell.Pelt(model='l2', min_size=1000, jump=1).fit(np.tile(x, 34)).predict(10)",
    "KernelCPD": "tarnwell.KernelCPD(gamma=0.5).fit(x).predict(n_bkps=5)",
    "KernelCPD-median": "tarnwell.KernelCPD().fit(np.tile(x, 2))",
    # The pattern model's neighbour search, in a cost class's fit and in detect.
    "CostPattern": "tarnwell.CostPattern().fit(np.tile(x, 10))",
    "pattern": "tarnwell.detect(np.tile(x, 10), model='pattern')",
}


def interrupt_after(script, wait):
    """Runs `script` (which prints "ready", then "interrupted <monotonic time>"
    on KeyboardInterrupt), sends SIGINT `wait` seconds after "ready"; returns
    the word printed and the seconds from the signal to its handling."""
    process = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    assert process.stdout.readline().strip() == "ready"
    time.sleep(wait)
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    output, _ = process.communicate(timeout=120)
    word, handled = output.split()
    return word, float(handled) - sent


def available(model):
    try:
        tarnwell.Pelt(model=model).fit(np.zeros(4))
    except NotImplementedError:
        return False
    return True


@pytest.mark.parametrize("search", sorted(LONG_SEARCHES))
def test_ctrl_c_interrupts_a_long_search(search):
    if search == "Pelt" and not available("clinear"):
        pytest.skip("the clinear model is not built")
    script = textwrap.dedent(
        f"""
        import sys, time
        import numpy as np
        import tarnwell
        x = np.random.default_rng(0).normal(size=30000)
        print("ready", flush=True)
        try:
            {LONG_SEARCHES[search]}
        except KeyboardInterrupt:
            print("interrupted", time.monotonic(), flush=True)
        """
    )
    word, delay = interrupt_after(script, 1.0)
    # The exception arrived within half a second of the signal (one monotonic clock).
    assert word == "interrupted" and delay < 0.5


def test_ctrl_c_interrupts_an_l1_potts_prediction():
    # 40 000 samples over 10 000 levels: 400 MB of parent flags and a second
    # or more of work (the first, whole prediction says how long). Ctrl-C
    # 0.1 s into the second prediction must end it within half a second, and
    # leave the fitted object as it was.
    script = textwrap.dedent(
        """
        import time
        import numpy as np
        import tarnwell
        n, K = 40_000, 10_000
        x = np.random.default_rng(0).integers(0, K, size=n).astype(float)
        x[:K] = np.arange(K)
        detector = tarnwell.L1Potts().fit(x)
        started = time.monotonic()
        expected = detector.predict(1.0)
        whole = time.monotonic() - started
        print("ready", whole, flush=True)
        started = time.monotonic()
        try:
            detector.predict(1.0)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - started, flush=True)
        print(repr(detector), detector.is_fitted, flush=True)
        print(detector.fit(x[:2000] % 7).predict(1.0) == tarnwell.L1Potts().fit(x[:2000] % 7).predict(1.0), flush=True)
        """
    )
    process = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    assert process.stdout.readline().split()[0] == "ready"
    time.sleep(0.1)
    process.send_signal(signal.SIGINT)
    output, _ = process.communicate(timeout=120)
    interrupted, state, refit = output.splitlines()
    word, elapsed = interrupted.split()
    assert word == "interrupted"
    assert float(elapsed) < 0.1 + 0.5
    assert state == "L1Potts(n_samples=40000, distinct_levels=10000) True"
    assert refit == "True"


def test_ctrl_c_reaches_the_searches_of_detect_many_workers():
    # Three long detections on two threads: the signal arrives on the main
    # thread, and every worker's search must stop within half a second, the
    # queued signal never starting.
    script = textwrap.dedent(
        """
        import time
        import numpy as np
        import tarnwell
        x = np.random.default_rng(0).normal(size=30000)
        print("ready", flush=True)
        try:
            tarnwell.detect_many([x, x, x], method="dynp", model="l2", n_bkps=60, min_size=1, jump=1, n_jobs=2)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic(), flush=True)
        """
    )
    word, delay = interrupt_after(script, 1.0)
    assert word == "interrupted" and delay < 0.5


@pytest.mark.parametrize("model", ["l1", "rank"])
def test_ctrl_c_interrupts_a_long_fit(model):
    # Fitting reads the caller's array under the interpreter lock; building
    # the median index or the ranks of 4 million samples still takes seconds,
    # and Ctrl-C must end it within about a second.
    script = textwrap.dedent(
        f"""
        import time
        import numpy as np
        import tarnwell
        x = np.random.default_rng(0).normal(size=(4_000_000, 1 if {model!r} == "l1" else 2))
        print("ready", flush=True)
        try:
            tarnwell.Pelt(model={model!r}).fit(x)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic(), flush=True)
        """
    )
    word, delay = interrupt_after(script, 1.5)
    assert word == "interrupted" and delay < 1.5
