"""Mining and discovery on a Dask cluster: `mine` and `discover`, for collections that outgrow one machine.

`mine` returns, bit for bit, what `zef.mine` returns on the same series in one
process, while the series stay where Dask keeps them:

1. Each partition is z-normalised and discretised on its worker, one series
   at a time; the words stay there (one task result per partition).
2. Support is counted level by level: each partition finds the occurrences of
   the level's candidates at those of their prefixes (kept on the workers,
   level after level) and sends its count of series per candidate; the client
   adds the counts up (one reduction per level), keeps the frequent patterns
   and joins them into the next level's candidates.
3. The length and redundancy filters run on the client, over patterns only.
4. Mapping, in batches of patterns sized so that what one task sends back
   stays a small share of its partition: the workers send each series'
   positions and average occurrence; the client adds them up into the
   representative in the order in which the one-process engine adds them; in
   the next pass over the partitions (the one of the next batch) the workers
   send each series' best match against it, and the client sums the NAED in
   the same order and ranks the motifs as the engine does.

`discover` returns what `zef.discover` returns on the same series: each
partition is filled, detrended and measured on its worker and stays there;
the engine's candidates come from the mining above, and the candidate
windows, the screening, the refinement and the occurrences run on the
partitions, which send per-series distances and best matches and exact sums
of windows; the client ranks and combines them.

Lost partitions are recomputed by Dask from the task graph (a worker may die
during a run); a partition that cannot be loaded stops the run with a
`PartitionError` that names it.
"""

from __future__ import annotations

import os
import time
from collections.abc import Sequence
from typing import Any, overload

import dask.array as da
import dask.bag as db
import distributed
import numpy as np
from dask.delayed import delayed

from _zef_cpp import Motif
from zef import _native
from zef.discovery import (
    COARSE_POINTS,
    ENGINE_SUPPORT,
    PLACE_OVERLAP,
    SAME_PLACE,
    SEEDS_PER_PATTERN,
    DiscoveredMotif,
    Discovery,
    check_arguments,
    check_longest,
    fill_gaps,
    full_settings,
    motifs_of,
)
from zef.mining import pattern_limit, whole_number

__all__ = ["PartitionError", "discover", "mine"]

# Occurrences of one pattern in one partition: local series (ascending), the
# end of each series' positions, and the positions.
Occurrences = tuple[Any, Any, Any]
# A partition's table: pattern -> its occurrences there.
Table = dict[bytes, Occurrences]
# A prepared partition: the words of its series.
Prepared = list[bytes]

INT_MAX = 2**31 - 1
# What one mapping task sends back, at most (unless one pattern alone needs
# more): this share of its partition's values, but never less than the floor.
TASK_SHARE = 0.5
TASK_FLOOR = 4 << 20


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
    batch: int | None = None,
    timings: list[tuple[str, float]] | None = None,
    max_patterns: int | None = None,
) -> list[Motif]:
    """The motifs of `series`, ranked by NAED: what `zef.mine` returns on the same series in one process.

    `series` is a 2-D dask array, one series per row, chunked by rows (column
    chunks are joined first), or a dask bag of 1-D arrays, whose order (partition
    by partition, then within each partition) gives the series indexes.
    The work runs on `client` (by default the current one of `distributed`).

    Mapping runs in batches of patterns: by default each batch is as large as
    keeps what one task sends back (the per-series averages, positions and
    best matches of its partition) within `TASK_SHARE` of the partition's
    values (at least `TASK_FLOOR` bytes, and one pattern); `batch` sets the
    number of patterns per batch instead.
    `statistics=False` leaves `average_occurrences` empty (an empty dict) in
    every motif: the client then holds the per-series averages of one batch
    at a time only. Everything else is the same.
    `timings`, when given, receives (stage, seconds) for each stage of the run.
    `max_patterns` and the refusals are those of `zef.mine`: TooManyPatterns when
    more patterns than that pass the support test, and MemoryError when mapping
    the motifs could never fit in the client's memory, both before any mapping.
    """
    clock = _Clock(timings)
    batch = _optional_batch(batch)
    limit = pattern_limit(max_patterns)
    minsup, max_overlap = float(minsup), float(max_overlap)
    seglen, alphabet, min_len, max_len, k = (int(v) for v in (seglen, alphabet, min_len, max_len, k))
    # The settings' errors, before any work: those of discretising one point.
    _native.partitioned.words([[0.0]], seglen, alphabet)
    if client is None:
        client = distributed.get_client()
    parts = _partitions(series)
    return _mine_parts(
        client, parts, minsup, seglen, alphabet, min_len, max_len, max_overlap, k, statistics, batch, clock, limit
    )


