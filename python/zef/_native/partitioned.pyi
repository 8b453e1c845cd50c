"""The steps of zef.dask on the partitions of a collection, and the client's."""

from collections.abc import Sequence
from typing import Any

import numpy as np
from numpy.typing import NDArray

from _zef_cpp import Motif

# Occurrences in one partition: (local series, ends, positions) as int32, int64, int32 arrays.
_Occurrences = tuple[NDArray[np.int32], NDArray[np.int64], NDArray[np.int32]]

def words(rows: Sequence[Sequence[float]] | Any, seglen: int, alphabet: int) -> list[bytes]:
    """The word (bytes) of each series, z-normalised one at a time as zef.mine normalises it."""

def first_level(words: list[bytes]) -> dict[bytes, _Occurrences]:
    """Every symbol of the words with its occurrences (series, ends, positions)."""

def extend(
    words: list[bytes], previous: dict[bytes, _Occurrences], candidates: Sequence[bytes]
) -> dict[bytes, _Occurrences]:
    """The occurrences of the candidates found at those of their prefixes in `previous`."""

def join(frequent: Sequence[bytes]) -> list[bytes]:
    """The candidates one symbol longer, in key order."""

def frequent(supports: dict[bytes, int], min_count: float) -> list[bytes]:
    """The patterns (with the number of series where each occurs) that pass the miner's support test, in key
    order."""

def check_pattern_count(passed: int, limit: int | None) -> None:
    """Raises the miner's TooManyPatterns when `passed` frequent patterns are more than `limit` (None: no
    limit) allows."""

def check_mapping_fits(sizes: Sequence[tuple[int, int]], seglen: int) -> None:
    """The miner's refusal (MemoryError) of motifs, given as (symbols, support) each, whose mapping could never
    fit in the machine's memory."""

def returned_count(k: int, count: int) -> int:
    """How many of `count` ranked motifs the miner returns for `k`; ValueError for a negative k."""

def occurrence_length(symbols: int, seglen: int) -> int:
    """The points of one occurrence of a pattern of `symbols` symbols; ValueError when no list holds them."""

def redundant(survivors: Sequence[bytes], max_overlap: float) -> list[bool]:
    """Which survivors of the length filter the redundancy filter erases."""

def table_order(series: Sequence[int]) -> list[int]:
    """Positions into `series` in the order in which a Motif's table lists them."""

def rank(naeds: Sequence[float]) -> list[int]:
    """Indexes of `naeds` in the order of the Miner's ranking."""

def averages(
    series: Sequence[Sequence[float]] | Any, occurrences: Sequence[_Occurrences], seglen: int, lengths: Sequence[int]
) -> list[NDArray[np.float64]]:
    """For each pattern's occurrences (of lengths[i] points), the average occurrence of each of its local
    series: a series x points array."""

def bests(
    series: Sequence[Sequence[float]] | Any,
    occurrences: Sequence[_Occurrences],
    seglen: int,
    lengths: Sequence[int],
    representatives: Sequence[Sequence[float]],
) -> list[tuple[NDArray[np.float64], NDArray[np.int32]]]:
    """For each pattern, the distance and point index of each of its local series' best match."""

def restore(
    pattern: bytes,
    seglen: int,
    series: NDArray[np.int64],
    rows: NDArray[np.int64],
    ends: NDArray[np.int64],
    positions: NDArray[np.int32] | NDArray[np.int64],
    averages: Sequence[NDArray[np.float64]],
    keep_averages: bool,
) -> Motif:
    """A Motif mapped as far as its representative: `series` in the order first recorded, each with its
    row of `averages` (the rows of its blocks one after another) and of the positions
    (positions[ends[row - 1]:ends[row]])."""

def finish(motif: Motif, series: NDArray[np.int64], distances: NDArray[np.float64], points: NDArray[np.int32]) -> None:
    """Completes a restored Motif with each series' best match: its distance and point."""

