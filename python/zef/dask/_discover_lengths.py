"""`zef.dask.discover` over a range of lengths, with the series kept on the workers.

The client takes the steps of the one-process search over a range (the
native `discover_lengths`) in the same order and with the same native rules:
candidates at the lengths of the engine's patterns and of the joins, the
chance score measured at a few lengths and fitted, screening and refinement
at each candidate's length, the steps in length, one motif per place across
lengths. The partitions compare shapes, sum windows and find occurrences at
whichever length a step asks for.
"""

from __future__ import annotations

from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

import numpy as np
from dask.delayed import delayed

from zef._validation import motif_limit
from zef.dask import _steps
from zef.dask._discovery_parts import (
    Candidate,
    RemoteSeries,
    Seed,
    engine_runs,
    info,
    series_sizes,
    taken_series,
)
from zef.dask._length_parts import (
    LengthPartitions,
    range_prepare,
    range_read,
    range_whiten,
    read_count,
    read_info,
    usable_at,
)
from zef.dask._run import Run
from zef.discovery._lengths import LengthSetting, lengths_for
from zef.discovery._result import DiscoveredMotif, Discovery, motifs_of
from zef.discovery._tuning import (
    CHANCE_SHAPES,
    JOIN_CELLS,
    JOIN_COUNT,
    JOIN_PAIRS,
    LENGTH_STEPS,
    MERGE_APART,
    MOST_CANDIDATES_OVER_RANGE,
    PLACE_OVERLAP,
    SAME_PLACE,
    SAMPLE_FEWEST,
    SAMPLE_POINTS,
    SURVIVORS,
)

__all__ = ["discover_lengths"]


@dataclass
class _At:
    """The collection at one length: the partitions seen at it, and its series with a window that is not flat."""

    on: LengthPartitions
    need: int  # 0: no series has such a window
    sample: list[int]  # the sample's series with such a window
    sample_need: int


class _Lengths:
    """The lengths the search has used so far, each measured once on the partitions."""

    def __init__(
        self,
        run: Run,
        states: list[Any],
        starts: list[int],
        settings: dict[str, Any],
        sizes: Any,
        sample: list[int],
        grid: list[int],
    ) -> None:
        self.run, self.states, self.starts, self.sizes = run, states, starts, sizes
        self.minsup, self.flat_tol = settings["minsup"], settings["flat_tol"]
        self.sample, self.grid = sample, grid
        self.built: dict[int, _At] = {}

    def build(self, lengths: list[int]) -> None:
        missing = sorted(set(lengths) - set(self.built))
        if not missing:
            return
        answers = self.run.gather([self.run.submit(usable_at, s, missing, self.flat_tol) for s in self.states])
        for n, m in enumerate(missing):
            usable = np.concatenate([answer[n] for answer in answers])
            count = int(usable.sum())
            sample = [s for s in self.sample if usable[s]]
            self.built[m] = _At(
                LengthPartitions(self.run, self.states, self.starts, m, self.flat_tol),
                _steps.discovery_need(self.minsup, count) if count else 0,
                sample,
                _steps.discovery_need(self.minsup, len(sample)) if sample else 0,
            )

    def at(self, m: int) -> _At:
        return self.built[m]

    def snap(self, m: float) -> int:
        return int(_steps.discovery_snap(self.grid, float(m)))


def _by_length(lengths: list[int], which: list[int] | None = None) -> dict[int, list[int]]:
    """The positions `which` (by default all) grouped by their length, shortest first."""
    groups: dict[int, list[int]] = {}
    for i in range(len(lengths)) if which is None else which:
        groups.setdefault(lengths[i], []).append(i)
    return dict(sorted(groups.items()))


@dataclass
class _Sized:
    """A candidate at its own length, and what ranks it."""

    candidate: Candidate
    length: int
    pattern: bytes
    relative: float = 0.0


@dataclass
class _Walk:
    length: int
    shape: Any
    series: Any  # the closest series
    starts: Any  # their windows at `length`
    relative: float
    done: bool = False


