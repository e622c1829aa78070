"""Scores of a detected segmentation against the true one, as the usual
change-point benchmark defines them.

Both take breakpoint lists (segment ends, the last one n). As in that
benchmark, the start of the series counts as a change point in both sets, so
a series without changes scored against an answer without changes gets F1 1.
"""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np


def _points(breakpoints: Sequence[int]) -> list[int]:
    """Change points with the start of the series: 0 and every breakpoint but n."""
    return [0, *(int(b) for b in breakpoints[:-1])]


def matched(truth: Sequence[int], found: Sequence[int], margin: int = 5) -> list[bool]:
    """For every true change point (without the start), whether a distinct
    detected one lies within `margin` samples: each detection serves at most
    one true point, the nearest unserved one, in time order."""
    true_points = [int(b) for b in truth[:-1]]
    detected = sorted(int(b) for b in found[:-1])
    used = [False] * len(detected)
    result = []
    for point in true_points:
        best, best_distance = -1, margin + 1
        for i, d in enumerate(detected):
            distance = abs(d - point)
            if not used[i] and distance < best_distance:
                best, best_distance = i, distance
        if best >= 0:
            used[best] = True
        result.append(best >= 0)
    return result


def f1_score(truth: Sequence[int], found: Sequence[int], margin: int = 5) -> float:
    """Harmonic mean of precision and recall, one-to-one matches within `margin`."""
    hits = sum(matched(truth, found, margin)) + 1  # the start always matches itself
    precision = hits / len(_points(found))
    recall = hits / len(_points(truth))
    return 2 * precision * recall / (precision + recall)


def covering(truth: Sequence[int], found: Sequence[int]) -> float:
    """How well the detected partition covers the true one: every true segment,
    weighted by its length, scores its best Jaccard overlap with a detected segment."""
    n = int(truth[-1])
    true_bounds = np.asarray([0, *truth], dtype=np.int64)
    found_bounds = np.asarray([0, *found], dtype=np.int64)
    total = 0.0
    for a, b in zip(true_bounds[:-1], true_bounds[1:]):
        # Only detected segments that overlap [a, b) matter.
        first = int(np.searchsorted(found_bounds, a, side="right")) - 1
        best = 0.0
        for c, d in zip(found_bounds[first:-1], found_bounds[first + 1:]):
            if c >= b:
                break
            overlap = min(b, d) - max(a, c)
            best = max(best, overlap / (max(b, d) - min(a, c)))
        total += (b - a) * best
    return total / n
