"""
A cost written in Python: counts of events
==========================================

A web service counts its errors per minute. The counts are small integers
whose spread grows with their mean, so a Poisson model describes them better
than a squared error. ``Pelt`` and ``Dynp`` take any Python object with
``fit``, ``error`` and ``min_size`` as their cost; ``error_many`` answers a
whole batch of segments in one call (much faster than one call per
segment), and ``pelt_pruning_constant = 0`` lets ``Pelt`` prune, because
splitting a segment never raises a negative log-likelihood.
"""

import numpy as np

import tarnwell


class PoissonCost:
    """Twice the negative Poisson log-likelihood of a segment at its own rate
    (the terms that depend on the rate only)."""

    min_size = 1
    pelt_pruning_constant = 0.0

    def fit(self, signal):
        counts = np.asarray(signal, dtype=float).reshape(len(signal))
        self.sums = np.concatenate([[0.0], np.cumsum(counts)])

    def error_many(self, starts, ends):
        total = self.sums[ends] - self.sums[starts]
        length = (ends - starts).astype(float)
        rate = total / length
        with np.errstate(divide="ignore", invalid="ignore"):
            terms = np.where(total > 0, total * np.log(rate), 0.0)
        return 2.0 * (total - terms)

    def error(self, start, end):
        return float(self.error_many(np.array([start]), np.array([end]))[0])


rng = np.random.default_rng(23)
rates = np.repeat([0.8, 4.0, 1.5, 9.0, 2.0], [300, 120, 400, 60, 320])
errors_per_minute = rng.poisson(rates).astype(float)
truth = [300, 420, 820, 880, 1200]

search = tarnwell.Pelt(custom_cost=PoissonCost(), jump=1)
found = search.fit_predict(errors_per_minute, pen=2 * np.log(errors_per_minute.size))
print("true changes:", truth[:-1])
print("found:       ", found[:-1])
print("batch callback used:", search.uses_batch_callback)

# %%
# The counts, the changes found, and each segment's estimated rate.
figure = tarnwell.plot(errors_per_minute, found, truth, figsize=(9, 3),
                       title="Error counts: changes of a Poisson rate")
ax = figure.axes[0]
for start, end in zip([0, *found[:-1]], found):
    ax.hlines(errors_per_minute[start:end].mean(), start, end, color="tab:blue", linewidth=2)
ax.set_ylabel("errors per minute")
