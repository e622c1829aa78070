"""CostL1's median index against the sorted segments it stands in for: the
same values (bit for bit on integer signals and on answers that must not
depend on rounding) and the same breakpoints from every search, on signals
that make sums lose digits (offsets of 1e6 with unit noise, heavy tails,
integer ties, constant stretches)."""

import contextlib
import pickle
import zlib

import numpy as np
import pytest

import tarnwell
from tarnwell import _tarnwell


@contextlib.contextmanager
def median_index(enabled):
    previous = _tarnwell._use_l1_median_index(enabled)
    try:
        yield
    finally:
        _tarnwell._use_l1_median_index(previous)


def indexed_and_sorted(make, x):
    with median_index(True):
        indexed = make().fit(x)
    with median_index(False):
        plain = make().fit(x)
    return indexed, plain


def hard_signal(kind, rng, n, d):
    levels = np.repeat(rng.normal(scale=3, size=(n // 25 + 1, d)), 25, axis=0)[:n]
    if kind == "integer":
        return np.round(levels) + rng.integers(-2, 3, size=(n, d))
    if kind == "offset":
        return 1e6 + levels + rng.normal(size=(n, d))
    if kind == "heavy":
        return levels + rng.standard_cauchy(size=(n, d)) * 10.0 ** rng.integers(0, 12, size=(n, d))
    if kind == "flat":  # constant stretches between jumps
        return np.round(levels, 1)
    return levels + rng.normal(size=(n, d))


KINDS = ["normal", "integer", "offset", "heavy", "flat"]


@pytest.mark.parametrize("kind", KINDS)
def test_segment_costs_match_the_sorted_segments(kind):
    rng = np.random.default_rng(KINDS.index(kind))
    for _ in range(20):
        n, d = int(rng.integers(20, 400)), int(rng.integers(1, 4))
        x = hard_signal(kind, rng, n, d)
        indexed, plain = indexed_and_sorted(tarnwell.CostL1, x)
        for _ in range(60):
            start = int(rng.integers(0, n - 1))
            end = int(rng.integers(start + 1, n + 1))
            assert indexed.error(start, end) == plain.error(start, end), (start, end)


@pytest.mark.parametrize("offset", [0.0, 1e6, -3e12])
def test_exact_where_no_rounding_is_involved(offset):
    # Integer values (with an exactly representable offset) sum exactly, and
    # a constant stretch costs exactly 0 whatever lies around it.
    rng = np.random.default_rng(5)
    x = offset + rng.integers(-50, 50, size=(500, 2)).astype(float)
    x[100:300, 1] = offset + 7.0
    indexed, plain = indexed_and_sorted(tarnwell.CostL1, x)
    for start, end in [(0, 500), (3, 257), (100, 300), (120, 299), (17, 18), (400, 420)]:
        assert indexed.error(start, end) == plain.error(start, end)
    single = indexed_and_sorted(tarnwell.CostL1, np.ascontiguousarray(x[:, 1]))[0]
    assert single.error(100, 300) == 0.0 and single.error(150, 299) == 0.0


@pytest.mark.parametrize("values", [[1e308, -1e308] * 20, [5e-324, 0.0, -5e-324, 1e-310] * 10],
                         ids=["overflowing-range", "subnormal"])
def test_extreme_ranges_behave_as_the_sorted_segments(values):
    indexed, plain = indexed_and_sorted(tarnwell.CostL1, np.array(values))
    for start, end in [(0, len(values)), (1, 38), (2, 21)]:
        try:
            expected = plain.error(start, end)
        except tarnwell.TarnwellError as error:
            with pytest.raises(tarnwell.TarnwellError, match=str(error)):
                indexed.error(start, end)
        else:
            assert indexed.error(start, end) == pytest.approx(expected, rel=1e-13)


def search_cases():
    # (name, constructor, stopping rule); the rule's value comes from the problem.
    yield "Pelt", lambda ms, j: tarnwell.Pelt(model="l1", min_size=ms, jump=j), "pen"
    yield "Dynp", lambda ms, j: tarnwell.Dynp(model="l1", min_size=ms, jump=j), "n_bkps"
    for name in ("Binseg", "BottomUp"):
        search = getattr(tarnwell, name)
        for rule in ("n_bkps", "pen", "epsilon"):
            yield name, lambda ms, j, search=search: search(model="l1", min_size=ms, jump=j), rule
    yield "Window", lambda ms, j: tarnwell.Window(width=4 * max(ms, j) + 20, model="l1", min_size=ms, jump=j), "pen"


SEARCHES = list(search_cases())


def stopping_value(rule, rng, x):
    if rule == "n_bkps":
        return int(rng.integers(1, 6))
    scale = float(np.abs(x - np.median(x, axis=0)).sum()) / len(x)
    if rule == "epsilon":
        return scale * len(x) * float(rng.choice([0.05, 0.3, 0.8]))
    return scale * float(rng.choice([1e-9, 0.5, 3.0, 20.0, 1e6]))


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name, make, rule", SEARCHES, ids=[f"{s[0]}-{s[2]}" for s in SEARCHES])
def test_every_search_finds_the_same_breakpoints(kind, name, make, rule):
    rng = np.random.default_rng(zlib.crc32(f"{kind} {name} {rule}".encode()))
    pairs = [(1, 1), (2, 1), (1, 2), (2, 3), (3, 2), (4, 5)]
    for trial in range(40):
        n, d = int(rng.integers(30, 130)), int(rng.integers(1, 4))
        x = hard_signal(kind, rng, n, d)
        if d == 1 and trial % 2:
            x = x[:, 0]
        min_size, jump = pairs[trial % len(pairs)]
        value = stopping_value(rule, rng, x)
        fast, slow = (search.predict(**{rule: value})
                      for search in indexed_and_sorted(lambda: make(min_size, jump), x))
        assert fast == slow, (trial, min_size, jump, value)


def test_restored_costs_rebuild_their_index_from_the_signal():
    x = np.random.default_rng(9).standard_cauchy(size=(3000, 2))
    cost = tarnwell.CostL1().fit(x)
    payload = pickle.dumps(cost)
    assert len(payload) < x.nbytes + 512  # the saved form is the signal alone
    restored = pickle.loads(payload)
    for start, end in [(0, 3000), (17, 2900), (1000, 1100)]:
        assert restored.error(start, end) == cost.error(start, end)


def test_switch_reports_the_previous_setting():
    with median_index(False):
        assert _tarnwell._use_l1_median_index(None) is False
        assert _tarnwell._use_l1_median_index(True) is False
        assert _tarnwell._use_l1_median_index(None) is True
    assert "_use_l1_median_index" not in _tarnwell.__all__
