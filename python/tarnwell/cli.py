"""Command line: ``tarnwell FILE`` or ``python -m tarnwell FILE``."""

from __future__ import annotations

import argparse
import json
import math
import sys
import warnings
from pathlib import Path
from collections.abc import Sequence
from typing import Any

from . import __version__
from ._methods import available_searches
from ._progress import showing_progress
from ._table_input import FILL_RULES, InputError, Table, read_table

__all__ = ["main"]

EXIT_OK, EXIT_SEARCH, EXIT_USAGE, EXIT_INPUT, EXIT_INTERRUPTED = 0, 1, 2, 3, 130

_EXAMPLES = """\
examples:
  tarnwell recording.csv                         all numeric columns, Pelt, default penalty
  tarnwell log.csv --index date --fill linear    dates as labels, gaps filled by interpolation
  tarnwell recording.csv -c temperature --pen 50 one column by name, a given penalty
  tarnwell recording.csv -c 2 -m dynp --n-bkps 3 the third column (numbers count from 0)
  tarnwell signal.npy -m binseg --model l1 --epsilon 20 --json
  tarnwell signal.npy -m window --param width=50 --plot changes.png
  tarnwell signal.npy --penalty-path             every optimal segmentation around the default penalty
  tarnwell signal.npy --penalty-path 1 1000      ... for penalties in [1, 1000]

A CSV file is read with pandas. A missing value (an empty cell, NA, NaN,
null) is an error naming its line and column unless --fill says what to do;
a text column is never read as numbers: named with --column it is an error,
otherwise it is left out with a note. A row whose cells are all missing is
a row with gaps, never skipped. A column of dates becomes the index by
itself, and so does a first column that counts up (years, sample numbers,
time stamps) when no --column is given (or name one with --index); the
output, the JSON and the plot then carry its labels, and repeated labels
are noted. On a terminal a search that takes more than a few seconds shows
a progress bar with the time left; Ctrl-C stops it (and the reading).

exit status: 0 success; 1 the search refused a parameter value or failed;
2 bad command line (a --plot file that cannot be written included: its folder
is checked before the search); 3 the input cannot be read (missing file, unknown column,
non-numeric data, missing values without --fill); 130 interrupted (Ctrl-C)."""


