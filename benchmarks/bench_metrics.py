"""Times the metrics on 10^5 breakpoints over 10^9 samples and checks them against Python integers."""

import bisect
import random
import time

import numpy as np

import tarnwell

N_SAMPLES = 10**9
N_BREAKPOINTS = 10**5
REPEATS = 7


def random_breakpoints(generator):
    return sorted(generator.sample(range(1, N_SAMPLES), N_BREAKPOINTS - 1)) + [N_SAMPLES]


def pairs(m):
    return m * (m - 1) // 2


def exact_rand_index(truth, prediction):
    """Pair counts in Python integers, with the same merge walk over both segmentations."""
    same_truth = sum(pairs(end - start) for start, end in zip([0] + truth, truth))
    same_prediction = sum(pairs(end - start) for start, end in zip([0] + prediction, prediction))
    same_both, i, j, start_truth, start_prediction = 0, 0, 0, 0, 0
    while i < len(truth):
        end_truth, end_prediction = truth[i], prediction[j]
        same_both += pairs(min(end_truth, end_prediction) - max(start_truth, start_prediction))
        if end_truth <= end_prediction:
            start_truth, i = end_truth, i + 1
        if end_prediction <= end_truth:
            start_prediction, j = end_prediction, j + 1
    total = pairs(truth[-1])
    return float(total + 2 * same_both - same_truth - same_prediction) / float(total)


def exact_hausdorff(truth, prediction):
    def directed(points, others):
        farthest = 0
        for point in points:
            at = bisect.bisect_left(others, point)
            nearest = min(abs(others[k] - point) for k in (at - 1, at) if 0 <= k < len(others))
            farthest = max(farthest, nearest)
        return farthest

    return float(max(directed(truth[:-1], prediction[:-1]), directed(prediction[:-1], truth[:-1])))


def best_milliseconds(call):
    timings = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        call()
        timings.append(time.perf_counter() - start)
    return min(timings) * 1e3


def main():
    generator = random.Random(2024)
    truth, prediction = random_breakpoints(generator), random_breakpoints(generator)
    truth_array = np.array(truth, dtype=np.uint64)
    prediction_array = np.array(prediction, dtype=np.uint64)

    checks = {
        "rand_index": tarnwell.rand_index(truth, prediction) == exact_rand_index(truth, prediction),
        "hausdorff": tarnwell.hausdorff(truth, prediction) == exact_hausdorff(truth, prediction),
    }
    rows = [
        ("rand_index", "list", lambda: tarnwell.rand_index(truth, prediction)),
        ("rand_index", "uint64 array", lambda: tarnwell.rand_index(truth_array, prediction_array)),
        ("hausdorff", "list", lambda: tarnwell.hausdorff(truth, prediction)),
        ("hausdorff", "uint64 array", lambda: tarnwell.hausdorff(truth_array, prediction_array)),
        ("precision_recall", "list", lambda: tarnwell.precision_recall(truth, prediction, margin=5000)),
        ("precision_recall", "uint64 array", lambda: tarnwell.precision_recall(truth_array, prediction_array, 5000)),
    ]
    print(f"{N_BREAKPOINTS} breakpoints per list over {N_SAMPLES} samples, best of {REPEATS}")
    print(f"{'metric':<18}{'input':<14}{'time (ms)':>10}  exact")
    for name, kind, call in rows:
        exact = {True: "yes", False: "NO"}.get(checks.get(name), "-")
        print(f"{name:<18}{kind:<14}{best_milliseconds(call):>10.2f}  {exact}")


if __name__ == "__main__":
    main()
