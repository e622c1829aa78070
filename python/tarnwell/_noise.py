"""Robust statistics of a signal's noise and of its short excursions, which
the default penalty is built from.

Every statistic here ignores the level shifts a search is meant to find:
they are read from differences between nearby samples and from blocks
compared with a running median of their neighbours, and a few shifts touch
only a few of those. Medians keep isolated glitches out as well. All of them
scale with the signal (squared for the squared-error ones) and ignore an
added constant.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

_Matrix = npt.NDArray[np.float64]

# Standard deviations per median absolute deviation for Gaussian data.
_MAD_TO_SD = 1.482602218505602

# The largest lag-one autocorrelation the estimate reports: above it lag
# differences cannot tell correlated noise from a slowly wandering level.
MAX_RHO = 0.95

# The estimate of the autocorrelation from two lags has a standard deviation
# of about 3/√n on independent noise (5/√n at ρ = 0.9), and the noise unit
# grows like 1/(1 − ρ)²: an overestimate on a short signal (ρ̂ above 1 on a
# third of the series of 30 independent values) silences every change. The
# estimate is lowered by that much, which leaves long signals alone.
RHO_STANDARD_ERRORS = 3.0

# The long-run variance factor (1 + ρ)/(1 − ρ) is capped here: correlation
# measured from the data also absorbs slow swings and short bumps that the
# excursion term below prices on its own, and a cap keeps a shift of a few
# noise units findable in strongly correlated noise.
MAX_INFLATION = 4.0

# Block lengths of the excursion term, and the fewest blocks a signal must
# hold for a length to be used.
BLOCKS = (2, 4, 8, 16, 32)
MIN_BLOCKS = 25


@dataclass(frozen=True)
class NoiseScale:
    """Per-feature noise of a signal."""

    sd: npt.NDArray[np.float64]
    """Marginal standard deviation of the noise around the piecewise level
    (kept rather than the variance, whose square leaves the floating-point
    range for signals in units near 1e-300 or 1e300)."""
    rho: npt.NDArray[np.float64]
    """Lag-one autocorrelation, in [0, MAX_RHO]."""

    @property
    def variance(self) -> npt.NDArray[np.float64]:
        """Marginal variance of the noise (infinite beyond the floating-point
        range: the callers fall back where it is)."""
        with np.errstate(over="ignore"):
            return np.asarray(self.sd * self.sd, dtype=np.float64)

    @property
    def inflation(self) -> npt.NDArray[np.float64]:
        """The bounded long-run variance factor min((1 + ρ)/(1 − ρ), MAX_INFLATION)."""
        return np.minimum((1.0 + self.rho) / (1.0 - self.rho), MAX_INFLATION)

    @property
    def inflated(self) -> float:
        """Mean over features of variance × inflation: the squared-error noise unit."""
        return float(np.mean(self.variance * self.inflation))

    def in_units_of(self, unit: float) -> NoiseScale:
        """The same noise measured on the signal divided by `unit`."""
        return NoiseScale(self.sd / unit, self.rho)


def power_of_two_near(value: float) -> float:
    """A power of two within a factor of two of `value` (1 for zero or a
    value that is not finite): dividing by it is exact, so statistics
    computed on the divided signal equal those of the signal itself, scaled,
    while their squares stay within the floating-point range."""
    if not math.isfinite(value) or value <= 0:
        return 1.0
    return math.ldexp(1.0, math.frexp(value)[1])


def median(values: _Matrix) -> npt.NDArray[np.float64]:
    """Per column: the median, as np.median gives it for finite values.

    One partition of a copy: np.median also checks for NaN with a second
    partition point, which costs it several times more at 10^5 samples, and
    these statistics run on every default-penalty search."""
    n = values.shape[0]
    middle = n // 2
    ordered = np.partition(values, middle, axis=0)
    upper = ordered[middle]
    if n % 2:
        return np.asarray(upper, dtype=np.float64)
    return np.asarray((ordered[:middle].max(axis=0) + upper) / 2.0, dtype=np.float64)


def robust_sd(values: _Matrix) -> npt.NDArray[np.float64]:
    """Per column: the median absolute deviation in standard deviations.

    When more than half the values are equal (counts, quantised or
    noiseless signals) that median is 0: the values that differ are then
    taken as a share p of the column with the deviations of the others, so
    the deviation is √p times the median absolute deviation of those values
    alone. Unlike their root mean square, this ignores the few largest, such
    as the step of a noiseless signal."""
    deviations = values - median(values)
    np.abs(deviations, out=deviations)
    return _robust_sd_of(deviations, median(deviations))


def _robust_sd_of(deviations: _Matrix, mad: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """`robust_sd` from the absolute deviations about the median and their median."""
    sd = _MAD_TO_SD * mad
    if np.all(sd > 0):
        return np.asarray(sd, dtype=np.float64)
    for column in np.flatnonzero(~(sd > 0)):
        differing = deviations[:, column][deviations[:, column] > 0]
        if differing.size:
            share = differing.size / deviations.shape[0]
            sd[column] = _MAD_TO_SD * math.sqrt(share) * float(np.median(differing))
    return np.asarray(sd, dtype=np.float64)


# Values beyond this many robust standard deviations are clipped there by
# `winsorized_variance`.
WINSOR = 3.0


def winsorized_variance(values: _Matrix) -> npt.NDArray[np.float64]:
    """Per column: the mean square about the median after clipping every
    deviation at WINSOR robust standard deviations. As robust as the median
    absolute deviation to a few large values, but nearly as precise as the
    plain variance on Gaussian noise (the median absolute deviation alone
    wastes two thirds of the samples), which comparisons of fits need."""
    # The centre and the limit need no more than a few thousand values: on
    # long signals they come from an evenly spaced subset.
    subset = values[::max(1, values.shape[0] // _WINSOR_SUBSET)]
    centre = median(subset)
    limit = WINSOR * robust_sd(subset - centre)
    clipped = np.clip(values - centre, -limit, limit)
    return np.asarray(np.mean(clipped * clipped, axis=0), dtype=np.float64)


_WINSOR_SUBSET = 4096


def resolution(matrix: _Matrix) -> npt.NDArray[np.float64]:
    """Per column: the smallest gap between two distinct values (0 for a
    constant column): the step of quantised data, such as 1 for counts. A
    run of equal values is only known to within it."""
    gaps = np.diff(np.sort(matrix, axis=0), axis=0)
    positive = np.where(gaps > 0, gaps, np.inf)
    smallest = positive.min(axis=0) if gaps.shape[0] else np.full(matrix.shape[1], np.inf)
    return np.asarray(np.where(np.isfinite(smallest), smallest, 0.0), dtype=np.float64)


def average_ranks(matrix: _Matrix) -> _Matrix:
    """Per column: the rank of every value, equal values sharing the mean of
    their ranks (as the rank cost has them). Ranks in order of appearance
    would turn a run of equal values into a ramp, which reads as a trend."""
    order = np.argsort(matrix, axis=0, kind="stable")
    ranks = np.empty(matrix.shape, dtype=np.float64)
    for column in range(matrix.shape[1]):
        ordered = matrix[order[:, column], column]
        # Runs of equal values in sorted order; each gets its mean rank.
        starts = np.flatnonzero(np.concatenate(([True], ordered[1:] != ordered[:-1])))
        ends = np.append(starts[1:], ordered.size)
        ranks[order[:, column], column] = np.repeat((starts + ends - 1) / 2.0, ends - starts)
    return ranks


def noise_scale(matrix: _Matrix) -> NoiseScale:
    """Noise variance and lag-one autocorrelation from lag-one and lag-two differences.

    For a stationary noise with variance σ² and autocorrelation ρ_k at lag k,
    the differences at lag k have variance 2σ²(1 − ρ_k); for AR(1) noise
    ρ_2 = ρ², so the two lags give 1 + ρ = s₂²/s₁² and σ² = s₁²/(2(1 − ρ)),
    as in the drift-and-autocorrelation estimates of DeCAFS (Romano et al.,
    2022). Centring the differences on their median removes a linear trend;
    the median absolute deviation ignores the few differences that straddle
    a shift or touch an outlier. The estimate of ρ is lowered by about its
    standard error (RHO_STANDARD_ERRORS).
    """
    n, d = matrix.shape
    if n < 3:
        return NoiseScale(np.zeros(d), np.zeros(d))
    steps = matrix[1:] - matrix[:-1]
    deviations = np.abs(steps - median(steps))
    mad = median(deviations)
    s1 = _robust_sd_of(deviations, mad)
    s2 = robust_sd(matrix[2:] - matrix[:-2])
    with np.errstate(divide="ignore", invalid="ignore"):
        ratio = np.where(s1 > 0, s2 / s1, 1.0)
    rho = np.clip(np.nan_to_num(ratio * ratio - 1.0) - RHO_STANDARD_ERRORS / math.sqrt(n), 0.0, MAX_RHO)
    # Where most steps are exactly equal (a noiseless or coarsely quantised
    # feature), the few that differ are the changes themselves: they say
    # nothing of a correlation.
    rho = np.where(mad > 0, rho, 0.0)
    return NoiseScale(s1 / np.sqrt(2.0 * (1.0 - rho)), rho)


def _median_of_five(a: _Matrix, b: _Matrix, c: _Matrix, d: _Matrix, e: _Matrix) -> _Matrix:
    # The median of five by comparisons alone: the larger of the two pair
    # minima and the smaller of the two pair maxima bracket it with e. Four
    # buffers, reused, instead of a new array per comparison.
    low, high = np.minimum(a, b), np.maximum(a, b)
    other_low, other_high = np.minimum(c, d), np.maximum(c, d)
    np.maximum(low, other_low, out=low)
    np.minimum(high, other_high, out=high)
    np.minimum(e, low, out=other_low)
    np.maximum(e, low, out=other_high)
    np.minimum(other_high, high, out=other_high)
    return np.maximum(other_low, other_high, out=other_low)


def _running_median_of_five(levels: _Matrix) -> _Matrix:
    """Median of each level and its two neighbours on either side (the end
    levels repeated beyond the ends)."""
    padded = np.concatenate([levels[:1], levels[:1], levels, levels[-1:], levels[-1:]])
    count = levels.shape[0]
    return _median_of_five(padded[0:count], padded[1:count + 1], padded[3:count + 3], padded[4:count + 4],
                           padded[2:count + 2])


def despiked(matrix: _Matrix) -> _Matrix:
    """Every sample replaced by the median of itself and its two neighbours
    on either side: isolated glitches go, steps and straight lines stay."""
    return _running_median_of_five(matrix) if matrix.shape[0] >= 5 else matrix


def offsets_of(counts: npt.NDArray[np.int64]) -> npt.NDArray[np.int64]:
    """Where each of consecutive runs of `counts` items starts."""
    return np.concatenate(([0], np.cumsum(counts)[:-1])).astype(np.int64)


def squared_norms(rows: _Matrix) -> npt.NDArray[np.float64]:
    """The sum of squares of every row (einsum: a sum along rows of a few
    columns is several times slower through np.sum)."""
    return np.asarray(np.einsum("ij,ij->i", rows, rows), dtype=np.float64)


def _largest_departure(levels: _Matrix, block: int) -> float:
    """b·e² for the block whose mean departs most (e, summed over features)
    from the running median of the block means around it."""
    return block * float(squared_norms(levels - _running_median_of_five(levels)).max())


def excursion_gain(matrix: _Matrix, *, shortest: int = 1, longest: int = BLOCKS[-1]) -> float:
    """The largest squared error a search saves by cutting out one short
    block that departs from its surroundings and comes back: an outlier, a
    burst of heavy-tailed noise, the crest of a seasonal swing, an excursion
    of correlated noise.

    For each block length b of BLOCKS (at least `shortest`, at most
    `longest`, with at least MIN_BLOCKS blocks in the signal) and two
    alignments (offsets 0 and b/2),
    every block's mean is compared with the running median of five block
    means around it. A running median follows a lasting shift but not a
    block that departs and returns, so shifts do not count. Isolating a
    block whose mean is off by e saves b·e², summed over features.
    """
    n = matrix.shape[0]
    best = 0.0
    halves = matrix  # the means of blocks of b/2 samples from offset 0
    for block in BLOCKS:  # each twice the one before
        if n < MIN_BLOCKS * block or block > longest:
            break
        # A block's mean is the mean of its two halves: every length and
        # both alignments from one pass over the signal.
        pairs = halves.shape[0] // 2
        aligned = (halves[0:2 * pairs:2] + halves[1:2 * pairs:2]) / 2.0
        if block >= shortest:
            shifted_pairs = (halves.shape[0] - 1) // 2
            shifted = (halves[1:2 * shifted_pairs:2] + halves[2:2 * shifted_pairs + 1:2]) / 2.0
            best = max(best, _largest_departure(aligned, block), _largest_departure(shifted, block))
        halves = aligned
    return best


EXCURSION_ROOM = 8
"""Excursions raise the squared-error penalty at most to the saving of a
LARGE_SHIFT shift with n / EXCURSION_ROOM samples on either side of it,
LARGE_SHIFT² · n / (2 · EXCURSION_ROOM) noise units: a single enormous
glitch is then cut out rather than silencing every shift of the signal."""


def excursion_raise(matrix: _Matrix, unit: float, term: float, *, shortest: int = 1,
                    longest: int = BLOCKS[-1]) -> float:
    """The raise of a squared-error penalty `term` for short excursions: the
    largest `excursion_gain` (blocks of `shortest` to `longest` samples),
    capped at EXCURSION_ROOM's ceiling in noise units `unit`, over `term`;
    at least 1."""
    gain = excursion_gain(matrix, shortest=shortest, longest=longest)
    ceiling = LARGE_SHIFT**2 * matrix.shape[0] / (2 * EXCURSION_ROOM) * unit
    return float(max(1.0, min(gain, ceiling) / term))


def segment_residuals(columns: _Matrix, breakpoints: Sequence[int], slopes: bool) -> _Matrix:
    """Each column less each segment's mean (or, with `slopes`, its
    least-squares line in time)."""
    edges = np.asarray([0, *breakpoints], dtype=np.int64)
    counts = np.diff(edges)
    lengths = counts.astype(np.float64)[:, None]
    residuals = columns - np.repeat(np.add.reduceat(columns, edges[:-1], axis=0) / lengths, counts, axis=0)
    if slopes:
        centre = np.repeat(edges[:-1] + (lengths[:, 0] - 1.0) / 2.0, counts)
        offset = (np.arange(columns.shape[0], dtype=np.float64) - centre)[:, None]
        spread = np.add.reduceat(offset * offset, edges[:-1], axis=0)
        moment = np.add.reduceat(offset * residuals, edges[:-1], axis=0)
        slope = np.divide(moment, spread, out=np.zeros_like(moment), where=spread > 0)
        residuals = residuals - np.repeat(slope, counts, axis=0) * offset
    return np.asarray(residuals)


def unit_rows(matrix: _Matrix) -> _Matrix:
    """Every row divided by its length (zero rows stay zero): what the
    cosine kernel compares, to measure its noise on."""
    # Divided by the largest magnitude first, so the squares neither overflow
    # nor underflow whatever the unit.
    largest = np.max(np.abs(matrix), axis=1)
    scaled = matrix / np.where(largest > 0, largest, 1.0)[:, None]
    norms = np.sqrt(np.sum(scaled * scaled, axis=1))
    return np.asarray(scaled / np.where(norms > 0, norms, 1.0)[:, None])


def regression_residuals(response: _Matrix, design: _Matrix) -> _Matrix:
    """Residuals of one least-squares fit over the whole signal."""
    coefficients = np.linalg.lstsq(design, response, rcond=None)[0]
    return np.asarray(response - design @ coefficients)


def autoregression_residuals(matrix: _Matrix, order: int) -> _Matrix:
    """Residuals of one autoregression with intercept over the whole signal:
    every sample on the previous `order` samples of all features."""
    n, d = matrix.shape
    lags = [matrix[order - lag:n - lag] for lag in range(1, order + 1)]
    design = np.hstack([np.ones((n - order, 1)), *lags])
    return regression_residuals(matrix[order:], design)


# Samples on each side of a boundary whose line is extrapolated to it.
LINE_WINDOW = 100

LARGE_SHIFT = 3.0
"""Shifts of level at least this many noise standard deviations are large:
the default penalty never grows beyond what one of them buys, and a segment
holding one draws UnderSegmentationWarning."""


def abrupt_jumps(matrix: _Matrix, bounds: list[tuple[int, int, int]], noise: NoiseScale,
                 window: int = LINE_WINDOW, *, despike: bool = False) -> tuple[_Matrix, _Matrix]:
    """For each (start, cut, end): the jump at `cut` between the
    least-squares lines fitted to up to `window` samples on either side
    within [start, end), per feature, and its standard deviation under the
    noise. With `despike`, the lines go through the running median of five
    (`despiked`) of the signal, so a glitch next to the cut does not count.

    A trend, cut into steps by a piecewise-constant model, has no jump
    between the lines on either side of a cut; a shift of level has the
    shift's size whatever the slope around it.
    """
    n, d = matrix.shape
    if not bounds:
        return np.zeros((0, d)), np.zeros((0, d))
    start, cut, end = (np.asarray(column, dtype=np.int64) for column in zip(*bounds))
    low = np.maximum(start, cut - window)
    high = np.minimum(end, cut + window)
    # Only the samples within `window` of a cut matter: they are gathered
    # window after window (with two more on each side for the running
    # median, the end samples repeated beyond the signal's ends, as
    # `despiked` does), so the work follows the cuts, not the signal.
    context = 2 if despike else 0
    spans = high - low + 2 * context
    offsets = offsets_of(spans)
    rows = np.repeat(low - context - offsets, spans) + np.arange(int(spans.sum()))
    # In units of about the noise (a power of two: exact), so that sums of
    # values near the floating-point limit stay in range.
    unit = power_of_two_near(float(np.max(noise.sd)))
    windows = matrix[np.clip(rows, 0, n - 1)] / unit
    if despike:
        windows = _running_median_of_five(windows)
    # Each window centred on its own mean, so an offset costs no precision.
    windows = windows - np.repeat(np.add.reduceat(windows, offsets, axis=0) / spans[:, None], spans, axis=0)
    position = np.arange(windows.shape[0], dtype=np.float64)[:, None]
    sums = np.concatenate([np.zeros((1, d)), np.cumsum(windows, axis=0)])
    moments = np.concatenate([np.zeros((1, d)), np.cumsum(position * windows, axis=0)])
    first = offsets + context
    at = first + (cut - low)
    last = first + (high - low)

    def line_at_cut(begin: npt.NDArray[np.int64], stop: npt.NDArray[np.int64]) -> _Matrix:
        length = (stop - begin).astype(np.float64)[:, None]
        middle = (begin + stop - 1).astype(np.float64)[:, None] / 2.0
        total = sums[stop] - sums[begin]
        spread = (length**3 - length) / 12.0  # the sum of squared positions around the middle
        slope = np.divide(moments[stop] - moments[begin] - middle * total, spread,
                          out=np.zeros_like(total), where=spread > 0)
        return np.asarray(total / length + slope * (at[:, None] - 0.5 - middle))

    jumps = (line_at_cut(at, last) - line_at_cut(first, at)) * unit
    # The end of a fitted line of k samples has variance about 4σ²/k.
    inverse = (4.0 / (cut - low) + 4.0 / (high - cut))[:, None]
    return jumps, noise.sd * np.sqrt(noise.inflation * inverse)
