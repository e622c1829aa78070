"""Checks of a result: warnings when a segmentation looks over-segmented
(most segments only a few samples long, or, for the "normal" model, cut at
runs of equal values) or under-segmented (a segment holds a large abrupt
shift of level)."""

from __future__ import annotations

import warnings
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _noise
from ._intake import as_signal
from ._noise import LARGE_SHIFT

_Matrix = npt.NDArray[np.float64]


class OverSegmentationWarning(UserWarning):
    """Most segments of a result are only a few samples long."""


def oversegmentation_message(breakpoints: Sequence[int], *, min_size: int = 1, jump: int = 1) -> str | None:
    """Why a segmentation looks over-segmented, or None when it looks sound.

    It looks over-segmented when it has at least five segments and more than
    half of them are at most max(5, 2·min_size, 2·jump) samples long.
    """
    lengths = np.diff(np.asarray([0, *breakpoints], dtype=np.int64))
    if lengths.size < 5:
        return None
    short = max(5, 2 * min_size, 2 * jump)
    n_short = int(np.count_nonzero(lengths <= short))
    if 2 * n_short <= lengths.size:
        return None
    return (f"{n_short} of {lengths.size} segments are at most {short} samples long: the result looks "
            "over-segmented. Likely cause: a penalty too small for the signal's scale (a penalty is in the "
            "units of the cost, so it grows with the noise variance: the same signal times 10 needs a "
            "penalty 100 times larger), or a model that does not describe the signal (a trend or a smooth "
            "curve is cut into many short steps by a piecewise-constant model). Remedy: leave pen unset to "
            "use tarnwell.penalty.default_penalty, pick a penalty from "
            "tarnwell.penalty.penalty_path(...).elbow(), raise min_size, or choose a model that fits "
            "(for example 'clinear' or 'linear' for trends)")


def warn_if_oversegmented(breakpoints: Sequence[int], *, min_size: int = 1, jump: int = 1,
                          stacklevel: int = 2) -> None:
    """Warns with OverSegmentationWarning when `oversegmentation_message` finds a reason."""
    message = oversegmentation_message(breakpoints, min_size=min_size, jump=jump)
    if message is not None:
        warnings.warn(message, OverSegmentationWarning, stacklevel=stacklevel + 1)


def tied_runs_message(signal: Any, breakpoints: Sequence[int]) -> str | None:
    """Why a result of the "normal" model looks cut at runs of equal values,
    or None: some segment holds a single repeated value (while the signal
    does not). The cost of such a segment is its length times the log of the
    ridge alone (1e-6), far below any noise, so isolating every run pays for
    itself whatever the penalty."""
    matrix = as_signal(signal).matrix
    edges = [0, *breakpoints]
    runs = sum(1 for start, end in zip(edges[:-1], edges[1:])
               if end - start >= 2 and np.all(matrix[start:end] == matrix[start]))
    if runs == 0 or np.all(matrix == matrix[0]):
        return None
    step = float(np.min(np.where(_noise.resolution(matrix) > 0, _noise.resolution(matrix), np.inf)))
    return (f"{runs} of {len(breakpoints)} segments hold a single repeated value: the signal's values come "
            f"in steps of {step:g} (counts, rounded or noiseless data), and the 'normal' cost of a run of equal "
            "values is bounded only by its ridge (1e-6), so the search isolates such runs whatever the "
            "penalty. Remedy: a model that does not depend on a variance, such as 'l2' or 'rank' (or "
            "detect without a model, which does not fit the spread of such data), or a normal cost whose "
            f"ridge is about the rounding variance step²/12 = {step * step / 12.0:g}")


def warn_if_tied_runs(signal: Any, breakpoints: Sequence[int], *, stacklevel: int = 2) -> None:
    """Warns with OverSegmentationWarning when `tied_runs_message` finds a reason."""
    message = tied_runs_message(signal, breakpoints)
    if message is not None:
        warnings.warn(message, OverSegmentationWarning, stacklevel=stacklevel + 1)


class UnderSegmentationWarning(UserWarning):
    """A segment of a result probably holds a large shift of level."""


SHIFT_WINDOW = 30

SIGNIFICANT = 4.0
"""Standard errors a shift must stand clear of the noise for
UnderSegmentationWarning: the best cut of a segment is the largest of many."""
"""Samples on either side of a cut whose lines measure the shift there."""


