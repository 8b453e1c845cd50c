"""The partitions of a collection on the cluster, and their series as a worker reads them."""

from __future__ import annotations

import zlib
from typing import Any

import dask.array as da
import dask.bag as db
import numpy as np

from zef._validation import ACCEPTED_SERIES, NotACollection, as_collection, as_row
from zef.dask._errors import BadSeries, SourceChanged
from zef.dask._run import Run

__all__ = ["check_source", "checksum", "partitions", "rows"]


def partitions(series: Any, run: Run) -> tuple[list[Any], list[str] | None]:
    """One delayed object per partition, in series order, and the names of the series when the input names them.

    A dask array (2-D, or 3-D of shape (n_series, 1, n_points)) gives one
    partition per block of rows; a dask bag its own partitions. Anything that
    `zef.mine` takes in memory is split into as many partitions as the cluster
    has threads, and sent to the workers once.
    """
    if isinstance(series, da.Array):
        if series.ndim == 3 and series.shape[1] == 1:
            series = series[:, 0, :]
        if series.ndim != 2:
            raise ValueError(
                "series: a dask array must be 2-D, with 2 dimensions (one series per row), or 3-D of shape"
                f" (n_series, 1, n_points); not of shape {series.shape}"
            )
        if series.numblocks[1] > 1:
            series = series.rechunk({1: -1})
        return list(series.to_delayed().ravel()), None
    if isinstance(series, db.Bag):
        return list(series.to_delayed()), None
    try:
        collection, names = as_collection(series)
    except NotACollection:
        raise NotACollection(
            f"series must be a dask array, a dask bag of 1-D arrays, or {ACCEPTED_SERIES}; not {type(series).__name__}"
        ) from None
    count = len(collection)
    width = max(1, min(count, sum(run.client.nthreads().values())))
    size = -(-count // width) if count else 1
    chunks = [list(collection[first : first + size]) for first in range(0, count, size)] or [[]]
    return run.scatter(chunks), names


def rows(part: Any) -> Any:
    """A partition's series as float64 arrays: a 2-D array, or a list of 1-D arrays."""
    if isinstance(part, np.ndarray) and part.ndim == 2 and part.dtype.kind in "biuf":
        return np.ascontiguousarray(part, dtype=np.float64)
    found = []
    for index, item in enumerate(part):
        try:
            found.append(as_row(item, index))
        except (TypeError, ValueError) as error:
            raise BadSeries(index, type(error).__name__, str(error).removeprefix(f"series {index}")) from None
    return found


def checksum(values: Any) -> int:
    """A checksum of a partition's series (their lengths and the bits of their values)."""
    if isinstance(values, np.ndarray):
        return zlib.crc32(np.ascontiguousarray(values), zlib.crc32(repr(values.shape).encode()))
    total = zlib.crc32(str(len(values)).encode())
    for row in values:
        total = zlib.crc32(row, zlib.crc32(str(row.size).encode(), total))
    return total


def check_source(values: Any, first: int) -> None:
    """SourceChanged unless a partition read again gives what its first read gave."""
    if checksum(values) != first:
        raise SourceChanged("the partition gave other values than at its first read")
