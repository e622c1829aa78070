"""The piecewise generators: byte-exact agreement with a plain Python generator, ownership and validation."""

import gc
import inspect
import math

import numpy as np
import pytest

import tarnwell

GENERATORS = ["pw_constant", "pw_linear", "pw_normal", "pw_wavy"]
MASK = 2**64 - 1
TWO_PI = 6.283185307179586


class ReferenceRng:
    """SplitMix64 draws with a Box–Muller cache, one step at a time in Python."""

    def __init__(self, seed):
        self.state = seed
        self.spare = None

    def uniform(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        z ^= z >> 31
        return (float(z >> 11) + 0.5) * 2.0**-53

    def exponential(self):
        return -math.log(self.uniform())

    def normal(self):
        if self.spare is not None:
            value, self.spare = self.spare, None
            return value
        first, second = self.uniform(), self.uniform()
        radius = math.sqrt(math.log(first) * -2.0)
        angle = second * TWO_PI
        self.spare = math.sin(angle) * radius
        return radius * math.cos(angle)


def reference_breakpoints(rng, n_samples, n_bkps):
    count = n_bkps + 1
    spare = n_samples - count
    weights = [rng.exponential() for _ in range(count)]
    total = 0.0
    for weight in weights:
        total += weight
    quotas = [(float(spare) * weight) / total for weight in weights]
    floors = [math.floor(quota) for quota in quotas]
    remainders = [quota - float(floor) for quota, floor in zip(quotas, floors)]
    deficit = spare - sum(floors)
    assert 0 <= deficit <= count
    for index in sorted(range(count), key=lambda i: (-remainders[i], i))[:deficit]:
        floors[index] += 1
    breakpoints, end = [], 0
    for floor in floors:
        end += floor + 1
        breakpoints.append(end)
    return breakpoints


def reference_rows(shape, rng, length, d):
    if shape == "pw_constant":
        levels = [rng.uniform() * 10.0 - 5.0 for _ in range(d)]
        return [list(levels) for _ in range(length)]
    if shape == "pw_linear":
        intercepts = [rng.uniform() * 6.0 - 3.0 for _ in range(d)]
        slopes = [rng.uniform() * 0.2 - 0.1 for _ in range(d)]
        return [[slopes[j] * float(k) + intercepts[j] for j in range(d)] for k in range(length)]
    if shape == "pw_normal":
        means = [rng.uniform() * 8.0 - 4.0 for _ in range(d)]
        scales = [rng.uniform() * 1.5 + 0.5 for _ in range(d)]
        return [[means[j] + scales[j] * rng.normal() for j in range(d)] for _ in range(length)]
    # pw_wavy: three draws per column, each column filled before the next one's draws.
    rows = [[0.0] * d for _ in range(length)]
    for j in range(d):
        amplitude = rng.uniform() * 2.5 + 0.5
        frequency = (rng.uniform() * 3.5 + 0.5) * TWO_PI
        phase = rng.uniform() * TWO_PI
        for k in range(length):
            rows[k][j] = math.sin((float(k) / float(length)) * frequency + phase) * amplitude
    return rows


def reference_dataset(shape, n_samples, n_features=1, n_bkps=3, noise_std=1.0, seed=0, keep_cache=True):
    rng = ReferenceRng(seed)
    breakpoints = reference_breakpoints(rng, n_samples, n_bkps)
    rows, start = [], 0
    for end in breakpoints:
        rows.extend(reference_rows(shape, rng, end - start, n_features))
        start = end
    if not keep_cache:
        rng.spare = None
    if noise_std > 0:
        rows = [[rng.normal() * noise_std + value for value in row] for row in rows]
    return np.array(rows, dtype=np.float64).reshape(n_samples, n_features), breakpoints


CASES = [
    dict(n_samples=50),
    dict(n_samples=123, n_features=3, n_bkps=7, noise_std=0.5, seed=42),
    dict(n_samples=10, n_features=2, n_bkps=9, seed=2**64 - 1),
    dict(n_samples=7, n_bkps=0, noise_std=2.0, seed=5),
    dict(n_samples=64, n_features=4, n_bkps=5, noise_std=0.0, seed=9),
    dict(n_samples=33, n_features=2, n_bkps=4, noise_std=-0.0, seed=17),
    dict(n_samples=301, n_bkps=12, noise_std=1.25, seed=123456789),
    dict(n_samples=1, n_features=5, n_bkps=0, seed=3),
]


@pytest.mark.parametrize("generator", GENERATORS)
@pytest.mark.parametrize("arguments", CASES)
def test_matches_the_python_generator_byte_for_byte(generator, arguments):
    signal, breakpoints = getattr(tarnwell, generator)(**arguments)
    expected_signal, expected_breakpoints = reference_dataset(generator, **arguments)
    assert breakpoints == expected_breakpoints
    assert signal.shape == expected_signal.shape
    assert signal.tobytes() == expected_signal.tobytes()


@pytest.mark.parametrize("arguments", [dict(n_samples=7, seed=1), dict(n_samples=41, n_features=3, seed=8)])
def test_normal_cache_carries_into_the_noise(arguments):
    # An odd number of segment-stage normal draws leaves the sine half cached;
    # it must be the first noise deviate, not be dropped.
    assert arguments["n_samples"] * arguments.get("n_features", 1) % 2 == 1
    signal, _ = tarnwell.pw_normal(**arguments)
    dropped, _ = reference_dataset("pw_normal", keep_cache=False, **arguments)
    kept, _ = reference_dataset("pw_normal", **arguments)
    assert signal.tobytes() == kept.tobytes() != dropped.tobytes()


@pytest.mark.parametrize("generator", GENERATORS)
def test_same_arguments_same_bytes_and_seed_matters(generator):
    function = getattr(tarnwell, generator)
    first_signal, first_breakpoints = function(1000, 2, 6, 0.7, 99)
    second_signal, second_breakpoints = function(n_samples=1000, n_features=2, n_bkps=6, noise_std=0.7, seed=99)
    assert first_signal.tobytes() == second_signal.tobytes()
    assert first_breakpoints == second_breakpoints
    other_signal, other_breakpoints = function(1000, 2, 6, 0.7, 100)
    assert other_breakpoints != first_breakpoints
    assert not np.array_equal(other_signal, first_signal)


@pytest.mark.parametrize("generator", GENERATORS)
def test_one_change_per_gap_gives_unit_segments(generator):
    _, breakpoints = getattr(tarnwell, generator)(12, n_bkps=11)
    assert breakpoints == list(range(1, 13))


@pytest.mark.parametrize("generator", GENERATORS)
@pytest.mark.parametrize("n_samples, n_bkps", [(2000, 17), (100000, 3), (5, 4)])
def test_breakpoints_are_a_valid_segmentation(generator, n_samples, n_bkps):
    _, breakpoints = getattr(tarnwell, generator)(n_samples, n_bkps=n_bkps, noise_std=0.0, seed=n_bkps)
    assert len(breakpoints) == n_bkps + 1
    assert breakpoints[-1] == n_samples
    assert all(left < right for left, right in zip([0] + breakpoints, breakpoints))
    assert all(type(value) is int for value in breakpoints)


def segments(signal, breakpoints):
    return np.split(signal, breakpoints[:-1])


def test_noiseless_shapes():
    constant, breakpoints = tarnwell.pw_constant(300, 3, 4, noise_std=0.0, seed=4)
    for segment in segments(constant, breakpoints):
        assert np.all(segment == segment[0])
        assert np.all((segment >= -5) & (segment < 5))
    linear, breakpoints = tarnwell.pw_linear(300, 2, 4, noise_std=-0.0, seed=4)
    for segment in segments(linear, breakpoints):
        assert np.all((segment[0] >= -3) & (segment[0] < 3))
        np.testing.assert_allclose(np.diff(segment, axis=0), np.diff(segment, axis=0)[:1].repeat(len(segment) - 1, 0))
    wavy, _ = tarnwell.pw_wavy(300, 2, 4, noise_std=0.0, seed=4)
    assert np.all(np.abs(wavy) <= 3.0)


@pytest.mark.parametrize("generator", GENERATORS)
@pytest.mark.parametrize(
    "arguments",
    [
        dict(n_samples=5, n_bkps=5),
        dict(n_samples=5, n_bkps=6),
        dict(n_samples=0, n_bkps=0),
        dict(n_samples=10, n_features=0),
        dict(n_samples=10, noise_std=-1.0),
        dict(n_samples=10, noise_std=-1e-300),
        dict(n_samples=10, noise_std=float("nan")),
        dict(n_samples=10, noise_std=float("inf")),
        dict(n_samples=10, noise_std=float("-inf")),
        # Parameters are judged before the size: this one would overflow too.
        dict(n_samples=2**63, n_features=0),
    ],
)
def test_invalid_parameters(generator, arguments):
    with pytest.raises(ValueError) as raised:
        getattr(tarnwell, generator)(**arguments)
    assert raised.value.args == ("invalid synthetic dataset parameters",)


@pytest.mark.parametrize("generator", GENERATORS)
@pytest.mark.parametrize("n_samples, n_features", [(2**63, 2), (2**32, 2**32), (2**64 - 1, 2**64 - 1)])
def test_dimension_overflow(generator, n_samples, n_features):
    with pytest.raises(ValueError) as raised:
        getattr(tarnwell, generator)(n_samples, n_features)
    assert raised.value.args == ("synthetic dataset dimensions overflow",)


@pytest.mark.parametrize("generator", GENERATORS)
@pytest.mark.parametrize("n_samples, n_features", [(2**60, 1), (2**31, 2**31), (2**62, 3)])
def test_unallocatable_signal_is_a_memory_error(generator, n_samples, n_features):
    # Counts beyond what the allocator can address fail before any drawing.
    with pytest.raises(MemoryError) as raised:
        getattr(tarnwell, generator)(n_samples, n_features)
    assert raised.value.args == ("memory allocation failed while allocating synthetic dataset values",)


@pytest.mark.parametrize(
    "arguments, keywords, error, name",
    [
        ((), {}, TypeError, "n_samples"),
        ((-1,), {}, OverflowError, "n_samples"),
        ((2**64,), {}, OverflowError, "n_samples"),
        ((10.0,), {}, TypeError, "n_samples"),
        ((10, -1), {}, OverflowError, "n_features"),
        ((10,), {"n_bkps": "3"}, TypeError, "n_bkps"),
        ((10,), {"noise_std": "1"}, TypeError, "noise_std"),
        ((10,), {"seed": -1}, OverflowError, "seed"),
        ((10,), {"seed": 2**64}, OverflowError, "seed"),
        ((10, 1, 3, 1.0, 0, 0), {}, TypeError, "at most"),
        ((10,), {"n_sample": 10}, TypeError, "n_sample"),
        ((10,), {"n_samples": 10}, TypeError, "n_samples"),
        # Arguments convert in declaration order: n_features fails first.
        ((10, -1), {"seed": -1}, OverflowError, "n_features"),
    ],
)
def test_argument_errors(arguments, keywords, error, name):
    for generator in GENERATORS:
        with pytest.raises(error, match=name):
            getattr(tarnwell, generator)(*arguments, **keywords)


def test_numbers_convert_through_python_protocols():
    reference, breakpoints = tarnwell.pw_normal(40, 2, 3, 1.0, 7)
    converted, same_breakpoints = tarnwell.pw_normal(np.uint16(40), True + 1, np.int8(3), 1, 7)
    assert converted.tobytes() == reference.tobytes() and same_breakpoints == breakpoints


@pytest.mark.parametrize("generator", GENERATORS)
def test_signal_is_a_two_dimensional_float_array_over_the_generated_buffer(generator):
    signal, _ = getattr(tarnwell, generator)(25, seed=3)
    assert signal.shape == (25, 1)
    assert signal.dtype == np.float64
    assert signal.flags.c_contiguous and signal.flags.writeable and signal.flags.aligned
    # No copy: the array does not own its data, an owner object does.
    assert not signal.flags.owndata
    assert type(signal.base).__name__ == "PyCapsule"
    assert "dataset_values" in repr(signal.base)


def test_buffer_outlives_the_array_through_its_views():
    signal, _ = tarnwell.pw_wavy(1000, 3, seed=12)
    expected = signal.copy()
    tail = signal[500:, 1:]
    signal[:] = 0.0  # writing is allowed and lands in the shared buffer
    del signal
    gc.collect()
    tarnwell.pw_wavy(1000, 3, seed=13)  # reuse freed memory, were it freed too early
    assert np.all(tail == 0.0)
    tail[:] = expected[500:, 1:]
    np.testing.assert_array_equal(tail, expected[500:, 1:])


@pytest.mark.parametrize("generator", GENERATORS)
def test_noise_that_overflows_is_refused(generator):
    with pytest.raises(ValueError, match="noise_std is too large: .* non-finite value at row"):
        getattr(tarnwell, generator)(1000, 2, noise_std=1e308)
    # Large but representable noise is generated as asked.
    assert np.isfinite(getattr(tarnwell, generator)(1000, 2, noise_std=1e300)[0]).all()


def test_generated_arrays_are_freed(memory_growth):
    # 3.2 MB per call: a leaked buffer would grow the process by gigabytes.
    growth = memory_growth(lambda: tarnwell.pw_constant(100_000, 4, n_bkps=5, noise_std=0.0), repetitions=400)
    assert growth < 64 * 2**20


def test_failed_calls_do_not_leak(memory_growth):
    def call():
        for arguments in (dict(n_samples=5, n_bkps=5), dict(n_samples=2**63, n_features=2)):
            try:
                tarnwell.pw_linear(**arguments)
            except ValueError:
                pass

    assert memory_growth(call, repetitions=5000) < 4 * 2**20


@pytest.mark.parametrize("generator", GENERATORS)
def test_text_signature(generator):
    function = getattr(tarnwell, generator)
    assert str(inspect.signature(function)) == "(n_samples, n_features=1, n_bkps=3, noise_std=1.0, seed=0)"
    assert function.__name__ == generator
