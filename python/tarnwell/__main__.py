"""``python -m tarnwell``: the command line of `tarnwell.cli`."""

from .cli import main

raise SystemExit(main())
