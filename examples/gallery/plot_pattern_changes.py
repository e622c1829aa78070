"""
A change of rhythm: the pattern model
=====================================

A wrist sensor records three axes of acceleration while its wearer walks,
runs, then walks again. Level and spread of each axis hardly move; what
changes is the rhythm and shape of the steps. ``detect(x, model="pattern")``
finds both changes with no parameter: the subsequence width comes from the
signal's dominant period and each split must pass a test.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(11)
cadence = np.concatenate([np.full(1200, 1 / 32), np.full(1200, 1 / 19), np.full(1200, 1 / 32)])
steps = np.cumsum(cadence) * 2 * np.pi
wrist = np.stack([np.sin(steps) + 0.5 * np.sin(2 * steps), np.cos(steps),
                  np.abs(np.sin(steps / 2)) - 0.6], axis=1) + 0.15 * rng.normal(size=(3600, 3))
print("mean per segment:", [wrist[a:b].mean().round(2) for a, b in [(0, 1200), (1200, 2400), (2400, 3600)]])
print("std per segment: ", [wrist[a:b].std().round(2) for a, b in [(0, 1200), (1200, 2400), (2400, 3600)]])

result = tarnwell.detect(wrist, model="pattern")
print("true changes: [1200, 2400]")
print("pattern model:", result.change_positions)
print("mean and covariance:", tarnwell.detect(wrist, model="normal", warn=False).change_positions)

# %%
# The three axes with the changes found; the shading marks the segments.
figure = result.plot(true_breakpoints=[1200, 2400, 3600], title='detect(wrist, model="pattern")')
