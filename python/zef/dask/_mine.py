"""`zef.dask.mine`: the engine's mining with the series kept on the workers.

Each partition is discretised on its worker and its words stay there. Support
is counted level by level: each partition finds the occurrences of the level's
candidates at those of their prefixes (kept on the workers, level after level)
and sends its count of series per candidate; the client adds the counts up,
keeps the frequent patterns and joins them into the next level's candidates.
The length and redundancy filters run on the client, over patterns only; the
mapping runs in batches (`zef.dask._mapping`).
"""

from __future__ import annotations

import math
from typing import Any

import distributed
import numpy as np
from dask.delayed import delayed

from _zef_cpp import Motif
from zef._validation import (
    Progress,
    batch_size,
    check_progress,
    float_setting,
    int_setting,
    longest_pattern,
    pattern_limit,
    top_count,
)
from zef.dask import _mapping, _steps
from zef.dask._mapping import Table, batches_within, insertion_orders, map_motifs, sent_bytes
from zef.dask._partitions import checksum, partitions, rows
from zef.dask._run import Run

__all__ = ["mine", "mine_partitions"]

INT_MAX = 2**31 - 1

# A prepared partition, kept on its worker: the words of its series and the checksum of their values.
Prepared = tuple[list[bytes], int]


def mine(
    series: Any,
    minsup: float,
    seglen: int,
    alphabet: int,
    min_len: int = 3,
    max_len: int | None = 0,
    max_overlap: float = 0.9,
    k: int | None = 0,
    *,
    statistics: bool = True,
    client: distributed.Client | None = None,
    batch: int | None = None,
    progress: Progress | None = None,
    timings: list[tuple[str, float]] | None = None,
    max_patterns: int | None = None,
) -> list[Motif]:
    """The motifs of `series`, ranked by NAED: what `zef.mine` returns on the same series in one process.

    The series stay where Dask keeps them; the client sees counts, patterns
    and per-series values of one batch of motifs at a time.

    Parameters
    ----------
    series : dask array, dask bag or array_like
        A 2-D dask array, one series per row, chunked by rows (column chunks
        are joined first), or 3-D of shape (n_series, 1, n_points); a dask
        bag of 1-D arrays, whose order (partition by partition, then within
        each partition) gives the series indexes; or anything `zef.mine`
        takes, split into as many partitions as the cluster has threads.
        A partition must give the same values on every read: it is read once
        to mine and again for each batch of motifs.
    minsup, seglen, alphabet, min_len, max_len, max_overlap, k
        As in `zef.mine`.
    statistics : bool, default True
        False leaves `average_occurrences` empty (an empty dict) in every
        motif: the client then holds the per-series averages of one batch at
        a time only. Everything else is the same.
    client : distributed.Client, optional
        Where the work runs; by default the current client.
    batch : int, optional
        Patterns mapped per pass over the partitions. By default each batch
        is as large as keeps what one task sends back within half of its
        partition's values (at least 4 MiB, and one pattern).
    progress : callable, optional
        ``progress(stage, done, total)``, called from the calling thread:
        "discretise" (partitions), "mine" (levels; total 0), "filter" and
        "map" (passes over the partitions). An exception it raises stops the
        work and is raised.
    timings : list, optional
        When given, receives (step, seconds) for each step of the run, finer
        than the stages (each level's count and reduction, each pass's work
        on the workers and on the client). The time of each stage, for this
        call and the one-process ones alike, comes from ``progress=`` with a
        `zef.timing.StageTimes`.
    max_patterns : int, optional
        As in `zef.mine`.

    Returns
    -------
    list of Motif
        The motifs, ranked by NAED, equal bit for bit to those of `zef.mine`.

    Raises
    ------
    PartitionError
        When a partition fails to load or to be worked on in any pass, or
        gives other values than at its first read; nothing of the run is
        left on the cluster.
    TypeError, ValueError
        As `zef.mine` raises them, for the settings and the series.
    TooManyPatterns, MemoryError
        As `zef.mine` raises them, before any mapping.

    Examples
    --------
    >>> import dask.array as da
    >>> import distributed
    >>> import numpy as np
    >>> import zef
    >>> import zef.dask
    >>> series = np.cumsum(np.random.default_rng(0).normal(size=(20, 64)), axis=1)
    >>> with distributed.Client(processes=False, n_workers=1, threads_per_worker=2, dashboard_address=":0"):
    ...     motifs = zef.dask.mine(da.from_array(series, chunks=(10, 64)), 0.5, 8, 3, min_len=2)
    >>> [m.pattern for m in motifs] == [m.pattern for m in zef.mine(series, 0.5, 8, 3, min_len=2)]
    True
    """
    check_progress(progress)
    batch = batch_size(batch)
    limit = pattern_limit(max_patterns)
    minsup, max_overlap = float_setting("minsup", minsup), float_setting("max_overlap", max_overlap)
    seglen, alphabet = int_setting("seglen", seglen), int_setting("alphabet", alphabet)
    min_len, max_len, k = int_setting("min_len", min_len), longest_pattern(max_len), top_count(k)
    # The settings' errors, before any work: those of discretising one point.
    _steps.words([[0.0]], seglen, alphabet)
    if client is None:
        client = distributed.get_client()
    with Run(client, progress, timings) as run:
        parts, _ = partitions(series, run)
        return mine_partitions(
            run, parts, minsup, seglen, alphabet, min_len, max_len, max_overlap, k, statistics, batch, limit
        )


