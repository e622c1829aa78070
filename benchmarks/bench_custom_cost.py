"""Pelt with a Python custom cost against the built-in L2 cost.

First table: Pelt on 2 000 samples (changes every 200 samples, min_size 2,
jump 1, pruning constant 0) with a squared-error cost written in Python, once
answering one segment per call (error) and once a whole endpoint batch per
call (error_many), beside the built-in "l2" model. "callbacks" counts Python
calls; "segments" counts segment costs.

Second table: the adapter's own cost per callback. The error_many callback
returns a preallocated array (and error a float), so almost all of its time is
the Python call itself. The same callback is then called from a plain Python
loop with the very same arguments; the difference per call is what the adapter
adds (for a batch: two uint64 arrays, the result checks, the copy) plus the
engine's own work, which is included rather than subtracted.
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


class Precomputed:
    """error answers without computing anything; calls are recorded on request."""

    min_size = 2
    pelt_pruning_constant = None

    def __init__(self):
        self.calls = []
        self.recording = False

    def fit(self, signal):
        pass

    def error(self, start, end):
        if self.recording:
            self.calls.append((start, end))
        return 1.0 + 1e-3 * start


class Preallocated(Precomputed):
    """error_many answers from arrays made in advance, one per batch length."""

    def __init__(self, longest):
        super().__init__()
        self.arrays = {length: np.linspace(1.0, 2.0, length) for length in range(1, longest + 1)}

    def error_many(self, starts, ends):
        if self.recording:
            self.calls.append((starts, ends))
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


def overhead_row(label, cost, n, jump):
    search = tarnwell.Pelt(custom_cost=cost, min_size=2, jump=jump).fit(np.zeros(n))
    cost.recording = True
    search.predict(1.0)
    cost.recording = False
    calls = cost.calls
    method = cost.error_many if hasattr(cost, "error_many") else cost.error

    def python_loop():
        for first, second in calls:
            method(first, second)

    search_seconds, _ = best_time(lambda: search.predict(1.0), 20)
    loop_seconds, _ = best_time(python_loop, 20)
    per_search = search_seconds / len(calls) * 1e6
    per_call = loop_seconds / len(calls) * 1e6
    print(f"{label:<22} {len(calls):>6} {per_search:>12.2f} {per_call:>14.2f} {per_search - per_call:>17.2f}")


def overhead_table():
    n, jump = 2000, 20
    print()
    print(f"Callbacks answering from precomputed values: Pelt, n={n}, jump={jump}, unpruned "
          f"(batches hold 50 segments on average)")
    print(f"{'callback':<22} {'calls':>6} {'us/call Pelt':>12} {'us/call Python':>14} {'adapter+engine us':>17}")
    overhead_row("error_many (batch)", Preallocated(longest=n // jump + 1), n, jump)
    overhead_row("error (one segment)", Precomputed(), n, jump)


if __name__ == "__main__":
    throughput_table()
    overhead_table()
