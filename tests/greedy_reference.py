"""Straightforward re-implementations of the three greedy searches.

They follow the algorithms step by step with plain lists instead of heaps and
linked nodes, and take their segment costs from a fitted cost object, so the
compiled engines can be compared with them bit for bit (same float operations
in the same order).
"""

import math
import struct


class Infeasible(Exception):
    pass


def near(a, b):
    if not (math.isfinite(a) and math.isfinite(b)):
        return False
    return abs(a - b) <= 1e-12 * max(abs(a), abs(b)) + 1e-12


def total_order_key(value):
    bits = struct.unpack("<q", struct.pack("<d", value))[0]
    return bits ^ ((1 << 63) - 1) if bits < 0 else bits


def admissible(a, b, min_size, jump):
    first = (a // jump + 1) * jump
    return [m for m in range(first, b, jump) if m - a >= min_size and b - m >= min_size]


def _finish(cost, breakpoints, n_bkps):
    if n_bkps is not None and len(breakpoints) - 1 != n_bkps:
        raise Infeasible
    return breakpoints


def binseg(cost, n, min_size, jump, n_bkps=None, pen=None, epsilon=None):
    def best_split(a, b):
        whole = cost(a, b)
        best = None
        for m in admissible(a, b, min_size, jump):
            gain = whole - cost(a, m) - cost(m, b)
            if best is None or total_order_key(gain) > total_order_key(best[0]):
                best = (gain, a, m, b)
        return whole, best

    segments = {0: n}
    whole, first = best_split(0, n)
    candidates = [first] if first else []
    total = whole
    while candidates:
        # Larger gain, then smaller split, start, end.
        top = min(candidates, key=lambda c: (-total_order_key(c[0]), c[2], c[1], c[3]))
        candidates.remove(top)
        gain, start, split, end = top
        if segments.get(start) != end:
            continue
        changes = len(segments) - 1
        if n_bkps is not None:
            apply = changes < n_bkps
        elif pen is not None:
            apply = gain > pen and not near(gain, pen)
        else:
            apply = total > epsilon and not near(total, epsilon)
        if not apply:
            break
        segments[start] = split
        segments[split] = end
        for a, b in ((start, split), (split, end)):
            _, best = best_split(a, b)
            if best:
                candidates.append(best)
        total -= gain
    return _finish(cost, sorted(segments.values()), n_bkps)


def halving_leaves(n, min_size, jump):
    leaves, stack = [], [(0, n)]
    while stack:
        a, b = stack[-1]
        middle = (a + b) / 2
        best = None
        for m in admissible(a, b, min_size, jump):
            if best is None or abs(m - middle) < abs(best - middle):
                best = m
        if best is None:
            leaves.append(stack.pop())
        else:
            stack[-1] = (best, b)
            stack.append((a, best))
    return sorted(leaves)


def bottom_up(cost, n, min_size, jump, n_bkps=None, pen=None, epsilon=None):
    # Each live segment: [leaf index, start, end, accumulated cost]; deltas[i]
    # belongs to the pair (segments[i], segments[i + 1]) and is fixed when the
    # pair forms, as in the engine, whose merged costs are never re-evaluated.
    segments = [[i, a, b, cost(a, b)] for i, (a, b) in enumerate(halving_leaves(n, min_size, jump))]
    total = 0.0
    for segment in segments:
        total += segment[3]

    def pair_delta(i):
        left, right = segments[i], segments[i + 1]
        return cost(left[1], right[2]) - left[3] - right[3]

    deltas = [pair_delta(i) for i in range(len(segments) - 1)]
    while True:
        if not deltas:
            if n_bkps is not None and len(segments) - 1 != n_bkps:
                raise Infeasible
            break
        i = min(range(len(deltas)), key=lambda k: (total_order_key(deltas[k]), segments[k][0]))
        delta = deltas[i]
        changes = len(segments) - 1
        if n_bkps is not None:
            if changes == n_bkps:
                break
            if changes < n_bkps:
                raise Infeasible
        elif pen is not None:
            if not (delta < pen and not near(delta, pen)):
                break
        else:
            t = total + delta
            if not (t <= epsilon or near(t, epsilon)):
                break
        left, right = segments[i], segments[i + 1]
        left[2] = right[2]
        left[3] = right[3] + delta + left[3]
        del segments[i + 1]
        del deltas[i]
        if i > 0:
            deltas[i - 1] = pair_delta(i - 1)
        if i < len(segments) - 1:
            deltas[i] = pair_delta(i)
        total += delta
    return _finish(cost, [segment[2] for segment in segments], n_bkps)


def window_scores(cost, n, width, jump):
    half = width // 2
    return [
        (cost(p - half, p + half) - cost(p - half, p) - cost(p, p + half), p)
        for p in range(0, n, jump)
        if p >= half and p + half <= n
    ]


def window(cost, n, width, min_size, jump, n_bkps=None, pen=None, epsilon=None):
    width -= width % 2
    scores = window_scores(cost, n, width, jump)
    radius = max(width, 2 * min_size) // (2 * jump) or 1
    peaks = []
    for i, (score, p) in enumerate(scores):
        others = [scores[k][0] for k in range(max(0, i - radius), min(len(scores), i + radius + 1)) if k != i]
        if all(score > other for other in others):
            peaks.append((score, p))
    peaks.sort(key=lambda peak: (-total_order_key(peak[0]), peak[1]))
    breakpoints = [n]
    for _, p in peaks:
        t = sum(1 for b in breakpoints if b < p)
        left = breakpoints[t - 1] if t else 0
        right = breakpoints[t]
        if p - left < min_size or right - p < min_size:
            continue
        gain = cost(left, right) - cost(left, p) - cost(p, right)
        total, previous = 0.0, 0
        for b in breakpoints:
            total += cost(previous, b)
            previous = b
        if n_bkps is not None:
            if len(breakpoints) - 1 >= n_bkps:
                break
        elif pen is not None:
            if not (gain > pen and not near(gain, pen)):
                break
        elif not (total > epsilon and not near(total, epsilon)):
            break
        breakpoints.insert(t, p)
    return _finish(cost, breakpoints, n_bkps)
