import numpy as np
import pytest

from tarnwell import TarnwellError, validate_signal


@pytest.mark.parametrize(
    "array, shape",
    [
        (np.arange(5.0), (5, 1)),
        (np.zeros((4, 3)), (4, 3)),
        (np.zeros((4, 3)).T, (3, 4)),
        (np.asfortranarray(np.ones((6, 2))), (6, 2)),
        (np.arange(20.0)[::3], (7, 1)),
        (np.arange(20.0)[::-1], (20, 1)),
        (np.arange(24.0).reshape(4, 6)[::-2, 1::2], (2, 3)),
        (np.zeros((1, 1)), (1, 1)),
        (np.zeros(3, dtype=">f8").astype("=f8"), (3, 1)),
    ],
)
def test_accepted_layouts(array, shape):
    assert validate_signal(array) == shape
    assert validate_signal(signal=array) == shape


@pytest.mark.parametrize(
    "array, message",
    [
        (np.zeros(()), "signal must be one- or two-dimensional, got 0 dimensions"),
        (np.zeros((2, 2, 2)), "signal must be one- or two-dimensional, got 3 dimensions"),
        (np.zeros((0, 2, 2)), "signal must be one- or two-dimensional, got 3 dimensions"),
        (np.zeros(0), "signal must contain at least one sample and one feature"),
        (np.zeros((0, 3)), "signal must contain at least one sample and one feature"),
        (np.zeros((5, 0)), "signal must contain at least one sample and one feature"),
    ],
)
def test_shape_rules(array, message):
    with pytest.raises(ValueError) as raised:
        validate_signal(array)
    assert str(raised.value) == message
    assert not isinstance(raised.value, TarnwellError)


def _with_nonfinite(layout):
    values = np.zeros((3, 2))
    values[1, 0] = np.nan
    values[0, 1] = np.inf
    if layout == "fortran":
        return np.asfortranarray(values)
    if layout == "strided":
        wide = np.zeros((3, 4))
        wide[:, ::2] = values
        return wide[:, ::2]
    if layout == "reversed":
        return values[::-1][::-1]
    return values


@pytest.mark.parametrize("layout", ["c", "fortran", "strided", "reversed"])
def test_first_nonfinite_in_logical_row_major_order(layout):
    with pytest.raises(ValueError, match=r"^signal contains a non-finite value at row 0, column 1$"):
        validate_signal(_with_nonfinite(layout))


def test_nonfinite_position_in_transposed_view():
    values = np.zeros((2, 3))
    values[1, 0] = -np.inf  # logical (0, 1) of the transpose
    values[0, 2] = np.nan  # logical (2, 0)
    with pytest.raises(ValueError, match="row 0, column 1$"):
        validate_signal(values.T)


@pytest.mark.parametrize(
    "value",
    [[1.0, 2.0], (1.0,), np.zeros(3, dtype=np.float32), np.zeros(3, dtype=np.int64), np.zeros(3, dtype=">f8"),
     np.zeros(3, dtype=complex), "abc", None, 3.0],
)
def test_refused_before_any_rule(value):
    with pytest.raises(TypeError, match="signal"):
        validate_signal(value)


def test_array_subclass_is_accepted_and_not_copied():
    class Tagged(np.ndarray):
        pass

    array = np.ones((3, 2)).view(Tagged)
    array.flags.writeable = False
    assert validate_signal(array) == (3, 2)


def test_binding_errors():
    with pytest.raises(TypeError):
        validate_signal()
    with pytest.raises(TypeError):
        validate_signal(np.zeros(2), np.zeros(2))
    with pytest.raises(TypeError):
        validate_signal(np.zeros(2), signal=np.zeros(2))
    with pytest.raises(TypeError):
        validate_signal(sig=np.zeros(2))


def test_repeated_calls_do_not_leak(memory_growth):
    good = np.ones((50, 3))
    bad = np.full((50, 3), np.nan)

    def calls():
        validate_signal(good)
        for refused in (bad, [1.0], np.zeros(0)):
            try:
                validate_signal(refused)
            except (TypeError, ValueError):
                pass

    assert memory_growth(calls) < 1 << 20