def discover_lengths(
    run: Run,
    parts: list[Any],
    names: list[str] | None,
    setting: LengthSetting,
    settings_of: Callable[[int | tuple[int, int]], dict[str, Any]],
    one_length: Callable[[dict[str, Any]], Discovery],
    batch: int,
    limit: int | None,
) -> Discovery:
    """The motifs over the range `setting` (or the default one), each at its own length; through
    `one_length` when the range holds one length only."""
    read = run.paced([delayed(range_read)(part) for part in parts], False, "prepare", read_count)
    infos = run.gather(run.each(read_info, read))
    sizes = series_sizes(infos)
    lengths = lengths_for(setting, sizes.tolist())
    settings = settings_of(lengths)
    if isinstance(lengths, int):
        del read  # released before the partitions are read again
        return one_length(settings)
    lo, hi = lengths
    flat_tol, radius = settings["flat_tol"], settings["radius"]
    states = run.each(range_prepare, read, lo, settings["detrend"], flat_tol)
    prepared = run.gather(run.each(info, states))
    del read  # the series that take part are in the prepared partitions
    run.lap("prepare")
    taken = taken_series(sizes, lo, infos, [i["usable"] for i in prepared])
    taken_sizes = sizes[np.asarray(taken.taking, dtype=np.int64)]

    def result(motifs: list[DiscoveredMotif]) -> Discovery:
        remote = RemoteSeries(run.client, parts, [i["sizes"].size for i in infos])
        return Discovery(motifs, lengths, remote, taken.short, taken.flat_series, settings, series_names=names)

    if taken.usable_count == 0:
        return result([])
    lags = np.concatenate([np.asarray(i["lags"])[u] for i, u in zip(prepared, taken.usable, strict=True)])
    phi = _steps.discovery_whitening(lags.tolist())
    states = run.each(range_whiten, states, lo, flat_tol, phi)
    usable_taken = np.flatnonzero(np.concatenate(taken.usable))
    sample = usable_taken[_steps.discovery_sample(taken_sizes[usable_taken].tolist(), SAMPLE_POINTS, SAMPLE_FEWEST)]
    grid = _Lengths(run, states, taken.starts, settings, taken_sizes, sample.tolist(), _steps.discovery_grid(lo, hi))
    grid.build([lo])

    seeds = _candidates(run, grid, states, taken.usable, settings, phi, taken_sizes, limit)
    chance = _chance(run, grid, taken_sizes)
    pool = _screened(run, grid, seeds, chance, len(sample) < taken.usable_count, int(settings["pool"]), batch)
    run.lap("screen")

    for m, members in _by_length([c.length for c in pool]).items():
        at = grid.at(m)
        for i, refined in zip(
            members,
            at.on.refined([pool[i].candidate[0] for i in members], at.need, settings["iterations"]),
            strict=True,
        ):
            pool[i].candidate = refined
            pool[i].relative = _steps.discovery_standing(refined[3], m, chance[m])
    run.report("refine", len(pool), 2 * len(pool))
    _stepped(grid, pool, chance, motif_limit(settings), settings["iterations"])
    kept = _steps.discovery_ranked(
        [c.relative for c in pool],
        [c.candidate[2] for c in pool],
        [c.length for c in pool],
        SAME_PLACE,
        motif_limit(settings),
        PLACE_OVERLAP,
    )
    run.lap("refine")
    run.report("refine", 2 * len(pool), 2 * len(pool))

    chosen = [pool[i] for i in kept]
    found: list[Any] = [None] * len(chosen)
    for m, members in _by_length([c.length for c in chosen]).items():
        for i, occurrences in zip(
            members, grid.at(m).on.occurrences([chosen[i].candidate[0] for i in members], radius), strict=True
        ):
            found[i] = occurrences
    raw = [
        {
            "length": c.length,
            "best": c.candidate[2],
            "distance": c.candidate[1],
            "occurrences": occurrences,
            "score": c.candidate[3],
            "pattern": c.pattern,
            "shape": c.candidate[0],
            "chance": chance[c.length],
        }
        for c, occurrences in zip(chosen, found, strict=True)
    ]
    run.lap("occurrences")
    run.report("occurrences", len(chosen), len(chosen))
    return result(motifs_of(raw, taken.taking, taken.offsets, radius, True))


