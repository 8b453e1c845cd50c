"""Reading series from files, and readying them for the miner.

Three formats are read:

- csv: cells separated by a delimiter (comma, semicolon or tab, guessed from
  the first line unless given), one series per row, or per column with
  `columns=True`. Blank cells, and cells reading NA, N/A, NaN or null, are
  missing points.
- text: one series per line, values separated by white space; missing points
  are written NaN or NA.
- npy: a NumPy array of one or two dimensions (rows are series); NaN marks a
  missing point. Needs NumPy.

In csv and text files, lines starting with `#` are comments, and a first line
whose cells are all words (no number among them) is a header. The first
`skip_columns` columns are not data: in a file of one series per row the first
of them names each series (a label, a class); in a file of one series per
column it labels each point (a date, a time).

The engine z-normalises each series over all of its points, so a single missing
point would spoil the whole series: `prepare` fills gaps inside a series by
linear interpolation, cuts missing points off both ends, and sets aside series
that hold no value or only one value, remembering where each point came from.
"""

from __future__ import annotations

import csv
import io
import math
import os
from collections.abc import Iterable, Iterator
from dataclasses import dataclass, field
from typing import IO, TextIO

FORMATS = ("csv", "text", "npy")
MISSING = frozenset({"", "na", "n/a", "nan", "null"})
# Files at least this large report their reading progress.
PROGRESS_BYTES = 4 * 1024 * 1024


class DataError(Exception):
    """A file that cannot be read as series; the message is meant for the user."""


@dataclass
class Dataset:
    """Series as read from a file. NaN marks a missing point."""

    series: list[list[float]]
    # One name per series, when the file names them.
    names: list[str] | None = None
    # One label per point index (dates, times), when the file gives them.
    point_labels: list[str] | None = None

    def name(self, index: int) -> str:
        """How a series is shown: the name the file gives it when every series has its own, else its index."""
        if self.names is not None and self.names[index] and len(set(self.names)) == len(self.names):
            return self.names[index]
        return str(index)

    def point_label(self, point: int) -> str | None:
        if self.point_labels is not None and 0 <= point < len(self.point_labels) and self.point_labels[point]:
            return self.point_labels[point]
        return None


@dataclass
class Prepared:
    """The series handed to the miner, and where their points came from."""

    series: list[list[float]]
    # For each prepared series: its index in the Dataset, and how many missing
    # points were cut off its start (a prepared point p is point p + offset
    # of the series as read).
    source: list[int]
    offset: list[int]
    filled: int = 0
    trimmed: int = 0
    # Dataset index -> why the series was set aside.
    dropped: dict[int, str] = field(default_factory=dict)

    def position(self, prepared_index: int, point: int) -> tuple[int, int]:
        """A (series, point) of the prepared set, as a (series, point) of the Dataset."""
        return self.source[prepared_index], point + self.offset[prepared_index]


def detect_format(path: str) -> str:
    suffix = os.path.splitext(path)[1].lower()
    if suffix == ".npy":
        return "npy"
    if suffix in (".csv", ".tsv"):
        return "csv"
    return "text"


def read_series(
    path: str,
    *,
    fmt: str | None = None,
    columns: bool = False,
    skip_columns: int = 0,
    delimiter: str | None = None,
    progress: TextIO | None = None,
) -> Dataset:
    """Reads the series of a file; raises DataError with a readable message."""
    fmt = fmt or detect_format(path)
    if fmt not in FORMATS:
        raise DataError(f"unknown format {fmt!r}; choose one of {', '.join(FORMATS)}")
    if skip_columns < 0:
        raise DataError("--skip-columns must be 0 or more")
    try:
        if fmt == "npy":
            return _read_npy(path, columns, skip_columns)
        size = os.path.getsize(path)
        with open(path, "rb") as raw:
            reporter = _Progress(path, size, progress) if progress is not None and size >= PROGRESS_BYTES else None
            text = io.TextIOWrapper(raw, encoding="utf-8-sig", newline="")
            rows = _csv_rows(text, delimiter, path) if fmt == "csv" else _text_rows(text)
            if reporter is not None:
                rows = reporter.follow(rows, raw)
            dataset = _tabulate(rows, path, columns, skip_columns, fmt)
            if reporter is not None:
                reporter.finish()
            return dataset
    except FileNotFoundError:
        raise DataError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise DataError(f"{path}: is a directory, not a file") from None
    except PermissionError:
        raise DataError(f"{path}: permission denied") from None
    except UnicodeDecodeError:
        hint = "; for a NumPy file use --format npy" if fmt != "npy" else ""
        raise DataError(f"{path}: not a text file (it holds bytes that are not UTF-8){hint}") from None
    except csv.Error as error:
        raise DataError(f"{path}: not a readable CSV file ({error})") from None
    except OSError as error:
        raise DataError(f"{path}: cannot be read ({error.strerror or error})") from None


