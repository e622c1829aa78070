import gc
import os

import pytest


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def memory_growth():
    """Runs a callable many times and returns how much the resident set grew.

    A warm-up round first lets allocator pools and interned objects settle, so
    only growth proportional to the number of calls remains visible.
    """

    def measure(call, repetitions=20000):
        for _ in range(repetitions // 10):
            call()
        gc.collect()
        before = resident_bytes()
        for _ in range(repetitions):
            call()
        gc.collect()
        return resident_bytes() - before

    return measure
