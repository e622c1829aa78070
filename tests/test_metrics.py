"""precision_recall, hausdorff and rand_index against direct computations of their definitions."""

import inspect
import random

import numpy as np
import pytest

import tarnwell

METRICS = [
    pytest.param(lambda truth, prediction: tarnwell.precision_recall(truth, prediction), id="precision_recall"),
    pytest.param(tarnwell.hausdorff, id="hausdorff"),
    pytest.param(tarnwell.rand_index, id="rand_index"),
]


# Direct computations, written from the definitions with no regard for speed.


def direct_precision_recall(truth, prediction, margin):
    true_points, predicted_points = truth[:-1], prediction[:-1]
    used = [False] * len(predicted_points)
    hits = 0
    for point in true_points:
        chosen = None
        # Scanning in increasing order and replacing only on a strictly smaller
        # distance keeps the earlier of two equally near predictions.
        for index, candidate in enumerate(predicted_points):
            distance = abs(candidate - point)
            if used[index] or distance >= margin:
                continue
            if chosen is None or distance < abs(predicted_points[chosen] - point):
                chosen = index
        if chosen is not None:
            used[chosen] = True
            hits += 1
    if predicted_points:
        precision = hits / len(predicted_points)
    else:
        precision = 1.0 if not true_points else 0.0
    recall = hits / len(true_points) if true_points else 1.0
    return precision, recall


def direct_hausdorff(truth, prediction):
    n = truth[-1]
    first, second = truth[:-1], prediction[:-1]

    def directed(from_points, to_points):
        if not from_points:
            return 0
        if not to_points:
            return n
        return max(min(abs(x - y) for y in to_points) for x in from_points)

    return float(max(directed(first, second), directed(second, first)))


def segment_labels(breakpoints):
    labels, start = [], 0
    for label, end in enumerate(breakpoints):
        labels.extend([label] * (end - start))
        start = end
    return labels


def direct_rand_index(truth, prediction):
    n = truth[-1]
    if n <= 1:
        return 1.0
    first, second = segment_labels(truth), segment_labels(prediction)
    agreeing = sum(
        (first[i] == first[j]) == (second[i] == second[j]) for i in range(n) for j in range(i + 1, n)
    )
    return float(agreeing) / float(n * (n - 1) // 2)


def pairs(m):
    return m * (m - 1) // 2


def integer_rand_index(truth, prediction):
    """The pair counts in Python integers, for lengths too large to enumerate."""
    n = truth[-1]
    bounds_truth = list(zip([0] + truth[:-1], truth))
    bounds_prediction = list(zip([0] + prediction[:-1], prediction))
    same_truth = sum(pairs(end - start) for start, end in bounds_truth)
    same_prediction = sum(pairs(end - start) for start, end in bounds_prediction)
    same_both = sum(
        pairs(min(a_end, b_end) - max(a_start, b_start))
        for a_start, a_end in bounds_truth
        for b_start, b_end in bounds_prediction
        if min(a_end, b_end) > max(a_start, b_start)
    )
    total = pairs(n)
    return float(total + 2 * same_both - same_truth - same_prediction) / float(total)


def random_breakpoints(generator, n, crowded):
    # Crowded lists put many change points close together, where the greedy
    # matching's order and tie rules decide the outcome.
    upper = n - 1 if crowded else generator.randint(0, n - 1)
    count = generator.randint(0, min(upper, 12))
    return sorted(generator.sample(range(1, n), count)) + [n]


def random_pairs(seed, count):
    generator = random.Random(seed)
    cases = []
    for _ in range(count):
        n = generator.randint(1, 40)
        crowded = generator.random() < 0.5
        cases.append(
            (random_breakpoints(generator, n, crowded), random_breakpoints(generator, n, crowded), generator.randint(1, 8))
        )
    return cases


@pytest.mark.parametrize("seed", range(4))
def test_metrics_match_their_definitions_on_random_pairs(seed):
    for truth, prediction, margin in random_pairs(seed, 150):
        assert tarnwell.precision_recall(truth, prediction, margin) == direct_precision_recall(truth, prediction, margin)
        assert tarnwell.hausdorff(truth, prediction) == direct_hausdorff(truth, prediction)
        assert tarnwell.rand_index(truth, prediction) == direct_rand_index(truth, prediction)


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: tarnwell.precision_recall([100], [100]), (1.0, 1.0)),
        (lambda: tarnwell.hausdorff([100], [100]), 0.0),
        (lambda: tarnwell.rand_index([100], [100]), 1.0),
        (lambda: tarnwell.precision_recall([50, 100], [100]), (0.0, 0.0)),
        (lambda: tarnwell.precision_recall([100], [50, 100]), (0.0, 1.0)),
        # A side without change points is n_samples away, not 50.
        (lambda: tarnwell.hausdorff([50, 100], [100]), 100.0),
        (lambda: tarnwell.hausdorff([100], [50, 100]), 100.0),
        # The margin is strict: 10 away misses, 9 away hits.
        (lambda: tarnwell.precision_recall([50, 100], [60, 100]), (0.0, 0.0)),
        (lambda: tarnwell.precision_recall([50, 100], [59, 100]), (1.0, 1.0)),
        (lambda: tarnwell.precision_recall([50, 100], [41, 100]), (1.0, 1.0)),
        # 10 takes 11 first although 12 is as close to it: 12 stays unmatched.
        (lambda: tarnwell.precision_recall([10, 12, 100], [11, 100], margin=5), (1.0, 0.5)),
        # 20 and 24 are equally near 22: the earlier goes to 22, 24 is left for 26.
        (lambda: tarnwell.precision_recall([22, 26, 100], [20, 24, 100], margin=3), (1.0, 1.0)),
        # Had 22 taken the later prediction, 20 could not reach 26 in time.
        (lambda: tarnwell.precision_recall([22, 26, 100], [20, 24, 100], margin=4), (1.0, 1.0)),
        (lambda: tarnwell.precision_recall([22, 100], [20, 24, 100], margin=3), (0.5, 1.0)),
        # A nearer prediction already taken falls back to the next free one.
        (lambda: tarnwell.precision_recall([10, 11, 100], [10, 13, 100], margin=3), (1.0, 1.0)),
        (lambda: tarnwell.rand_index([1], [1]), 1.0),
        (lambda: tarnwell.rand_index([2, 4], [4]), 2 / 6),
        (lambda: tarnwell.rand_index([2, 4], [2, 4]), 1.0),
    ],
)
def test_documented_values(call, expected):
    result = call()
    assert result == expected
    assert type(result) is type(expected)


