"""The settings and inputs of the four entry points, checked in one place.

`zef.mine`, `zef.discover`, `zef.dask.mine` and `zef.dask.discover` call
these helpers, so that the same bad argument gives the same error from all of
them: TypeError for a value of the wrong type, ValueError for a value of the
right type that is out of range or of the wrong shape (as numpy does).

Shared keywords mean the same everywhere:

- ``k``: how many motifs are returned; ``None`` or ``0`` for all of them.
- ``max_len``: the longest pattern in symbols; ``0`` for no limit (``None``
  for the entry point's default: no limit in mining, one derived from the
  motif length in discovery).
- ``max_patterns``: ``None`` for no limit, else a whole number of 1 or more.
- ``threads``: ``None`` for the default (ZEF_NUM_THREADS, else every core).
- ``progress``: ``None`` or a callable ``(stage, done, total)``.
- ``batch`` (Dask): how many candidates (patterns, or candidate shapes) one
  pass over the partitions handles; ``None`` for the default.
"""

from __future__ import annotations

import numbers
import operator
import os
import sys
from collections.abc import Callable, Mapping
from typing import Any

import numpy as np
from numpy.typing import NDArray

from zef._cores import available_cores

__all__ = [
    "ACCEPTED_SERIES",
    "LETTERS",
    "MIN_LENGTH",
    "NotACollection",
    "Progress",
    "THREADS_VARIABLE",
    "as_collection",
    "as_row",
    "batch_size",
    "check_longest",
    "range_settings_for",
    "check_progress",
    "discovery_settings",
    "engine_rows",
    "float_setting",
    "int_setting",
    "longest_pattern",
    "motif_limit",
    "pattern_limit",
    "settings_for",
    "thread_count",
    "top_count",
    "whole_number",
]

#: The variable that sets the thread count when a call does not.
THREADS_VARIABLE = "ZEF_NUM_THREADS"

#: What every entry point takes as a collection of series.
ACCEPTED_SERIES = (
    "a 2-D array (one series per row), a sequence of 1-D series, a pandas DataFrame (one series per column),"
    " a 3-D array of shape (n_series, 1, n_points), or an object with __array__"
)

INT_MAX = 2**31 - 1

Progress = Callable[[str, int, int], object]
FloatArray = NDArray[np.float64]


class NotACollection(TypeError):
    """A collection of series of a kind that no entry point takes."""


def whole_number(value: object) -> int | None:
    """`value` as an int when it is one (numpy's integers too, but not a bool); else None."""
    if isinstance(value, (bool, np.bool_)):
        return None
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        return None


def int_setting(name: str, value: object) -> int:
    """A setting that the engine takes as a 32-bit int: TypeError unless it is a whole number,
    ValueError when it does not fit."""
    number = whole_number(value)
    if number is None:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not -INT_MAX - 1 <= number <= INT_MAX:
        raise ValueError(f"{name} must fit in a 32-bit int, not {number}")
    return number


def float_setting(name: str, value: object) -> float:
    """A setting that the engine takes as a float: TypeError unless it is a real number."""
    if isinstance(value, (str, bytes)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)


def top_count(k: object) -> int:
    """How many motifs to return as the engine takes it: 0 for all (from None or 0)."""
    if k is None:
        return 0
    return int_setting("k", k)


def longest_pattern(max_len: object) -> int:
    """The longest pattern as the engine takes it: 0 for no limit (from None or 0)."""
    if max_len is None:
        return 0
    return int_setting("max_len", max_len)


def pattern_limit(max_patterns: object) -> int | None:
    """The limit on frequent patterns as the native calls take it: None for no limit."""
    if max_patterns is None:
        return None
    limit = whole_number(max_patterns)
    if limit is None:
        raise TypeError(f"max_patterns must be None or an int, not {type(max_patterns).__name__}")
    if limit < 1:
        raise ValueError(f"max_patterns must be None or a whole number of 1 or more, not {max_patterns!r}")
    return None if limit >= 2**63 else limit


