"""`zef.dask.discover`: discovery with the series kept on the workers.

Each partition is filled, detrended and measured on its worker and stays
there; the engine's candidates come from the partitioned mining; the candidate
windows, the screening, the refinement and the occurrences run on the
partitions, which send per-series distances and best matches and exact sums of
windows; the client ranks and combines them.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import distributed
import numpy as np
from dask.delayed import delayed

from zef._validation import (
    Progress,
    batch_size,
    check_longest,
    check_progress,
    motif_limit,
    pattern_limit,
)
from zef.dask import _steps
from zef.dask._discover_lengths import discover_lengths
from zef.dask._discovery_parts import (
    Partitions,
    RemoteSeries,
    Seed,
    discovery_prepare,
    discovery_whiten,
    engine_runs,
    info,
    series_count,
    series_sizes,
    taken_series,
)
from zef.dask._partitions import partitions
from zef.dask._run import Run
from zef.discovery._lengths import length_setting, settings_by_length
from zef.discovery._result import DiscoveredMotif, Discovery, motifs_of
from zef.discovery._tuning import (
    JOIN_CELLS,
    JOIN_COUNT,
    JOIN_PAIRS,
    MERGE_APART,
    MOST_CANDIDATES,
    PLACE_OVERLAP,
    SAME_PLACE,
    SAMPLE_FEWEST,
    SAMPLE_POINTS,
    SURVIVORS,
)

__all__ = ["SCREENED_PER_PASS", "discover"]

#: Candidate shapes screened per pass over the partitions, by default.
SCREENED_PER_PASS = 256


def discover(
    series: Any,
    *,
    length: int | tuple[int, int] | None = None,
    minsup: float = 0.5,
    k: int | None = 10,
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
    batch: int | None = None,
    progress: Progress | None = None,
    timings: list[tuple[str, float]] | None = None,
) -> Discovery:
    """The `k` best motifs in `series`, of `length` points or each at its own length: what `zef.discover`
    returns on the same series.

    The same motifs with the same ranks, best matches, occurrences, patterns,
    supporting series, scores, shapes and distances, and the same short and
    flat series and settings. The work runs one task per partition at a time,
    each on one thread of its worker; the series are fetched one by one only
    when the result is plotted.

    Parameters
    ----------
    series : dask array, dask bag or array_like
        As in `zef.dask.mine`; a pandas DataFrame's column names are kept.
    length, minsup, k, detrend, radius, flat_tol, seglen, alphabet, min_len, max_len, max_overlap, iterations, pool
        As in `zef.discover`.
    max_patterns : int, optional
        As in `zef.discover`.
    client : distributed.Client, optional
        Where the work runs; by default the current client.
    batch : int, optional
        Candidate shapes screened per pass over the partitions (default 256).
        The mining maps its patterns in batches sized as `zef.dask.mine`
        sizes them.
    progress : callable, optional
        ``progress(stage, done, total)``, called from the calling thread:
        "prepare" (partitions), then for each alphabet the stages of
        `zef.dask.mine` and "candidates", then "screen", "refine" and
        "occurrences". An exception it raises stops the work and is raised.
    timings : list, optional
        When given, receives (step, seconds) for each step of the run, finer
        than the stages (each level's count and reduction, each pass's work
        on the workers and on the client). The time of each stage, for this
        call and the one-process ones alike, comes from ``progress=`` with a
        `zef.timing.StageTimes`.

    Returns
    -------
    Discovery
        Equal to what `zef.discover` returns on the same series.

    Raises
    ------
    PartitionError
        When a partition fails to load or to be worked on in any pass;
        nothing of the run is left on the cluster.
    TypeError, ValueError, TooManyPatterns
        As `zef.discover` raises them.

    Examples
    --------
    >>> import dask.array as da
    >>> import distributed
    >>> import zef
    >>> import zef.dask
    >>> from zef.shapes import make_collection
    >>> series, _ = make_collection("bump", 40, n_series=12, n_points=200, seed=1)
    >>> with distributed.Client(processes=False, n_workers=1, threads_per_worker=2, dashboard_address=":0"):
    ...     found = zef.dask.discover(da.from_array(series, chunks=(6, 200)), length=40, k=2)
    >>> list(found) == list(zef.discover(series, length=40, k=2))
    True

    Over a range of lengths, the same:

    >>> with distributed.Client(processes=False, n_workers=1, threads_per_worker=2, dashboard_address=":0"):
    ...     ranged = zef.dask.discover(da.from_array(series, chunks=(6, 200)), length=(20, 80), k=2)
    >>> list(ranged) == list(zef.discover(series, length=(20, 80), k=2))
    True
    """
    setting = length_setting(length)

    settings_of = settings_by_length(
        setting, minsup, k, detrend, radius, flat_tol, seglen, alphabet, min_len, max_len, max_overlap, iterations, pool
    )
    check_progress(progress)
    limit = pattern_limit(max_patterns)
    batch = batch_size(batch) or SCREENED_PER_PASS
    if client is None:
        client = distributed.get_client()
    with Run(client, progress, timings) as run:
        parts, names = partitions(series, run)
        if isinstance(setting, int):
            return _discover(run, parts, names, settings_of(setting), batch, limit)
        return discover_lengths(
            run,
            parts,
            names,
            setting,
            settings_of,
            lambda one: _discover(run, parts, names, one, batch, limit),
            batch,
            limit,
        )


def _discover(
    run: Run, parts: list[Any], names: list[str] | None, settings: dict[str, Any], batch: int, limit: int | None
) -> Discovery:
    length, minsup, flat_tol, radius = settings["length"], settings["minsup"], settings["flat_tol"], settings["radius"]
    prepare = delayed(discovery_prepare)
    states = run.paced(
        [prepare(part, length, settings["detrend"], flat_tol) for part in parts], False, "prepare", series_count
    )
    infos = run.gather(run.each(info, states))
    run.lap("prepare")
    sizes = series_sizes(infos)
    check_longest(length, int(sizes.max()))
    taken = taken_series(sizes, length, infos, [i["usable"] for i in infos])
    taking, offsets, usable, usable_count = taken.taking, taken.offsets, taken.usable, taken.usable_count

    def result(motifs: list[DiscoveredMotif]) -> Discovery:
        remote = RemoteSeries(run.client, parts, [i["sizes"].size for i in infos])
        return Discovery(motifs, length, remote, taken.short, taken.flat_series, settings, series_names=names)

    if usable_count == 0:
        return result([])
    need = _steps.discovery_need(minsup, usable_count)
    # The whitened view: every partition's series filtered with the collection's coefficient.
    lags = np.concatenate([np.asarray(i["lags"])[np.asarray(i["usable"], dtype=bool)] for i in infos])
    phi = _steps.discovery_whitening(lags.tolist())
    states = run.each(discovery_whiten, states, length, flat_tol, phi)
    on = Partitions(run, states, taken.starts, length, flat_tol)

    # Candidates: the engine on each partition's usable series, as `mine` runs it.
    usable_local = [np.flatnonzero(u) for u in usable]
    engine_starts = np.cumsum([0] + [u.size for u in usable_local])
    seeds: list[Seed] = []
    for white, letters, motifs in engine_runs(run, states, settings, limit):
        seeds.extend(on.seeds(motifs, usable_local, engine_starts, white))
        run.lap(f"candidates of {letters} letters{', whitened' if white else ''}")
        run.report("candidates", len(seeds), len(seeds))

    # Candidates from exact joins of pairs of the sample's series.
    usable_taken = np.flatnonzero(np.concatenate(usable))
    lengths = sizes[np.asarray(taking, dtype=np.int64)[usable_taken]].tolist() if usable_taken.size else []
    sample = usable_taken[_steps.discovery_sample(lengths, SAMPLE_POINTS, SAMPLE_FEWEST)]
    windows = [int(sizes[taking[t]]) - length + 1 for t in sample.tolist()]
    pairs = _steps.discovery_join_pairs(windows, JOIN_PAIRS, JOIN_CELLS)
    seeds.extend(on.joined(sample.tolist(), pairs, JOIN_COUNT, phi))
    run.lap("candidates of the joins")

    # Screening: candidates from one place merged, the rest compared with a
    # sample of the series, the best of those with every series.
    # The engines' rankings interleaved, as discover orders them (a stable sort).
    seeds.sort(key=lambda seed: seed[4])
    merged = _steps.discovery_merge([c[2] for c in seeds], [c[3] for c in seeds], length, MERGE_APART)
    merged = merged[:MOST_CANDIDATES] if MOST_CANDIDATES > 0 else merged
    compared = merged
    shapes = [seeds[i][0] for i in merged]
    if sample.size < usable_count and len(merged) > SURVIVORS:
        sample_need = _steps.discovery_need(minsup, sample.size)
        scores, bests, shapes = on.screen_sample(shapes, sample, sample_need, batch)
        survivors = _steps.discovery_places(scores, bests, length, SAME_PLACE, SURVIVORS, 0.5)
        # The joins' candidates go on whatever the sample says: it holds their own pairs.
        survivors += [i for i, at in enumerate(merged) if not seeds[at][1] and i not in survivors]
        compared = [merged[i] for i in survivors]
        shapes = [shapes[i] for i in survivors]
    scores, bests, _ = on.screen(shapes, None, need, batch)
    pool = _steps.discovery_places(scores, bests, length, SAME_PLACE, int(settings["pool"]), 0.5)
    del bests
    patterns = [seeds[compared[i]][1] for i in pool]
    pool_shapes = [shapes[i] for i in pool]
    run.lap("screen")

    # Refinement, every candidate of the pool in step: its closest windows
    # summed exactly on the partitions, the mean shape evaluated again.
    best_of = on.refined(pool_shapes, need, settings["iterations"])
    final = _steps.discovery_places(
        [c[3] for c in best_of], [c[2] for c in best_of], length, SAME_PLACE, motif_limit(settings), PLACE_OVERLAP
    )
    run.lap("refine")
    run.report("refine", settings["iterations"], settings["iterations"])

    chosen = [best_of[i] for i in final]
    found = on.occurrences([c[0] for c in chosen], radius)
    raw = [
        {
            "length": length,
            "best": c[2],
            "distance": c[1],
            "occurrences": occurrences,
            "score": c[3],
            "pattern": patterns[i],
            "shape": c[0],
        }
        for i, c, occurrences in zip(final, chosen, found, strict=True)
    ]
    run.lap("occurrences")
    run.report("occurrences", len(chosen), len(chosen))
    return result(motifs_of(raw, taking, offsets, radius))
