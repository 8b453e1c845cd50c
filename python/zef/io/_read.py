"""Reading csv and text files of series (and dispatching .npy files), with readable errors."""

from __future__ import annotations

import csv
import io
import math
import os
from collections.abc import Iterable, Iterator
from typing import TextIO

from zef.io._dataset import DataError, Dataset
from zef.io._npy import read_npy
from zef.io._progress import ReadingProgress

__all__ = ["FORMATS", "detect_format", "parse_value", "read_series"]


FORMATS = ("csv", "text", "npy")
MISSING = frozenset({"", "na", "n/a", "nan", "null"})
# Files at least this large report their reading progress.
PROGRESS_BYTES = 4 * 1024 * 1024


def detect_format(path: str) -> str:
    """The format of a file from its name: "npy" for .npy, "csv" for .csv and .tsv, else "text".

    Parameters
    ----------
    path : str
        The file's name.

    Returns
    -------
    str
        The format.

    Examples
    --------
    >>> from zef.io import detect_format
    >>> detect_format("walks.TSV"), detect_format("walks.txt")
    ('csv', 'text')
    """
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
    r"""Reads the series of a file.

    Parameters
    ----------
    path : str
        The file.
    fmt : str, optional
        "csv", "text" or "npy"; by default from the file's name.
    columns : bool, default False
        One series per column instead of per row.
    skip_columns : int, default 0
        Leading columns that are not data: names of the series (one per row)
        or labels of the points (one per column).
    delimiter : str, optional
        The CSV cell delimiter; by default guessed from the first line.
    progress : text stream, optional
        Where the reading of a large file is reported.

    Returns
    -------
    Dataset
        The series, with their names and point labels when the file gives them.

    Raises
    ------
    DataError
        With a message meant for the user, for a file that cannot be read as series.

    Examples
    --------
    >>> import pathlib, tempfile
    >>> from zef.io import read_series
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     path = pathlib.Path(folder) / "series.csv"
    ...     _ = path.write_text("a,b\n1,2\n3,NA\n")
    ...     dataset = read_series(str(path), columns=True)
    >>> dataset.names, dataset.series
    (['a', 'b'], [[1.0, 3.0], [2.0, nan]])
    """
    fmt = fmt or detect_format(path)
    if fmt not in FORMATS:
        raise DataError(f"unknown format {fmt!r}; choose one of {', '.join(FORMATS)}")
    if skip_columns < 0:
        raise DataError("--skip-columns must be 0 or more")
    try:
        if fmt == "npy":
            return read_npy(path, columns, skip_columns)
        size = os.path.getsize(path)
        with open(path, "rb") as raw:
            reporter = (
                ReadingProgress(path, size, progress) if progress is not None and size >= PROGRESS_BYTES else None
            )
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
    """The value of one cell: NaN for a missing point, None for a cell that is not a number.

    Parameters
    ----------
    cell : str
        The cell's text.

    Returns
    -------
    float or None
        Its value.

    Examples
    --------
    >>> from zef.io import parse_value
    >>> parse_value(" 2.5 "), parse_value("NA"), parse_value("x")
    (2.5, nan, None)
    """
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