def test_precision_recall_returns_a_tuple_of_floats():
    result = tarnwell.precision_recall([3, 10], [3, 10], margin=1)
    assert type(result) is tuple and [type(value) for value in result] == [float, float]


@pytest.mark.parametrize("metric", METRICS)
@pytest.mark.parametrize(
    "truth, prediction, message",
    [
        ([], [10], "breakpoints must not be empty"),
        ([10], [], "breakpoints must not be empty"),
        ([], [], "breakpoints must not be empty"),
        # The lengths are compared before either list is walked.
        ([5, 10], [5, 11], "breakpoint sequences describe different sample lengths: expected 10, got 11"),
        ([7, 3, 10], [11], "breakpoint sequences describe different sample lengths: expected 10, got 11"),
        (
            [0, 10],
            [10],
            "breakpoint at position 0 is 0, but breakpoints must be strictly increasing and no larger than 10",
        ),
        (
            [5, 5, 10],
            [10],
            "breakpoint at position 1 is 5, but breakpoints must be strictly increasing and no larger than 10",
        ),
        (
            [12, 10],
            [10],
            "breakpoint at position 0 is 12, but breakpoints must be strictly increasing and no larger than 10",
        ),
        (
            [10],
            [4, 2, 10],
            "breakpoint at position 1 is 2, but breakpoints must be strictly increasing and no larger than 10",
        ),
        # truth is walked first.
        (
            [7, 3, 10],
            [4, 2, 10],
            "breakpoint at position 1 is 3, but breakpoints must be strictly increasing and no larger than 10",
        ),
        ([0], [0], "breakpoint at position 0 is 0, but breakpoints must be strictly increasing and no larger than 0"),
    ],
)
def test_validation_messages(metric, truth, prediction, message):
    with pytest.raises(ValueError) as raised:
        metric(truth, prediction)
    assert str(raised.value) == message
    assert raised.value.args == (message,)


def test_zero_margin_is_checked_after_the_lists():
    with pytest.raises(ValueError, match=r"^margin must be positive, got 0$"):
        tarnwell.precision_recall([5, 10], [5, 10], margin=0)
    with pytest.raises(ValueError, match=r"^breakpoint at position 1 is 3, "):
        tarnwell.precision_recall([5, 3, 10], [5, 10], margin=0)