def _csv_rows(text: TextIO, delimiter: str | None, path: str) -> Iterator[tuple[int, list[str]]]:
    lines = _DataLines(text)
    if delimiter is None and path.lower().endswith(".tsv"):
        delimiter = "\t"
    if delimiter is None:
        # Guessed from the first line that is not a comment: the most frequent
        # of comma, semicolon and tab, comma when none appears.
        first = lines.peek()
        delimiter = max(",;\t", key=lambda d: (first.count(d), d == ","))
    reader = csv.reader(lines, delimiter=delimiter)
    for cells in reader:
        if cells:
            yield lines.number, cells


def _text_rows(text: TextIO) -> Iterator[tuple[int, list[str]]]:
    lines = _DataLines(text)
    for line in lines:
        cells = line.split()
        if cells:
            yield lines.number, cells


class _DataLines:
    """The lines of a file that are not comments, remembering the number of the last one given."""

    def __init__(self, text: TextIO) -> None:
        self.lines = iter(text)
        self.number = 0
        self.ahead: list[str] = []

    def __iter__(self) -> Iterator[str]:
        return self

    def __next__(self) -> str:
        if self.ahead:
            return self.ahead.pop(0)
        return self._next_line()

    def _next_line(self) -> str:
        while True:
            line = next(self.lines)
            self.number += 1
            if not _is_comment(line):
                return line

    def peek(self) -> str:
        """The first line ahead that is not blank, without taking any ('' when there is none)."""
        for line in self.ahead:
            if line.strip():
                return line
        while True:
            try:
                line = self._next_line()
            except StopIteration:
                return ""
            self.ahead.append(line)
            if line.strip():
                return line


def _is_comment(text: str) -> bool:
    return text.lstrip().startswith("#")


def parse_value(cell: str) -> float | None:
    """The value of one cell: NaN for a missing point, None for a cell that is not a number."""
    text = cell.strip()
    if text.lower() in MISSING:
        return math.nan
    try:
        value = float(text)
    except ValueError:
        return None
    return value


def _tabulate(rows: Iterable[tuple[int, list[str]]], path: str, columns: bool, skip: int, fmt: str) -> Dataset:
    header: list[str] | None = None
    labels: list[str] = []
    values: list[list[float]] = []
    first = True
    for line, cells in rows:
        data = cells[skip:]
        if first:
            first = False
            words = [cell for cell in data if cell.strip()]
            if words and all(parse_value(cell) is None for cell in words):
                header = [cell.strip() for cell in data]
                continue
        row: list[float] = []
        for column, cell in enumerate(data, start=skip + 1):
            value = parse_value(cell)
            if value is None:
                raise DataError(_not_a_number(path, line, column, cell, skip, fmt))
            if math.isinf(value):
                raise DataError(f"{path}, line {line}, column {column}: {cell.strip()!r} is infinite")
            row.append(value)
        values.append(row)
        labels.append(cells[0].strip() if skip and cells else "")
    if not values:
        if header is None:
            raise DataError(f"{path}: holds no series (no line of numbers)")
        line_text = " ".join(header)
        hint = " (for comma-separated values use --format csv)" if fmt == "text" and "," in line_text else ""
        raise DataError(f"{path}: holds no series, only a line of words read as a header: {line_text[:60]!r}{hint}")
    if not columns:
        return Dataset(values, labels if skip else None, header)
    width = max(len(row) for row in values)
    series = [[row[j] if j < len(row) else math.nan for row in values] for j in range(width)]
    names = None
    if header is not None:
        names = [header[j] if j < len(header) else "" for j in range(width)]
    return Dataset(series, names, labels if skip else None)


def _not_a_number(path: str, line: int, column: int, cell: str, skip: int, fmt: str) -> str:
    message = f"{path}, line {line}, column {column}: {cell.strip()!r} is not a number"
    if fmt == "text" and "," in cell:
        return message + " (for comma-separated values use --format csv)"
    if column == skip + 1:
        return message + f" (if column {column} holds names, labels or dates, add --skip-columns {column})"
    return message


