"""Command line: ``tarnwell FILE`` or ``python -m tarnwell FILE``."""

from __future__ import annotations

import argparse
import csv
import json
import math
import sys
import warnings
from collections.abc import Sequence
from pathlib import Path
from typing import Any

import numpy as np

from . import __version__
from ._methods import available_searches

__all__ = ["main"]

EXIT_OK, EXIT_SEARCH, EXIT_USAGE, EXIT_INPUT = 0, 1, 2, 3

_EXAMPLES = """\
examples:
  tarnwell recording.csv                         all numeric columns, Pelt, default penalty
  tarnwell recording.csv -c temperature --pen 50 one column by name, a given penalty
  tarnwell recording.csv -c 2 -m dynp --n-bkps 3 the third column (numbers count from 0)
  tarnwell signal.npy -m binseg --model l1 --epsilon 20 --json
  tarnwell signal.npy -m window --param width=50 --plot changes.png
  tarnwell signal.npy --penalty-path 1 1000      every optimal segmentation for penalties in [1, 1000]

exit status: 0 success; 1 the search refused a parameter value or failed;
2 bad command line (including a --plot target that cannot be written);
3 the input cannot be read (missing file, unknown column, non-numeric or
empty data)."""


class InputError(Exception):
    """The input file cannot be turned into a signal."""


