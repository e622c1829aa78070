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


FAMILIES: dict[str, Callable[[Generator, int, bool], Series]] = {
    "level shifts": level_shifts,
    "variance changes": variance_changes,
    "slope changes": slope_changes,
    "AR(1) noise": autocorrelated,
    "Student t(3) noise": heavy_tails,
    "isolated outliers": outliers,
    "seasonal": seasonal,
    "slow trend": slow_trend,
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
            n = _length(rng, long)
            if max_length is not None:
                n = min(n, max_length)
            change = number >= round(no_change_share * per_family)
            yield FAMILIES[name](rng, n, change)