def batch_size(batch: object) -> int | None:
    """Candidates per pass over the partitions: None for the default, else a whole number of 1 or more."""
    if batch is None:
        return None
    count = whole_number(batch)
    if count is None:
        raise TypeError(f"batch must be None or an int, not {type(batch).__name__}")
    if count < 1:
        raise ValueError(f"batch must be a whole number of 1 or more, not {batch!r}")
    return count


def check_progress(progress: object) -> None:
    """TypeError unless `progress` is None or a callable (stage, done, total)."""
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a callable (stage, done, total) or None, not {type(progress).__name__}")


def thread_count(threads: object = None) -> int:
    """The threads a call uses: `threads` when given, else ZEF_NUM_THREADS, else available_cores().

    Parameters
    ----------
    threads : int, optional
        The count asked for.

    Returns
    -------
    int
        The count, at least 1.

    Raises
    ------
    TypeError
        When `threads` is not an int.
    ValueError
        When `threads` or ZEF_NUM_THREADS is not a whole number of 1 or more.

    Examples
    --------
    >>> from zef.mining import thread_count
    >>> thread_count(3)
    3
    """
    # Counts are capped at what the native call takes; the pool then starts no
    # more threads than it can use.
    if threads is not None:
        count = whole_number(threads)
        if count is None:
            raise TypeError(f"threads must be None or an int, not {type(threads).__name__}")
        if count < 1:
            raise ValueError(f"threads must be a whole number of 1 or more, not {threads!r}")
        return min(count, sys.maxsize)
    text = os.environ.get(THREADS_VARIABLE, "").strip()
    if text:
        try:
            value = int(text)
        except ValueError:
            value = 0
        if value < 1:
            raise ValueError(f"{THREADS_VARIABLE} must be a whole number of 1 or more, not {text!r}")
        return min(value, sys.maxsize)
    return available_cores()


def as_collection(series: object) -> tuple[FloatArray | list[FloatArray], list[str] | None]:
    """The series as a 2-D float64 array or a list of 1-D float64 arrays, and their names when the
    input names them (the columns of a DataFrame).

    Raises TypeError for an input of another kind, or a series that is not numbers, and
    ValueError for an array of the wrong shape. A series is named by its index in the collection.
    """
    if _is_data_frame(series):
        return _frame_columns(series)
    _check_kind(series)
    if not isinstance(series, np.ndarray) and hasattr(series, "__array__"):
        series = np.asarray(series)
    if isinstance(series, np.ndarray):
        return _array_rows(series), None
    items: Any = series
    return [as_row(item, index) for index, item in enumerate(items)], None


def engine_rows(series: object) -> Any:
    """The series as the native mining call reads them: arrays and array-likes as `as_collection`
    gives them, array rows as float64; rows of plain numbers as given, which the native call
    converts faster than numpy would (and refuses with a TypeError, after which
    `as_collection(series)` says which series is wrong)."""
    if _is_data_frame(series) or isinstance(series, np.ndarray) or hasattr(series, "__array__"):
        return as_collection(series)[0]
    _check_kind(series)
    if not isinstance(series, (list, tuple)) or not any(hasattr(item, "__array__") for item in series):
        return series
    return [as_row(item, index) if hasattr(item, "__array__") else item for index, item in enumerate(series)]


def as_row(item: object, index: int) -> FloatArray:
    """Series `index` of a collection as a 1-D float64 array, its values converted as float() converts
    them; TypeError when it is not a sequence of numbers, ValueError when it has more dimensions."""
    if isinstance(item, (str, bytes)):
        raise TypeError(f"series {index} is not a sequence of numbers: it is a {type(item).__name__}")
    try:
        values = np.asarray(item)
    except (TypeError, ValueError) as error:
        raise TypeError(f"series {index} is not a sequence of numbers: {error}") from None
    if values.ndim == 0:
        raise TypeError(f"series {index} is not a sequence of numbers: it is a {type(item).__name__}")
    if values.ndim != 1:
        raise ValueError(f"series {index} must have 1 dimension, not {values.ndim}")
    if values.dtype.kind in "biuf":
        return np.ascontiguousarray(values, dtype=np.float64)
    if values.dtype.kind == "O":
        return np.fromiter((_number(v, index) for v in values), dtype=np.float64, count=values.size)
    raise TypeError(f"series {index} is not a sequence of numbers: it holds values of type {values.dtype}")


