"""The partitions of a discovery run on their workers, and the steps that go over all of them.

A partition prepared for discovery stays on its worker: the detrended series
that take part (filled, at least `length` points), the flags of their flat
windows, and what the client needs to know of each series of the partition.
Each step sends per-series distances, best matches or exact sums back; the
client ranks and combines them.
"""

from __future__ import annotations

from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import Any, overload

import distributed
import numpy as np
from dask.delayed import delayed

from _zef_cpp import Motif
from zef.dask import _steps
from zef.dask._errors import PartitionError
from zef.dask._mine import mine_partitions
from zef.dask._partitions import rows
from zef.dask._run import Run
from zef.discovery._gaps import fill_gaps
from zef.discovery._tuning import ENGINE_SUPPORT, SEEDS_PER_PATTERN

__all__ = [
    "Candidate",
    "DiscoveryPart",
    "Partitions",
    "RemoteSeries",
    "Seed",
    "Taken",
    "discovery_prepare",
    "engine_runs",
    "info",
    "series_count",
    "series_sizes",
    "taken_series",
    "usable_rows",
]

#: A partition on its worker: detrended series, flat flags, summary; then (once whitened) the
#: whitened series, their flat flags and the whitening coefficient.
DiscoveryPart = tuple[Any, ...]
#: A candidate shape, its engine pattern, the taken series and start of the window it was cut from,
#: and the rank of its motif in the engine's ranking.
Seed = tuple[Any, bytes, int, int, int]


def discovery_prepare(part: Any, length: int, window: int, flat_tol: float) -> DiscoveryPart:
    """On a worker: the partition's series filled; those that take part detrended and measured."""
    sizes, offsets, infinite, taken = [], [], [], []
    for row in rows(part):
        bad = bool(np.isinf(row).any())
        values, offset = fill_gaps(row)
        sizes.append(len(values))
        offsets.append(offset)
        infinite.append(bad)
        if len(values) >= length and not bad:
            taken.append(values)
    prepared, flat, usable, lags = _steps.discovery_prepare(taken, length, window, flat_tol)
    summary = {
        "sizes": np.array(sizes, dtype=np.int64),
        "offsets": np.array(offsets, dtype=np.int64),
        "infinite": np.array(infinite, dtype=bool),
        "usable": usable,
        "lags": lags,
    }
    return prepared, flat, summary


def discovery_whiten(part: DiscoveryPart, length: int, flat_tol: float, phi: float) -> DiscoveryPart:
    """On a worker: the prepared partition with its whitened view (series and flat flags) and `phi`."""
    whitened, white_flat = _steps.discovery_whiten(part[0], part[1], length, flat_tol, phi)
    return part[0], part[1], part[2], whitened, white_flat, phi


def info(part: DiscoveryPart) -> dict[str, Any]:
    summary: dict[str, Any] = part[2]
    return summary


def series_count(part: DiscoveryPart) -> int:
    return int(part[2]["sizes"].size)


def usable_rows(part: DiscoveryPart, white: bool = False) -> list[Any]:
    """On a worker: the series that the engine mines (those with a window that is not flat), detrended
    or whitened."""
    return [values for values, usable in zip(part[3 if white else 0], part[2]["usable"], strict=True) if usable]


def engine_runs(
    run: Run, states: list[Any], settings: dict[str, Any], limit: int | None
) -> Iterator[tuple[bool, int, list[Motif]]]:
    """The engine's motifs on the partitions' usable series, as discovery runs the engine: on the series
    as detrended, then whitened, with each alphabet; (whitened, letters, motifs) for each run."""
    for white in (False, True):
        for letters in settings["alphabet"]:
            motifs = mine_partitions(
                run,
                [delayed(usable_rows)(s, white) for s in states],
                settings["minsup"] * ENGINE_SUPPORT,
                settings["seglen"],
                int(letters),
                settings["min_len"],
                settings["max_len"],
                settings["max_overlap"],
                0,
                False,
                None,
                limit,
            )
            yield white, int(letters), motifs


def _part_seeds(
    part: DiscoveryPart, length: int, flat_tol: float, motifs: list[tuple[Any, ...]], white: bool
) -> list[Any]:
    if white:
        return _steps.discovery_seeds(part[3], part[4], length - 1, flat_tol, SEEDS_PER_PATTERN, motifs)
    return _steps.discovery_seeds(part[0], part[1], length, flat_tol, SEEDS_PER_PATTERN, motifs)