def _parser() -> argparse.ArgumentParser:
    methods = ", ".join(cls.__name__.lower() for cls in available_searches().values())
    parser = argparse.ArgumentParser(
        prog="tarnwell", description="Find the change points of a signal stored in a CSV or .npy file.",
        epilog=_EXAMPLES, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file", help="a .npy array, or a CSV file (first row may be a header)")
    parser.add_argument("-c", "--column", action="append", default=None,
                        help="CSV column by header name or 0-based number; repeat for several "
                             "(default: every numeric column)")
    parser.add_argument("--index", metavar="COL", default=None,
                        help="CSV column (name or 0-based number) holding the row labels, such as dates "
                             "(default: the first column of dates, if any)")
    parser.add_argument("--fill", choices=FILL_RULES, default=None,
                        help="what to do with missing values: linear interpolation, ffill (the previous "
                             "value) or drop the rows (reported); default: refuse them")
    parser.add_argument("--delimiter", default=None, help="CSV field delimiter (default: guessed)")
    parser.add_argument("-m", "--method", default="pelt", help=f"search method: {methods} (default pelt)")
    parser.add_argument("--model", default=None, help="segment cost of model-based searches (default l2)")
    rule = parser.add_mutually_exclusive_group()
    rule.add_argument("--pen", type=float, help="penalty per change (default: tarnwell's default penalty)")
    rule.add_argument("--n-bkps", type=int, help="number of changes")
    rule.add_argument("--epsilon", type=float, help="reconstruction budget of the greedy searches")
    rule.add_argument("--penalty-path", nargs="*", type=float, metavar="PEN",
                      help="print every optimal segmentation for penalties in [PEN_MIN, PEN_MAX]; without "
                           "numbers, from the default penalty / 10 to the default penalty x 10")
    parser.add_argument("--min-size", type=int, help="minimum segment length (default: chosen per model)")
    parser.add_argument("--jump", type=int, help="grid step of the change points (default 1: exact positions)")
    parser.add_argument("--param", action="append", default=[], metavar="NAME=VALUE",
                        help="any other parameter of the method, e.g. width=50 or kernel=rbf")
    parser.add_argument("--json", action="store_true", help="print a JSON object instead of plain numbers")
    parser.add_argument("--plot", metavar="PNG", help="save a picture of the signal and its change points")
    parser.add_argument("--version", action="version", version=f"tarnwell {__version__}")
    return parser


def _params(args: argparse.Namespace) -> dict[str, Any]:
    params: dict[str, Any] = {}
    for item in args.param:
        name, sep, text = item.partition("=")
        if not sep or not name:
            raise ValueError(f"--param needs NAME=VALUE, got {item!r}")
        value: Any = text
        if text.lower() in ("none", "true", "false"):
            value = {"none": None, "true": True, "false": False}[text.lower()]
        else:
            for convert in (int, float):
                try:
                    value = convert(text)
                    break
                except ValueError:
                    pass
        params[name] = value
    if args.min_size is not None:
        params["min_size"] = args.min_size
    if args.jump is not None:
        params["jump"] = args.jump
    return params


def _on_terminal() -> bool:
    """Whether standard error is a terminal, where a progress bar can redraw itself."""
    try:
        return sys.stderr.isatty()
    except (AttributeError, ValueError):  # replaced or closed
        return False


def _finite(value: float) -> float | None:
    return value if math.isfinite(value) else None


def _labels(values: Any) -> list[Any]:
    """JSON-ready row labels: dates in ISO form, numbers as numbers."""
    out: list[Any] = []
    for value in values:
        if hasattr(value, "isoformat"):
            midnight = hasattr(value, "normalize") and value == value.normalize() and value.tzinfo is None
            out.append(value.date().isoformat() if midnight else value.isoformat())
        elif hasattr(value, "item"):
            out.append(value.item())
        else:
            out.append(value)
    return out


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status. Ctrl-C ends it with
    one line and status 130, as a shell reports an interrupted command."""
    try:
        return _run(argv)
    except KeyboardInterrupt:
        print("tarnwell: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED


def _run(argv: Sequence[str] | None) -> int:
    from .detection import detect
    from .penalty import penalty_path

    args = _parser().parse_args(argv)
    if args.delimiter is not None and len(args.delimiter) != 1:
        print(f"tarnwell: error: --delimiter takes one character, got {args.delimiter!r}", file=sys.stderr)
        return EXIT_USAGE
    if args.penalty_path is not None and len(args.penalty_path) not in (0, 2):
        print("tarnwell: error: --penalty-path takes no number or two (PEN_MIN PEN_MAX)", file=sys.stderr)
        return EXIT_USAGE
    if args.plot:
        try:
            import matplotlib
        except ImportError:
            print("tarnwell: error: --plot needs matplotlib: pip install matplotlib", file=sys.stderr)
            return EXIT_USAGE
        matplotlib.use("Agg")  # files only, never a window
        folder = Path(args.plot).parent
        if not folder.is_dir():  # before the search, not after its result is printed
            print(f"tarnwell: error: --plot: no folder {str(folder)!r} to save {args.plot!r} in", file=sys.stderr)
            return EXIT_USAGE
    try:
        table = read_table(args.file, columns=args.column, index=args.index, delimiter=args.delimiter,
                           fill=args.fill)
    except (InputError, OSError) as error:
        print(f"tarnwell: error: {error}", file=sys.stderr)
        return EXIT_INPUT
    for note in table.notes:
        print(f"tarnwell: note: {note}", file=sys.stderr)
    signal = table.frame
    names = [str(c) for c in signal.columns]
    try:
        params = _params(args)
        with warnings.catch_warnings(record=True) as caught, showing_progress(_on_terminal()):
            warnings.simplefilter("always")
            if args.penalty_path is not None:
                path = penalty_path(signal, *args.penalty_path, method=args.method, model=args.model, **params)
            else:
                result = detect(signal, args.method, args.model, n_bkps=args.n_bkps, pen=args.pen,
                                epsilon=args.epsilon, **params)
        for warning in caught:
            print(f"tarnwell: warning: {warning.message}", file=sys.stderr)
    except (ValueError, TypeError, OverflowError, RuntimeError, NotImplementedError, MemoryError) as error:
        print(f"tarnwell: error: {error}", file=sys.stderr)
        return EXIT_SEARCH
    if args.penalty_path is not None:
        _print_path(path, args.json)
        return EXIT_USAGE if args.plot and _save(path.plot(), args.plot) == EXIT_USAGE else EXIT_OK
    if args.json:
        print(json.dumps(_report(result, table, names)))
    elif table.index_name is not None:
        _print_labelled(result, table)
    else:
        print(" ".join(str(b) for b in result.breakpoints))
    return EXIT_USAGE if args.plot and _save(result.plot(), args.plot) == EXIT_USAGE else EXIT_OK


def _report(result: Any, table: Table, names: list[str]) -> dict[str, Any]:
    labelled = table.index_name is not None
    report: dict[str, Any] = {
        "breakpoints": result.breakpoints,
        "change_points": _labels(result.change_points) if labelled else result.change_positions,
        "change_positions": result.change_positions,
        "n_samples": result.n_samples, "n_features": result.n_features, "columns": names,
        "index": table.index_name,
        "method": result.method,
        "model": result.model if result.model is None or isinstance(result.model, str) else repr(result.model),
        "penalty": None if result.penalty is None else _finite(result.penalty),
    }
    if labelled:
        starts = [0, *result.change_positions]
        ends = [*result.change_positions, result.n_samples]
        index = table.frame.index
        report["segments"] = [{"start": _labels([index[a]])[0], "end": _labels([index[b - 1]])[0],
                               "n_samples": b - a} for a, b in zip(starts, ends)]
    if table.dropped_lines:
        report["dropped_lines"] = table.dropped_lines
    if table.filled:
        report["filled_values"] = table.filled
    return report


def _print_labelled(result: Any, table: Table) -> None:
    """One line per change: its label in the index column, then its sample position."""
    index = table.frame.index
    positions = result.change_positions
    if not positions:
        print(f"no change in {result.n_samples} samples ({index.name} {_labels([index[0]])[0]} to "
              f"{_labels([index[-1]])[0]})")
    for position, label in zip(positions, _labels([index[b] for b in positions])):
        print(f"{label}  (sample {position})")


def _print_path(path: Any, as_json: bool) -> None:
    if as_json:
        print(json.dumps({"pen_low": path.pen_low, "pen_high": path.pen_high, "n_changes": path.n_changes,
                          "costs": path.costs, "breakpoints": path.breakpoints, "elbow": path.elbow()}))
        return
    print(f"{'pen_low':>14} {'pen_high':>14} {'changes':>7} {'cost':>14}  breakpoints")
    for low, high, changes, cost, bkps in zip(path.pen_low, path.pen_high, path.n_changes, path.costs,
                                              path.breakpoints):
        print(f"{low:>14.6g} {high:>14.6g} {changes:>7} {cost:>14.6g}  {' '.join(map(str, bkps))}")


def _save(figure: Any, target: str) -> int:
    import matplotlib.pyplot as plt

    try:
        figure.savefig(target, dpi=110)
    except (OSError, ValueError) as error:  # unwritable target, unknown image format
        print(f"tarnwell: error: --plot: cannot save {target!r}: {error}", file=sys.stderr)
        return EXIT_USAGE
    finally:
        plt.close(figure)
    return EXIT_OK
