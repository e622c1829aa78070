"""A progress bar for long searches, drawn on standard error.

The compiled searches report how far they are at their interruption polls
(about every 50 ms, see `_tarnwell._set_progress`); `showing_progress`
installs a bar for the duration of a block. The bar appears only once the
work has run for a second and looks set to take a few seconds in all, so
quick detections print nothing; it is erased when the block ends.
"""

from __future__ import annotations

import sys
import time
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from typing import Any, TextIO

from . import _tarnwell

__all__ = ["ProgressBar", "showing_progress"]

# Shown once the work has run this long and is estimated to take this long in all.
_SHOW_AFTER = 1.0
_SHOW_IF_LONGER = 3.0
_REDRAW_EVERY = 0.2
_WIDTH = 30


def _duration(seconds: float) -> str:
    seconds = max(0, int(round(seconds)))
    if seconds < 60:
        return f"{seconds} s"
    if seconds < 3600:
        return f"{seconds // 60} min {seconds % 60:02d} s"
    return f"{seconds // 3600} h {seconds % 3600 // 60:02d} min"


class ProgressBar:
    """Called with (done, total) work units of the running search; a drop in
    `done` means a new search (detect may run several: a penalty's first
    pass, then the search itself). The estimate of the time left comes from
    the rate of the current search since its first report."""

    def __init__(self, stream: TextIO | None = None, clock: Callable[[], float] = time.monotonic) -> None:
        self.stream = stream if stream is not None else sys.stderr
        self.clock = clock
        self.started = clock()
        self.shown = False
        self._run: tuple[float, float] | None = None  # (time, fraction) of the current search's first report
        self._last_fraction = -1.0
        self._last_drawn = 0.0

    def __call__(self, done: int, total: int) -> None:
        now = self.clock()
        fraction = min(done / total, 1.0) if total > 0 else None
        if fraction is None or fraction < self._last_fraction or self._run is None:
            self._run = (now, fraction or 0.0)
        self._last_fraction = fraction if fraction is not None else -1.0
        elapsed = now - self.started
        left = self._time_left(now, fraction)
        if not self.shown:
            if elapsed < _SHOW_AFTER or (left is not None and elapsed + left < _SHOW_IF_LONGER):
                return
            self.shown = True
        elif now - self._last_drawn < _REDRAW_EVERY:
            return
        self._last_drawn = now
        self._draw(elapsed, fraction, left)

    def _time_left(self, now: float, fraction: float | None) -> float | None:
        if fraction is None or self._run is None:
            return None
        since, first = self._run
        if fraction <= first or now <= since:
            return None
        return (1.0 - fraction) * (now - since) / (fraction - first)

    def _draw(self, elapsed: float, fraction: float | None, left: float | None) -> None:
        if fraction is None:
            line = f"tarnwell: working ... {_duration(elapsed)}"
        else:
            filled = int(fraction * _WIDTH)
            line = f"tarnwell: [{'#' * filled}{'.' * (_WIDTH - filled)}] {fraction:4.0%}"
            line += f"  {_duration(elapsed)}" + ("" if left is None else f", about {_duration(left)} left")
        self.stream.write("\r" + line.ljust(72))
        self.stream.flush()

    def close(self) -> None:
        """Erases the bar, if it was drawn."""
        if self.shown:
            self.stream.write("\r" + " " * 72 + "\r")
            self.stream.flush()
            self.shown = False


@contextmanager
def showing_progress(progress: bool | Callable[[int, int], Any]) -> Iterator[None]:
    """Runs the block with `progress` as the searches' progress callback: True
    draws a `ProgressBar` on standard error, a callable receives (done,
    total) itself, False changes nothing."""
    if progress is False or progress is None:
        yield
        return
    bar = ProgressBar() if progress is True else None
    callback = bar if bar is not None else progress
    if not callable(callback):
        raise TypeError(f"progress must be True, False or a callable (done, total), got {type(progress).__name__}")
    previous = _tarnwell._set_progress(callback)
    try:
        yield
    finally:
        _tarnwell._set_progress(previous)
        if bar is not None:
            bar.close()
