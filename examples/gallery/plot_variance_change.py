"""
A change of variance: a bearing starts to wear
==============================================

An accelerometer on a motor housing reads vibration around zero. When a
bearing starts to wear, the mean stays where it was but the vibration grows.
The squared-error model sees only means, so it has nothing to find here; the
Gaussian model ``"normal"`` scores the log-determinant of each segment's
covariance and finds the moment the spread changed.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(7)
n = 3000
# Vibration amplitude: healthy, early wear, advanced wear.
amplitude = np.concatenate([np.full(1400, 0.8), np.full(900, 1.6), np.full(700, 3.2)])
vibration = rng.normal(0.0, 1.0, n) * amplitude

# warn=False: the check for missed shifts of level has nothing to say about
# a signal whose level never moves.
by_mean = tarnwell.detect(vibration, model="l2", warn=False)
by_spread = tarnwell.detect(vibration, model="normal", warn=False)
print("true changes:        [1400, 2300]")
print("model 'l2' finds:   ", by_mean.change_points)
print("model 'normal' finds:", by_spread.change_points)

# %%
# The changes of spread, drawn on the vibration signal.
figure = by_spread.plot(true_breakpoints=[1400, 2300, n], title='Changes of spread (model="normal")',
                        figsize=(9, 3))
figure.axes[0].set_ylabel("acceleration (g)")