def _optional_batch(batch: int | None) -> int | None:
    if batch is None:
        return None
    return _batch(batch)


def _batch(batch: int) -> int:
    count = whole_number(batch)
    if count is None or count < 1:
        raise ValueError(f"batch must be a whole number of 1 or more, not {batch!r}")
    return count


def _mine_parts(
    client: distributed.Client,
    parts: list[Any],
    minsup: float,
    seglen: int,
    alphabet: int,
    min_len: int,
    max_len: int,
    max_overlap: float,
    k: int,
    statistics: bool,
    batch: int | None,
    clock: _Clock,
    max_patterns: int | None,
) -> list[Motif]:
    """`mine` on partitions given as delayed objects (or futures) of rows."""
    prepared = _paced(client, [delayed(_prepare)(part, seglen, alphabet) for part in parts], fetch=False)
    for index, future in enumerate(prepared):
        if future.status == "error":
            raise PartitionError(index, future.exception()) from future.exception()
    clock.lap("prepare")
    counted = client.gather([client.submit(_size, p, pure=False) for p in prepared])
    offsets = np.cumsum([0] + [c[0] for c in counted]).tolist()
    min_count = float(offsets[-1]) * minsup

    # Level by level: the tables stay on the workers, the counts come here.
    tables = [[client.submit(_first_level, p) for p in prepared]]
    levels: list[list[bytes]] = [[], _frequent(client, tables[0], min_count, clock, 1)]
    passed = len(levels[1])
    level = 2
    while levels[level - 1] and not (max_len != 0 and level > max_len) and level < INT_MAX:
        if max_patterns is not None and passed > max_patterns:
            break
        candidates = _native.partitioned.join(levels[level - 1])
        tables.append([client.submit(_extend, p, t, candidates) for p, t in zip(prepared, tables[-1], strict=False)])
        levels.append(_frequent(client, tables[-1], min_count, clock, level))
        passed += len(levels[-1])
        level += 1
    if max_patterns is not None and passed > max_patterns:
        raise _native.TooManyPatterns(
            f"mining found more than {max_patterns} frequent patterns; raise minsup, set max_len, or raise max_patterns"
        )

    # The length filter, longest first, then the redundancy filter.
    survivors = [p for n in range(level - 1, 0, -1) if min_len <= n for p in levels[n]]
    erased = _native.partitioned.redundant(survivors, max_overlap)
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
    _check_mapping_fits(patterns, order, seglen)
    if k < 0:
        raise ValueError("cannot create std::vector larger than max_size()")

    if batch is None:
        # A partition's values: about `seglen` float64 per symbol of its words.
        budgets = [max(TASK_FLOOR, TASK_SHARE * 8 * seglen * c[1]) for c in counted]
        batches = _batches_within(patterns, [_sent_bytes(s, patterns, seglen) for s in sets], budgets)
    else:
        batches = [patterns[first : first + batch] for first in range(0, len(patterns), batch)]
    motifs = _map(client, parts, selected, offsets, order, batches, seglen, statistics, clock)

    ranking = _native.partitioned.rank([m.naed for m in motifs])
    count = len(ranking) if k == 0 else min(len(ranking), k)
    return [motifs[i] for i in ranking[:count]]


