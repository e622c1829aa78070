"""
A change of trend: a reservoir filling and draining
===================================================

The level of a reservoir rises while inflow exceeds demand, then falls: the
level never jumps, its slope changes. The model ``"clinear"`` scores a
segmentation as one continuous broken line, so its change points are the
corners of the line, where a level model could only describe a ramp as a
staircase.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(11)
days = np.arange(365.0)
corners = [0, 90, 200, 290, 364]
heights = [12.0, 19.5, 16.0, 21.0, 14.0]
level = np.interp(days, corners, heights) + rng.normal(0, 0.35, days.size)

ramps = tarnwell.detect(level, model="clinear")
print("true corners:              ", corners[1:-1])
print('model "clinear" (corners): ', ramps.change_points)

# %%
# The corners found, and the broken line the model fits: each segment's line
# joins the last sample before the segment to the segment's last sample.
figure = ramps.plot(true_breakpoints=corners[1:-1] + [365], title='Corners of a trend (model="clinear")',
                    figsize=(9, 3))
ax = figure.axes[0]
knots = [0, *(b - 1 for b in ramps.change_points), days.size - 1]
ax.plot(days[knots], level[knots], color="black", linewidth=1.2, label="broken line")
ax.set_ylabel("level (m)")
ax.legend(loc="upper left", fontsize="small")
