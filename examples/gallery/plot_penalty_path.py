"""
The penalty path and its elbow
==============================

How many changes does a signal hold? The penalty per change decides, and
``tarnwell.penalty.penalty_path`` shows every answer at once: each distinct
optimal segmentation for the penalties in a range, with the range over
which it is optimal. Its ``elbow()`` is the segmentation that stays optimal
over the widest span of penalties around the default penalty.

The signal here is the daily electricity use of a building over two years,
with a new tenant, an efficiency retrofit and a weekly rhythm.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(9)
days = np.arange(730)
use = np.select([days < 210, days < 455, days >= 455], [820.0, 1010.0, 760.0])
use += 35 * (days % 7 >= 5) * -1            # weekends are quieter
use += rng.normal(0, 30, days.size)

path = tarnwell.penalty.penalty_path(use)
elbow = path.elbow()
print(f"{len(path)} segmentations between penalties {min(path.pen_low):.3g} and {max(path.pen_high):.3g}")
print("changes in each:", path.n_changes)
print("elbow:", path.n_changes[elbow], "changes at", path.breakpoints[elbow][:-1])

# %%
# ``path.plot()`` draws the total cost against the number of changes and the
# number of changes against the penalty, marking the elbow.
path.plot()

# %%
# The segmentation at the elbow, on the signal.
figure = tarnwell.plot(use, path.breakpoints[elbow], [210, 455, 730], figsize=(9, 3),
                       title="Daily electricity use: the elbow of the penalty path")
figure.axes[0].set_ylabel("kWh per day")
