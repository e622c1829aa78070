"""Argument conversion shared by every callable: integers, floats, text and breakpoint sequences."""

from collections.abc import Sequence

import numpy as np
import pytest

from tarnwell import CostL2, Pelt


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    def __float__(self):
        return 1.5


class Breakpoints(Sequence):
    def __init__(self, values):
        self.values = list(values)

    def __getitem__(self, index):
        return self.values[index]

    def __len__(self):
        return len(self.values)


@pytest.fixture
def cost():
    return CostL2().fit(np.arange(10.0))


@pytest.mark.parametrize("start", [2, np.int64(2), np.uint8(2), Index(2), True + 1])
def test_unsigned_integers_through_the_index_protocol(cost, start):
    assert cost.error(start, 5) == cost.error(2, 5)


@pytest.mark.parametrize(
    "value, error",
    [(-1, OverflowError), (2**64, OverflowError), (Index(-3), OverflowError), (2.0, TypeError),
     ("2", TypeError), (None, TypeError), (np.float64(2.0), TypeError)],
)
def test_unsigned_integer_refusals_name_the_argument(cost, value, error):
    with pytest.raises(error, match="'start'"):
        cost.error(value, 5)


def test_largest_unsigned_value_is_accepted():
    search = Pelt(min_size=2**64 - 1, jump=2**64 - 1)
    assert (search.min_size, search.jump) == (2**64 - 1, 2**64 - 1)


def test_floats_through_the_float_protocol():
    search = Pelt(min_size=1, jump=1).fit(np.r_[np.zeros(10), np.ones(10) * 10])
    assert search.predict(Real()) == search.predict(1.5) == search.predict(np.float32(1.5))
    assert search.predict(2) == search.predict(2.0)
    with pytest.raises(TypeError, match="'pen'"):
        search.predict([1.0])


def test_text_parameters_must_be_str():
    with pytest.raises(TypeError, match="'model'"):
        Pelt(model=b"l2")


@pytest.mark.parametrize("container", [list, tuple, np.array, Breakpoints, lambda v: np.array(v, dtype=np.int8)])
def test_breakpoints_from_any_sequence(cost, container):
    assert cost.sum_of_costs(container([4, 10])) == cost.error(0, 4) + cost.error(4, 10)


@pytest.mark.parametrize("value", ["4,10", iter([4, 10]), {4: 1, 10: 2}, 10, np.array([[4, 10]])])
def test_non_sequences_and_str_are_refused(cost, value):
    with pytest.raises(TypeError, match="'breakpoints'"):
        cost.sum_of_costs(value)


@pytest.mark.parametrize(
    "call",
    [
        lambda c: c.error(1),
        lambda c: c.error(1, 2, 3),
        lambda c: c.error(1, start=1),
        lambda c: c.error(1, end=2, stop=3),
        lambda c: c.fit(),
    ],
)
def test_binding_errors(cost, call):
    with pytest.raises(TypeError):
        call(cost)


def test_keywords_bind_by_name(cost):
    assert cost.error(end=5, start=2) == cost.error(2, 5)
    assert Pelt("l2", None, 3, 4).min_size == Pelt(jump=4, min_size=3).min_size == 3


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: Pelt(min_size=2, jump=1).fit(np.zeros(10)).predict(2**1024), OverflowError, "'pen'"),
        (lambda: Pelt(model="l2\udcff"), UnicodeEncodeError, "surrogates not allowed in argument 'model'"),
        (lambda: Pelt(min_size=10**5000), OverflowError, "'min_size' .* got a value too large to print"),
        (lambda: Pelt(jump=-(10**60)), OverflowError, r"'jump' .* got -1" + "0" * 38 + r"\.\.\.$"),
    ],
)
def test_out_of_range_values_name_their_argument(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize("name, shown", [("x" * 100_000, "x" * 200), ("é" * 150, "é" * 100), ("\n" * 300, "\\n" * 200)])
def test_echoed_names_are_cut_short(name, shown):
    with pytest.raises(ValueError) as raised:
        Pelt(model=name)
    assert f'unsupported model "{shown}..."; supported models' in str(raised.value)


def test_names_up_to_the_limit_are_echoed_whole():
    with pytest.raises(ValueError, match='model "%s";' % ("y" * 200)):
        Pelt(model="y" * 200)