def mine_partitions(
    run: Run,
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
    max_patterns: int | None,
) -> list[Motif]:
    """`mine` on partitions given as delayed objects (or futures) of rows."""
    run.first_series = None
    prepared = run.paced(
        [delayed(_prepare)(part, seglen, alphabet) for part in parts], False, "discretise", _series_count
    )
    run.lap("prepare")
    counted = run.gather(run.each(_size, prepared))
    offsets = np.cumsum([0] + [c[0] for c in counted]).tolist()
    run.first_series = offsets[:-1]
    checksums = [c[2] for c in counted]
    min_count = float(offsets[-1]) * minsup

    # Level by level: the tables stay on the workers, the counts come here.
    tables = [run.each(_first_level, prepared)]
    levels: list[list[bytes]] = [[], _frequent(run, tables[0], min_count, 1)]
    passed = len(levels[1])
    _steps.check_pattern_count(passed, max_patterns)
    level = 2
    while levels[level - 1] and not (max_len != 0 and level > max_len) and level < INT_MAX:
        candidates = _steps.join(levels[level - 1])
        tables.append([run.submit(_extend, p, t, candidates) for p, t in zip(prepared, tables[-1], strict=True)])
        levels.append(_frequent(run, tables[-1], min_count, level))
        passed += len(levels[-1])
        _steps.check_pattern_count(passed, max_patterns)
        level += 1

    # The length filter, longest first, then the redundancy filter.
    survivors = [p for n in range(level - 1, 0, -1) if min_len <= n for p in levels[n]]
    run.report("filter", 0, len(survivors))
    erased = _steps.redundant(survivors, max_overlap)
    patterns = sorted({p for p, gone in zip(survivors, erased, strict=True) if not gone})
    run.report("filter", len(survivors), len(survivors))
    run.lap("filter")
    if not patterns:
        return []

    # The occurrences of the motifs' patterns and of their prefixes, per partition.
    wanted = sorted({p[:n] for p in patterns for n in range(1, len(p) + 1)})
    selected = [
        run.submit(_select, wanted, *(level_tables[i] for level_tables in tables)) for i in range(len(prepared))
    ]
    del tables, prepared
    sets = run.gather(run.each(_series_sets, selected))
    order = insertion_orders(patterns, wanted, sets, offsets)
    run.lap("orders")
    _steps.check_mapping_fits([(len(p), len(order[p])) for p in patterns], seglen)
    count = _steps.returned_count(k, len(patterns))  # one motif per pattern

    if batch is None:
        # A partition's values: about `seglen` float64 per symbol of its words.
        values = [8.0 * seglen * c[1] for c in counted]
        budgets = [max(_mapping.TASK_FLOOR, _mapping.TASK_SHARE * v) for v in values]
        # Without statistics the client keeps no averages: a pass's answers are what it holds.
        whole = math.inf if statistics else max(_mapping.TASK_FLOOR, _mapping.PASS_SHARE * sum(values))
        batches = batches_within(patterns, [sent_bytes(s, patterns, seglen) for s in sets], budgets, whole)
    else:
        batches = [patterns[first : first + batch] for first in range(0, len(patterns), batch)]
    del sets
    motifs = map_motifs(run, parts, checksums, selected, offsets, order, batches, seglen, statistics)

    ranking = _steps.rank([m.naed for m in motifs])
    return [motifs[i] for i in ranking[:count]]


def _prepare(part: Any, seglen: int, alphabet: int) -> Prepared:
    """On a worker: the words of the partition's series (normalised one at a time, and not kept),
    and the checksum of their values, against which later reads are compared."""
    values = rows(part)
    words: list[bytes] = _steps.words(values, seglen, alphabet)
    return words, checksum(values)


def _size(prepared: Prepared) -> tuple[int, int, int]:
    """The number of series of a prepared partition, of the symbols of their words, and its checksum."""
    words, first_read = prepared
    return len(words), sum(len(word) for word in words), first_read


def _series_count(prepared: Prepared) -> int:
    return len(prepared[0])


def _first_level(prepared: Prepared) -> Table:
    table: Table = _steps.first_level(prepared[0])
    return table


def _extend(prepared: Prepared, previous: Table, candidates: list[bytes]) -> Table:
    table: Table = _steps.extend(prepared[0], previous, candidates)
    return table


def _counts(table: Table) -> dict[bytes, int]:
    return {pattern: len(found[0]) for pattern, found in table.items()}


def _frequent(run: Run, tables: list[Any], min_count: float, level: int) -> list[bytes]:
    """The patterns of one level that occur in enough series, in key order: the level's one reduction."""
    totals: dict[bytes, int] = {}
    gathered = run.gather(run.each(_counts, tables))
    run.lap(f"level {level} count")
    for counts in gathered:
        for pattern, count in counts.items():
            totals[pattern] = totals.get(pattern, 0) + count
    frequent: list[bytes] = _steps.frequent(totals, min_count)
    run.lap(f"level {level} reduce")
    run.report("mine", level, 0)
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
