"""Pelt with a Python custom cost against the built-in L2 cost.

First table: Pelt on 2 000 samples (changes every 200 samples, min_size 2,
jump 1, pruning constant 0) with a squared-error cost written in Python, once
answering one segment per call (error) and once a whole endpoint batch per
call (error_many), beside the built-in "l2" model. "callbacks" counts Python
calls; "segments" counts segment costs.

Second table: the adapter's own cost per error_many batch. The callback
returns a preallocated array, so almost all of its time is the Python call
itself. The same callback is then called from a plain Python loop with the
very same batches; the difference per batch is what the adapter adds (two
uint64 arrays, the result checks, the copy) plus the engine's own work, which
is included rather than subtracted.
"""

import numpy as np

import tarnwell
from timing import best_time


class SquaredError:
    min_size = 2
    pelt_pruning_constant = 0.0

    def __init__(self):
        self.calls = 0
        self.segments = 0

    def fit(self, signal):
        values = signal.reshape(signal.shape[0], -1)
        centred = values - values[0]
        zero = np.zeros((1, values.shape[1]))
        self.sums = np.vstack([zero, np.cumsum(centred, axis=0)])[:, 0].copy()
        self.squares = np.vstack([zero, np.cumsum(centred * centred, axis=0)])[:, 0].copy()

    def error(self, start, end):
        self.calls += 1
        self.segments += 1
        sums = self.sums[end] - self.sums[start]
        return self.squares[end] - self.squares[start] - sums * sums / (end - start)


class BatchedSquaredError(SquaredError):
    def error_many(self, starts, ends):
        self.calls += 1
        self.segments += len(starts)
        sums = self.sums[ends] - self.sums[starts]
        return self.squares[ends] - self.squares[starts] - sums * sums / (ends - starts)


class Preallocated:
    """error_many answers from arrays made in advance, one per batch length."""

    min_size = 2
    pelt_pruning_constant = None

    def __init__(self, longest):
        self.arrays = {length: np.linspace(1.0, 2.0, length) for length in range(1, longest + 1)}
        self.batches = []
        self.recording = False

    def fit(self, signal):
        pass

    def error(self, start, end):
        return 1.0

    def error_many(self, starts, ends):
        if self.recording:
            self.batches.append((starts, ends))
        return self.arrays[len(starts)]


def piecewise(n, spacing, seed=3):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(size=n // spacing + 1) * 3.0, spacing)[:n]
    return levels + rng.normal(size=n)


def throughput_table():
    n = 2000
    signal = piecewise(n, 200)
    pen = 3 * np.log(n)
    expected = tarnwell.Pelt(model="l2", min_size=2, jump=1).fit_predict(signal, pen)
    print(f"Pelt, n={n}, min_size=2, jump=1, pen=3 log n")
    print(f"{'cost':<22} {'total_ms':>9} {'callbacks':>10} {'segments':>9} {'callbacks/s':>12} {'ns/segment':>11}")
    for label, make in [("python error", SquaredError), ("python error_many", BatchedSquaredError), ("built-in l2", None)]:
        if make is None:
            search = tarnwell.Pelt(model="l2", min_size=2, jump=1).fit(signal)
            seconds, result = best_time(lambda: search.predict(pen), 5)
            segments = counted_segments(signal, pen)
            calls = "-"
            rate = "-"
        else:
            cost = make()
            search = tarnwell.Pelt(custom_cost=cost, min_size=2, jump=1).fit(signal)
            seconds, result = best_time(lambda: search.predict(pen), 3)
            cost.calls = cost.segments = 0
            search.predict(pen)
            calls, segments = cost.calls, cost.segments
            rate = f"{calls / seconds:,.0f}"
        assert result == expected
        print(f"{label:<22} {seconds * 1e3:>9.2f} {calls!s:>10} {segments:>9} {rate:>12} "
              f"{seconds / segments * 1e9:>11.0f}")


def counted_segments(signal, pen):
    cost = BatchedSquaredError()
    tarnwell.Pelt(custom_cost=cost, min_size=2, jump=1).fit_predict(signal, pen)
    return cost.segments


def overhead_table():
    n, jump = 2000, 20
    cost = Preallocated(longest=n // jump + 1)
    search = tarnwell.Pelt(custom_cost=cost, min_size=2, jump=jump).fit(np.zeros(n))
    pen = 1.0
    cost.recording = True
    search.predict(pen)
    cost.recording = False
    batches = cost.batches
    call = cost.error_many

    def python_loop():
        for starts, ends in batches:
            call(starts, ends)

    search_seconds, _ = best_time(lambda: search.predict(pen), 20)
    loop_seconds, _ = best_time(python_loop, 20)
    count = len(batches)
    mean = sum(len(starts) for starts, _ in batches) / count
    per_search = search_seconds / count * 1e6
    per_call = loop_seconds / count * 1e6
    print()
    print(f"error_many returning a preallocated array: Pelt, n={n}, jump={jump}, unpruned, "
          f"{count} batches of {mean:.0f} segments on average")
    print(f"{'us/batch in Pelt':>17} {'us/call from Python':>20} {'adapter + engine us/batch':>26}")
    print(f"{per_search:>17.2f} {per_call:>20.2f} {per_search - per_call:>26.2f}")


if __name__ == "__main__":
    throughput_table()
    overhead_table()
