"""Reads the command line's input file into a labelled table: a CSV file
through pandas' reader, or a .npy array. Nothing is dropped silently: a
missing value is an error naming its line and column unless a fill rule is
given, and whatever the rule changed is reported."""

from __future__ import annotations

import csv
import importlib
import mmap
import signal
import threading
import warnings
import zipfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from ._intake import first_repeated_row, first_unsorted_row

__all__ = ["FILL_RULES", "InputError", "Table", "read_table"]

FILL_RULES = ("linear", "ffill", "drop")

# Cells pandas reads as missing: its defaults, which include the empty cell,
# "NA", "NaN", "null" and "n/a".
_SNIFF_BYTES = 65536
# Cells read per chunk of a CSV file: each chunk takes well under a second,
# and Ctrl-C is honoured between chunks.
_CHUNK_CELLS = 1_000_000
# No date is written in more characters than this; longer cells are not
# handed to pandas' date guessing, which is slow on long text.
_LONGEST_DATE = 64
# Cells of a date column parsed at a time: well under a second each, in a
# format pandas names (a twentieth of them where it guesses cell by cell).
_DATE_CHUNK = 100_000


class InputError(Exception):
    """The input file cannot be turned into a signal."""


@dataclass
class Table:
    """The signal as a DataFrame (its index the labels of the rows), what
    the reading changed, and notes for the user."""

    frame: Any
    index_name: str | None = None
    notes: list[str] = field(default_factory=list)
    dropped_lines: list[int] = field(default_factory=list)
    filled: int = 0


def _pandas() -> Any:
    try:
        pandas = importlib.import_module("pandas")
    except ImportError:
        raise InputError("reading CSV files needs pandas: pip install pandas "
                         "(or save the signal as a .npy array)") from None
    return pandas


def _is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def _layout(path: Path, delimiter: str | None) -> tuple[str, bool, int]:
    """The delimiter (given or guessed from the first lines), whether the
    first row is a header and how many fields it has."""
    with path.open(newline="", encoding="utf-8") as handle:
        head = handle.read(_SNIFF_BYTES)
    if not head.strip():
        raise InputError(f"{path} is empty")
    lines = [line for line in head.splitlines() if line.strip()]
    if len(head) == _SNIFF_BYTES and len(lines) > 1:
        lines.pop()  # probably cut in the middle
    if delimiter is None:
        try:
            delimiter = csv.Sniffer().sniff("\n".join(lines[:50]), delimiters=",;\t ").delimiter
        except csv.Error:
            delimiter = ","
    first = next(csv.reader([lines[0]], delimiter=delimiter))
    return delimiter, any(field.strip() and not _is_number(field) for field in first), len(first)


def _column_key(name: str, header: list[str], what: str, path: Path) -> str:
    if name in header:
        return name
    if name.lstrip("-").isdigit() and 0 <= int(name) < len(header):
        return header[int(name)]
    raise InputError(f"no {what} {name!r} in {path}; columns: {', '.join(header)}")


def _first_bad_cell(raw: Any, text_rows: Any, column: str) -> tuple[int, str] | None:
    """The first cell of a text column that is not a number and not missing."""
    values = raw[column]
    numbers = _to_numbers(values)
    bad = numbers.isna() & values.notna()
    if not bad.any():
        return None
    row = int(np.argmax(bad.to_numpy()))
    return int(text_rows[row]), str(values.iloc[row])


def _as_dates(values: Any) -> Any | None:
    """The column as dates when every present cell reads as one, else None."""
    pandas = _pandas()
    present = values.dropna()
    if present.empty or pandas.api.types.is_numeric_dtype(values):
        return None
    if present.astype(str).str.len().max() > _LONGEST_DATE:
        return None
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # pandas' notes on how it guessed the format
            # A few cells first: a column of text fails there, not after a
            # guess at every cell. Then the whole column in chunks, all in
            # the format the first cell shows (as pandas would read them):
            # a format pandas cannot name is guessed cell by cell, slowly,
            # and Ctrl-C is honoured between two chunks.
            pandas.to_datetime(present.iloc[:20], errors="raise")
            written = _date_format(str(present.iloc[0]))
            chunk = _DATE_CHUNK if written is not None else _DATE_CHUNK // 20
            if len(values) <= chunk:
                return pandas.to_datetime(values, errors="raise", format=written)
            return pandas.concat([pandas.to_datetime(values.iloc[i:i + chunk], errors="raise", format=written)
                                  for i in range(0, len(values), chunk)])
    except (ValueError, TypeError, OverflowError):
        return None


