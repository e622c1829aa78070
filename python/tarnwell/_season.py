"""A seasonal swing: a pattern that repeats with a fixed period (a week of
daily values, a year of monthly ones), which a person reading a recording
looks past before marking its changes.

The swing is sought in what a segmentation of the signal leaves (so shifts
and trends do not pass for it): a narrow peak of the periodogram well above
the spectrum around it gives the period, and sines at that frequency and its
harmonics, fitted together with the segments' levels (and slopes), give the
swing. A harmonic is kept only when it explains more than a change would.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt

from . import _noise

__all__ = ["Season", "peak_frequency", "seasonal_swing"]

_Vector = npt.NDArray[np.float64]

# The period must repeat at least this often within the signal, and be at
# least this many samples long (a period of 2 is a sawtooth, not a season).
MIN_CYCLES = 3
MIN_PERIOD = 2.5

# Bins on either side of a frequency whose median power is its background,
# and the bins next to it left out of that median (a peak leaks into them).
BACKGROUND = 10
LEAK = 2

# The chance that noise alone gives a peak that counts, in a whole periodogram.
FALSE_PEAK = 0.001

# Harmonics of the period fitted at most (a weekly pattern of 7 values has 3).
MAX_HARMONICS = 6

# A harmonic (two coefficients) is kept when it explains more than this many
# times ln(n) noise units: more than a change of level would.
HARMONIC_PRICE = 6.0


@dataclass(frozen=True)
class Season:
    """The seasonal swing found in a signal."""

    period: float
    """Samples per cycle."""
    harmonics: int
    """Harmonics of the period the swing is made of."""
    values: _Vector = field(repr=False)
    """The swing at every sample (mean zero over whole cycles)."""


def peak_frequency(residuals: _Vector) -> float | None:
    """The frequency (cycles per sample) of the strongest narrow peak of the
    periodogram of `residuals`, or None when no peak stands out."""
    n = residuals.size
    spectrum = np.fft.rfft(residuals - residuals.mean())
    power = np.abs(spectrum) ** 2
    lowest = MIN_CYCLES
    highest = min(int(n / MIN_PERIOD), power.size - 2)
    if highest - lowest < 2 * BACKGROUND:
        return None
    # The background of a bin: the mean power of the bins around it, but for
    # the bin and its neighbours, into which a peak leaks.
    padded = np.pad(power, BACKGROUND, mode="reflect")
    sums = np.concatenate(([0.0], np.cumsum(padded)))
    centre = np.arange(power.size) + BACKGROUND
    outer = sums[centre + BACKGROUND + 1] - sums[centre - BACKGROUND]
    inner = sums[centre + LEAK + 1] - sums[centre - LEAK]
    background = (outer - inner) / (2 * (BACKGROUND - LEAK))
    ratio = np.zeros(power.size)
    usable = slice(lowest, highest + 1)
    ratio[usable] = power[usable] / np.maximum(background[usable], np.finfo(np.float64).tiny)
    best = int(np.argmax(ratio))
    # Over noise, a bin's power over the mean of m others is F(2, 2m)
    # distributed: P(ratio > x) = (1 + x/m)^-m. The largest of `bins` such
    # ratios exceeds the threshold with probability FALSE_PEAK.
    background_bins = 2 * (BACKGROUND - LEAK)
    bins = highest - lowest + 1
    threshold = background_bins * ((bins / FALSE_PEAK) ** (1.0 / background_bins) - 1.0)
    if ratio[best] <= threshold:
        return None
    # The strongest peak may be a harmonic of the period (the second of a
    # weekend pattern): the lowest of its fractions that stands out too,
    # within a bin, is the period's own frequency.
    for divisor in range(MAX_HARMONICS, 1, -1):
        below = int(round(best / divisor))
        if below >= lowest:
            candidates = range(max(below - 1, lowest), below + 2)
            strongest = max(candidates, key=lambda k: ratio[k])
            if ratio[strongest] > threshold / 2.0:
                best = strongest
                break
    # A period that is not a whole number of bins falls between two: the
    # three bins around the peak place it (Jacobsen's estimator).
    before, at, after = spectrum[best - 1], spectrum[best], spectrum[best + 1]
    denominator = 2.0 * at - before - after
    shift = float(np.real((before - after) / denominator)) if abs(denominator) > 0 else 0.0
    return (best + min(max(shift, -0.5), 0.5)) / n


def seasonal_swing(signal: _Vector, breakpoints: Sequence[int], unit: float, *,
                   frequency: float | None = None, slopes: bool = False) -> Season | None:
    """The seasonal swing of a one-feature `signal` whose changes are
    `breakpoints` (segment levels, and lines with `slopes`), in a signal
    whose squared-error noise unit is `unit`; None when there is none. With
    `frequency` (cycles per sample) the swing is fitted at that frequency
    instead of the periodogram's peak."""
    n = signal.size
    if n < 4 * MIN_CYCLES or not (math.isfinite(unit) and unit > 0):
        return None
    residuals = _noise.segment_residuals(signal[:, None], breakpoints, slopes)[:, 0]
    if frequency is None:
        frequency = peak_frequency(residuals)
    if frequency is None:
        return None
    count = min(MAX_HARMONICS, int(math.ceil(0.5 / frequency)) - 1)
    position = np.arange(n, dtype=np.float64)
    angles = 2.0 * np.pi * frequency * np.outer(position, np.arange(1, count + 1))
    sines = np.concatenate([np.sin(angles), np.cos(angles)], axis=1)
    # The sines fitted together with the segments' levels (and slopes): by
    # the Frisch-Waugh theorem, the fit of what the segments leave of the
    # signal on what they leave of the sines.
    projected = _noise.segment_residuals(sines, breakpoints, slopes)
    swing = np.linalg.lstsq(projected, residuals, rcond=None)[0]
    # A sine of amplitude a explains about n·a²/2 of the squared error. The
    # noise it is weighed against: the unit given (from sample-to-sample
    # differences, which a swing of a few samples' period inflates) or what
    # the segments and the swing leave, if less (a trend the segments miss
    # inflates that one instead).
    left = float(_noise.winsorized_variance((residuals - projected @ swing)[:, None])[0])
    explained = n * (swing[:count] ** 2 + swing[count:] ** 2) / 2.0
    kept = explained > HARMONIC_PRICE * math.log(n) * min(unit, left)
    if not kept.any():
        return None
    values = sines[:, np.concatenate([kept, kept])] @ np.concatenate([swing[:count][kept], swing[count:][kept]])
    return Season(period=1.0 / frequency, harmonics=int(kept.sum()), values=np.asarray(values))
