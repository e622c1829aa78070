"""CostCLinear: deviations from the line joining the sample before a segment
(or its first sample at the start of the signal) to the segment's last sample."""

import inspect

import numpy as np
import pytest

from tarnwell import CostCLinear, Dynp, Pelt, TarnwellError
from test_cost_conformance import joining_line


def test_worked_examples():
    line = CostCLinear().fit(np.arange(6.0))
    assert all(line.error(a, b) == 0.0 for a in range(6) for b in range(a + 3, 7))
    steps = CostCLinear().fit(np.array([0.0, 0, 0, 3, 3, 3]))
    assert steps.error(0, 3) == 0.0
    # Anchor x[2] = 0, last 3, predicted 1, 2, 3 against 3, 3, 3.
    assert steps.error(3, 6) == 5.0
    assert steps.sum_of_costs([3, 6]) == 5.0
    assert steps.sum_of_costs([6]) == steps.error(0, 6)


def test_features_add_up():
    x = np.random.default_rng(2).normal(size=(30, 3))
    cost = CostCLinear().fit(x)
    for start, end in [(0, 30), (4, 9), (12, 29)]:
        total = sum(CostCLinear().fit(np.ascontiguousarray(x[:, j])).error(start, end) for j in range(3))
        assert cost.error(start, end) == pytest.approx(total, rel=1e-12)
        assert cost.error(start, end) == pytest.approx(joining_line(x, start, end), rel=1e-12)


@pytest.mark.parametrize(
    "call, exception, message",
    [
        (lambda c: c.error(0, 2), ValueError, "segment [0, 2) has length 2, below minimum 3"),
        (lambda c: c.error(5, 6), ValueError, "segment [5, 6) has length 1, below minimum 3"),
        (lambda c: c.error(3, 3), ValueError, "invalid segment [3, 3) for a signal of length 6"),
        (lambda c: c.sum_of_costs([2, 6]), ValueError, "segment [0, 2) has length 2, below minimum 3"),
        (lambda c: c.sum_of_costs([3]), ValueError, "last breakpoint must equal n_samples (6), got 3"),
        (lambda c: CostCLinear().error(0, 3), RuntimeError, "CostCLinear must be fitted before this operation"),
    ],
)
def test_messages(call, exception, message):
    cost = CostCLinear().fit(np.array([0.0, 0, 0, 3, 3, 3]))
    with pytest.raises(exception) as raised:
        call(cost)
    assert str(raised.value) == message


def test_overflow_is_reported():
    x = np.array([0.0, 1e200, -1e200, 1e200, 0.0])
    with pytest.raises(TarnwellError, match=r"^objective value must be finite, got inf$"):
        CostCLinear().fit(x).error(0, 5)


def test_surface():
    assert str(inspect.signature(CostCLinear)) == "()"
    assert repr(CostCLinear()) == "CostCLinear()"
    assert repr(CostCLinear().fit(np.ones((7, 2)))) == "CostCLinear(n_samples=7, n_features=2)"
    assert CostCLinear().min_size == 3 and Pelt(model="clinear", min_size=1).min_size == 3


def test_searches_find_slope_changes():
    t = np.arange(90.0)
    x = np.where(t < 40, t, 39 - 2 * (t - 39))
    x = np.where(t < 70, x, x[69] + 0.5 * (t - 69))
    assert Dynp(model="clinear", jump=1).fit(x).predict(n_bkps=2) == [40, 70, 90]
    assert Pelt(model="clinear", jump=1).fit(x).predict(1.0) == [40, 70, 90]