# zef.dask.discover: a partition is its detrended series and the flags of their flat windows.
def discovery_prepare(
    rows: Sequence[Sequence[float]] | Any, length: int, detrend_window: int, flat_tol: float
) -> tuple[list[NDArray[np.float64]], list[NDArray[np.uint8]], NDArray[np.uint8], NDArray[np.float64]]:
    """Each series detrended (float64 arrays), the flags of its flat windows (uint8 arrays), whether
    it has a window that is not flat (uint8 array), and its lag-one autocorrelation (float64 array)."""

def discovery_whiten(
    prepared: Sequence[Sequence[float]] | Any,
    flat: Sequence[NDArray[np.uint8]],
    length: int,
    flat_tol: float,
    phi: float,
) -> tuple[list[NDArray[np.float64]], list[NDArray[np.uint8]]]:
    """Each series whitened with `phi` (float64 arrays) and the flags of its flat windows of length - 1 points."""

def discovery_whitening(lags: Sequence[float]) -> float:
    """The collection's whitening coefficient from the lags of its usable series."""

def discovery_seeds(
    prepared: Sequence[Sequence[float]] | Any,
    flat: Sequence[NDArray[np.uint8]],
    length: int,
    flat_tol: float,
    seeds_per_motif: int,
    motifs: Sequence[tuple[Any, ...]],
) -> list[tuple[NDArray[np.float64], NDArray[np.int64], NDArray[np.int64], NDArray[np.float64], NDArray[np.int64]]]:
    """For each engine motif (local series, points, representative, span): the gaps, local series,
    points and shapes of the partition's candidate shapes."""

def discovery_evaluate(
    prepared: Sequence[Sequence[float]] | Any,
    flat: Sequence[NDArray[np.uint8]],
    whitened: Sequence[Sequence[float]] | Any,
    white_flat: Sequence[NDArray[np.uint8]],
    phi: float,
    length: int,
    flat_tol: float,
    shapes: NDArray[np.float64],
    only: NDArray[np.int64] | Sequence[int] | None = None,
) -> tuple[NDArray[np.float64], NDArray[np.int64]]:
    """Distances (both views) and starts of each shape's best match in each series, or in the local series
    `only` when given (shapes x series arrays; -1: none or not compared)."""

def discovery_sums(
    prepared: Sequence[Sequence[float]] | Any,
    flat: Sequence[NDArray[np.uint8]],
    length: int,
    flat_tol: float,
    series: Sequence[NDArray[np.int64]],
    starts: Sequence[NDArray[np.int64]],
) -> list[tuple[NDArray[np.float64], NDArray[np.int64]]]:
    """For each shape, the exact sums of the z-normalised windows at starts[i] of local series series[i]:
    their partials, and the end of each point's partials."""

def discovery_occurrences(
    prepared: Sequence[Sequence[float]] | Any,
    flat: Sequence[NDArray[np.uint8]],
    whitened: Sequence[Sequence[float]] | Any,
    white_flat: Sequence[NDArray[np.uint8]],
    phi: float,
    length: int,
    flat_tol: float,
    shapes: NDArray[np.float64],
    radius: float,
) -> list[list[NDArray[np.int64]]]:
    """For each shape, the starts of its occurrences (both views' distance) in each series (int64 arrays)."""

def discovery_need(minsup: float, usable: int) -> int:
    """How many of the usable series a score is taken over."""

def discovery_sample(lengths: Sequence[int], points: int, fewest: int) -> list[int]:
    """The series the first screening compares every candidate with: positions into the usable series, given
    their lengths."""

def discovery_join_pairs(windows: Sequence[int], pairs: int, cells: int) -> list[tuple[int, int]]:
    """The pairs of the sample's series that are joined, given the windows of each: positions into the sample."""

