"""Offline change-point detection with an exact, compiled core."""

import copyreg as _copyreg

from . import _tarnwell
from ._tarnwell import *  # noqa: F401,F403
from ._tarnwell import __all__, __version__  # noqa: F401


# The error class is named "_tarnwell.TarnwellError", and "_tarnwell" is not
# importable under that name, so pickle could not find the class by it. Its
# instances pickle through this package instead, which any process that
# unpickles one can import: errors cross process pools like any other.
def _rebuild_tarnwell_error(*args):
    return _tarnwell.TarnwellError(*args)


def _reduce_tarnwell_error(error):
    state = error.__dict__ or None
    return _rebuild_tarnwell_error, error.args, state


_copyreg.pickle(_tarnwell.TarnwellError, _reduce_tarnwell_error)