def _number(value: object, index: int) -> float:
    if isinstance(value, (str, bytes)) or value is None:
        raise TypeError(f"series {index} is not a sequence of numbers: it holds a {type(value).__name__}")
    try:
        return float(value)  # type: ignore[arg-type]
    except (TypeError, ValueError) as error:
        raise TypeError(f"series {index} is not a sequence of numbers: {error}") from None


def _array_rows(array: NDArray[Any]) -> FloatArray | list[FloatArray]:
    """An array's series: rows of a 2-D array, or of a 3-D array with one channel."""
    if array.ndim == 3 and array.shape[1] == 1:
        array = array[:, 0, :]
    if array.ndim != 2:
        raise ValueError(
            "series: an array must be 2-D, with 2 dimensions (one series per row), or 3-D of shape"
            f" (n_series, 1, n_points); not of shape {array.shape}"
        )
    if array.dtype.kind in "biuf":
        return np.ascontiguousarray(array, dtype=np.float64)
    return [as_row(row, index) for index, row in enumerate(array)]


def _check_kind(series: object) -> None:
    """NotACollection unless `series` is a sequence (of series) or array-like."""
    sequence = hasattr(series, "__len__") and hasattr(series, "__getitem__")
    if isinstance(series, (str, bytes, Mapping)) or not (sequence or hasattr(series, "__array__")):
        raise NotACollection(f"series must be {ACCEPTED_SERIES}; not {type(series).__name__}")


def _is_data_frame(series: object) -> bool:
    # Without importing pandas: a DataFrame exists only once pandas is imported.
    pandas = sys.modules.get("pandas")
    return pandas is not None and isinstance(series, pandas.DataFrame)


def _frame_columns(frame: Any) -> tuple[list[FloatArray], list[str]]:
    """A DataFrame's columns as series (missing values as NaN), and the columns' names."""
    rows = []
    for index in range(len(frame.columns)):
        column = frame.iloc[:, index]
        if column.dtype.kind in "biuf":
            rows.append(np.ascontiguousarray(column.to_numpy(dtype=np.float64)))
        else:
            # Nullable and object columns: their missing values (None, pd.NA) are missing points.
            rows.append(as_row(column.to_numpy(dtype=object, na_value=np.nan), index))
    return rows, [str(name) for name in frame.columns]


#: Letters per motif length in discovery: the engine's segments are length / LETTERS points.
LETTERS = 8
#: The shortest motif that discovery looks for, in points.
MIN_LENGTH = 4
#: Over a range of lengths, the engine's segments are the shortest length / RANGE_LETTERS points.
RANGE_LETTERS = 4