def _part_evaluate(part: DiscoveryPart, length: int, flat_tol: float, shapes: Any, only: Any) -> tuple[Any, Any]:
    return _steps.discovery_evaluate(part[0], part[1], part[3], part[4], part[5], length, flat_tol, shapes, only)


def _part_rows(part: DiscoveryPart, length: int, flat_tol: float, local: Any) -> tuple[list[Any], ...]:
    """On a worker: the local series `local`, detrended and whitened, with the flags of their flat windows."""
    return tuple([part[k][i] for i in local.tolist()] for k in (0, 1, 3, 4))


def _part_sums(part: DiscoveryPart, length: int, flat_tol: float, chosen: list[tuple[Any, Any]]) -> list[Any]:
    return _steps.discovery_sums(part[0], part[1], length, flat_tol, [c[0] for c in chosen], [c[1] for c in chosen])


def _part_occurrences(part: DiscoveryPart, length: int, flat_tol: float, shapes: Any, radius: float) -> list[Any]:
    return _steps.discovery_occurrences(part[0], part[1], part[3], part[4], part[5], length, flat_tol, shapes, radius)


def series_sizes(infos: list[dict[str, Any]]) -> Any:
    """The size of every series from the partitions' summaries, in order: ValueError for a series that
    holds an infinite value, or for no series."""
    sizes = np.concatenate([i["sizes"] for i in infos]).astype(np.int64)
    infinite = np.flatnonzero(np.concatenate([i["infinite"] for i in infos]))
    if infinite.size:
        raise ValueError(f"series {int(infinite[0])} holds an infinite value")
    if sizes.size == 0:
        raise ValueError("no series given")
    return sizes


@dataclass
class Taken:
    """The series that take part (those of at least the shortest length), and those that do not."""

    taking: list[int]  # their indexes in the collection
    short: list[int]
    offsets: list[int]  # of every series' first point
    usable: list[Any]  # per partition, per series taking part: whether it has a window that is not flat
    starts: list[int]  # the first of them of each partition (and their count, last)
    flat_series: list[int]
    usable_count: int


def taken_series(sizes: Any, shortest: int, infos: list[dict[str, Any]], usable: list[Any]) -> Taken:
    """From the sizes, the partitions' summaries (offsets) and their flags of usable series."""
    flags = [np.asarray(u, dtype=bool) for u in usable]
    taking = np.flatnonzero(sizes >= shortest).tolist()
    return Taken(
        taking,
        np.flatnonzero(sizes < shortest).tolist(),
        np.concatenate([i["offsets"] for i in infos]).astype(np.int64).tolist(),
        flags,
        np.cumsum([0] + [u.size for u in flags]).tolist(),
        [taking[j] for j in np.flatnonzero(~np.concatenate(flags)).tolist()],
        int(sum(u.sum() for u in flags)),
    )


# A candidate on the client: its shape, and per taken series the distance and
# start of its best match; then its score.
Candidate = tuple[Any, Any, Any, float]


