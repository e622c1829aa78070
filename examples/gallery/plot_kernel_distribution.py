"""
A change of distribution: kernel detection
==========================================

A valve controller holds a pressure set point. After a firmware update the
controller starts to toggle between two states: the pressure has the same
mean and the same variance as before, but its distribution is now bimodal.
Neither the mean nor the variance reveal the change; ``KernelCPD`` with the
rbf kernel compares whole distributions and finds it.
"""

import numpy as np

import tarnwell

rng = np.random.default_rng(3)
before = rng.normal(0.0, 1.0, 700)                                  # one mode
after = rng.choice([-1.0, 1.0], 700) * 0.97 + rng.normal(0.0, 0.25, 700)  # two modes, same mean and variance
pressure = 5.0 + 0.2 * np.concatenate([before, after])
print(f"before: mean {pressure[:700].mean():.3f} bar, std {pressure[:700].std():.3f}")
print(f"after:  mean {pressure[700:].mean():.3f} bar, std {pressure[700:].std():.3f}")

kernel = tarnwell.KernelCPD(kernel="rbf", min_size=20, jump=5).fit(pressure)
found = kernel.predict(n_bkps=1)
spread = tarnwell.Dynp(model="normal", min_size=20, jump=5).fit(pressure).predict(n_bkps=1)
print("true change: [700]")
print("KernelCPD(kernel='rbf'):", found[:-1])
print("Dynp(model='normal'):   ", spread[:-1], "(mean and variance alone cannot place it)")

# %%
# The signal with the change found by the kernel, and the histograms of the
# two segments: the same centre and spread, different shapes.
import matplotlib.pyplot as plt

figure, (signal_ax, histogram_ax) = plt.subplots(1, 2, figsize=(10, 3), width_ratios=[2, 1],
                                                 layout="constrained")
tarnwell.plot(pressure, found, [700, 1400], ax=signal_ax)
signal_ax.set_ylabel("pressure (bar)")
bins = np.linspace(pressure.min(), pressure.max(), 40)
histogram_ax.hist(pressure[:found[0]], bins=bins, alpha=0.6, label="before the change")
histogram_ax.hist(pressure[found[0]:], bins=bins, alpha=0.6, label="after the change")
histogram_ax.set_xlabel("pressure (bar)")
histogram_ax.legend(fontsize="small")
