"""The greedy engines against step-by-step Python re-implementations on many
small random signals, for every stopping rule. Integer-valued signals make
exactly equal gains, deltas and scores common, so the tie rules are exercised
too."""

import numpy as np
import pytest

import greedy_reference as reference
from tarnwell import Binseg, BottomUp, CostL2, Window


def random_case(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(4, 64))
    d = int(rng.integers(1, 3))
    levels = rng.integers(-3, 4, size=(int(rng.integers(1, 6)), d)).astype(float)
    cuts = np.sort(rng.integers(0, n, size=len(levels) - 1))
    signal = levels[np.searchsorted(cuts, np.arange(n), side="right")]
    if seed % 3:
        signal = signal + rng.normal(scale=0.3, size=signal.shape)
    if d == 1 and seed % 2:
        signal = signal[:, 0]
    min_size = int(rng.integers(1, 5))
    jump = int(rng.integers(1, 5))
    width = 2 * min_size + int(rng.integers(0, 12))
    return signal, min_size, jump, width


def stopping_rules(cost, n):
    whole = cost(0, n)
    rules = [{"n_bkps": k} for k in range(5)]
    rules += [{"pen": whole * share} for share in (0.002, 0.05, 0.3) if whole > 0]
    rules += [{"pen": 1.0}]
    rules += [{"epsilon": whole * share} for share in (0.0, 0.05, 0.4, 1.0, 2.0)]
    return rules


def outcome(run):
    try:
        return run()
    except reference.Infeasible:
        return "infeasible"
    except ValueError as error:
        assert str(error).startswith("cannot segment"), error
        return "infeasible"


ENGINES = {
    "Binseg": (
        lambda width, min_size, jump: Binseg(min_size=min_size, jump=jump),
        lambda cost, n, width, min_size, jump, rule: reference.binseg(cost, n, min_size, jump, **rule),
    ),
    "BottomUp": (
        lambda width, min_size, jump: BottomUp(min_size=min_size, jump=jump),
        lambda cost, n, width, min_size, jump, rule: reference.bottom_up(cost, n, min_size, jump, **rule),
    ),
    "Window": (
        lambda width, min_size, jump: Window(width=width, min_size=min_size, jump=jump),
        lambda cost, n, width, min_size, jump, rule: reference.window(cost, n, width, min_size, jump, **rule),
    ),
}


@pytest.mark.parametrize("engine", ENGINES)
@pytest.mark.parametrize("block", range(8))
def test_engine_matches_reference(engine, block):
    make, expected_for = ENGINES[engine]
    for seed in range(block * 25, block * 25 + 25):
        signal, min_size, jump, width = random_case(seed)
        n = len(signal)
        cost = CostL2().fit(signal).error
        search = make(width, min_size, jump).fit(signal)
        for rule in stopping_rules(cost, n):
            if n < min_size:
                continue
            expected = outcome(lambda: expected_for(cost, n, width, min_size, jump, rule))
            actual = outcome(lambda: search.predict(**rule))
            assert actual == expected, (engine, seed, min_size, jump, width, rule)