class Partitions:
    """The prepared partitions of one discovery run, and the steps that go over all of them."""

    def __init__(self, run: Run, states: list[Any], starts: list[int], length: int, flat_tol: float) -> None:
        self.run, self.states, self.starts = run, states, starts
        self.length, self.flat_tol = length, flat_tol

    def _submit(self, function: Any, state: Any, *args: Any) -> Any:
        """function(partition, length, flat_tol, *args) on a partition's worker."""
        return self.run.submit(function, state, self.length, self.flat_tol, *args)

    def _each(self, function: Any, *args: Any) -> list[Any]:
        answers: list[Any] = self.run.gather([self._submit(function, s, *args) for s in self.states])
        return answers

    def _split(self, series: Any) -> list[Any]:
        """Positions of `series` (taken indexes, ascending) that fall in each partition."""
        return [np.searchsorted(series, self.starts[p : p + 2]) for p in range(len(self.states))]

    def seeds(
        self, motifs: list[Motif], usable_local: list[Any], engine_starts: Any, white: bool = False
    ) -> list[Seed]:
        """The candidate shapes of the engine's motifs, in their order: from each, its best matches
        closest to its representative whose windows are not flat, with the (taken) series and start of
        the window each was cut from. With `white`, the motifs are the whitened view's and the shapes
        are the raw windows at their places (those that are flat dropped)."""
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
        answers = self.run.gather(
            [self._submit(_part_seeds, s, r, white) for s, r in zip(self.states, requests, strict=True)]
        )
        seeds: list[Seed] = []
        for m, motif in enumerate(motifs):
            found = []
            for p, answer in enumerate(answers):
                gaps, series, points, shapes, starts = answer[m]
                for gap, s, point, shape, start in zip(
                    gaps.tolist(), series.tolist(), points.tolist(), shapes, starts.tolist(), strict=True
                ):
                    found.append((gap, self.starts[p] + s, point, shape, start))
            found.sort(key=lambda f: (f[0], f[1], f[2]))
            pattern = motif.pattern.encode("latin-1")
            seeds.extend((np.array(f[3]), pattern, f[1], f[4], m) for f in found[:SEEDS_PER_PATTERN])
        if white and seeds:
            sums = self.sums([(np.array([seed[2]]), np.array([seed[3]])) for seed in seeds])
            raw = [_steps.discovery_shape([p[n] for p in sums], self.length, 1) for n in range(len(seeds))]
            seeds = [(shape, *seed[1:]) for shape, seed in zip(raw, seeds, strict=True) if shape.size]
        return seeds

    def joined(self, series: list[int], pairs: list[tuple[int, int]], count: int, phi: float) -> list[Seed]:
        """The candidates of exact joins of `pairs` (positions into `series`, taken indexes), pair by
        pair: the raw windows where the two series of a pair match closest (those flat dropped)."""
        if not pairs:
            return []
        needed = np.array(sorted({series[i] for pair in pairs for i in pair}), dtype=np.int64)
        requests = [
            (p, needed[first:last] - self.starts[p])
            for p, (first, last) in enumerate(self._split(needed))
            if last > first
        ]
        answers = self.run.gather([self._submit(_part_rows, self.states[p], local) for p, local in requests])
        rows = [[row for answer in answers for row in answer[k]] for k in range(4)]
        at = {int(s): n for n, s in enumerate(needed)}
        local_pairs = [(at[series[a]], at[series[b]]) for a, b in pairs]
        prepared, flat, whitened, white_flat = rows
        found, starts = _steps.discovery_join(
            prepared, flat, whitened, white_flat, phi, self.length, self.flat_tol, local_pairs, count
        )
        places = [(int(needed[r]), int(t)) for r, t in zip(found.tolist(), starts.tolist(), strict=True)]
        if not places:
            return []
        sums = self.sums([(np.array([s]), np.array([t])) for s, t in places])
        shapes = [_steps.discovery_shape([p[n] for p in sums], self.length, 1) for n in range(len(places))]
        return [(shape, b"", s, t, 0) for shape, (s, t) in zip(shapes, places, strict=True) if shape.size]

    def evaluate(self, shapes: Any, only: Any = None) -> tuple[Any, Any]:
        """Distances and starts of every shape's best match in every taken series, or in the taken
        series `only` (ascending) when given (shapes x series; -1: none or not compared)."""
        if only is None:
            answers = self._each(_part_evaluate, shapes, None)
        else:
            only = np.asarray(only, dtype=np.int64)
            local = [only[first:last] - self.starts[p] for p, (first, last) in enumerate(self._split(only))]
            answers = self.run.gather(
                [self._submit(_part_evaluate, s, shapes, subset) for s, subset in zip(self.states, local, strict=True)]
            )
        return np.concatenate([a[0] for a in answers], axis=1), np.concatenate([a[1] for a in answers], axis=1)

    def screen(self, shapes: list[Any], only: Any, need: int, batch: int) -> tuple[list[float], list[Any], list[Any]]:
        """The scores, best matches and distances of `shapes` over the taken series `only` (all when
        None), `batch` shapes per pass."""
        scores: list[float] = []
        bests: list[Any] = []
        distances: list[Any] = []
        for first in range(0, len(shapes), batch):
            some = shapes[first : first + batch]
            distance, best = self.evaluate(np.array(some), only)
            for row in range(len(some)):
                scores.append(_steps.discovery_score(distance[row], best[row], need))
                bests.append(best[row])
                distances.append(distance[row])
            self.run.report("screen", first + len(some), len(shapes))
        return scores, bests, distances

    def screen_sample(
        self, shapes: list[Any], sample: Any, need: int, batch: int
    ) -> tuple[list[float], list[Any], list[Any]]:
        """Each shape compared with the sample, then the mean of its closest matches there compared
        again: the better of the two, with its score and best matches."""
        scores, bests, distances = self.screen(shapes, sample, need, batch)
        closest = [_steps.discovery_closest(d, b, need) for d, b in zip(distances, bests, strict=True)]
        shapes = list(shapes)
        for first in range(0, len(shapes), batch):
            some = range(first, min(first + batch, len(shapes)))
            sums = self.sums([(closest[i], bests[i][closest[i]]) for i in some])
            means = {
                i: _steps.discovery_shape([p[n] for p in sums], self.length, closest[i].size)
                for n, i in enumerate(some)
            }
            means = {i: mean for i, mean in means.items() if mean.size}
            if not means:
                continue
            distance, best = self.evaluate(np.array(list(means.values())), sample)
            for row, (i, mean) in enumerate(means.items()):
                score = _steps.discovery_score(distance[row], best[row], need)
                if score < scores[i]:
                    scores[i], bests[i], shapes[i] = score, best[row], mean
        return scores, bests, shapes

    def candidates(self, shapes: list[Any], need: int) -> list[Candidate]:
        if not shapes:
            return []
        distances, best = self.evaluate(np.array(shapes))
        return [
            (shape, distances[i], best[i], _steps.discovery_score(distances[i], best[i], need))
            for i, shape in enumerate(shapes)
        ]

    def refined(self, shapes: list[Any], need: int, iterations: int) -> list[Candidate]:
        """Each shape refined, all in step: its closest windows summed exactly on the partitions, the
        mean shape evaluated again, `iterations` times; the best scoring of each."""
        current = self.candidates(shapes, need)
        best_of = list(current)
        active = list(range(len(shapes)))
        for _ in range(iterations):
            closest = {i: _steps.discovery_closest(current[i][1], current[i][2], need) for i in active}
            active = [i for i in active if closest[i].size]
            sums = self.sums([(closest[i], current[i][2][closest[i]]) for i in active])
            means = {
                i: _steps.discovery_shape([p[n] for p in sums], self.length, closest[i].size)
                for n, i in enumerate(active)
            }
            active = [i for i in active if means[i].size]
            for i, candidate in zip(active, self.candidates([means[i] for i in active], need), strict=True):
                current[i] = candidate
                if candidate[3] < best_of[i][3]:
                    best_of[i] = candidate
        return best_of

    def sums(self, chosen: list[tuple[Any, Any]]) -> list[list[Any]]:
        """For each (taken series, starts): each partition's exact sums of those windows of its own."""
        requests: list[list[tuple[Any, Any]]] = [[] for _ in self.states]
        for series, starts in chosen:
            order = np.argsort(series, kind="stable")
            series, starts = series[order], starts[order]
            for p, (first, last) in enumerate(self._split(series)):
                requests[p].append((series[first:last] - self.starts[p], starts[first:last]))
        answers: list[list[Any]] = self.run.gather(
            [self._submit(_part_sums, s, r) for s, r in zip(self.states, requests, strict=True)]
        )
        return answers

    def occurrences(self, shapes: list[Any], radius: float) -> list[list[Any]]:
        """For each shape, the starts of its occurrences in every taken series."""
        if not shapes:
            return []
        answers = self._each(_part_occurrences, np.array(shapes), radius)
        return [[starts for answer in answers for starts in answer[i]] for i in range(len(shapes))]


def _filled_row(part: Any, index: int) -> tuple[Any, int]:
    return fill_gaps(np.asarray(rows(part)[index], dtype=np.float64))


class RemoteSeries(Sequence[tuple[Any, int]]):
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
        future = self.client.compute(delayed(_filled_row)(self.parts[p], index - int(self.starts[p])))
        try:
            row: tuple[Any, int] = future.result()
        except Exception as error:
            # Released at once: the traceback would keep the erred task on the scheduler.
            self.client.cancel([future], force=True)
            raise PartitionError(p, error) from error
        return row