def _parser() -> argparse.ArgumentParser:
    methods = ", ".join(cls.__name__.lower() for cls in available_searches().values())
    parser = argparse.ArgumentParser(
        prog="tarnwell", description="Find the change points of a signal stored in a CSV or .npy file.",
        epilog=_EXAMPLES, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file", help="a .npy array, or a CSV file (first row may be a header)")
    parser.add_argument("-c", "--column", action="append", default=None,
                        help="CSV column by header name or 0-based number; repeat for several "
                             "(default: every numeric column)")
    parser.add_argument("--delimiter", default=None, help="CSV field delimiter (default: guessed)")
    parser.add_argument("-m", "--method", default="pelt", help=f"search method: {methods} (default pelt)")
    parser.add_argument("--model", default=None, help="segment cost of model-based searches (default l2)")
    rule = parser.add_mutually_exclusive_group()
    rule.add_argument("--pen", type=float, help="penalty per change (default: tarnwell's default penalty)")
    rule.add_argument("--n-bkps", type=int, help="number of changes")
    rule.add_argument("--epsilon", type=float, help="reconstruction budget of the greedy searches")
    rule.add_argument("--penalty-path", nargs=2, type=float, metavar=("PEN_MIN", "PEN_MAX"),
                      help="print every optimal segmentation for penalties in the range")
    parser.add_argument("--min-size", type=int, help="minimum segment length")
    parser.add_argument("--jump", type=int, help="grid step of the change points")
    parser.add_argument("--param", action="append", default=[], metavar="NAME=VALUE",
                        help="any other parameter of the method, e.g. width=50 or kernel=rbf")
    parser.add_argument("--json", action="store_true", help="print a JSON object instead of plain numbers")
    parser.add_argument("--plot", metavar="PNG", help="save a picture of the signal and its change points")
    parser.add_argument("--version", action="version", version=f"tarnwell {__version__}")
    return parser


def _number(text: str) -> float | None:
    try:
        value = float(text)
    except ValueError:
        return None
    return value


def _read_csv(path: Path, columns: list[str] | None, delimiter: str | None) -> tuple[np.ndarray[Any, Any], list[str]]:
    with path.open(newline="") as handle:
        text = handle.read()
    if not text.strip():
        raise InputError(f"{path} is empty")
    if delimiter is None:
        try:
            delimiter = csv.Sniffer().sniff(text[:4096], delimiters=",;\t ").delimiter
        except csv.Error:
            delimiter = ","
    try:
        rows = [row for row in csv.reader(text.splitlines(), delimiter=delimiter) if any(f.strip() for f in row)]
    except csv.Error as error:  # a field beyond the reader's size limit, for example
        raise InputError(f"cannot read {path} as CSV: {error}") from None
    if not rows:
        raise InputError(f"{path} holds no values, only delimiters")
    width = len(rows[0])
    has_header = any(_number(field) is None for field in rows[0])
    header = [field.strip() for field in rows[0]] if has_header else [str(i) for i in range(width)]
    body = rows[1:] if has_header else rows
    if not body:
        raise InputError(f"{path} has no data rows")
    for line, row in enumerate(body, start=2 if has_header else 1):
        if len(row) != width:
            raise InputError(f"{path}, line {line}: {len(row)} fields, expected {width}")

    def parse(index: int) -> list[float] | None:
        values = [_number(row[index]) for row in body]
        return None if any(v is None for v in values) else [float(v) for v in values if v is not None]

    if columns:
        chosen: list[int] = []
        for name in columns:
            if name in header:
                chosen.append(header.index(name))
            elif name.lstrip("-").isdigit() and 0 <= int(name) < width:
                chosen.append(int(name))
            else:
                raise InputError(f"no column {name!r} in {path}; columns: {', '.join(header)}")
        data = []
        for index in chosen:
            parsed = parse(index)
            if parsed is None:
                raise InputError(f"column {header[index]!r} of {path} holds values that are not numbers")
            data.append(parsed)
        names = [header[i] for i in chosen]
    else:
        parsed_all = [(header[i], parse(i)) for i in range(width)]
        kept = [(name, values) for name, values in parsed_all if values is not None]
        if not kept:
            raise InputError(f"{path} has no numeric column")
        names = [name for name, _ in kept]
        data = [values for _, values in kept]
    return np.array(data, dtype=np.float64).T, names


def _read(path_text: str, columns: list[str] | None, delimiter: str | None) -> tuple[np.ndarray[Any, Any], list[str] | None]:
    path = Path(path_text)
    if not path.is_file():
        raise InputError(f"no such file: {path}")
    if path.suffix.lower() == ".npy":
        try:
            array = np.load(path, allow_pickle=False)
        except (ValueError, OSError) as error:
            raise InputError(f"cannot read {path} as a .npy array: {error}") from None
        if columns:
            if array.ndim != 2:
                raise InputError(f"--column needs a two-dimensional array; {path} has {array.ndim} dimensions")
            try:
                picked = [int(c) for c in columns]
            except ValueError:
                raise InputError("columns of a .npy array are chosen by number") from None
            if any(not 0 <= c < array.shape[1] for c in picked):
                raise InputError(f"{path} has {array.shape[1]} columns (0 to {array.shape[1] - 1}), got {columns}")
            array = array[:, picked]
        if array.dtype.kind not in "biuf":
            raise InputError(f"{path} holds {array.dtype} values, not real numbers")
        if array.size == 0:
            raise InputError(f"{path} holds an empty array of shape {array.shape}")
        return array, None
    try:
        return _read_csv(path, columns, delimiter)
    except UnicodeDecodeError:
        raise InputError(f"{path} is not a text CSV file (use .npy for NumPy arrays)") from None


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


def _finite(value: float) -> float | None:
    return value if math.isfinite(value) else None


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    from .detection import detect
    from .penalty import penalty_path

    args = _parser().parse_args(argv)
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
        signal, names = _read(args.file, args.column, args.delimiter)
    except (InputError, OSError) as error:
        print(f"tarnwell: error: {error}", file=sys.stderr)
        return EXIT_INPUT
    try:
        params = _params(args)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            if args.penalty_path:
                path = penalty_path(signal, *args.penalty_path, method=args.method, model=args.model, **params)
            else:
                result = detect(signal, args.method, args.model, n_bkps=args.n_bkps, pen=args.pen,
                                epsilon=args.epsilon, **params)
        for warning in caught:
            print(f"tarnwell: warning: {warning.message}", file=sys.stderr)
    except (ValueError, TypeError, OverflowError, RuntimeError, NotImplementedError, MemoryError) as error:
        print(f"tarnwell: error: {error}", file=sys.stderr)
        return EXIT_SEARCH
    if args.penalty_path:
        if args.json:
            print(json.dumps({"pen_low": path.pen_low, "pen_high": path.pen_high, "n_changes": path.n_changes,
                              "costs": path.costs, "breakpoints": path.breakpoints}))
        else:
            print(f"{'pen_low':>14} {'pen_high':>14} {'changes':>7} {'cost':>14}  breakpoints")
            for low, high, changes, cost, bkps in zip(path.pen_low, path.pen_high, path.n_changes, path.costs,
                                                      path.breakpoints):
                print(f"{low:>14.6g} {high:>14.6g} {changes:>7} {cost:>14.6g}  {' '.join(map(str, bkps))}")
        return _save(path.plot(), args.plot) if args.plot else EXIT_OK
    if args.json:
        print(json.dumps({"breakpoints": result.breakpoints, "change_points": result.change_positions,
                          "n_samples": result.n_samples, "n_features": result.n_features, "columns": names,
                          "method": result.method, "model": result.model,
                          "penalty": None if result.penalty is None else _finite(result.penalty)}))
    else:
        print(" ".join(str(b) for b in result.breakpoints))
    return _save(result.plot(), args.plot) if args.plot else EXIT_OK


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
