import gc
import os

import pytest

# Set by `make sanitize`: the sanitizer's shadow memory and quarantine make
# resident-set sizes and address-space limits meaningless there.
SANITIZED = os.environ.get("TARNWELL_SANITIZED") == "1"


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def memory_growth():
    """Runs a callable many times and returns how much the resident set grew.

    A warm-up round first lets allocator pools and interned objects settle, so
    only growth proportional to the number of calls remains visible.
    """
    if SANITIZED:
        pytest.skip("resident memory is not measurable under the address sanitizer")

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
