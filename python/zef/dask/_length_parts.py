"""The partitions of a discovery run over a range of lengths, on their workers.

A partition keeps its series filled, detrended over the range's detrending
window and whitened once; the flags of their flat windows depend on the
length, so each step at a length measures them again on the worker (from the
series as given too, when detrended), and then runs as a step of one length
(`Partitions`).
"""

from __future__ import annotations

from typing import Any

import numpy as np

from zef.dask import _steps
from zef.dask._discovery_parts import DiscoveryPart, Partitions
from zef.dask._partitions import rows
from zef.discovery._gaps import fill_gaps

__all__ = ["LengthPartitions", "range_prepare", "range_read", "range_whiten", "read_count", "read_info", "usable_at"]

#: A partition read: each series filled (None for one that holds an infinite value), and its summary.
ReadPart = tuple[list[Any], dict[str, Any]]


def range_read(part: Any) -> ReadPart:
    """On a worker: the partition's series filled, with their sizes and offsets."""
    filled, sizes, offsets, infinite = [], [], [], []
    for row in rows(part):
        bad = bool(np.isinf(row).any())
        values, offset = fill_gaps(row)
        filled.append(None if bad else values)
        sizes.append(len(values))
        offsets.append(offset)
        infinite.append(bad)
    summary = {
        "sizes": np.array(sizes, dtype=np.int64),
        "offsets": np.array(offsets, dtype=np.int64),
        "infinite": np.array(infinite, dtype=bool),
    }
    return filled, summary


def read_info(part: ReadPart) -> dict[str, Any]:
    return part[1]


def read_count(part: ReadPart) -> int:
    return int(part[1]["sizes"].size)


def range_prepare(part: ReadPart, shortest: int, window: int, flat_tol: float) -> DiscoveryPart:
    """On a worker: the series of at least `shortest` points detrended, flagged and measured at that
    length; the series as given kept beside them when detrended (their flat windows are flat too)."""
    taken = [values for values in part[0] if values is not None and len(values) >= shortest]
    prepared, flat, usable, lags = _steps.discovery_prepare(taken, shortest, window, flat_tol)
    summary = dict(part[1], usable=usable, lags=lags)
    return prepared, flat, summary, taken if window > 1 else None


def range_whiten(part: DiscoveryPart, shortest: int, flat_tol: float, phi: float) -> DiscoveryPart:
    """On a worker: the prepared partition with its whitened view and `phi`, the series as given last."""
    whitened, white_flat = _steps.discovery_whiten(part[0], part[1], shortest, flat_tol, phi)
    return part[0], part[1], part[2], whitened, white_flat, phi, part[3]


def _flags(part: DiscoveryPart, length: int, flat_tol: float) -> tuple[Any, Any, Any]:
    flags: tuple[Any, Any, Any] = _steps.discovery_flags(part[0], part[6], part[3], length, flat_tol)
    return flags


def usable_at(part: DiscoveryPart, lengths: list[int], flat_tol: float) -> list[Any]:
    """On a worker: for each of `lengths`, whether each series has a window of that length that is not flat."""
    return [_flags(part, length, flat_tol)[2].astype(bool) for length in lengths]


def _at_length(function: Any, part: DiscoveryPart, length: int, flat_tol: float, *args: Any) -> Any:
    flat, white_flat, _ = _flags(part, length, flat_tol)
    return function((part[0], flat, part[2], part[3], white_flat, part[5]), length, flat_tol, *args)


class LengthPartitions(Partitions):
    """The partitions of a run over a range of lengths, seen at one of them."""

    def _submit(self, function: Any, state: Any, *args: Any) -> Any:
        return self.run.submit(_at_length, function, state, self.length, self.flat_tol, *args)