def discovery_join(
    prepared: Sequence[Sequence[float]] | Any,
    flat: Sequence[NDArray[np.uint8]],
    whitened: Sequence[Sequence[float]] | Any,
    white_flat: Sequence[NDArray[np.uint8]],
    phi: float,
    length: int,
    flat_tol: float,
    pairs: Sequence[tuple[int, int]],
    count: int,
) -> tuple[NDArray[np.int64], NDArray[np.int64]]:
    """The places (series, starts) of the closest pairs of windows of each pair of series, pair by pair."""

def discovery_merge(series: Sequence[int], starts: Sequence[int], length: int, share: float) -> list[int]:
    """The positions of the candidates kept when those cut from one place (same series, starts less than
    share * length apart) are merged."""

def discovery_score(distance: NDArray[np.float64], best: NDArray[np.int64], need: int) -> float:
    """The mean distance over the `need` closest series with a match."""

def discovery_closest(distance: NDArray[np.float64], best: NDArray[np.int64], need: int) -> NDArray[np.int64]:
    """The series whose best matches a refinement round averages."""

def discovery_shape(
    parts: Sequence[tuple[NDArray[np.float64], NDArray[np.int64]]], length: int, take: int
) -> NDArray[np.float64]:
    """The refined shape from the partitions' sums of `take` windows; empty when it has no deviation."""

def discovery_places(
    scores: Sequence[float], bests: Sequence[NDArray[np.int64]], length: int, share: float, limit: int, overlap: float
) -> list[int]:
    """The candidates ranked by score, one per place: their positions, best first."""

CHANCE_ATTEMPTS: int

def discovery_flags(
    prepared: Sequence[Sequence[float]] | Any,
    given: Sequence[Sequence[float]] | Any | None,
    whitened: Sequence[Sequence[float]] | Any,
    length: int,
    flat_tol: float,
) -> tuple[list[NDArray[np.uint8]], list[NDArray[np.uint8]], NDArray[np.uint8]]:
    """The flags of each series' flat windows of `length` points (flat in the prepared series, or in the
    given ones when not None), of its flat whitened windows of length - 1 points (uint8 arrays), and
    whether it has a window that is not flat (uint8 array)."""

def discovery_grid(lo: int, hi: int) -> list[int]:
    """The lengths a range's search works at, from lo to hi points."""

def discovery_grid_steps(grid: Sequence[int]) -> tuple[list[int], list[int]]:
    """The grid lengths of the joins and those chance is measured at."""

def discovery_snap(grid: Sequence[int], length: float) -> int:
    """The grid length nearest to `length`, by ratio."""

def discovery_tries(grid: Sequence[int], length: int) -> list[tuple[int, int]]:
    """The (length, anchor) tries of one step in length from `length`."""

def discovery_resized(
    starts: NDArray[np.int64] | Any, sizes: NDArray[np.int64] | Any, from_length: int, length: int, anchor: int
) -> NDArray[np.int64]:
    """Where windows of `from_length` points at `starts` of series of `sizes` points lie at `length`
    points (-1: the series is shorter)."""

def discovery_chance_place(unit: int, j: int, q: int, attempt: int, windows: Sequence[int]) -> tuple[int, int]:
    """Where a chance shape is cut on one try: the position into the sample and the start."""

def discovery_surrogate(window: NDArray[np.float64] | Any, j: int) -> NDArray[np.float64]:
    """The j-th chance shape of the window's length, from that window."""

def discovery_chance(lengths: Sequence[int], scores: Sequence[float], at: Sequence[int]) -> list[float]:
    """The chance score at each of `at`, fitted to the scores measured (those not above 0 left out)."""

def discovery_standing(score: float, length: int, chance: float) -> float:
    """How far a score lies above chance at its length: the lower, the better."""

def discovery_ranked(
    keys: Sequence[float],
    bests: Sequence[NDArray[np.int64]],
    lengths: Sequence[int],
    share: float,
    limit: int,
    overlap: float,
) -> list[int]:
    """Candidates of their own lengths ranked by `keys`, one per place: their positions, best first."""
