"""Mining on a Dask cluster: `mine`, for collections that outgrow one machine.

`mine` returns, bit for bit, what `zef.mine` returns on the same series in one
process, while the series stay where Dask keeps them:

1. Each partition is z-normalised and discretised on its worker; the
   normalised values and the words stay there (one task result per partition).
2. Support is counted level by level: each partition finds the occurrences of
   the level's candidates at those of their prefixes (kept on the workers,
   level after level) and sends its count of series per candidate; the client
   adds the counts up (one reduction per level), keeps the frequent patterns
   and joins them into the next level's candidates.
3. The length and redundancy filters run on the client, over patterns only.
4. Mapping, in batches of patterns: the workers send each series' positions
   and average occurrence; the client adds them up into the representative in
   the order in which the one-process engine adds them; the workers then send
   each series' best match against it, and the client sums the NAED in the
   same order and ranks the motifs as the engine does.

Lost partitions are recomputed by Dask from the task graph (a worker may die
during a run); a partition that cannot be loaded stops the run with a
`PartitionError` that names it.
"""

from __future__ import annotations

import time
from typing import Any

import dask.array as da
import dask.bag as db
import distributed
import numpy as np
from dask.delayed import delayed

from _zef_cpp import Motif
from zef import _native

__all__ = ["PartitionError", "mine"]

# Occurrences of one pattern in one partition: local series (ascending), the
# end of each series' positions, and the positions.
Occurrences = tuple[Any, Any, Any]
# A partition's table: pattern -> its occurrences there.
Table = dict[bytes, Occurrences]
# A prepared partition: its normalised series (for mapping) or its words (for mining).
Prepared = tuple[list[Any], list[bytes]]

INT_MAX = 2**31 - 1


class PartitionError(RuntimeError):
    """A partition of the collection could not be loaded; `partition` is its index."""

    def __init__(self, partition: int, cause: BaseException) -> None:
        super().__init__(
            f"partition {partition} of the collection could not be loaded: {type(cause).__name__}: {cause}"
        )
        self.partition = partition


def mine(
    series: Any,
    minsup: float,
    seglen: int,
    alphabet: int,
    min_len: int = 3,
    max_len: int = 0,
    max_overlap: float = 0.9,
    k: int = 0,
    *,
    statistics: bool = True,
    client: distributed.Client | None = None,
    batch: int = 256,
    timings: list[tuple[str, float]] | None = None,
) -> list[Motif]:
    """The motifs of `series`, ranked by NAED: what `zef.mine` returns on the same series in one process.

    `series` is a 2-D dask array, one series per row, chunked by rows (column
    chunks are joined first), or a dask bag of 1-D arrays, whose order (partition
    by partition, then within each partition) gives the series indexes.
    The work runs on `client` (by default the current one of `distributed`).

    `statistics=False` leaves `average_occurrences` empty (an empty dict) in
    every motif: the client then holds the per-series averages of one batch
    of `batch` patterns at a time only. Everything else is the same.
    `timings`, when given, receives (stage, seconds) for each stage of the run.
    """
    clock = _Clock(timings)
    if isinstance(batch, bool) or not isinstance(batch, int) or batch < 1:
        raise ValueError(f"batch must be a whole number of 1 or more, not {batch!r}")
    minsup, max_overlap = float(minsup), float(max_overlap)
    seglen, alphabet, min_len, max_len, k = (int(v) for v in (seglen, alphabet, min_len, max_len, k))
    # The settings' errors, before any work: those of discretising one point.
    _native.dask_prepare([[0.0]], seglen, alphabet)
    if client is None:
        client = distributed.get_client()
    parts = _partitions(series)

    prepared = client.compute([delayed(_prepare)(part, seglen, alphabet) for part in parts])
    distributed.wait(prepared)
    for index, future in enumerate(prepared):
        if future.status == "error":
            raise PartitionError(index, future.exception()) from future.exception()
    clock.lap("prepare")
    sizes = client.gather([client.submit(_size, p, pure=False) for p in prepared])
    offsets = np.cumsum([0] + sizes).tolist()
    min_count = float(offsets[-1]) * minsup

    # Level by level: the tables stay on the workers, the counts come here.
    tables = [[client.submit(_first_level, p) for p in prepared]]
    levels: list[list[bytes]] = [[], _frequent(client, tables[0], min_count, clock, 1)]
    level = 2
    while levels[level - 1] and not (max_len != 0 and level > max_len) and level < INT_MAX:
        candidates = _native.dask_join(levels[level - 1])
        tables.append([client.submit(_extend, p, t, candidates) for p, t in zip(prepared, tables[-1], strict=False)])
        levels.append(_frequent(client, tables[-1], min_count, clock, level))
        level += 1

    # The length filter, longest first, then the redundancy filter.
    survivors = [p for n in range(level - 1, 0, -1) if min_len <= n for p in levels[n]]
    erased = _native.dask_redundant(survivors, max_overlap)
    patterns = sorted({p for p, gone in zip(survivors, erased, strict=False) if not gone})
    clock.lap("filter")
    if not patterns:
        return []

    # The occurrences of the motifs' patterns and of their prefixes, per partition.
    wanted = sorted({p[:n] for p in patterns for n in range(1, len(p) + 1)})
    selected = [
        client.submit(_select, wanted, *(level_tables[i] for level_tables in tables)) for i in range(len(prepared))
    ]
    del tables
    sets = client.gather([client.submit(_series_sets, s) for s in selected])
    order = _insertion_orders(wanted, sets, offsets)
    clock.lap("orders")

    motifs: list[Motif] = []
    for first in range(0, len(patterns), batch):
        chunk = patterns[first : first + batch]
        # The normalised series are made again from the partitions for each batch, and
        # dropped after it: a worker holds words and occurrences between batches.
        normalised = client.compute([delayed(_normalise)(part, seglen, alphabet) for part in parts])
        motifs.extend(_map_batch(client, normalised, selected, offsets, order, chunk, seglen, statistics))
        del normalised
        clock.lap("map")

    ranking = _native.dask_rank([m.naed for m in motifs])
    if k < 0:
        raise ValueError("cannot create std::vector larger than max_size()")
    count = len(ranking) if k == 0 else min(len(ranking), k)
    return [motifs[i] for i in ranking[:count]]


