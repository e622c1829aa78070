"""Validates a generated piecewise-constant signal and prints the module version."""

import numpy as np

import tarnwell

rng = np.random.default_rng(7)
truth = [250, 500, 750, 1000]
levels = [0.0, 4.0, -2.0, 3.0]
signal = np.concatenate([np.full(b - a, level) for a, b, level in zip([0] + truth[:-1], truth, levels)])
signal = signal + rng.normal(size=signal.size)

print(f"tarnwell {tarnwell.version()}")
print(f"signal shape (n_samples, n_features): {tarnwell.validate_signal(signal)}")
print(f"true breakpoints: {truth}")
