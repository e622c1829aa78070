"""Offline change-point detection with an exact, compiled core."""

from . import _tarnwell
from ._tarnwell import *  # noqa: F401,F403
from ._tarnwell import __all__, __version__  # noqa: F401