def _read_npy(path: str, columns: bool, skip: int) -> Dataset:
    try:
        import numpy as np
    except ImportError:
        raise DataError("reading .npy files needs NumPy, which is not installed: pip install numpy") from None
    with open(path, "rb") as file:
        magic = file.read(6)
    if magic != b"\x93NUMPY":
        raise DataError(f"{path}: not a NumPy .npy file")
    try:
        array = np.load(path, allow_pickle=False)
    except ValueError as error:
        if "allow_pickle" in str(error):
            raise DataError(f"{path}: holds Python objects; only arrays of numbers are read") from None
        raise DataError(f"{path}: not a readable NumPy .npy file ({error})") from None
    except EOFError as error:
        raise DataError(f"{path}: not a readable NumPy .npy file ({error or 'truncated'})") from None
    if not isinstance(array, np.ndarray):
        raise DataError(f"{path}: not a NumPy .npy file")
    if array.dtype.kind not in "iuf":
        raise DataError(f"{path}: holds values of type {array.dtype}, not numbers")
    if array.ndim == 1:
        array = array.reshape(1, -1)
    if array.ndim != 2:
        raise DataError(f"{path}: holds an array of {array.ndim} dimensions; one or two are read")
    array = array[:, skip:].astype(np.float64)
    if np.isinf(array).any():
        raise DataError(f"{path}: holds infinite values")
    if columns:
        array = array.T
    series: list[list[float]] = array.tolist()
    if not series:
        raise DataError(f"{path}: holds no series")
    return Dataset(series)


class _Progress:
    """Reports on a stream how much of a large file has been read."""

    def __init__(self, path: str, size: int, stream: TextIO) -> None:
        self.path, self.size, self.stream = path, size, stream
        self.tty = stream.isatty()
        self.shown = -1

    def follow(self, rows: Iterator[tuple[int, list[str]]], raw: IO[bytes]) -> Iterator[tuple[int, list[str]]]:
        for row in rows:
            self.show(raw.tell())
            yield row

    def show(self, position: int) -> None:
        percent = min(100, position * 100 // max(self.size, 1))
        step = percent if self.tty else percent // 25 * 25
        if step <= self.shown:
            return
        self.shown = step
        megabytes = self.size / 1e6
        text = f"reading {self.path}: {step}% of {megabytes:.1f} MB"
        if self.tty:
            self.stream.write("\r" + text)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def finish(self) -> None:
        self.show(self.size)
        if self.tty:
            self.stream.write("\n")
            self.stream.flush()


def prepare(series: list[list[float]]) -> Prepared:
    """Fills the gaps of each series and sets aside the series that have no shape."""
    prepared = Prepared([], [], [])
    for index, values in enumerate(series):
        known = [i for i, v in enumerate(values) if not math.isnan(v)]
        if not known:
            prepared.dropped[index] = "no values" if values else "no points"
            continue
        if min(values[i] for i in known) == max(values[i] for i in known):
            prepared.dropped[index] = "one value only" if len(known) == 1 else "constant"
            continue
        first, last = known[0], known[-1]
        kept = values[first : last + 1]
        gaps = len(kept) - len(known)
        if gaps:
            kept = _interpolate(kept)
        prepared.filled += gaps
        prepared.trimmed += len(values) - len(kept)
        prepared.series.append(kept)
        prepared.source.append(index)
        prepared.offset.append(first)
    return prepared


def _interpolate(values: list[float]) -> list[float]:
    """Fills runs of NaN between known values (both ends are known) on a straight line."""
    result = list(values)
    start = 0
    while start < len(result):
        if not math.isnan(result[start]):
            start += 1
            continue
        end = start
        while math.isnan(result[end]):
            end += 1
        before, after = result[start - 1], result[end]
        span = end - start + 1
        for i in range(start, end):
            result[i] = before + (after - before) * (i - start + 1) / span
        start = end
    return result


def znorm_stats(values: list[float]) -> tuple[float, float]:
    """The mean and the population deviation that the miner's z-normalisation uses (sums from the left)."""
    n = float(len(values))
    total = 0.0
    for v in values:
        total += v
    mean = total / n
    squares = 0.0
    for v in values:
        squares += (v - mean) * (v - mean)
    return mean, math.sqrt(squares / n)


def znorm(values: list[float]) -> list[float]:
    """Z-normalises one series as the miner does, to the bit. A deviation of 0
    divides as in the miner: 0 / 0 is NaN (a flat series becomes NaN), and a
    value apart from the mean becomes an infinity of its sign (the deviation of
    values so close that their squares vanish)."""
    if not values:
        return []
    mean, deviation = znorm_stats(values)
    if deviation == 0.0:  # +0.0, the root of a sum of squares; Python would raise ZeroDivisionError
        return [math.nan if v - mean == 0.0 else math.copysign(math.inf, v - mean) for v in values]
    return [(v - mean) / deviation for v in values]