def settings_for(length: int, seglen: int | None = None) -> dict[str, int]:
    """The engine settings that discovery derives from the motif length and segment length.

    Parameters
    ----------
    length : int
        The motif length in points.
    seglen : int, optional
        Points per symbol; by default length / 8, rounded, at least 1.

    Returns
    -------
    dict
        ``seglen``, ``min_len`` and ``max_len`` for the engine.

    Examples
    --------
    >>> from zef.discovery import settings_for
    >>> settings_for(100)
    {'seglen': 12, 'min_len': 4, 'max_len': 9}
    """
    if seglen is None:
        seglen = max(1, round(length / LETTERS))
    letters = max(1, length // max(1, seglen))
    return {"seglen": seglen, "min_len": max(2, letters // 2), "max_len": letters + 1}


def discovery_settings(
    length: Any,
    minsup: Any,
    k: Any,
    detrend: Any,
    radius: Any,
    flat_tol: Any,
    seglen: Any,
    alphabet: Any,
    min_len: Any,
    max_len: Any,
    max_overlap: Any,
    iterations: Any,
    pool: Any,
) -> dict[str, Any]:
    """The settings of a discovery run (Discovery.settings), checked before any data is read:
    the engine's, the detrending window and the pool. ``k`` is 0 when every motif is asked for."""
    # One length, or a range (lo, hi) as zef.discovery._lengths checked it.
    ranged = isinstance(length, tuple)
    if not ranged and whole_number(length) is None:
        raise TypeError(f"length must be an int, got {type(length).__name__}")
    length = length if ranged else int(length)
    if not ranged and length < MIN_LENGTH:
        raise ValueError(f"length must be at least {MIN_LENGTH} points, got {length}")
    minsup = float_setting("minsup", minsup)
    if not 0 < minsup <= 1:
        raise ValueError(f"minsup must be above 0 and at most 1, got {minsup}")
    k = top_count(k)
    if k < 0:
        raise ValueError(f"k must be None, 0 (all) or a positive int, got {k!r}")
    radius = float_setting("radius", radius)
    if not radius > 0:
        raise ValueError(f"radius must be above 0, got {radius}")
    flat_tol = float_setting("flat_tol", flat_tol)
    if not 0 <= flat_tol < 1:
        raise ValueError(f"flat_tol must be at least 0 and below 1, got {flat_tol}")
    iterations = int_setting("iterations", iterations)
    if iterations < 0:
        raise ValueError(f"iterations must be 0 or more, got {iterations}")
    max_overlap = float_setting("max_overlap", max_overlap)

    seglen = None if seglen is None else int_setting("seglen", seglen)
    engine = range_settings_for(length[0], length[1], seglen) if ranged else settings_for(length, seglen)
    if min_len is not None:
        engine["min_len"] = int_setting("min_len", min_len)
    if max_len is not None:
        engine["max_len"] = int_setting("max_len", max_len)
    if engine["seglen"] < 1:
        raise ValueError(f"seglen must be at least 1, got {engine['seglen']}")
    alphabets = [alphabet] if whole_number(alphabet) is not None else alphabet
    listed = isinstance(alphabets, (list, tuple, range, np.ndarray))
    if not listed or not all(whole_number(a) is not None for a in alphabets):
        raise TypeError(f"alphabet must be an int from 2 to 10, or a sequence of them, got {alphabet!r}")
    alphabets = [int(a) for a in alphabets]
    if not alphabets or not all(2 <= a <= 10 for a in alphabets):
        raise ValueError(f"alphabet must be an int from 2 to 10, or a sequence of them, got {alphabet!r}")
    if engine["max_len"] < 0 or engine["min_len"] < 1:
        raise ValueError("min_len must be at least 1 and max_len at least 0")
    if detrend is True or detrend is False:
        window = (length[1] if ranged else length) if detrend else 0
    else:
        window = int_setting("detrend", detrend)
    if window < 0:
        raise ValueError(f"detrend must be True, False or a window of points, got {detrend!r}")
    pool = max(10, 2 * k) if pool is None else int_setting("pool", pool)
    if pool < 1:
        raise ValueError(f"pool must be at least 1, got {pool}")
    return {
        "length": list(length) if ranged else length,
        "minsup": minsup,
        "k": k,
        "detrend": window,
        "radius": radius,
        "flat_tol": flat_tol,
        "iterations": iterations,
        "pool": pool,
        "max_overlap": max_overlap,
        "alphabet": alphabets,
        **engine,
    }


def range_settings_for(lo: int, hi: int, seglen: int | None = None) -> dict[str, int]:
    """The engine settings that discovery over lo to hi points derives: segments of lo / RANGE_LETTERS
    points (rounded, at least 1), patterns from half of the shortest length to the longest."""
    if seglen is None:
        seglen = max(1, round(lo / RANGE_LETTERS))
    return {"seglen": seglen, "min_len": max(2, lo // seglen // 2), "max_len": -(-hi // seglen) + 1}


def check_longest(length: int, longest: int) -> None:
    """ValueError when the motif length is longer than every series."""
    if length > longest:
        raise ValueError(f"length {length} is longer than every series (the longest has {longest} points)")


def motif_limit(settings: dict[str, Any]) -> int:
    """How many places discovery keeps: `k`, or the whole pool when every motif is asked for."""
    return int(settings["k"] or settings["pool"])