class _Clock:
    """Wall time between laps, recorded when a list is given."""

    def __init__(self, laps: list[tuple[str, float]] | None) -> None:
        self.laps = laps
        self.last = time.perf_counter()

    def lap(self, stage: str) -> None:
        now = time.perf_counter()
        if self.laps is not None:
            self.laps.append((stage, now - self.last))
        self.last = now


def _partitions(series: Any) -> list[Any]:
    """One delayed object per partition, in series order."""
    if isinstance(series, da.Array):
        if series.ndim != 2:
            raise TypeError(f"series: a dask array must have 2 dimensions (one series per row), not {series.ndim}")
        if series.numblocks[1] > 1:
            series = series.rechunk({1: -1})
        return list(series.to_delayed().ravel())
    if isinstance(series, db.Bag):
        return list(series.to_delayed())
    raise TypeError(f"series must be a 2-D dask array or a dask bag of 1-D arrays, not {type(series).__name__}")


def _rows(part: Any) -> Any:
    """A partition's series as float64 arrays."""
    if isinstance(part, np.ndarray) and part.ndim == 2:
        return np.ascontiguousarray(part, dtype=np.float64)
    rows = []
    for index, row in enumerate(part):
        values = np.ascontiguousarray(row, dtype=np.float64)
        if values.ndim != 1:
            raise TypeError(f"series {index} of the partition has {values.ndim} dimensions, not 1")
        rows.append(values)
    return rows


def _prepare(part: Any, seglen: int, alphabet: int) -> Prepared:
    """On a worker: the words of the partition's series; the normalised values are made again for mapping."""
    words: list[bytes] = _native.dask_prepare(_rows(part), seglen, alphabet)[1]
    return [], words


def _normalise(part: Any, seglen: int, alphabet: int) -> Prepared:
    """On a worker: the partition's series z-normalised, as they were for their words."""
    normalised: list[Any] = _native.dask_prepare(_rows(part), seglen, alphabet)[0]
    return normalised, []


def _size(prepared: Prepared) -> int:
    return len(prepared[1])


def _first_level(prepared: Prepared) -> Table:
    table: Table = _native.dask_first_level(prepared[1])
    return table


def _extend(prepared: Prepared, previous: Table, candidates: list[bytes]) -> Table:
    table: Table = _native.dask_extend(prepared[1], previous, candidates)
    return table


def _counts(table: Table) -> dict[bytes, int]:
    return {pattern: len(found[0]) for pattern, found in table.items()}


def _frequent(
    client: distributed.Client, tables: list[Any], min_count: float, clock: _Clock, level: int
) -> list[bytes]:
    """The patterns of one level that occur in enough series, in key order: the level's one reduction."""
    totals: dict[bytes, int] = {}
    gathered = client.gather([client.submit(_counts, t) for t in tables])
    clock.lap(f"level {level} count")
    for counts in gathered:
        for pattern, count in counts.items():
            totals[pattern] = totals.get(pattern, 0) + count
    # The engine's test: a pattern occurs somewhere, and in at least min_count series.
    frequent = [p for p in sorted(totals) if not (float(totals[p]) < 1.0 or min_count > float(totals[p]))]
    clock.lap(f"level {level} reduce")
    return frequent


