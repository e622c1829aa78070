"""
Many signals: a fleet of temperature loggers
============================================

Forty cold-storage rooms each log their temperature every ten minutes for a
week. Some rooms had a door left open or a compressor fault, which moves
their temperature for a while. ``detect_many`` runs ``detect`` on every
signal on a thread pool (the searches release the interpreter lock), keeps
the order, and reports a signal whose detection failed in its place without
stopping the others.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(17)
n_rooms, n = 40, 1008            # a week of ten-minute readings
loggers = {}
incidents = {}
for room in range(n_rooms):
    temperature = -18.0 + rng.normal(0, 0.4, n)
    if rng.random() < 0.5:       # an incident: a few hours to two days warmer
        start = int(rng.integers(100, 800))
        length = int(rng.integers(20, 300))
        temperature[start:start + length] += rng.uniform(2.0, 6.0)
        incidents[f"room {room:02d}"] = (start, min(start + length, n))
    loggers[f"room {room:02d}"] = temperature

results = tarnwell.detect_many(loggers, n_jobs=-1)    # a dict, as the input
failed = [r for r in results.values() if isinstance(r, tarnwell.DetectionFailure)]
flagged = sorted(name for name, r in results.items() if r.n_changes > 0)
print(f"{len(results)} rooms, {len(failed)} failures, {len(flagged)} with changes")
print("rooms with an incident:", sorted(incidents) == flagged)

# %%
# One row per room: the stretches between detected changes, coloured by
# their mean temperature, with the incidents that were generated outlined.
import matplotlib.pyplot as plt
from matplotlib.patches import Rectangle

figure, ax = plt.subplots(figsize=(9, 6), layout="constrained")
colours = plt.get_cmap("coolwarm")
for row, (name, result) in enumerate(results.items()):
    signal = loggers[name]
    for start, end in result.segments:
        mean = signal[start:end].mean()
        ax.add_patch(Rectangle((start / 144, row - 0.4), (end - start) / 144, 0.8,
                               color=colours(np.clip((mean + 18) / 6, 0, 1))))
    if name in incidents:
        start, end = incidents[name]
        ax.add_patch(Rectangle((start / 144, row - 0.45), (end - start) / 144, 0.9, fill=False,
                               edgecolor="black", linewidth=0.8))
ax.set_xlim(0, n / 144)
ax.set_ylim(-1, n_rooms)
ax.set_yticks(range(0, n_rooms, 5), [list(results)[i] for i in range(0, n_rooms, 5)])
ax.set_xlabel("day")
ax.set_title("Segments found in each room (colour: mean temperature; outline: the incident)")