@pytest.mark.parametrize(
    "arguments, error, names",
    [
        (("0123", [10]), TypeError, "truth"),
        (([10], "0123"), TypeError, "prediction"),
        # The first argument that fails to convert is the one reported.
        (("0123", "0123"), TypeError, "truth"),
        (([10], [1.5, 10]), TypeError, "prediction"),
        ((5, [10]), TypeError, "truth"),
        (([-1, 10], [10]), OverflowError, "truth"),
        (([10], [2**64, 10]), OverflowError, "prediction"),
        ((np.array([-1, 10]), [10]), OverflowError, "truth"),
    ],
)
def test_argument_conversion_errors(arguments, error, names):
    for metric in (tarnwell.precision_recall, tarnwell.hausdorff, tarnwell.rand_index):
        with pytest.raises(error, match=names):
            metric(*arguments)


@pytest.mark.parametrize(
    "margin, error",
    [(-1, OverflowError), (2**64, OverflowError), ("3", TypeError), (2.0, TypeError), (None, TypeError)],
)
def test_margin_conversion_errors(margin, error):
    with pytest.raises(error, match="margin"):
        tarnwell.precision_recall([5, 10], [5, 10], margin=margin)


@pytest.mark.parametrize(
    "call",
    [
        lambda: tarnwell.hausdorff([10]),
        lambda: tarnwell.rand_index([10], [10], [10]),
        lambda: tarnwell.precision_recall([10], [10], 3, 4),
        lambda: tarnwell.precision_recall([10], prediction=[10], width=3),
        lambda: tarnwell.hausdorff([10], [10], truth=[10]),
    ],
)
def test_binding_errors(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize(
    "convert",
    [
        tuple,
        lambda values: np.array(values, dtype=np.int64),
        lambda values: np.array(values, dtype=np.uint64),
        lambda values: np.array(values, dtype=np.uint16),
        lambda values: np.array(values, dtype=np.int32)[::-1][::-1],
        lambda values: np.repeat(np.array(values, dtype=np.int64), 2)[::2],
    ],
)
def test_any_sequence_of_integers_is_accepted(convert):
    truth, prediction = [20, 45, 100], [22, 70, 100]
    assert tarnwell.precision_recall(convert(truth), convert(prediction), margin=np.int8(5)) == (0.5, 0.5)
    assert tarnwell.hausdorff(convert(truth), prediction) == 25.0
    assert tarnwell.rand_index(truth, convert(prediction)) == direct_rand_index(truth, prediction)


@pytest.mark.parametrize(
    "truth, prediction",
    [
        ([2**63, 2**64 - 1], [2**62, 2**64 - 1]),
        ([1, 2**64 - 2, 2**64 - 1], [2**64 - 1]),
        ([2**64 - 1], [1, 2, 3, 2**63 + 5, 2**64 - 1]),
        ([5**27, 3**40, 2**64 - 1], [2**63 + 1, 2**64 - 1]),
    ],
)
def test_huge_signals_are_exact(truth, prediction):
    # 2^64 - 1 samples: the pair counts need the full 128 bits.
    assert tarnwell.rand_index(truth, prediction) == integer_rand_index(truth, prediction)
    assert tarnwell.hausdorff(truth, prediction) == direct_hausdorff(truth, prediction)


def test_large_lists_agree_with_integer_arithmetic():
    generator = random.Random(11)
    n = 10**9
    truth = sorted(generator.sample(range(1, n), 400)) + [n]
    prediction = sorted(generator.sample(range(1, n), 300)) + [n]
    assert tarnwell.rand_index(truth, prediction) == integer_rand_index(truth, prediction)


@pytest.mark.parametrize(
    "function, text",
    [
        (tarnwell.precision_recall, "(truth, prediction, margin=10)"),
        (tarnwell.hausdorff, "(truth, prediction)"),
        (tarnwell.rand_index, "(truth, prediction)"),
    ],
)
def test_text_signatures(function, text):
    assert str(inspect.signature(function)) == text


def test_registration_order():
    names = ["hausdorff", "precision_recall", "rand_index", "pw_constant", "pw_linear", "pw_normal", "pw_wavy"]
    positions = [tarnwell.__all__.index(name) for name in names]
    assert positions == sorted(positions)
    assert tarnwell.__all__.index("validate_signal") < positions[0]


def test_metrics_do_not_leak(memory_growth):
    truth = list(range(50, 5000, 50)) + [5000]
    prediction = list(range(30, 5000, 70)) + [5000]

    def call():
        tarnwell.rand_index(truth, prediction)
        tarnwell.hausdorff(truth, prediction)
        tarnwell.precision_recall(truth, prediction)
        try:
            tarnwell.hausdorff(truth, [0, 5000])
        except ValueError:
            pass

    assert memory_growth(call, repetitions=5000) < 4 * 2**20
