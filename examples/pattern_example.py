"""Draws the README's picture of the pattern model: a three-axis recording
like an accelerometer's whose step rhythm changes twice while level and
spread stay the same, its true change points and those found by
`tarnwell.detect(x, model="pattern")` without any parameter.

Run: python examples/pattern_example.py [out.png]   (writes examples/pattern.png by default)
"""

import sys
from pathlib import Path

import matplotlib
import numpy as np

matplotlib.use("Agg")

import tarnwell  # noqa: E402

rng = np.random.default_rng(7)
cadences = [32, 20, 27]  # samples per step: walking, running, climbing stairs
length = 1500
steps = np.cumsum(np.concatenate([np.full(length, 1.0 / c) for c in cadences])) * 2 * np.pi
signal = np.stack([np.sin(steps) + 0.5 * np.sin(2 * steps), np.cos(steps) * (1 + 0.3 * np.sin(steps / 3)),
                   np.abs(np.sin(steps / 2)) - 0.6], axis=1) + 0.15 * rng.normal(size=(3 * length, 3))
truth = [length, 2 * length, 3 * length]
result = tarnwell.detect(signal, model="pattern")
figure = result.plot(true_breakpoints=truth,
                     title=f'tarnwell.detect(x, model="pattern"): {result.n_changes} changes of rhythm')
target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("pattern.png")
figure.savefig(target, dpi=80)
print(f"true {truth}\nfound {result.breakpoints}\nsaved {target}")
