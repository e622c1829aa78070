"""Turns what users hold (lists, NumPy arrays of any real dtype, pandas objects)
into the one float64, C-ordered array the compiled searches read.

pandas is never imported here: a pandas object is recognised by its type's
module, and only its own methods are called.
"""

from __future__ import annotations

import warnings
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

__all__ = ["Intake", "RepeatedIndexWarning", "TransposedSignalWarning", "as_signal", "first_repeated_row",
           "first_unsorted_row"]


class TransposedSignalWarning(UserWarning):
    """A two-dimensional signal has more columns than rows: rows are samples,
    so the samples are probably laid out along the columns."""


@dataclass(frozen=True)
class Intake:
    """A converted signal and what is known about the labels of its rows."""

    values: npt.NDArray[np.float64]
    """The signal as given (one or two dimensions), float64 and C-ordered."""
    index: Any | None
    """The pandas index of the input, or None for anything else."""
    columns: list[str] | None
    """Column names of a DataFrame (or the name of a Series), else None."""

    @property
    def matrix(self) -> npt.NDArray[np.float64]:
        """The signal as a two-dimensional (samples, features) view."""
        return self.values.reshape(self.values.shape[0], -1)


def _is_pandas(obj: object) -> bool:
    return type(obj).__module__.split(".", 1)[0] == "pandas"


def _describe_dtype(dtype: np.dtype[Any]) -> str:
    if dtype.kind == "c":
        return "complex values are not supported; pass the real part, the modulus or both as two columns"
    if dtype.kind in "mM":
        return "dates and durations are not signal values; use them as the index of a pandas Series instead"
    return f"signal values must be numbers, got dtype {dtype}"


def first_unsorted_row(index: Any) -> int | None:
    """The first row of an index of dates, durations or numbers (a depth, a
    time in seconds) that goes against the direction the index runs overall,
    or None when it runs one way (or holds other labels)."""
    if getattr(index.dtype, "kind", "O") not in "Mmiuf" or len(index) < 2:
        return None
    if index.is_monotonic_increasing or index.is_monotonic_decreasing:
        return None
    values = np.asarray(index)
    steps = values[1:] > values[:-1] if values[-1] >= values[0] else values[1:] < values[:-1]
    steps |= values[1:] == values[:-1]
    return int(np.argmin(steps)) + 1


def first_repeated_row(index: Any) -> int | None:
    """The first row of an index of dates, durations or numbers whose label
    an earlier row already has, or None."""
    if getattr(index.dtype, "kind", "O") not in "Mmiuf" or index.is_unique:
        return None
    return int(np.argmax(np.asarray(index.duplicated())))


class RepeatedIndexWarning(UserWarning):
    """The index of a pandas signal repeats a label: its rows are taken as
    samples in the order given, one after the other."""


def _check_order(index: Any) -> None:
    """Rows are samples in time order: a sorted index or none; a repeated
    label is said."""
    row = first_unsorted_row(index)
    if row is not None:
        raise ValueError(f"the index is not sorted: row {row} (label {index[row]}) comes after "
                         f"{index[row - 1]}; rows must be samples in time order, so sort first "
                         "(for example frame.sort_index())")
    row = first_repeated_row(index)
    if row is not None:
        warnings.warn(f"the index repeats labels ({int(index.duplicated().sum())} rows, the first {index[row]} at "
                      f"row {row}): rows are taken as samples in the order given; aggregate repeated times "
                      "first if they are one sample (for example frame.groupby(level=0).mean())",
                      RepeatedIndexWarning, stacklevel=5)


def _from_pandas(obj: Any) -> tuple[npt.NDArray[Any], Any, list[str] | None]:
    kind = type(obj).__name__
    if kind in ("Series", "DataFrame"):
        _check_order(obj.index)
    if kind == "Series":
        if obj.dtype.kind not in "biuf":
            raise TypeError(f"the Series holds non-numeric values (dtype {obj.dtype}); "
                            "convert it with pandas.to_numeric first")
        name = None if obj.name is None else [str(obj.name)]
        return obj.to_numpy(dtype=np.float64, na_value=np.nan), obj.index, name
    if kind == "DataFrame":
        bad = [str(column) for column, dtype in obj.dtypes.items() if dtype.kind not in "biuf"]
        if bad:
            raise TypeError(f"the DataFrame has non-numeric columns {bad}; select the numeric ones, "
                            "for example frame.select_dtypes('number')")
        return (obj.to_numpy(dtype=np.float64, na_value=np.nan), obj.index,
                [str(column) for column in obj.columns])
    raise TypeError(f"cannot use a pandas {kind} as a signal; pass a Series or a DataFrame")


def as_signal(signal: Any, *, name: str = "signal") -> Intake:
    """Converts an array-like once into a float64, C-ordered signal.

    Accepts NumPy arrays of any real dtype (booleans, integers, floats),
    nested lists of numbers, pandas Series and DataFrames. Rows are samples in
    time order, columns are features. Raises TypeError for values that are
    not real numbers and ValueError for an empty signal, more than two
    dimensions or a value that is not finite (naming its position); warns with
    TransposedSignalWarning when a two-dimensional signal has more columns
    than rows.
    """
    index: Any | None = None
    columns: list[str] | None = None
    if _is_pandas(signal):
        raw, index, columns = _from_pandas(signal)
    else:
        try:
            raw = np.asarray(signal)
        except (ValueError, TypeError) as error:
            raise TypeError(f"{name} cannot be read as an array: {error}") from None
        if raw.dtype.kind == "O":
            try:
                raw = raw.astype(np.float64)
            except (ValueError, TypeError):
                raise TypeError(f"{name} holds values that are not numbers") from None
        elif raw.dtype.kind not in "biuf":
            raise TypeError(_describe_dtype(raw.dtype))
    if raw.ndim not in (1, 2):
        raise ValueError(f"{name} must have one or two dimensions (samples, features), got {raw.ndim}")
    if raw.size == 0:
        raise ValueError(f"{name} is empty, got shape {raw.shape}")
    values = np.ascontiguousarray(raw, dtype=np.float64)
    finite = np.isfinite(values)
    if not finite.all():
        row, *rest = np.argwhere(~finite)[0]
        where = f"row {row}" + (f", column {rest[0]}" if rest else "")
        if index is not None:
            where += f" (index label {index[int(row)]!r})"
        raise ValueError(f"{name} has a missing or infinite value at {where}; drop or fill such values "
                         "first (for example Series.interpolate())")
    if values.ndim == 2 and values.shape[1] > values.shape[0]:
        warnings.warn(
            f"{name} has {values.shape[0]} rows and {values.shape[1]} columns; rows are samples and columns "
            "are features, so pass the transpose (signal.T) if the samples run along the columns",
            TransposedSignalWarning, stacklevel=3)
    return Intake(values, index, columns)
