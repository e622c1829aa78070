"""Generated series with known change points that look like recordings, not
only like clean steps.

Every series is a sum of phenomena: a piecewise-constant level (the changes
to be found), a noise process (Gaussian, AR(1) with coefficient rho, Student t
with 3 degrees of freedom, or Gaussian with isolated outliers), and possibly a
seasonal swing, a slow trend, a change of variance or of slope. Sizes are in
noise units: the marginal standard deviation of the noise process (for the t
noise, the standard deviation of the same process scaled to unit variance).
Each series is finally multiplied by a random unit and moved by a random
offset, as recordings come in arbitrary units; a scale-free default finds the
same changes either way.

The later families follow how people mark recordings (the conventions of
annotated change-point benchmarks): the bend of a trend is a change, and so
is a shift of level on a trend or on a seasonal swing, while the wandering
of a random walk is not (only a jump that stands out of its steps is);
short yearly series of 15 to 60 values carry changes too. Their sizes are
those a person sees at a glance: 2 noise units and more.

`suite(seed)` builds the whole set; each family mixes series with changes
and series without any (the latter measure false alarms).
"""

from __future__ import annotations

from collections.abc import Callable, Iterator
from dataclasses import dataclass, field

import numpy as np

Generator = np.random.Generator


@dataclass(frozen=True)
class Series:
    family: str
    values: np.ndarray = field(repr=False)
    truth: list[int]
    """Breakpoints (segment ends, the last one n) of the true changes."""
    shift_sizes: list[float]
    """Size of each true change in noise units (level shifts only; nan for
    changes of variance or slope)."""
    rho: float
    """AR(1) coefficient of the noise (0 for independent noise)."""

    @property
    def n(self) -> int:
        return int(self.values.shape[0])

    @property
    def has_change(self) -> bool:
        return len(self.truth) > 1


def _length(rng: Generator, long: bool) -> int:
    """Log-uniform in [50, 5000]; with `long`, one series in ten in [1e4, 1e5]."""
    if long and rng.random() < 0.1:
        return int(round(10 ** rng.uniform(4.0, 5.0)))
    return int(round(10 ** rng.uniform(np.log10(50), np.log10(5000))))