def _date_format(cell: str) -> str | None:
    try:
        guess = importlib.import_module("pandas.tseries.api").guess_datetime_format
    except (ImportError, AttributeError):  # older pandas: it guesses by itself
        return None
    written = guess(cell)
    return None if written is None else str(written)


def _cell_number(cell: Any) -> float:
    """One cell as a float: an integer too large for one is infinite, as
    a written 1e400 is; text that is no number is NaN."""
    if cell is None or (isinstance(cell, float) and cell != cell):
        return np.nan
    try:
        return float(str(cell))
    except ValueError:
        return np.nan


def _to_numbers(values: Any) -> Any:
    """The column as floats, cells that are no number missing."""
    pandas = _pandas()
    try:
        return pandas.to_numeric(values, errors="coerce")
    except OverflowError:  # an integer of hundreds of digits, held as a Python int
        return values.map(_cell_number).astype(np.float64)


class _InterruptNotes:
    """Notes a Ctrl-C that arrives while pandas' parser reads the file: the
    parser reports it as a failed read of its own, which must not reach the
    user as an unreadable file. Only the main thread receives signals."""

    def __init__(self) -> None:
        self.interrupted = False
        self._previous: Any = None

    def __enter__(self) -> _InterruptNotes:
        if threading.current_thread() is threading.main_thread():
            self._previous = signal.getsignal(signal.SIGINT)
            if callable(self._previous):
                signal.signal(signal.SIGINT, self._note)
        return self

    def _note(self, number: int, frame: Any) -> None:
        self.interrupted = True
        self._previous(number, frame)

    def __exit__(self, *exc: object) -> None:
        if callable(self._previous):
            signal.signal(signal.SIGINT, self._previous)


