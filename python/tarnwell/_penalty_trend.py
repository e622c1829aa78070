"""The raise of the default penalty for trends and smooth rises (G of the
rule in `_penalty_rule`): what a piecewise-constant search would save by
cutting a trend it should leave whole."""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from . import _noise

_Matrix = npt.NDArray[np.float64]


def _best_split_gain(matrix: _Matrix) -> float:
    """The largest squared-error saving of one cut, over every position."""
    n = matrix.shape[0]
    if n < 2:
        return 0.0
    sums = np.cumsum(matrix - matrix.mean(axis=0), axis=0)[:-1]
    left = np.arange(1, n, dtype=np.float64)
    return float(np.max(_noise.squared_norms(sums) * n / (left * (n - left))))


def _line_gain(matrix: _Matrix) -> float:
    """The squared-error saving of one straight line over the whole signal
    against its mean."""
    n = matrix.shape[0]
    if n < 2:
        return 0.0
    position = np.arange(n, dtype=np.float64) - (n - 1) / 2.0
    # einsum, not a matrix product: BLAS would wake its threads for one pass.
    moments = np.einsum("i,ij->j", position, matrix - matrix.mean(axis=0))
    return float(np.sum(moments * moments) / (n * (n * n - 1.0) / 12.0))


def _staircase_split_gains(levels: _Matrix, lengths: npt.NDArray[np.int64],
                           sections: npt.NDArray[np.int64]) -> float:
    """The largest saving of one cut of a noiseless staircase (segment
    `levels` and `lengths`) within any of its `sections` (section number per
    segment, non-decreasing). The best cut of a piecewise-constant signal
    lies at one of its steps, so only the steps are tried."""
    weighted = levels * lengths[:, None]
    first = np.flatnonzero(np.concatenate(([True], sections[1:] != sections[:-1])))
    count = np.diff(np.append(first, len(lengths)))
    totals_n = np.add.reduceat(lengths, first).astype(np.float64)
    totals = np.add.reduceat(weighted, first, axis=0)
    # Samples and sums left of every step, counted from the section's start.
    ends_n = np.cumsum(lengths)
    left_n = (ends_n - np.repeat(np.concatenate(([0], ends_n[first[1:] - 1])), count)).astype(np.float64)
    before = np.concatenate([np.zeros((1, levels.shape[1])), np.cumsum(weighted, axis=0)])
    left = before[1:] - np.repeat(before[first], count, axis=0)
    section_n, section_sum = np.repeat(totals_n, count), np.repeat(totals, count, axis=0)
    inner = left_n < section_n  # the last segment of a section ends it: no step there
    if not inner.any():
        return 0.0
    deviation = left[inner] - left_n[inner, None] * section_sum[inner] / section_n[inner, None]
    right_n = section_n[inner] - left_n[inner]
    return float(np.max(_noise.squared_norms(deviation) * section_n[inner] / (left_n[inner] * right_n)))


def gradual_penalty(matrix: _Matrix, breakpoints: Sequence[int], noise: _noise.NoiseScale) -> float:
    """GRADUAL_SHARE times the saving of the best single cut of the gradual
    part of a piecewise-constant fit, or 0 when that part is no trend.

    A step of the fit is abrupt when the lines fitted on either side of it
    are more than ABRUPT noise deviations apart, and gradual otherwise: what
    a piecewise-constant model makes of a trend or a smooth rise is a
    staircase of gradual steps. It is a trend when at least GRADUAL_STEPS
    of its steps climb the same way (steps up and down are a bump of small
    shifts, which are changes), or, with fewer, when a straight line
    explains at least LINE_SHARE of what the best single cut of the signal
    explains once its abrupt shifts are taken out (a lone step of a trend
    is as well described by the line; a lone small shift is not: a line
    captures at most three quarters of a step). The best cut is sought
    between the steps that are certain shifts (more than SPLIT noise
    deviations): once a search cuts those, a trend is cut only within the
    stretches between them. A penalty above that saving leaves the rise
    whole or cut once, while an abrupt shift that stands out from it still
    pays.
    """
    if len(breakpoints) < 2:
        return 0.0
    bounds = [0, *breakpoints]
    jumps, sds = _noise.abrupt_jumps(matrix, list(zip(bounds[:-2], bounds[1:-1], bounds[2:])), noise)
    abrupt = np.any(np.abs(jumps) > ABRUPT * sds, axis=1)
    if abrupt.all():
        return 0.0
    edges = np.asarray(bounds, dtype=np.int64)
    lengths = np.diff(edges)
    means = np.add.reduceat(matrix, edges[:-1], axis=0) / lengths[:, None]
    steps = np.where(abrupt[:, None], 0.0, np.diff(means, axis=0))
    climbing = max(int(np.max(np.sum(steps > 0, axis=0))), int(np.max(np.sum(steps < 0, axis=0))))
    if climbing < GRADUAL_STEPS:
        shifts = np.where(abrupt[:, None], jumps, 0.0)
        rest = matrix - np.repeat(np.concatenate([np.zeros((1, matrix.shape[1])), np.cumsum(shifts, axis=0)]),
                                  lengths, axis=0)
        if _line_gain(rest) < LINE_SHARE * _best_split_gain(rest):
            return 0.0
    staircase = np.concatenate([np.zeros((1, matrix.shape[1])), np.cumsum(steps, axis=0)])
    sections = np.concatenate(([0], np.cumsum(np.any(np.abs(jumps) > SPLIT * sds, axis=1))))
    return GRADUAL_SHARE * _staircase_split_gains(staircase, lengths, sections)


# Chosen on the calibration suite (benchmarks/defaults): fewer gradual
# steps or a lower threshold let trends through, a larger share costs shifts.
# LINE_SHARE sits between what a line explains of a step (at most 0.75) and
# of a drift (more than the step does). SPLIT: the first search places its
# cuts where noise makes the jump look largest, so steps of a trend often
# read 2 to 3 deviations; only well above that do they split the trend.
GRADUAL_STEPS = 2
ABRUPT = 2.5
GRADUAL_SHARE = 1.25
LINE_SHARE = 0.9
SPLIT = 4.0
