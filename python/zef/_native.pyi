"""Native code of the package zef: discovery's candidates refined at point
resolution (zef.discover), and the engine's calls on threads of their own with
the interpreter lock released (zef.mine, which checks the arguments and
resolves the thread count)."""

from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

from _zef_cpp import Motif

class TooManyPatterns(RuntimeError):
    """Mining found more frequent patterns than max_patterns allows."""

def mine(
    series: Sequence[Sequence[float]],
    minsup: float,
    seglen: int,
    alphabet: int,
    min_len: int,
    max_len: int,
    max_overlap: float,
    k: int,
    threads: int,
    progress: Callable[[str, int, int], object] | None,
    max_patterns: int | None,
) -> list[Motif]:
    """What a new Miner with these settings returns from mine(series), computed on `threads` threads."""

def discover(
    series: Sequence[Sequence[float]] | Any,
    length: int,
    minsup: float,
    engine_minsup: float,
    seglen: int,
    alphabets: Sequence[int],
    min_len: int,
    max_len: int,
    max_overlap: float,
    detrend_window: int,
    flat_tol: float,
    radius: float,
    iterations: int,
    seeds_per_motif: int,
    pool: int,
    coarse: int,
    same_place: float,
    place_overlap: float,
    k: int,
    threads: int,
    progress: Callable[[str, int, int], object] | None,
    max_patterns: int | None,
) -> dict[str, Any]: ...
def distance_profile(
    shape: Sequence[float] | NDArray[np.float64], values: Sequence[float] | NDArray[np.float64], flat_tol: float
) -> NDArray[np.float64]: ...
def detrend(values: Sequence[float] | NDArray[np.float64], window: int) -> NDArray[np.float64]: ...

# zef.dask: the steps on the partitions and those of the client.
# Occurrences in one partition: (local series, ends, positions) as int32, int64, int32 arrays.
_Occurrences = tuple[NDArray[np.int32], NDArray[np.int64], NDArray[np.int32]]

def dask_prepare(
    rows: Sequence[Sequence[float]] | Any, seglen: int, alphabet: int
) -> tuple[list[NDArray[np.float64]], list[bytes]]:
    """Each series z-normalised (float64 arrays) and its word (bytes), as zef.mine makes them."""

def dask_first_level(words: list[bytes]) -> dict[bytes, _Occurrences]:
    """Every symbol of the words with its occurrences (series, ends, positions)."""

def dask_extend(
    words: list[bytes], previous: dict[bytes, _Occurrences], candidates: Sequence[bytes]
) -> dict[bytes, _Occurrences]:
    """The occurrences of the candidates found at those of their prefixes in `previous`."""

def dask_join(frequent: Sequence[bytes]) -> list[bytes]:
    """The candidates one symbol longer, in key order."""

def dask_redundant(survivors: Sequence[bytes], max_overlap: float) -> list[bool]:
    """Which survivors of the length filter the redundancy filter erases."""

def dask_table_order(series: Sequence[int]) -> list[int]:
    """Positions into `series` in the order in which a Motif's table lists them."""

def dask_rank(naeds: Sequence[float]) -> list[int]:
    """Indexes of `naeds` in the order of the Miner's ranking."""

def dask_averages(
    series: Sequence[Sequence[float]] | Any, occurrences: _Occurrences, seglen: int, length: int
) -> list[NDArray[np.float64]]:
    """The average occurrence of each local series of `occurrences`."""

def dask_bests(
    series: Sequence[Sequence[float]] | Any,
    occurrences: _Occurrences,
    seglen: int,
    length: int,
    representative: Sequence[float],
) -> tuple[NDArray[np.float64], NDArray[np.int32]]:
    """The distance and point index of each local series' best match."""

def dask_restore(
    pattern: bytes,
    seglen: int,
    series: Sequence[int],
    positions: Sequence[Sequence[int]],
    averages: dict[int, Any],
    keep_averages: bool,
) -> Motif:
    """A Motif mapped as far as its representative from per-series averages."""

def dask_finish(motif: Motif, best: dict[int, tuple[float, int]]) -> None:
    """Completes a restored Motif with each series' (distance, point)."""