def _best_inner_cuts(matrix: _Matrix, starts: npt.NDArray[np.int64], ends: npt.NDArray[np.int64],
                     sd: npt.NDArray[np.float64], side: int) -> npt.NDArray[np.int64]:
    """Each segment's best single cut (squared error, features in noise
    units) with at least `side` samples on each side; every segment holds at
    least 2·side samples. All segments at once, from one prefix sum."""
    n, d = matrix.shape
    # Centred on the first sample so that an offset costs no precision, in
    # noise units so that squares stay in range.
    scaled = (matrix[:, 0] - matrix[0, 0]) / sd[0] if d == 1 else (matrix - matrix[0]) / sd
    prefix = np.zeros((n + 1, *scaled.shape[1:]))
    np.cumsum(scaled, axis=0, out=prefix[1:])
    lengths = ends - starts
    counts = lengths - 2 * side + 1  # the cuts each segment allows
    first = _noise.offsets_of(counts)
    cut = np.repeat(starts + side - first, counts) + np.arange(int(counts.sum()))
    left = (cut - np.repeat(starts, counts)).astype(np.float64)
    share = left / np.repeat(lengths.astype(np.float64), counts)
    # The sum left of the cut less its share of the segment's sum.
    partial = prefix[cut] - np.repeat(prefix[starts], counts, axis=0)
    spread = np.repeat(prefix[ends] - prefix[starts], counts, axis=0)
    partial -= share * spread if d == 1 else share[:, None] * spread
    gains = (partial * partial if d == 1 else _noise.squared_norms(partial)) / (share * (1.0 - share))
    # The first position of each segment's largest gain, as argmax would pick.
    best = np.repeat(np.maximum.reduceat(gains, first), counts)
    hits = np.flatnonzero(gains == best)
    return np.asarray(cut[hits[np.searchsorted(hits, first)]], dtype=np.int64)


def undersegmentation_message(signal: Any, breakpoints: Sequence[int], *, min_size: int = 1,
                              noise: _noise.NoiseScale | None = None) -> str | None:
    """Why a segmentation looks under-segmented, or None when it looks sound.

    It looks under-segmented when some segment, cut at its best single
    position with at least max(10, min_size) samples on each side, shows an
    abrupt shift of level there of at least LARGE_SHIFT noise standard
    deviations: the lines fitted on either side of the cut (up to
    SHIFT_WINDOW samples each, after each sample is replaced by the median
    of the five around it, so a glitch does not count) are that far apart,
    so neither a trend nor an outlier is mistaken for a shift. The noise is
    the segment's own, measured from its lag differences (the marginal
    deviation, correlated noise included), so shifts do not inflate it and a
    segment of larger spread is judged by its spread. The shift must also
    stand SIGNIFICANT standard errors clear of what the noise's correlation
    (`noise`'s, the signal's) lets the two lines drift apart: strongly
    correlated noise or a wandering level moves lines fitted over a few
    dozen samples by several deviations. Shifts of level only: the
    regression models ("linear", "ar", "clinear") are not judged this way.
    `noise` is the signal's noise when already measured
    (``choose_penalty(...)[0].signal_noise``).
    """
    matrix = as_signal(signal).matrix
    if noise is None:
        noise = _noise.noise_scale(matrix)
    # A feature without noise (its "noise" is rounding) gives no scale to
    # judge a shift by: it is left out.
    spread = np.ptp(matrix, axis=0)
    sd = noise.sd
    usable = sd > 1e-6 * spread
    if not usable.any():
        return None
    side = max(10, min_size)
    ends = np.asarray(breakpoints, dtype=np.int64)
    starts = np.concatenate(([0], ends[:-1]))
    long = ends - starts >= 2 * side
    if not long.any():
        return None
    starts, ends = starts[long], ends[long]
    inner = _best_inner_cuts(matrix, starts, ends, np.where(usable, sd, 1.0), side)
    cuts = list(zip(starts.tolist(), inner.tolist(), ends.tolist()))
    jumps, _ = _noise.abrupt_jumps(matrix, cuts, noise, window=SHIFT_WINDOW, despike=True)
    steps = matrix[1:] - matrix[:-1]  # step t goes from sample t to t + 1
    own = np.stack([_noise.robust_sd(steps[start:end - 1]) for start, end in zip(starts, ends)]) \
        / np.sqrt(2.0 * (1.0 - noise.rho))
    own = np.where(own > 0, own, sd)
    # The end of a line fitted to k samples moves with variance about 4σ²/k.
    left = np.minimum(inner - starts, SHIFT_WINDOW)[:, None]
    right = np.minimum(ends - inner, SHIFT_WINDOW)[:, None]
    errors = own * np.sqrt(noise.inflation * (4.0 / left + 4.0 / right))
    sizes = np.max(np.abs(jumps[:, usable]) / own[:, usable], axis=1)
    clear = np.max(np.abs(jumps[:, usable]) / errors[:, usable], axis=1) >= SIGNIFICANT
    sizes = np.where(clear, sizes, 0.0)
    worst = int(np.argmax(sizes))
    if sizes[worst] < LARGE_SHIFT:
        return None
    start, at, end = cuts[worst]
    return (f"segment [{start}, {end}) holds a shift of level of {sizes[worst]:.1f} noise standard deviations "
            f"at sample {at}: the result looks under-segmented. Likely cause: a penalty raised by strongly "
            "correlated noise, by large isolated excursions or by a trend (the default penalty grows with "
            "each), or a model that does not describe the change. Remedy: compare the segmentations of "
            "tarnwell.penalty.penalty_path(...) or pass a smaller pen")


def warn_if_undersegmented(signal: Any, breakpoints: Sequence[int], *, min_size: int = 1,
                           noise: _noise.NoiseScale | None = None, stacklevel: int = 2) -> None:
    """Warns with UnderSegmentationWarning when `undersegmentation_message` finds a reason."""
    message = undersegmentation_message(signal, breakpoints, min_size=min_size, noise=noise)
    if message is not None:
        warnings.warn(message, UnderSegmentationWarning, stacklevel=stacklevel + 1)
