"""The long run of the pruned-search exactness check: Pelt with every pruned
model against the exhaustive search over the very same segment costs (the
model's cost class as a custom cost without a pruning constant) on many random
signals: rare and frequent changes, d = 1 to 5, small-integer ties, offsets of
10^6 with unit and with 10^-3 noise, penalties from 10^-9 to 10^12 and every
min_size/jump pair the tests use. The suite runs a few seeds of the same check
(tests/test_pelt_pruning.py); this runs as many as asked.

usage: pelt_pruning_exactness.py [signals per model (default 500)] [models]
"""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from test_pelt_pruning import KINDS, PAIRS, TESTED_MODELS, Unpruned, make_cost, piecewise  # noqa: E402

from tarnwell import Pelt  # noqa: E402

MODELS = TESTED_MODELS + [("l2", "CostL2")]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    chosen = sys.argv[2].split(",") if len(sys.argv) > 2 else [model for model, _ in MODELS]
    for model, name in MODELS:
        if model not in chosen:
            continue
        compared = differ = 0
        for seed in range(count):
            rng = np.random.default_rng([seed, len(name)])
            kind = KINDS[seed % len(KINDS)]
            d = int(rng.integers(2 if model == "linear" else 1, 6))
            n = int(rng.integers(60, 400))
            spacing = int(rng.choice([n, n // 2, n // 3, 40, 11]))
            signal = piecewise(rng, n, d, spacing, kind)
            if d == 1:
                signal = signal[:, 0]
            min_size, jump = PAIRS[seed % len(PAIRS)]
            if model == "normal":
                min_size = max(min_size, d + 1)
            pruned = Pelt(model=model, min_size=min_size, jump=jump).fit(signal)
            exhaustive = Pelt(custom_cost=Unpruned(make_cost(name, d)), min_size=min_size, jump=jump).fit(signal)
            scale = abs(make_cost(name, d).fit(signal).error(0, n)) / n + 1
            for pen in (1e-9, 0.5 * scale, 3 * np.log(n) * (1 + d) * scale, 1e12):
                compared += 1
                if pruned.predict(pen) != exhaustive.predict(pen):
                    differ += 1
                    print(f"  DIFFERENT: {model} seed {seed} {kind} d={d} n={n} min_size={min_size} jump={jump} "
                          f"pen={pen:g}", flush=True)
        print(f"{model:<12} {compared:>6} searches compared, {differ} different", flush=True)


if __name__ == "__main__":
    main()