def _candidates(
    run: Run,
    grid: _Lengths,
    states: list[Any],
    usable: list[Any],
    settings: dict[str, Any],
    phi: float,
    sizes: Any,
    limit: int | None,
) -> list[Seed]:
    """The candidate shapes: the engine's, each at the grid length nearest its pattern's span, then the
    joins' at a few lengths; the engines' best first."""
    usable_local = [np.flatnonzero(u) for u in usable]
    engine_starts = np.cumsum([0] + [u.size for u in usable_local])
    seeds: list[Seed] = []
    for white, letters, motifs in engine_runs(run, states, settings, limit):
        length_of = [grid.snap(motif.length) for motif in motifs]
        grid.build(length_of)
        found: list[Seed] = []
        for m, members in _by_length(length_of).items():
            some = grid.at(m).on.seeds([motifs[i] for i in members], usable_local, engine_starts, white)
            found.extend((*seed[:4], members[seed[4]]) for seed in some)
        found.sort(key=lambda seed: seed[4])
        seeds.extend(found)
        run.lap(f"candidates of {letters} letters{', whitened' if white else ''}")
        run.report("candidates", len(seeds), len(seeds))
    joined, _ = _steps.discovery_grid_steps(grid.grid)
    grid.build(joined)
    for m in joined:
        at = grid.at(m)
        windows = [int(sizes[s]) - m + 1 for s in at.sample]
        pairs = _steps.discovery_join_pairs(windows, JOIN_PAIRS, JOIN_CELLS)
        seeds.extend(at.on.joined(at.sample, pairs, JOIN_COUNT, phi))
    run.lap("candidates of the joins")
    seeds.sort(key=lambda seed: seed[4])
    return seeds