def _check_mapping_fits(patterns: list[bytes], order: dict[bytes, list[int]], seglen: int) -> None:
    """The engine's refusal: MemoryError when mapping the motifs (their averages, one list per series
    and one more, of `seglen` points per symbol), plus the copies returned, would need more bytes than
    the machine has."""
    doubles = 0.0
    for pattern in patterns:
        length = float(seglen) * len(pattern)
        if 0 < length <= INT_MAX:
            doubles += (len(order[pattern]) + 1.0) * length
    try:
        memory = float(os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE"))
    except (ValueError, OSError):
        return
    if memory > 0 and 2.0 * doubles * 8 > memory:
        raise MemoryError("std::bad_alloc")


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
    """On a worker: the words of the partition's series (normalised one at a time, and not kept)."""
    words: list[bytes] = _native.partitioned.words(_rows(part), seglen, alphabet)
    return words


def _size(prepared: Prepared) -> tuple[int, int]:
    """The number of series of a prepared partition and of the symbols of their words."""
    return len(prepared), sum(len(word) for word in prepared)


def _first_level(prepared: Prepared) -> Table:
    table: Table = _native.partitioned.first_level(prepared)
    return table


def _extend(prepared: Prepared, previous: Table, candidates: list[bytes]) -> Table:
    table: Table = _native.partitioned.extend(prepared, previous, candidates)
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


def _series_sets(selected: Table) -> dict[bytes, tuple[Any, int]]:
    """For each pattern, its local series and its number of positions."""
    return {pattern: (found[0], len(found[2])) for pattern, found in selected.items()}


def _sent_bytes(sets: dict[bytes, tuple[Any, int]], patterns: list[bytes], seglen: int) -> list[int]:
    """What mapping sends back from one partition for each pattern: per series its
    average occurrence, its index, end of positions and best match; the positions."""
    sent = []
    for pattern in patterns:
        series, positions = sets.get(pattern, ((), 0))
        sent.append(len(series) * (8 * seglen * len(pattern) + 40) + 4 * positions)
    return sent


def _batches_within(patterns: list[bytes], sent: list[list[int]], budgets: list[float]) -> list[list[bytes]]:
    """`patterns` in runs, in order, each as long as keeps what it sends back from every
    partition (sent[partition][pattern]) within that partition's budget; at least one pattern a run."""
    batches: list[list[bytes]] = []
    totals = [0] * len(budgets)
    for i, pattern in enumerate(patterns):
        grown = [total + s[i] for total, s in zip(totals, sent, strict=True)]
        if batches and all(g <= b for g, b in zip(grown, budgets, strict=True)):
            batches[-1].append(pattern)
            totals = grown
        else:
            batches.append([pattern])
            totals = [s[i] for s in sent]
    return batches


def _insertion_orders(wanted: list[bytes], sets: list[dict[bytes, Any]], offsets: list[int]) -> dict[bytes, list[int]]:
    """For each pattern, its series in the order in which the engine's record of it first records them.

    A symbol's record takes its series in ascending order; a longer pattern's
    record takes them as its prefix's record lists them (Motif.table_order),
    keeping those where the pattern occurs.
    """
    order: dict[bytes, list[int]] = {}
    for pattern in wanted:  # shorter patterns first within each run of prefixes: sorted order
        present = [np.asarray(s[pattern][0], dtype=np.int64) + offsets[i] for i, s in enumerate(sets) if pattern in s]
        series = np.concatenate(present).tolist() if present else []
        if len(pattern) == 1:
            order[pattern] = series
            continue
        prefix = order[pattern[:-1]]
        listed = [prefix[i] for i in _native.partitioned.table_order(prefix)]
        occurring = set(series)
        order[pattern] = [s for s in listed if s in occurring]
    return order


def _mapping(
    part: Any, selected: Table, patterns: list[bytes], representatives: dict[bytes, Any], seglen: int
) -> tuple[dict[bytes, Any], dict[bytes, Any]]:
    """On a worker, one pass over the partition: the averages of `patterns` and the best
    matches of the patterns of `representatives` (the batch before)."""
    rows = _rows(part)
    return _averages(rows, selected, patterns, seglen), _bests(rows, selected, representatives, seglen)


def _averages(rows: Any, selected: Table, patterns: list[bytes], seglen: int) -> dict[bytes, Any]:
    """Each pattern's local series, positions and average occurrences (a series x points array)."""
    present = [p for p in patterns if p in selected]
    if not present:
        return {}
    averages = _native.partitioned.averages(
        rows, [selected[p] for p in present], seglen, [seglen * len(p) for p in present]
    )
    return {p: (selected[p], values) for p, values in zip(present, averages, strict=True)}


def _bests(rows: Any, selected: Table, representatives: dict[bytes, Any], seglen: int) -> dict[bytes, Any]:
    """Each pattern's local series with the distance and point of their best matches."""
    present = [p for p in representatives if p in selected]
    if not present:
        return {}
    bests = _native.partitioned.bests(
        rows,
        [selected[p] for p in present],
        seglen,
        [seglen * len(p) for p in present],
        [representatives[p] for p in present],
    )
    return {p: (selected[p][0], *best) for p, best in zip(present, bests, strict=True)}


def _paced(client: distributed.Client, tasks: list[Any], fetch: bool) -> list[Any]:
    """Computes `tasks` (one delayed object per partition), no more at once than the cluster
    has threads: a worker then loads one partition at a time (Dask would start loading the
    next one while the current one is still being worked on). Returns their futures in
    order, finished; or, with `fetch`, their results, each fetched as soon as it is
    ready and then released, so that a worker does not hold the results of all its
    partitions at once.
    """
    width = max(1, sum(client.nthreads().values()))
    results: list[Any] = [None] * len(tasks)
    place: dict[int, int] = {}
    running = distributed.as_completed()

    def start(index: int) -> None:
        future = client.compute(tasks[index])
        place[id(future)] = index
        results[index] = future
        running.add(future)

    for index in range(min(width, len(tasks))):
        start(index)
    following = min(width, len(tasks))
    for future in running:
        index = place.pop(id(future))
        if fetch:
            results[index] = future.result()
        del future
        if following < len(tasks):
            start(following)
            following += 1
    return results


def _map(
    client: distributed.Client,
    parts: list[Any],
    selected: list[Any],
    offsets: list[int],
    order: dict[bytes, list[int]],
    batches: list[list[bytes]],
    seglen: int,
    statistics: bool,
    clock: _Clock,
) -> list[Motif]:
    """The motifs of the batches' patterns, in order, mapped: per-series values from the workers,
    summed here in the engine's order.

    Each pass reads the partitions again and normalises their series one at a time (a
    worker holds only words and occurrences between passes); it sends back the averages
    of one batch and the best matches of the batch before, against the representatives
    made from that batch's averages: one pass more than there are batches.
    """
    motifs: list[Motif] = []
    waiting: dict[bytes, Motif] = {}  # restored from their averages, without their best matches
    for patterns in [*batches, []]:
        for pattern in patterns:
            if seglen * len(pattern) > INT_MAX:
                raise ValueError("cannot create std::vector larger than max_size()")
        representatives = {p: m.representative for p, m in waiting.items()}
        passing = [
            delayed(_mapping)(p, s, patterns, representatives, seglen) for p, s in zip(parts, selected, strict=True)
        ]
        found = _paced(client, passing, fetch=True)
        clock.lap("map workers")
        bests = [f[1] for f in found]
        averages = [f[0] for f in found]
        del found
        _finish(waiting, bests, offsets)
        motifs.extend(waiting.values())
        del bests
        waiting = _restore(patterns, averages, offsets, order, seglen, statistics)
        clock.lap("map client")
    return motifs


def _restore(
    patterns: list[bytes],
    found: list[dict[bytes, Any]],
    offsets: list[int],
    order: dict[bytes, list[int]],
    seglen: int,
    statistics: bool,
) -> dict[bytes, Motif]:
    """The motifs of `patterns` from the partitions' averages, their representatives summed in the engine's order."""
    motifs: dict[bytes, Motif] = {}
    for pattern in patterns:
        # The partitions' series, positions and averages end to end, in series order.
        ids, ends, places, averages = [], [], [], []
        base = 0
        for offset, part in zip(offsets[:-1], found, strict=True):
            if pattern not in part:
                continue
            (local, local_ends, local_places), values = part.pop(pattern)
            ids.append(np.asarray(local, dtype=np.int64) + offset)
            ends.append(np.asarray(local_ends, dtype=np.int64) + base)
            places.append(local_places)
            averages.append(values)
            base += len(local_places)
        series = np.concatenate(ids)
        inserted = np.asarray(order[pattern], dtype=np.int64)
        motifs[pattern] = _native.partitioned.restore(
            pattern,
            seglen,
            inserted,
            np.searchsorted(series, inserted),
            np.concatenate(ends),
            np.concatenate(places),
            np.concatenate(averages),
            statistics,
        )
    return motifs


def _finish(motifs: dict[bytes, Motif], bests: list[dict[bytes, Any]], offsets: list[int]) -> None:
    """Completes `motifs` with their best matches, from the partitions' in series order."""
    for pattern, motif in motifs.items():
        present = [(offset, part[pattern]) for offset, part in zip(offsets[:-1], bests, strict=True) if pattern in part]
        _native.partitioned.finish(
            motif,
            np.concatenate([np.asarray(b[0], dtype=np.int64) + offset for offset, b in present]),
            np.concatenate([b[1] for _, b in present]),
            np.concatenate([b[2] for _, b in present]),
        )


# A partition prepared for discovery, kept on its worker: the detrended series
# that take part (filled, at least `length` points), the flags of their flat
# windows, and what the client needs to know of each series of the partition.
DiscoveryPart = tuple[list[Any], list[Any], dict[str, Any]]


def discover(
    series: Any,
    *,
    length: int,
    minsup: float = 0.5,
    k: int = 10,
    detrend: bool | int = True,
    radius: float = 1.0,
    flat_tol: float = 0.05,
    seglen: int | None = None,
    alphabet: int | Sequence[int] = (3, 4),
    min_len: int | None = None,
    max_len: int | None = None,
    max_overlap: float = 0.9,
    iterations: int = 2,
    pool: int | None = None,
    max_patterns: int | None = None,
    client: distributed.Client | None = None,
    batch: int = 256,
    timings: list[tuple[str, float]] | None = None,
) -> Discovery:
    """The `k` best motifs of `length` points in `series`: what `zef.discover` returns on the same series.

    `series` is a 2-D dask array, one series per row, chunked by rows, or a
    dask bag of 1-D arrays (see `mine`); the other arguments are those of
    `zef.discover`, whose result this equals: the same motifs with the same
    ranks, best matches, occurrences, patterns, supporting series, scores,
    shapes and distances, and the same short and flat series and settings.
    The work runs on `client` (by default the current one of `distributed`),
    one task per partition at a time, each on one thread of its worker.

    Each partition is filled, detrended and measured where it lives and stays
    there; the engine's candidates come from the same distributed mining as
    `mine`; screening, refinement and the search for occurrences run on the
    partitions, which send per-series distances and best matches and, for a
    refined shape, the exact sums of their closest windows. The client ranks
    and combines those alone. `batch` candidate shapes are screened per task
    (the mining maps its patterns in batches sized as `mine` sizes them);
    `timings`, when given, receives (stage, seconds) for each stage.
    The series are fetched one by one only when the result is plotted.
    """
    clock = _Clock(timings)
    length = check_arguments(length, minsup, k, radius, flat_tol, iterations)
    limit = pattern_limit(max_patterns)
    settings = full_settings(
        length, minsup, k, detrend, radius, flat_tol, seglen, alphabet, min_len, max_len, max_overlap, iterations, pool
    )
    batch = _batch(batch)
    if client is None:
        client = distributed.get_client()
    parts = _partitions(series)
    prepare = delayed(_discovery_prepare)
    states = _paced(
        client, [prepare(part, length, settings["detrend"], float(flat_tol)) for part in parts], fetch=False
    )
    for index, future in enumerate(states):
        if future.status == "error":
            raise PartitionError(index, future.exception()) from future.exception()
    infos = client.gather([client.submit(_info, s) for s in states])
    clock.lap("prepare")

    sizes = np.concatenate([i["sizes"] for i in infos]).astype(np.int64)
    infinite = np.flatnonzero(np.concatenate([i["infinite"] for i in infos]))
    if infinite.size:
        raise ValueError(f"series {int(infinite[0])} holds an infinite value")
    if sizes.size == 0:
        raise ValueError("no series given")
    check_longest(length, int(sizes.max()))
    taking = np.flatnonzero(sizes >= length).tolist()
    short = np.flatnonzero(sizes < length).tolist()
    offsets = np.concatenate([i["offsets"] for i in infos]).astype(np.int64).tolist()
    usable = [np.asarray(i["usable"], dtype=bool) for i in infos]
    taken_starts = np.cumsum([0] + [u.size for u in usable]).tolist()
    flat_series = [taking[j] for j in np.flatnonzero(~np.concatenate(usable)).tolist()]
    usable_count = int(sum(u.sum() for u in usable))

    def result(motifs: list[DiscoveredMotif]) -> Discovery:
        remote = _RemoteSeries(client, parts, [i["sizes"].size for i in infos])
        return Discovery(motifs, length, remote, short, flat_series, settings)

    if usable_count == 0:
        return result([])
    need = _native.partitioned.discovery_need(float(minsup), usable_count)
    run = _Partitions(client, states, taken_starts, length, float(flat_tol))

    # Candidates: the engine on each partition's usable series, as `mine` runs it.
    usable_local = [np.flatnonzero(u) for u in usable]
    engine_starts = np.cumsum([0] + [u.size for u in usable_local])
    engine_parts = [delayed(_usable_rows)(s) for s in states]
    shapes: list[Any] = []
    patterns: list[bytes] = []
    for letters in settings["alphabet"]:
        motifs = _mine_parts(
            client,
            engine_parts,
            float(minsup) * ENGINE_SUPPORT,
            settings["seglen"],
            int(letters),
            settings["min_len"],
            settings["max_len"],
            float(max_overlap),
            0,
            False,
            None,
            clock,
            limit,
        )
        for shape, pattern in run.seeds(motifs, usable_local, engine_starts):
            shapes.append(shape)
            patterns.append(pattern)
        clock.lap(f"candidates of {letters} letters")

    # Screening, on block means when the shapes are long.
    factor = max(1, length // COARSE_POINTS) if COARSE_POINTS > 0 else 1
    screened = [_native.partitioned.discovery_coarse_shape(s, factor) if factor > 1 else s for s in shapes]
    scores = [2.0] * len(shapes)
    bests: list[Any] = [np.empty(0, dtype=np.int64)] * len(shapes)
    compared = [i for i, s in enumerate(screened) if s.size]
    for first in range(0, len(compared), batch):
        some = compared[first : first + batch]
        distances, best = run.evaluate(np.array([screened[i] for i in some]), factor)
        for row, i in enumerate(some):
            scores[i] = _native.partitioned.discovery_score(distances[row], best[row], need)
            bests[i] = best[row]
    kept = _native.partitioned.discovery_places(scores, bests, length, SAME_PLACE, int(settings["pool"]), 0.5)
    del bests
    clock.lap("screen")

    # Refinement, every candidate of the pool in step: its closest windows
    # summed exactly on the partitions, the mean shape evaluated again.
    current = run.candidates([shapes[i] for i in kept], need)
    best_of = list(current)
    active = list(range(len(kept)))
    for _ in range(iterations):
        closest = {i: _native.partitioned.discovery_closest(current[i][1], current[i][2], need) for i in active}
        active = [i for i in active if closest[i].size]
        sums = run.sums([(closest[i], current[i][2][closest[i]]) for i in active])
        refined = {
            i: _native.partitioned.discovery_shape([p[n] for p in sums], length, closest[i].size)
            for n, i in enumerate(active)
        }
        active = [i for i in active if refined[i].size]
        for i, candidate in zip(active, run.candidates([refined[i] for i in active], need), strict=True):
            current[i] = candidate
            if candidate[3] < best_of[i][3]:
                best_of[i] = candidate
    final = _native.partitioned.discovery_places(
        [c[3] for c in best_of], [c[2] for c in best_of], length, SAME_PLACE, int(k), PLACE_OVERLAP
    )
    clock.lap("refine")

    chosen = [best_of[i] for i in final]
    found = run.occurrences([c[0] for c in chosen], float(radius))
    raw = [
        {
            "best": c[2],
            "distance": c[1],
            "occurrences": occurrences,
            "score": c[3],
            "pattern": patterns[kept[i]],
            "shape": c[0],
        }
        for i, c, occurrences in zip(final, chosen, found, strict=True)
    ]
    clock.lap("occurrences")
    return result(motifs_of(raw, taking, offsets, length, float(radius)))


def _discovery_prepare(part: Any, length: int, window: int, flat_tol: float) -> DiscoveryPart:
    """On a worker: the partition's series filled; those that take part detrended and measured."""
    rows = _rows(part)
    sizes, offsets, infinite, taken = [], [], [], []
    for row in rows:
        bad = bool(np.isinf(row).any())
        values, offset = fill_gaps(row)
        sizes.append(len(values))
        offsets.append(offset)
        infinite.append(bad)
        if len(values) >= length and not bad:
            taken.append(values)
    prepared, flat, usable = _native.partitioned.discovery_prepare(taken, length, window, flat_tol)
    info = {
        "sizes": np.array(sizes, dtype=np.int64),
        "offsets": np.array(offsets, dtype=np.int64),
        "infinite": np.array(infinite, dtype=bool),
        "usable": usable,
    }
    return prepared, flat, info


def _info(part: DiscoveryPart) -> dict[str, Any]:
    return part[2]


def _usable_rows(part: DiscoveryPart) -> list[Any]:
    """On a worker: the detrended series that the engine mines (those with a window that is not flat)."""
    return [values for values, usable in zip(part[0], part[2]["usable"], strict=True) if usable]


def _part_seeds(part: DiscoveryPart, length: int, flat_tol: float, motifs: list[tuple[Any, ...]]) -> list[Any]:
    return _native.partitioned.discovery_seeds(part[0], part[1], length, flat_tol, SEEDS_PER_PATTERN, motifs)


def _part_evaluate(part: DiscoveryPart, length: int, flat_tol: float, shapes: Any, factor: int) -> tuple[Any, Any]:
    return _native.partitioned.discovery_evaluate(part[0], part[1], length, flat_tol, shapes, factor)


def _part_sums(part: DiscoveryPart, length: int, flat_tol: float, chosen: list[tuple[Any, Any]]) -> list[Any]:
    return _native.partitioned.discovery_sums(
        part[0], part[1], length, flat_tol, [c[0] for c in chosen], [c[1] for c in chosen]
    )


def _part_occurrences(part: DiscoveryPart, length: int, flat_tol: float, shapes: Any, radius: float) -> list[Any]:
    return _native.partitioned.discovery_occurrences(part[0], part[1], length, flat_tol, shapes, radius)


# A candidate on the client: its shape, and per taken series the distance and
# start of its best match; then its score.
Candidate = tuple[Any, Any, Any, float]


class _Partitions:
    """The prepared partitions of one discovery run, and the steps that go over all of them."""

    def __init__(
        self, client: distributed.Client, states: list[Any], starts: list[int], length: int, flat_tol: float
    ) -> None:
        self.client, self.states, self.starts = client, states, starts
        self.length, self.flat_tol = length, flat_tol

    def _each(self, function: Any, *args: Any) -> list[Any]:
        answers: list[Any] = self.client.gather(
            [self.client.submit(function, s, self.length, self.flat_tol, *args) for s in self.states]
        )
        return answers

    def _split(self, series: Any) -> list[Any]:
        """Positions of `series` (taken indexes, ascending) that fall in each partition."""
        return [np.searchsorted(series, self.starts[p : p + 2]) for p in range(len(self.states))]

    def seeds(self, motifs: list[Motif], usable_local: list[Any], engine_starts: Any) -> list[tuple[Any, bytes]]:
        """The candidate shapes of the engine's motifs, in their order: from each, its best matches
        closest to its representative whose windows are not flat."""
        requests: list[list[tuple[Any, ...]]] = [[] for _ in self.states]
        for motif in motifs:
            matches = motif.best_matches
            series = np.fromiter(matches.keys(), dtype=np.int64, count=len(matches))
            points = np.fromiter(matches.values(), dtype=np.int64, count=len(matches))
            order = np.argsort(series, kind="stable")
            series, points = series[order], points[order]
            representative = np.asarray(motif.representative, dtype=np.float64)
            cuts = np.searchsorted(series, engine_starts)
            for p in range(len(self.states)):
                local = series[cuts[p] : cuts[p + 1]] - engine_starts[p]
                requests[p].append(
                    (usable_local[p][local], points[cuts[p] : cuts[p + 1]], representative, motif.length)
                )
        answers = self.client.gather(
            [
                self.client.submit(_part_seeds, s, self.length, self.flat_tol, r)
                for s, r in zip(self.states, requests, strict=True)
            ]
        )
        seeds: list[tuple[Any, bytes]] = []
        for m, motif in enumerate(motifs):
            found = []
            for p, answer in enumerate(answers):
                gaps, series, points, shapes = answer[m]
                for gap, s, point, shape in zip(gaps.tolist(), series.tolist(), points.tolist(), shapes, strict=True):
                    found.append((gap, self.starts[p] + s, point, shape))
            found.sort(key=lambda f: (f[0], f[1], f[2]))
            pattern = motif.pattern.encode("latin-1")
            seeds.extend((np.array(f[3]), pattern) for f in found[:SEEDS_PER_PATTERN])
        return seeds

    def evaluate(self, shapes: Any, factor: int) -> tuple[Any, Any]:
        """Distances and starts of every shape's best match in every taken series (shapes x series)."""
        answers = self._each(_part_evaluate, shapes, factor)
        return np.concatenate([a[0] for a in answers], axis=1), np.concatenate([a[1] for a in answers], axis=1)

    def candidates(self, shapes: list[Any], need: int) -> list[Candidate]:
        if not shapes:
            return []
        distances, best = self.evaluate(np.array(shapes), 1)
        return [
            (shape, distances[i], best[i], _native.partitioned.discovery_score(distances[i], best[i], need))
            for i, shape in enumerate(shapes)
        ]

    def sums(self, chosen: list[tuple[Any, Any]]) -> list[list[Any]]:
        """For each (taken series, starts): each partition's exact sums of those windows of its own."""
        requests: list[list[tuple[Any, Any]]] = [[] for _ in self.states]
        for series, starts in chosen:
            order = np.argsort(series, kind="stable")
            series, starts = series[order], starts[order]
            for p, (first, last) in enumerate(self._split(series)):
                requests[p].append((series[first:last] - self.starts[p], starts[first:last]))
        answers: list[list[Any]] = self.client.gather(
            [
                self.client.submit(_part_sums, s, self.length, self.flat_tol, r)
                for s, r in zip(self.states, requests, strict=True)
            ]
        )
        return answers

    def occurrences(self, shapes: list[Any], radius: float) -> list[list[Any]]:
        """For each shape, the starts of its occurrences in every taken series."""
        if not shapes:
            return []
        answers = self._each(_part_occurrences, np.array(shapes), radius)
        return [[starts for answer in answers for starts in answer[i]] for i in range(len(shapes))]


def _filled_row(part: Any, index: int) -> tuple[Any, int]:
    return fill_gaps(np.asarray(_rows(part)[index], dtype=np.float64))


class _RemoteSeries(Sequence[tuple[Any, int]]):
    """The series of a collection on the cluster as discovery fills them, each fetched when asked for (plots)."""

    def __init__(self, client: distributed.Client, parts: list[Any], counts: list[int]) -> None:
        self.client, self.parts = client, parts
        self.starts = np.cumsum([0] + counts)

    def __len__(self) -> int:
        return int(self.starts[-1])

    @overload
    def __getitem__(self, index: int) -> tuple[Any, int]: ...
    @overload
    def __getitem__(self, index: slice) -> list[tuple[Any, int]]: ...
    def __getitem__(self, index: int | slice) -> tuple[Any, int] | list[tuple[Any, int]]:
        if isinstance(index, slice):
            return [self[i] for i in range(len(self))[index]]
        if not -len(self) <= index < len(self):
            raise IndexError("series index out of range")
        index %= len(self)
        p = int(np.searchsorted(self.starts, index, side="right")) - 1
        row: tuple[Any, int] = self.client.compute(
            delayed(_filled_row)(self.parts[p], index - int(self.starts[p]))
        ).result()
        return row
