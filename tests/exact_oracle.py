"""Brute-force optima of small segmentation problems, in exact rational arithmetic.

Signals are small integers, so every L2 segment cost is an exact fraction and
ties between segmentations are exact; the searches must then return the
lexicographically smallest optimal breakpoint list.
"""

from fractions import Fraction
from itertools import combinations


def grid_positions(n, jump):
    return list(range(0, n, jump)) + [n]


def admissible_segmentations(n, min_size, jump):
    """Every grid-aligned breakpoint list whose segments are at least min_size long."""
    interior = [p for p in grid_positions(n, jump)[1:-1]]
    for count in range(len(interior) + 1):
        for chosen in combinations(interior, count):
            breakpoints = list(chosen) + [n]
            starts = [0] + list(chosen)
            if all(b - a >= min_size for a, b in zip(starts, breakpoints)):
                yield breakpoints


def l2_segment_cost(rows, start, end):
    block = rows[start:end]
    length = end - start
    total = Fraction(0)
    for column in range(len(block[0])):
        values = [Fraction(row[column]) for row in block]
        mean = sum(values) / length
        total += sum((v - mean) ** 2 for v in values)
    return total


def l2_cost(rows, breakpoints):
    starts = [0] + breakpoints[:-1]
    return sum((l2_segment_cost(rows, a, b) for a, b in zip(starts, breakpoints)), Fraction(0))


def scored_segmentations(rows, min_size, jump):
    """(exact L2 cost, breakpoints) of every admissible segmentation, segment costs computed once."""
    n = len(rows)
    segment = {}

    def cost_of(a, b):
        if (a, b) not in segment:
            segment[a, b] = l2_segment_cost(rows, a, b)
        return segment[a, b]

    scored = []
    for breakpoints in admissible_segmentations(n, min_size, jump):
        starts = [0] + breakpoints[:-1]
        scored.append((sum((cost_of(a, b) for a, b in zip(starts, breakpoints)), Fraction(0)), breakpoints))
    return scored


def best_segmentation(candidates, objective):
    """The minimal objective and, among exact ties, the lexicographically smallest list."""
    scored = [(objective(b), b) for b in candidates]
    if not scored:
        return None, None
    optimum = min(value for value, _ in scored)
    return optimum, min(b for value, b in scored if value == optimum)
