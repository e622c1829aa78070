"""Timing helper shared by the benchmark scripts."""

import time


def best_time(call, repetitions=5):
    """The fastest of `repetitions` runs in seconds, with the last result.

    The minimum is the least noisy figure on a shared machine.
    """
    best = float("inf")
    result = None
    for _ in range(repetitions):
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result