def _read_chunks(path: Path, separator: str, header_row: int | None, width: int) -> Any:
    """The whole file as one DataFrame of raw cells, read a chunk at a time."""
    pandas = _pandas()
    rows = max(1000, _CHUNK_CELLS // max(1, width))
    options = dict(sep=separator, header=header_row, skip_blank_lines=False, engine="c")
    with warnings.catch_warnings(), _InterruptNotes() as interrupts:
        # Mixed text and numbers in a column: handled below, cell by cell.
        warnings.simplefilter("ignore", pandas.errors.DtypeWarning)
        try:
            try:
                with pandas.read_csv(path, chunksize=rows, **options) as reader:
                    chunks = list(reader)
            except OverflowError:
                # An integer of hundreds of digits beside a missing cell: read
                # the cells as text, converted below like any text column.
                with pandas.read_csv(path, chunksize=rows, dtype=str, **options) as reader:
                    chunks = list(reader)
        except (pandas.errors.ParserError, ValueError):
            if interrupts.interrupted:
                raise KeyboardInterrupt from None
            raise
    if not chunks:  # a header and nothing else
        return pandas.read_csv(path, dtype=str, **options)
    return chunks[0] if len(chunks) == 1 else pandas.concat(chunks, ignore_index=True)


def _empty_lines(path: Path, lines: Any) -> Any:
    """For each of the given file lines (numbered from 1), whether it holds
    nothing but white space: a blank line rather than a row of missing cells."""
    wanted = np.asarray(lines, dtype=np.int64)
    empty = np.zeros(wanted.size, dtype=bool)
    if wanted.size == 0 or path.stat().st_size == 0:
        return empty
    with path.open("rb") as handle, mmap.mmap(handle.fileno(), 0, access=mmap.ACCESS_READ) as content:
        ends = np.flatnonzero(np.frombuffer(content, dtype=np.uint8) == 10)
        for i, line in enumerate(wanted):
            start = 0 if line == 1 else int(ends[line - 2]) + 1 if line - 2 < ends.size else len(content)
            end = int(ends[line - 1]) if line - 1 < ends.size else len(content)
            empty[i] = not content[start:end].strip()
    return empty


def _counter_index(raw: Any, header: list[str], table: Table) -> tuple[str | None, Any]:
    """The first column as the index when it counts up like a year, a
    sample number or a time stamp (integers, each above the one before)
    and another column holds numbers: such a column labels the rows."""
    if len(header) < 2:
        return None, None
    first = raw[header[0]]
    others = [name for name in header[1:] if raw[name].dtype.kind in "biuf"]
    if first.dtype.kind not in "iu" or len(first) < 2 or not others:
        return None, None
    if not bool((np.diff(first.to_numpy()) > 0).all()):
        return None, None
    table.notes.append(f"column {header[0]!r} counts up (increasing integers, like years or time stamps): used "
                       f"as the index; name the columns to use with --column")
    return header[0], first


def _read_csv(path: Path, columns: list[str] | None, index: str | None, delimiter: str | None,
              fill: str | None) -> Table:
    pandas = _pandas()
    delimiter, has_header, width = _layout(path, delimiter)
    header_row = 0 if has_header else None
    separator = r"\s+" if delimiter == " " else delimiter
    try:
        raw = _read_chunks(path, separator, header_row, width)
    except (pandas.errors.ParserError, pandas.errors.EmptyDataError, UnicodeDecodeError, ValueError) as error:
        raise InputError(f"cannot read {path} as CSV: {str(error).strip()}") from None
    raw.columns = [str(c).strip() for c in raw.columns]
    header = list(raw.columns)
    if not header:
        raise InputError(f"{path} has no data rows")
    # Names that differ only in surrounding spaces would select two columns
    # at once; a header must name each column once.
    repeated_names = sorted({name for name in header if header.count(name) > 1})
    if repeated_names:
        raise InputError(f"{path}: the header names {', '.join(map(repr, repeated_names))} more than once "
                         "(spaces around names are ignored); give each column its own name")
    # File line of each row (the header is line 1); blank lines are dropped
    # after counting, so messages name the line a text editor shows. A row
    # whose cells are all missing ("NA", "nan", ",,") is a row of data with
    # gaps, not a blank line: it stays, so that --fill fills it and, without
    # it, the missing value is reported. In a file of one column an empty
    # line between rows of data is such a row too (its one cell is empty).
    lines = np.arange(len(raw)) + (2 if has_header else 1)
    missing_rows = np.flatnonzero(raw.isna().all(axis=1).to_numpy())
    blank = np.zeros(len(raw), dtype=bool)
    blank[missing_rows] = _empty_lines(path, lines[missing_rows])
    present = np.flatnonzero(~blank)
    if present.size == 0:
        raise InputError(f"{path} has no data rows")
    if len(header) == 1:
        blank[present[0]:present[-1] + 1] = False
    inner = lines[np.flatnonzero(blank[present[0]:present[-1] + 1]) + present[0]]
    raw, lines = raw.loc[~blank].reset_index(drop=True), lines[~blank]
    table = Table(frame=None)
    if inner.size:
        shown = ", ".join(map(str, inner[:10])) + (", ..." if inner.size > 10 else "")
        table.notes.append(f"skipped {inner.size} blank lines between rows of data (lines {shown})")

    index_key = _column_key(index, header, "index column", path) if index is not None else None
    index_values = None
    if index_key is None:
        # A date column is recognised by itself: the first text column whose
        # cells all read as dates (and that was not asked for as a signal).
        asked = {_column_key(name, header, "column", path) for name in columns or ()}
        for name in header:
            if name not in asked and raw[name].dtype.kind == "O" and (dates := _as_dates(raw[name])) is not None:
                index_key, index_values = name, dates
                table.notes.append(f"column {name!r} read as dates: used as the index")
                break
    if index_key is None and not columns:
        index_key, index_values = _counter_index(raw, header, table)
    if index_key is not None and index_values is None:
        index_values = _as_dates(raw[index_key])
        if index_values is None:
            index_values = raw[index_key]
    if index_key is not None and index_values is not None:
        if index_values.isna().any():
            row = int(np.argmax(index_values.isna().to_numpy()))
            raise InputError(f"{path}, line {lines[row]}: the index column {index_key!r} has no value")
        unsorted = first_unsorted_row(pandas.Index(index_values))
        if unsorted is not None:
            raise InputError(f"{path}, line {lines[unsorted]}: the index column {index_key!r} is not sorted "
                             f"({index_values.iloc[unsorted]} comes after {index_values.iloc[unsorted - 1]}); "
                             "rows must be samples in time order")
        repeated = first_repeated_row(pandas.Index(index_values))
        if repeated is not None:
            count = int(pandas.Index(index_values).duplicated().sum())
            table.notes.append(f"the index column {index_key!r} repeats labels ({count} rows, the first "
                               f"{index_values.iloc[repeated]} on line {lines[repeated]}): rows are taken as "
                               "samples in file order")

    if columns:
        chosen = [_column_key(name, header, "column", path) for name in columns]
    else:
        chosen = [name for name in header if name != index_key]
    data: dict[str, Any] = {}
    for name in chosen:
        values = raw[name]
        if values.dtype.kind not in "biuf":
            bad = _first_bad_cell(raw, lines, name)
            if bad is not None:
                present = values.notna().sum()
                numeric = _to_numbers(values).notna().sum()
                if not columns and numeric == 0 and present > 0:
                    table.notes.append(f"column {name!r} holds text, not numbers: left out "
                                       "(choose columns with --column)")
                    continue
                line, cell = bad
                shown = str(cell) if len(str(cell)) <= 40 else str(cell)[:37] + "..."  # one readable line, whatever the field
                raise InputError(f"{path}, line {line}, column {name!r}: {shown!r} is not a number "
                                 f"(column {name!r} holds values that are not numbers)")
            values = _to_numbers(values)
        data[name] = values.to_numpy(dtype=np.float64, na_value=np.nan)
    if not data:
        raise InputError(f"{path} has no numeric column")
    frame = pandas.DataFrame(data)
    if index_key is not None:
        frame.index = pandas.Index(index_values, name=index_key)
    table.index_name = index_key
    table.frame = frame
    _fill_missing(table, lines, path, fill)
    return table


def _fill_missing(table: Table, lines: Any, path: Path, fill: str | None, unit: str = "line") -> None:
    frame = table.frame
    values = frame.to_numpy()
    infinite = np.isinf(values)
    if infinite.any():
        row, column = np.argwhere(infinite)[0]
        raise InputError(f"{path}, {unit} {lines[row]}, column {frame.columns[column]!r}: the value is infinite")
    missing = np.isnan(values)
    if not missing.any():
        return
    if fill is None:
        row, column = np.argwhere(missing)[0]
        count = int(missing.sum())
        raise InputError(f"{path}, {unit} {lines[row]}, column {frame.columns[column]!r}: missing value "
                         f"({count} missing in all); fill them with --fill linear, --fill ffill or "
                         "--fill drop (drops the rows)")
    if fill == "drop":
        rows = missing.any(axis=1)
        table.dropped_lines = [int(line) for line in lines[rows]]
        table.frame = frame.loc[~rows]
        if table.frame.empty:
            raise InputError(f"{path}: every row has a missing value; --fill drop leaves nothing")
        shown = ", ".join(map(str, table.dropped_lines[:10])) + (", ..." if len(table.dropped_lines) > 10 else "")
        table.notes.append(f"dropped {len(table.dropped_lines)} rows with missing values ({unit}s {shown})")
        return
    if missing.all(axis=0).any():
        name = frame.columns[int(np.argmax(missing.all(axis=0)))]
        raise InputError(f"{path}: column {name!r} has no value at all; nothing to fill it from")
    if fill == "linear":
        filled = frame.interpolate(method="linear", limit_direction="both", axis=0)
    else:  # ffill: the previous value; leading gaps take the first value
        filled = frame.ffill().bfill()
    table.frame = filled
    table.filled = int(missing.sum())
    table.notes.append(f"filled {table.filled} missing values ({fill})")


def _read_npy(path: Path, columns: list[str] | None, fill: str | None) -> Table:
    pandas = _pandas()
    try:
        array = np.load(path, allow_pickle=False)
    except EOFError:  # an empty file, or one cut short
        raise InputError(f"cannot read {path} as a .npy array: the file is empty or cut short") from None
    except (ValueError, OSError, zipfile.BadZipFile) as error:  # a damaged .npy, or .npz, file
        raise InputError(f"cannot read {path} as a .npy array: {error}") from None
    if not isinstance(array, np.ndarray):  # an .npz archive under a .npy name
        if hasattr(array, "close"):
            array.close()
        raise InputError(f"{path} is an archive of several arrays (.npz), not one .npy array")
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
    if array.dtype.kind not in "biuf" or array.ndim not in (1, 2) or array.size == 0:
        raise InputError(f"{path} must hold a non-empty one- or two-dimensional array of numbers, "
                         f"got dtype {array.dtype} and shape {array.shape}")
    matrix = array.reshape(array.shape[0], -1).astype(np.float64)
    names = [str(c) for c in columns] if columns else [str(i) for i in range(matrix.shape[1])]
    table = Table(frame=pandas.DataFrame(matrix, columns=names))
    _fill_missing(table, np.arange(matrix.shape[0]), path, fill, unit="row")
    return table


def read_table(path_text: str, *, columns: list[str] | None = None, index: str | None = None,
               delimiter: str | None = None, fill: str | None = None) -> Table:
    """The signal in `path_text` (.npy, or CSV with an optional header)."""
    path = Path(path_text)
    if not path.is_file():
        raise InputError(f"no such file: {path}")
    if fill is not None and fill not in FILL_RULES:
        raise InputError(f"--fill must be one of {', '.join(FILL_RULES)}, got {fill!r}")
    if path.suffix.lower() == ".npy":
        if index is not None:
            raise InputError("--index names a CSV column; a .npy array has no labels")
        return _read_npy(path, columns, fill)
    try:
        return _read_csv(path, columns, index, delimiter, fill)
    except UnicodeDecodeError:
        raise InputError(f"{path} is not a text CSV file (use .npy for NumPy arrays)") from None