def _chance(run: Run, grid: _Lengths, sizes: Any) -> dict[int, float]:
    """The chance score at every grid length, fitted to that of shapes of no recurring form at a few."""
    _, measured = _steps.discovery_grid_steps(grid.grid)
    grid.build(measured)
    q = max(CHANCE_SHAPES, 1)
    shapes: list[Any] = [None] * (len(measured) * q)
    # Each shape from a window of the sample at a place fixed by its number, the next along when flat.
    for attempt in range(_steps.CHANCE_ATTEMPTS):
        places: dict[int, list[tuple[int, int, int]]] = {}
        for unit in range(len(shapes)):
            m = measured[unit // q]
            at = grid.at(m)
            if shapes[unit] is not None or not at.sample:
                continue
            windows = [int(sizes[s]) - m + 1 for s in at.sample]
            position, start = _steps.discovery_chance_place(unit, unit % q, q, attempt, windows)
            places.setdefault(m, []).append((unit, at.sample[position], start))
        if not places:
            break
        for m, cut in places.items():
            sums = grid.at(m).on.sums([(np.array([s]), np.array([t])) for _, s, t in cut])
            for n, (unit, _, _) in enumerate(cut):
                window = _steps.discovery_shape([p[n] for p in sums], m, 1)
                if window.size:
                    shape = _steps.discovery_surrogate(window, unit % q)
                    if shape.size:
                        shapes[unit] = shape
    scores = [-1.0] * len(shapes)
    lengths = [measured[unit // q] for unit in range(len(shapes))]
    for m, members in _by_length(lengths, [u for u in range(len(shapes)) if shapes[u] is not None]).items():
        at = grid.at(m)
        for unit, candidate in zip(members, at.on.candidates([shapes[u] for u in members], at.need), strict=True):
            scores[unit] = candidate[3]
    run.lap("chance")
    return dict(zip(grid.grid, _steps.discovery_chance(lengths, scores, grid.grid), strict=True))


def _screened(
    run: Run, grid: _Lengths, seeds: list[Seed], chance: dict[int, float], sampled: bool, pool: int, batch: int
) -> list[_Sized]:
    """The pool: the candidates of distinct places (seeds of one place at one length merged), compared
    with the sample when they are many, the best of them with every series, ranked by standing."""
    seed_lengths = [seed[0].size for seed in seeds]
    merged: list[int] = []
    for m, members in _by_length(seed_lengths).items():
        kept = _steps.discovery_merge([seeds[i][2] for i in members], [seeds[i][3] for i in members], m, MERGE_APART)
        merged.extend(members[k] for k in kept)
    merged.sort()
    merged = merged[:MOST_CANDIDATES_OVER_RANGE] if MOST_CANDIDATES_OVER_RANGE > 0 else merged
    lengths = [seed_lengths[i] for i in merged]
    shapes = [seeds[i][0] for i in merged]
    compared = list(range(len(merged)))
    if sampled and len(merged) > SURVIVORS:
        relative = [np.inf] * len(merged)
        bests: list[Any] = [np.empty(0, dtype=np.int64)] * len(merged)
        for m, members in _by_length(lengths).items():
            at = grid.at(m)
            if not at.sample:
                continue
            scores, found, better = at.on.screen_sample(
                [shapes[i] for i in members], np.array(at.sample), at.sample_need, batch
            )
            for n, i in enumerate(members):
                shapes[i], bests[i] = better[n], found[n]
                relative[i] = _steps.discovery_standing(scores[n], m, chance[m])
        compared = list(_steps.discovery_ranked(relative, bests, lengths, SAME_PLACE, SURVIVORS, 0.5))
        compared += [i for i in range(len(merged)) if not seeds[merged[i]][1] and i not in compared]
    screened = [_Sized((shapes[i], None, None, 0.0), lengths[i], seeds[merged[i]][1]) for i in compared]
    for m, members in _by_length([c.length for c in screened]).items():
        at = grid.at(m)
        for i, candidate in zip(
            members, at.on.candidates([screened[i].candidate[0] for i in members], at.need), strict=True
        ):
            screened[i].candidate = candidate
            screened[i].relative = _steps.discovery_standing(candidate[3], m, chance[m])
    ranked = _steps.discovery_ranked(
        [c.relative for c in screened],
        [c.candidate[2] for c in screened],
        [c.length for c in screened],
        SAME_PLACE,
        pool,
        0.5,
    )
    return [screened[i] for i in ranked]


def _stepped(grid: _Lengths, pool: list[_Sized], chance: dict[int, float], leading: int, iterations: int) -> None:
    """The candidates that rank among the `leading` best step in length while that improves their
    standing (each step judged on the sample, its best try with every series); each that moved is
    refined at its new length and kept there when it ranks better."""
    order = sorted(range(len(pool)), key=lambda i: pool[i].relative)[:leading]
    walks = []
    for w, c in enumerate(pool):
        closest = _steps.discovery_closest(c.candidate[1], c.candidate[2], grid.at(c.length).need)
        walks.append(_Walk(c.length, c.candidate[0], closest, c.candidate[2][closest], c.relative, w not in order))
    for _ in range(LENGTH_STEPS):
        tries = [
            (w, int(m), int(anchor))
            for w, walk in enumerate(walks)
            if not walk.done
            for m, anchor in _steps.discovery_tries(grid.grid, walk.length)
        ]
        if not tries:
            break
        grid.build([m for _, m, _ in tries])
        tried: list[tuple[float, Any]] = [(np.inf, None)] * len(tries)
        for m, members in _by_length([m for _, m, _ in tries]).items():
            at = grid.at(m)
            if not at.sample:
                continue
            requests, moved = [], []
            for t in members:
                walk = walks[tries[t][0]]
                starts = _steps.discovery_resized(walk.starts, grid.sizes[walk.series], walk.length, m, tries[t][2])
                fits = starts >= 0
                requests.append((walk.series[fits], starts[fits]))
                moved.append(t)
            sums = at.on.sums(requests)
            shapes = {}
            for n, t in enumerate(moved):
                count = requests[n][0].size
                shape = _steps.discovery_shape([p[n] for p in sums], m, count) if count else np.empty(0)
                if shape.size:
                    shapes[t] = shape
            if not shapes:
                continue
            distance, best = at.on.evaluate(np.array(list(shapes.values())), np.array(at.sample))
            for row, t in enumerate(shapes):
                score = _steps.discovery_score(distance[row], best[row], at.sample_need)
                tried[t] = (_steps.discovery_standing(score, m, chance[m]), shapes[t])
        chosen: dict[int, int] = {}
        for t, (relative, _) in enumerate(tried):
            w = tries[t][0]
            if relative < np.inf and (w not in chosen or relative < tried[chosen[w]][0]):
                chosen[w] = t
        for w, walk in enumerate(walks):
            if not walk.done and w not in chosen:
                walk.done = True
        moving = [tries[chosen[w]][1] if w in chosen else 0 for w in range(len(walks))]
        for m, ws in _by_length(moving, sorted(chosen)).items():
            at = grid.at(m)
            for w, to in zip(ws, at.on.candidates([tried[chosen[w]][1] for w in ws], at.need), strict=True):
                relative = _steps.discovery_standing(to[3], m, chance[m])
                if not relative < walks[w].relative:
                    walks[w].done = True
                    continue
                closest = _steps.discovery_closest(to[1], to[2], at.need)
                walks[w] = _Walk(m, to[0], closest, to[2][closest], relative)
    for m, ws in _by_length(
        [w.length for w in walks], [w for w in range(len(pool)) if walks[w].length != pool[w].length]
    ).items():
        at = grid.at(m)
        for w, refined in zip(ws, at.on.refined([walks[w].shape for w in ws], at.need, iterations), strict=True):
            relative = _steps.discovery_standing(refined[3], m, chance[m])
            if relative < pool[w].relative:
                pool[w].candidate, pool[w].length, pool[w].relative = refined, m, relative
