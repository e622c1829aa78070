"""
Level shifts in a pump's flow
=============================

A flow meter downstream of a pump station records one value a minute. The
operators switch pumps on and off, so the flow moves between a few levels,
with sensor noise and a slow daily wobble on top. ``detect`` with its
defaults (the exact search ``Pelt``, the squared-error model ``"l2"`` and a
penalty chosen from the data) finds the switches.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(2024)
minutes = np.arange(2000)
# Pumps switched at these minutes; the flow (litres per second) of each regime.
switches = [0, 380, 810, 1150, 1600, 2000]
levels = [42.0, 55.5, 48.0, 61.0, 44.5]
flow = np.concatenate([np.full(b - a, level) for a, b, level in zip(switches, switches[1:], levels)])
flow += 0.6 * np.sin(2 * np.pi * minutes / 1440) + rng.normal(0, 1.5, minutes.size)

result = tarnwell.detect(flow)
print("true switches:", switches[1:-1])
print("found:        ", result.change_points)
print(f"penalty {result.penalty:.1f} (chosen from the data), model {result.model!r}")

# %%
# The figure shows the flow, the true switches (dashed) and the changes found
# (red); the shaded bands are the segments.
figure = result.plot(true_breakpoints=switches[1:], title="Pump switches found in a flow record",
                     figsize=(9, 3))
figure.axes[0].set_ylabel("flow (l/s)")

# %%
# Each segment's mean level, read from the segments of the result:
for start, end in result.segments:
    print(f"minutes {start:4d} to {end - 1:4d}: {flow[start:end].mean():5.1f} l/s")
