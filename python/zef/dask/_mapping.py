"""Mapping on the partitions: the motifs of the frequent patterns, in batches, summed on the client
in the order in which the one-process engine sums them.

Each pass reads the partitions again and normalises their series one at a
time (a worker holds only words and occurrences between passes); it sends back
the averages of one batch and the best matches of the batch before, against
the representatives made from that batch's averages: one pass more than there
are batches.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
from dask.delayed import delayed

from _zef_cpp import Motif
from zef.dask import _steps
from zef.dask._partitions import check_source, rows
from zef.dask._run import Run

__all__ = [
    "PASS_SHARE",
    "TASK_FLOOR",
    "TASK_SHARE",
    "batches_within",
    "insertion_orders",
    "map_motifs",
]

# What one mapping task sends back, at most (unless one pattern alone needs
# more): this share of its partition's values, but never less than the floor.
TASK_SHARE = 0.5
TASK_FLOOR = 4 << 20
# What one pass sends back from all partitions together, at most, when the motifs
# keep no averages: this share of the collection's values. The client holds one
# pass's answers at a time, which is then most of what it holds.
PASS_SHARE = 0.125

# Occurrences of one pattern in one partition: local series (ascending), the
# end of each series' positions, and the positions.
Occurrences = tuple[Any, Any, Any]
# A partition's table: pattern -> its occurrences there.
Table = dict[bytes, Occurrences]
# For each pattern, its series in the order the engine first records them (int64 arrays).
Orders = dict[bytes, Any]


def insertion_orders(
    patterns: list[bytes], wanted: list[bytes], sets: list[dict[bytes, Any]], offsets: list[int]
) -> Orders:
    """For each of `patterns`, its series in the order in which the engine's record of it first records them.

    A symbol's record takes its series in ascending order; a longer pattern's
    record takes them as its prefix's record lists them (Motif.table_order),
    keeping those where the pattern occurs; `wanted` holds the patterns and all
    their prefixes. Kept as int32 arrays, and only for `patterns`: a run holds one
    per motif, which as lists of ints would outgrow the data.
    """
    order: Orders = {}
    for pattern in wanted:  # shorter patterns first within each run of prefixes: sorted order
        present = [np.asarray(s[pattern][0], dtype=np.int32) + offsets[i] for i, s in enumerate(sets) if pattern in s]
        series = np.concatenate(present) if present else np.empty(0, dtype=np.int32)
        if len(pattern) > 1:
            prefix = order[pattern[:-1]]
            listed = prefix[np.asarray(_steps.table_order(prefix.tolist()), dtype=np.int64)]
            series = listed[np.isin(listed, series)]
        order[pattern] = series
    return {p: order[p] for p in patterns}


def sent_bytes(sets: dict[bytes, tuple[Any, int]], patterns: list[bytes], seglen: int) -> list[int]:
    """What mapping sends back from one partition for each pattern: per series its
    average occurrence, its index, end of positions and best match; the positions."""
    sent = []
    for pattern in patterns:
        series, positions = sets.get(pattern, ((), 0))
        sent.append(len(series) * (8 * seglen * len(pattern) + 40) + 4 * positions)
    return sent


def batches_within(
    patterns: list[bytes], sent: list[list[int]], budgets: list[float], whole: float = math.inf
) -> list[list[bytes]]:
    """`patterns` in runs, in order, each as long as keeps what it sends back from every
    partition (sent[partition][pattern]) within that partition's budget, and what all of them
    send back within `whole`; at least one pattern a run."""
    batches: list[list[bytes]] = []
    totals = [0] * len(budgets)
    for i, pattern in enumerate(patterns):
        grown = [total + s[i] for total, s in zip(totals, sent, strict=True)]
        if batches and all(g <= b for g, b in zip(grown, budgets, strict=True)) and sum(grown) <= whole:
            batches[-1].append(pattern)
            totals = grown
        else:
            batches.append([pattern])
            totals = [s[i] for s in sent]
    return batches


def _mapping(
    part: Any, first_read: int, selected: Table, patterns: list[bytes], representatives: dict[bytes, Any], seglen: int
) -> tuple[dict[bytes, Any], dict[bytes, Any]]:
    """On a worker, one pass over the partition: the averages of `patterns` and the best
    matches of the patterns of `representatives` (the batch before)."""
    values = rows(part)
    check_source(values, first_read)
    return _averages(values, selected, patterns, seglen), _bests(values, selected, representatives, seglen)


def _averages(rows: Any, selected: Table, patterns: list[bytes], seglen: int) -> dict[bytes, Any]:
    """Each pattern's local series, positions and average occurrences (a series x points array)."""
    present = [p for p in patterns if p in selected]
    if not present:
        return {}
    averages = _steps.averages(rows, [selected[p] for p in present], seglen, [seglen * len(p) for p in present])
    return {p: (selected[p], values) for p, values in zip(present, averages, strict=True)}