def _positions(rng: Generator, n: int, k: int) -> list[int]:
    """k change positions at least max(10, n/25) samples apart and from the ends."""
    gap = max(10, n // 25)
    k = min(k, n // gap - 1)
    if k <= 0:
        return []
    # Spread the free room at random over the k + 1 segments.
    room = n - gap * (k + 1)
    cuts = np.sort(rng.integers(0, room + 1, size=k))
    return [int(c) + gap * (i + 1) for i, c in enumerate(cuts)]


def _levels(rng: Generator, k: int, low: float = 0.5, high: float = 4.0) -> tuple[np.ndarray, list[float]]:
    sizes = rng.uniform(low, high, size=k)
    signs = rng.choice([-1.0, 1.0], size=k)
    return np.concatenate([[0.0], np.cumsum(sizes * signs)]), [float(s) for s in sizes]


def _piecewise(n: int, positions: list[int], levels: np.ndarray) -> np.ndarray:
    return np.repeat(levels, np.diff([0, *positions, n]))


def ar1(rng: Generator, n: int, rho: float) -> np.ndarray:
    """AR(1) noise with unit marginal variance, started in its stationary law."""
    shocks = rng.standard_normal(n) * np.sqrt(1.0 - rho * rho)
    out = np.empty(n)
    out[0] = rng.standard_normal()
    for i in range(1, n):  # a plain loop: n is at most 1e5 and this runs once per series
        out[i] = rho * out[i - 1] + shocks[i]
    return out


def _noise(rng: Generator, n: int, kind: str, rho: float = 0.0) -> np.ndarray:
    if kind == "gauss":
        return rng.standard_normal(n)
    if kind == "ar":
        return ar1(rng, n, rho)
    if kind == "t3":
        return rng.standard_t(3, size=n) / np.sqrt(3.0)
    if kind == "outliers":
        y = rng.standard_normal(n)
        count = max(1, int(rng.uniform(0.002, 0.01) * n))
        at = rng.choice(n, size=count, replace=False)
        y[at] += rng.choice([-1.0, 1.0], size=count) * rng.uniform(5.0, 12.0, size=count)
        return y
    raise ValueError(kind)


def _with_shifts(rng: Generator, n: int, max_changes: int = 5) -> tuple[np.ndarray, list[int], list[float]]:
    positions = _positions(rng, n, int(rng.integers(1, max_changes + 1)))
    levels, sizes = _levels(rng, len(positions))
    return _piecewise(n, positions, levels), [*positions, n], sizes


def _finish(rng: Generator, family: str, y: np.ndarray, truth: list[int], sizes: list[float],
            rho: float = 0.0) -> Series:
    unit = 10.0 ** rng.uniform(-3.0, 3.0)
    offset = rng.uniform(-1e3, 1e3) * unit
    return Series(family, np.ascontiguousarray(y * unit + offset), truth, sizes, rho)


# -- families: each takes (rng, n, with_change) and returns one Series ---------------------------


def level_shifts(rng: Generator, n: int, change: bool) -> Series:
    level, truth, sizes = _with_shifts(rng, n) if change else (np.zeros(n), [n], [])
    return _finish(rng, "level shifts", level + _noise(rng, n, "gauss"), truth, sizes)


def variance_changes(rng: Generator, n: int, change: bool) -> Series:
    positions = _positions(rng, n, int(rng.integers(1, 4))) if change else []
    factors = np.exp(np.cumsum(rng.choice([-1.0, 1.0], size=len(positions) + 1) * rng.uniform(np.log(2), np.log(4), size=len(positions) + 1)))
    factors /= factors[0]
    scale = _piecewise(n, positions, factors)
    return _finish(rng, "variance changes", scale * _noise(rng, n, "gauss"), [*positions, n],
                   [float("nan")] * len(positions))


def slope_changes(rng: Generator, n: int, change: bool) -> Series:
    """A continuous polyline whose slope changes at the true points; over each
    segment the line rises or falls by 2 to 8 noise units."""
    positions = _positions(rng, n, int(rng.integers(1, 4))) if change else []
    bounds = [0, *positions, n]
    slope = np.empty(n)
    for start, end in zip(bounds, bounds[1:]):
        slope[start:end] = rng.choice([-1.0, 1.0]) * rng.uniform(2.0, 8.0) / (end - start)
    if not change:
        slope[:] = rng.choice([-1.0, 1.0]) * rng.uniform(0.0, 4.0) / n
    line = np.cumsum(slope)
    return _finish(rng, "slope changes", line + _noise(rng, n, "gauss"), [*positions, n],
                   [float("nan")] * len(positions))


def _ar_family(rho_choices: tuple[float, ...]) -> Callable[[Generator, int, bool], Series]:
    def family(rng: Generator, n: int, change: bool) -> Series:
        rho = float(rng.choice(rho_choices))
        level, truth, sizes = _with_shifts(rng, n) if change else (np.zeros(n), [n], [])
        return _finish(rng, "AR(1) noise", level + _noise(rng, n, "ar", rho), truth, sizes, rho)
    return family


autocorrelated = _ar_family((0.3, 0.6, 0.9))


def heavy_tails(rng: Generator, n: int, change: bool) -> Series:
    level, truth, sizes = _with_shifts(rng, n) if change else (np.zeros(n), [n], [])
    return _finish(rng, "Student t(3) noise", level + _noise(rng, n, "t3"), truth, sizes)


def outliers(rng: Generator, n: int, change: bool) -> Series:
    level, truth, sizes = _with_shifts(rng, n) if change else (np.zeros(n), [n], [])
    return _finish(rng, "isolated outliers", level + _noise(rng, n, "outliers"), truth, sizes)


def seasonal(rng: Generator, n: int, change: bool) -> Series:
    """A seasonal swing of amplitude 0.5 to 2 noise units and period 4 to 52
    samples (at least 4 periods in the series)."""
    level, truth, sizes = _with_shifts(rng, n) if change else (np.zeros(n), [n], [])
    period = rng.uniform(4.0, max(4.0, min(52.0, n / 4.0)))
    amplitude = rng.uniform(0.5, 2.0)
    t = np.arange(n)
    swing = amplitude * np.sin(2 * np.pi * t / period + rng.uniform(0, 2 * np.pi))
    return _finish(rng, "seasonal", level + swing + _noise(rng, n, "gauss"), truth, sizes)


def slow_trend(rng: Generator, n: int, change: bool) -> Series:
    """A smooth drift of 1 to 5 noise units over the whole series: a line or
    half a cosine wave."""
    level, truth, sizes = _with_shifts(rng, n) if change else (np.zeros(n), [n], [])
    drift = rng.choice([-1.0, 1.0]) * rng.uniform(1.0, 5.0)
    u = np.linspace(0.0, 1.0, n)
    shape = u if rng.random() < 0.5 else (1.0 - np.cos(np.pi * u)) / 2.0
    return _finish(rng, "slow trend", level + drift * shape + _noise(rng, n, "gauss"), truth, sizes)


def _spaced(rng: Generator, n: int, k: int, gap: int) -> list[int]:
    """k positions at least `gap` samples apart and from both ends (fewer
    when the series is too short for k)."""
    k = min(k, n // gap - 1)
    if k <= 0:
        return []
    cuts = np.sort(rng.integers(0, n - gap * (k + 1) + 1, size=k))
    return [int(c) + gap * (i + 1) for i, c in enumerate(cuts)]


def _polyline(n: int, bounds: list[int], slopes: list[float]) -> np.ndarray:
    """The continuous line from 0 whose slope is slopes[i] on [bounds[i], bounds[i+1])."""
    slope = np.repeat(slopes, np.diff(bounds))
    return np.concatenate([[0.0], np.cumsum(slope[:-1])])


def _bent_slopes(rng: Generator, n: int, positions: list[int], rise: float,
                 low: float, high: float) -> list[float]:
    """Slopes of a trend rising by `rise` over the series, bent at
    `positions`: after each bend the line leaves the straight continuation
    of the one before by `low` to `high` noise units at the end of its segment."""
    bounds = [0, *positions, n]
    slopes = [rise / n]
    for start, end in zip(bounds[1:-1], bounds[2:]):
        slopes.append(slopes[-1] + rng.choice([-1.0, 1.0]) * rng.uniform(low, high) / (end - start))
    return slopes


def _monthly_swing(rng: Generator, n: int, period: int, amplitude: float) -> np.ndarray:
    """A seasonal profile of `period` samples (a sine and its second harmonic
    at random phases), peak to mean `amplitude`, repeated over n samples."""
    phase = 2 * np.pi * np.arange(period) / period
    profile = np.sin(phase + rng.uniform(0, 2 * np.pi)) + rng.uniform(0, 0.6) * np.sin(
        2 * phase + rng.uniform(0, 2 * np.pi))
    profile *= amplitude / np.max(np.abs(profile))
    return np.resize(profile, n)


def random_walk(rng: Generator, n: int, change: bool) -> Series:
    """A level that wanders like a random walk (steps of 0.2 to 2 noise
    units, or a walk without measurement noise), 100 to 3000 samples. The
    wandering is no change; a change is a jump of 6 to 12 times the
    deviation of the sample-to-sample differences, which stands out of the
    walk as a cliff."""
    step = rng.uniform(0.2, 2.0)
    measured = rng.random() < 2 / 3
    walk = np.cumsum(rng.normal(0.0, step, n))
    noise = rng.standard_normal(n) if measured else np.zeros(n)
    positions = _spaced(rng, n, int(rng.integers(1, 3)), max(10, n // 10)) if change else []
    difference_sd = np.sqrt(step * step + (2.0 if measured else 0.0))
    jumps = rng.choice([-1.0, 1.0], size=len(positions)) * rng.uniform(6.0, 12.0, size=len(positions))
    level = _piecewise(n, positions, np.concatenate([[0.0], np.cumsum(jumps * difference_sd)]))
    return _finish(rng, "random walk", walk + noise + level, [*positions, n], [float("nan")] * len(positions),
                   rho=1.0)


def trend_bends(rng: Generator, n: int, change: bool) -> Series:
    """A trend that rises or falls by 0 to 30 noise units over 40 to 1000
    samples and bends one to three times (after a bend the line leaves the
    continuation of the one before by 4 to 12 noise units); a third carry a
    yearly swing of period 12 and 0.5 to 1.5 noise units. Without change the
    trend is straight."""
    positions = _spaced(rng, n, int(rng.integers(1, 4)), max(8, n // 10)) if change else []
    rise = rng.choice([-1.0, 1.0]) * rng.uniform(0.0, 30.0)
    line = _polyline(n, [0, *positions, n], _bent_slopes(rng, n, positions, rise, 4.0, 12.0))
    if rng.random() < 1 / 3:
        line = line + _monthly_swing(rng, n, 12, rng.uniform(0.5, 1.5))
    return _finish(rng, "trend bends", line + rng.standard_normal(n), [*positions, n],
                   [float("nan")] * len(positions))


def yearly(rng: Generator, n: int, change: bool) -> Series:
    """15 to 60 yearly values, flat or on a trend of up to 10 noise units,
    noise independent or with ρ = 0.3; one or two changes at least 4 values
    apart: a shift of 3 to 6 noise units, or (one in three) a bend that
    leaves the line by 4 to 8 units."""
    rho = float(rng.choice([0.0, 0.3]))
    positions = _spaced(rng, n, int(rng.integers(1, 3)), 4) if change else []
    rise = rng.uniform(-10.0, 10.0) if rng.random() < 0.5 else 0.0
    bends = [p for p in positions if rng.random() < 1 / 3]
    shifts = [p for p in positions if p not in bends]
    line = _polyline(n, [0, *bends, n], _bent_slopes(rng, n, bends, rise, 4.0, 8.0))
    sizes = rng.choice([-1.0, 1.0], size=len(shifts)) * rng.uniform(3.0, 6.0, size=len(shifts))
    level = _piecewise(n, shifts, np.concatenate([[0.0], np.cumsum(sizes)]))
    noise = ar1(rng, n, rho) if rho else rng.standard_normal(n)
    size_of = dict(zip(shifts, np.abs(sizes).tolist()))
    return _finish(rng, "yearly", line + level + noise, [*positions, n],
                   [size_of.get(p, float("nan")) for p in positions], rho)


def seasonal_shifts(rng: Generator, n: int, change: bool) -> Series:
    """A weekly, monthly, daily or yearly season (period 7, 12, 24 or 52,
    at least four of them, 100 to 2000 samples) of 1 to 3 noise units, and
    one to three shifts of 2 to 5 noise units."""
    period = int(rng.choice([p for p in (7, 12, 24, 52) if 4 * p <= n]))
    positions = _spaced(rng, n, int(rng.integers(1, 4)), max(10, n // 20)) if change else []
    sizes = rng.uniform(2.0, 5.0, size=len(positions))
    levels = np.concatenate([[0.0], np.cumsum(rng.choice([-1.0, 1.0], size=len(positions)) * sizes)])
    swing = _monthly_swing(rng, n, period, rng.uniform(1.0, 3.0))
    return _finish(rng, "seasonal shifts", _piecewise(n, positions, levels) + swing + rng.standard_normal(n),
                   [*positions, n], sizes.tolist())


def trend_shifts(rng: Generator, n: int, change: bool) -> Series:
    """One to three shifts of 2 to 6 noise units on a straight trend that
    rises or falls by 3 to 20 units over 100 to 3000 samples; half carry a
    weekend effect (two days of seven raised or lowered by 1 to 3 units),
    as daily sales do."""
    positions = _spaced(rng, n, int(rng.integers(1, 4)), max(10, n // 20)) if change else []
    sizes = rng.uniform(2.0, 6.0, size=len(positions))
    levels = np.concatenate([[0.0], np.cumsum(rng.choice([-1.0, 1.0], size=len(positions)) * sizes)])
    trend = rng.choice([-1.0, 1.0]) * rng.uniform(3.0, 20.0) * np.linspace(0.0, 1.0, n)
    y = _piecewise(n, positions, levels) + trend + rng.standard_normal(n)
    if rng.random() < 0.5:
        y += rng.choice([-1.0, 1.0]) * rng.uniform(1.0, 3.0) * ((np.arange(n) + rng.integers(7)) % 7 >= 5)
    return _finish(rng, "shifts on a trend", y, [*positions, n], sizes.tolist())


FAMILIES: dict[str, Callable[[Generator, int, bool], Series]] = {
    "level shifts": level_shifts,
    "variance changes": variance_changes,
    "slope changes": slope_changes,
    "AR(1) noise": autocorrelated,
    "Student t(3) noise": heavy_tails,
    "isolated outliers": outliers,
    "seasonal": seasonal,
    "slow trend": slow_trend,
    "random walk": random_walk,
    "trend bends": trend_bends,
    "yearly": yearly,
    "seasonal shifts": seasonal_shifts,
    "shifts on a trend": trend_shifts,
}

# Families whose point is what must not be found get more series without change.
NO_CHANGE_SHARE = {"random walk": 0.5}


def _log_uniform(low: int, high: int) -> Callable[[Generator, bool], int]:
    return lambda rng, long: int(round(10 ** rng.uniform(np.log10(low), np.log10(high))))


# Lengths of the later families (the others: `_length`): as long as the
# recordings they imitate.
LENGTHS: dict[str, Callable[[Generator, bool], int]] = {
    "random walk": _log_uniform(100, 3000),
    "trend bends": _log_uniform(40, 1000),
    "yearly": lambda rng, long: int(rng.integers(15, 61)),
    "seasonal shifts": _log_uniform(100, 2000),
    "shifts on a trend": _log_uniform(100, 3000),
}


def suite(seed: int = 2026, per_family: int = 40, no_change_share: float = 0.25, long: bool = True,
          families: tuple[str, ...] | None = None, max_length: int | None = None) -> Iterator[Series]:
    """`per_family` series of every family; a share of them without any change.

    The same seed gives the same series; each series has its own stream of
    the seed sequence, so changing one family leaves the others unchanged.
    """
    names = list(FAMILIES) if families is None else list(families)
    for index, name in enumerate(FAMILIES):
        if name not in names:
            continue
        streams = np.random.SeedSequence([seed, index]).spawn(per_family)
        for number, stream in enumerate(streams):
            rng = np.random.default_rng(stream)
            n = LENGTHS.get(name, _length)(rng, long)
            if max_length is not None:
                n = min(n, max_length)
            change = number >= round(NO_CHANGE_SHARE.get(name, no_change_share) * per_family)
            yield FAMILIES[name](rng, n, change)
