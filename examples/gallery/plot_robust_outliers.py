"""
Robust detection with outliers: a turbidity probe
=================================================

A water-quality probe reports turbidity every five minutes. Now and then a
bubble or a leaf passes the lens and one reading shoots up. The squared
error pays for such a reading with the square of its distance, so a search
with ``"l2"`` is tempted to give spikes segments of their own (the default
penalty is raised for short excursions, which keeps most of them out, at
the price of missing small shifts). The absolute-deviation model ``"l1"``
pays only the distance: the spikes stay inside their segments.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(5)
n = 1500
truth = [400, 950, n]
turbidity = np.concatenate([np.full(400, 4.0), np.full(550, 6.5), np.full(550, 5.0)])
turbidity += rng.normal(0, 0.5, n)
spikes = rng.choice(n, size=25, replace=False)
turbidity[spikes] += rng.uniform(8, 30, spikes.size)

squared = tarnwell.detect(turbidity, model="l2", pen=3 * np.log(n) * 0.25, warn=False)
robust = tarnwell.detect(turbidity, model="l1")
print("true changes:               ", truth[:-1])
print('"l2" at a noise-only penalty:', len(squared.change_points), "changes")
print('"l1", default penalty:       ', robust.change_points)

# %%
# Left, the squared error at the penalty the noise alone would suggest: the
# spikes get segments of their own. Right, the absolute deviations with the
# default penalty.
import matplotlib.pyplot as plt

figure, axes = plt.subplots(1, 2, figsize=(10, 3), sharey=True, layout="constrained")
tarnwell.plot(turbidity, squared.breakpoints, truth, ax=axes[0])
tarnwell.plot(turbidity, robust.breakpoints, truth, ax=axes[1])
axes[0].set_title('model="l2"')
axes[1].set_title('model="l1"')
axes[0].set_ylabel("turbidity (NTU)")
axes[1].set_ylabel("")