def _bests(rows: Any, selected: Table, representatives: dict[bytes, Any], seglen: int) -> dict[bytes, Any]:
    """Each pattern's local series with the distance and point of their best matches."""
    present = [p for p in representatives if p in selected]
    if not present:
        return {}
    bests = _steps.bests(
        rows,
        [selected[p] for p in present],
        seglen,
        [seglen * len(p) for p in present],
        [representatives[p] for p in present],
    )
    return {p: (selected[p][0], *best) for p, best in zip(present, bests, strict=True)}


def map_motifs(
    run: Run,
    parts: list[Any],
    checksums: list[int],
    selected: list[Any],
    offsets: list[int],
    order: Orders,
    batches: list[list[bytes]],
    seglen: int,
    statistics: bool,
) -> list[Motif]:
    """The motifs of the batches' patterns, in order, mapped: per-series values from the workers,
    summed here in the engine's order. `checksums`: each partition's at its first read."""
    motifs: list[Motif] = []
    waiting: dict[bytes, Motif] = {}  # restored from their averages, without their best matches
    for done, patterns in enumerate([*batches, []]):
        for pattern in patterns:
            _steps.occurrence_length(len(pattern), seglen)  # the engine's refusal of a length no list holds
        representatives = {p: m.representative for p, m in waiting.items()}
        passing = [
            delayed(_mapping)(p, c, s, patterns, representatives, seglen)
            for p, c, s in zip(parts, checksums, selected, strict=True)
        ]
        found = run.paced(passing, fetch=True)
        run.lap("map workers")
        bests = [f[1] for f in found]
        averages = [f[0] for f in found]
        del found
        _finish(waiting, bests, offsets)
        motifs.extend(waiting.values())
        del bests
        waiting = _restore(patterns, averages, offsets, order, seglen, statistics)
        run.lap("map client")
        run.report("map", done + 1, len(batches) + 1)
    return motifs


def _restore(
    patterns: list[bytes],
    found: list[dict[bytes, Any]],
    offsets: list[int],
    order: Orders,
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
        motifs[pattern] = _steps.restore(
            pattern,
            seglen,
            inserted,
            np.searchsorted(series, inserted),
            np.concatenate(ends),
            np.concatenate(places),
            averages,
            statistics,
        )
    return motifs


def _finish(motifs: dict[bytes, Motif], bests: list[dict[bytes, Any]], offsets: list[int]) -> None:
    """Completes `motifs` with their best matches, from the partitions' in series order."""
    for pattern, motif in motifs.items():
        present = [(offset, part[pattern]) for offset, part in zip(offsets[:-1], bests, strict=True) if pattern in part]
        _steps.finish(
            motif,
            np.concatenate([np.asarray(b[0], dtype=np.int64) + offset for offset, b in present]),
            np.concatenate([b[1] for _, b in present]),
            np.concatenate([b[2] for _, b in present]),
        )
