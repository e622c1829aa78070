"""Draws the README's picture: a generated two-feature signal, its true
change points and those found by `tarnwell.detect` with the default penalty.

Run: python examples/plot_example.py [out.png]   (writes examples/detection.png by default)
"""

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")

import tarnwell  # noqa: E402

signal, truth = tarnwell.pw_constant(600, n_features=2, n_bkps=4, noise_std=1.0, seed=11)
result = tarnwell.detect(signal, jump=1)
figure = result.plot(true_breakpoints=truth, title=f"tarnwell.detect: {result.n_changes} changes "
                                                     f"(default penalty {result.penalty:.0f})")
target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("detection.png")
figure.savefig(target, dpi=80)
print(f"true {truth}\nfound {result.breakpoints}\nsaved {target}")