def _select(wanted: list[bytes], *tables: Table) -> Table:
    """On a worker: the occurrences of the wanted patterns, from the tables of every level."""
    selected: Table = {}
    for pattern in wanted:
        found = tables[len(pattern) - 1].get(pattern)
        if found is not None:
            selected[pattern] = found
    return selected


def _series_sets(selected: Table) -> dict[bytes, Any]:
    return {pattern: found[0] for pattern, found in selected.items()}


def _insertion_orders(wanted: list[bytes], sets: list[dict[bytes, Any]], offsets: list[int]) -> dict[bytes, list[int]]:
    """For each pattern, its series in the order in which the engine's record of it first records them.

    A symbol's record takes its series in ascending order; a longer pattern's
    record takes them as its prefix's record lists them (Motif.table_order),
    keeping those where the pattern occurs.
    """
    order: dict[bytes, list[int]] = {}
    for pattern in wanted:  # shorter patterns first within each run of prefixes: sorted order
        present = [np.asarray(s[pattern], dtype=np.int64) + offsets[i] for i, s in enumerate(sets) if pattern in s]
        series = np.concatenate(present).tolist() if present else []
        if len(pattern) == 1:
            order[pattern] = series
            continue
        prefix = order[pattern[:-1]]
        listed = [prefix[i] for i in _native.dask_table_order(prefix)]
        occurring = set(series)
        order[pattern] = [s for s in listed if s in occurring]
    return order


def _averages(prepared: Prepared, selected: Table, patterns: list[bytes], seglen: int) -> dict[bytes, Any]:
    """On a worker: each pattern's local series, positions and average occurrences."""
    result = {}
    for pattern in patterns:
        found = selected.get(pattern)
        if found is not None:
            averages = _native.dask_averages(prepared[0], found, seglen, seglen * len(pattern))
            result[pattern] = (found, averages)
    return result


def _bests(
    prepared: Prepared, selected: Table, representatives: dict[bytes, list[float]], seglen: int
) -> dict[bytes, Any]:
    """On a worker: each pattern's local series with the distance and point of their best matches."""
    result = {}
    for pattern, representative in representatives.items():
        found = selected.get(pattern)
        if found is not None:
            result[pattern] = (
                found[0],
                *_native.dask_bests(prepared[0], found, seglen, seglen * len(pattern), representative),
            )
    return result


def _map_batch(
    client: distributed.Client,
    prepared: list[Any],
    selected: list[Any],
    offsets: list[int],
    order: dict[bytes, list[int]],
    patterns: list[bytes],
    seglen: int,
    statistics: bool,
) -> list[Motif]:
    """The motifs of `patterns`, mapped: per-series values from the workers, summed here in the engine's order."""
    for pattern in patterns:
        if seglen * len(pattern) > INT_MAX:
            raise ValueError("cannot create std::vector larger than max_size()")
    parts = client.gather(
        [client.submit(_averages, p, s, patterns, seglen) for p, s in zip(prepared, selected, strict=False)]
    )
    motifs: dict[bytes, Motif] = {}
    for pattern in patterns:
        positions: dict[int, list[int]] = {}
        averages: dict[int, Any] = {}
        for offset, part in zip(offsets, parts, strict=False):
            if pattern not in part:
                continue
            (local, ends, places), values = part[pattern]
            begin = 0
            for j, series in enumerate(local.tolist()):
                positions[offset + series] = places[begin : ends[j]].tolist()
                averages[offset + series] = values[j]
                begin = int(ends[j])
        inserted = order[pattern]
        motifs[pattern] = _native.dask_restore(
            pattern, seglen, inserted, [positions[s] for s in inserted], averages, statistics
        )
        del averages
    del parts
    representatives = {p: m.representative for p, m in motifs.items()}
    bests = client.gather(
        [client.submit(_bests, p, s, representatives, seglen) for p, s in zip(prepared, selected, strict=False)]
    )
    for pattern, motif in motifs.items():
        best: dict[int, tuple[float, int]] = {}
        for offset, part in zip(offsets, bests, strict=False):
            if pattern in part:
                local, distances, points = part[pattern]
                for series, distance, point in zip(local.tolist(), distances.tolist(), points.tolist(), strict=False):
                    best[offset + series] = (distance, point)
        _native.dask_finish(motif, best)
    return [motifs[p] for p in patterns]
