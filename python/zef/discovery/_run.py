"""`discover`: the motifs of one length or of a range of lengths, refined at point resolution."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from zef import _native
from zef._validation import (
    Progress,
    as_collection,
    check_progress,
    motif_limit,
    pattern_limit,
    thread_count,
)
from zef.discovery._gaps import fill_gaps
from zef.discovery._lengths import length_setting, lengths_for, settings_by_length
from zef.discovery._result import Discovery, motifs_of
from zef.discovery._tuning import (
    CHANCE_SHAPES,
    ENGINE_SUPPORT,
    JOIN_CELLS,
    JOIN_COUNT,
    JOIN_PAIRS,
    LENGTH_STEPS,
    MERGE_APART,
    MOST_CANDIDATES,
    MOST_CANDIDATES_OVER_RANGE,
    PLACE_OVERLAP,
    SAME_PLACE,
    SAMPLE_FEWEST,
    SAMPLE_POINTS,
    SEEDS_PER_PATTERN,
    SURVIVORS,
)

__all__ = ["discover"]


def discover(
    series: Any,
    *,
    length: int | tuple[int, int] | None = None,
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
    threads: int | None = None,
    progress: Progress | None = None,
    max_patterns: int | None = None,
) -> Discovery:
    """The `k` best motifs in `series`, best first: of `length` points, or each at its own length.

    Parameters
    ----------
    series : array_like
        A 2-D float array (one series per row), a sequence of 1-D series of
        any lengths, a pandas DataFrame (one series per column, whose names
        the result keeps), a 3-D array of shape (n_series, 1, n_points), or
        any object with ``__array__``. Missing points (NaN) inside a series
        are filled on a straight line, and left out at its ends (positions
        stay those given). Series shorter than `length` (over a range: its
        shortest length) take no part and are listed in `short_series`.
    length : int, (int, int) or None, default None
        The motif length in points, at least 4; or a range (lo, hi) of
        lengths, each motif at its own length from lo to hi points (hi cut
        at the longest series); or None, for a range from 16 points to a
        quarter of the median series length (at most 64 times 16). Over a
        range, motifs are ranked by their evidence over the score that
        shapes of no recurring form reach at their length (`chance`); see
        "How it works". The range searched is in ``settings["length"]``.
    minsup : float, default 0.5
        The share of the series (0 to 1) that a motif is expected in: a
        motif's score is the mean distance of the best matches of this share
        of the series, those that match it best; the engine looks for
        candidates with the same support.
    k : int or None, default 10
        Motifs returned, at most; 0 or None for every motif of the refined
        pool that sits at a place of its own.
    detrend : bool or int, default True
        Subtract a moving average first (True: over `length` points, or the
        longest length of a range; an int:
        over that many points; False: not at all), so that a slow drift does
        not decide where a shape matches.
    radius : float, default 1.0
        The distance within which a window counts as an occurrence and its
        series as supporting. A distance is the mean of two z-normalised
        distances, of the window as given and whitened (see "How it works"):
        1.0 is about a correlation of 0.5 in both.
    flat_tol : float, default 0.05
        A window whose deviation is at most this share of its series'
        deviation is flat: it never matches, and never becomes a motif.
    seglen, alphabet, min_len, max_len, max_overlap
        The engine's settings for the candidates (see `Miner`). By default
        segments of length / 8 points (rounded, at least 1), 3 and 4 letters,
        patterns of half to all of the length / seglen letters (plus one);
        over a range, segments of lo / 4 points and patterns from half of lo
        to hi points; ``max_len=0`` for no limit.
    iterations : int, default 2
        Rounds in which each candidate's shape is re-estimated from its
        closest matches.
    pool : int, optional
        Candidates refined, the best of the screening at distinct places
        (default: 2 k, at least 10).
    threads : int, optional
        How many threads do the native work; by default the variable
        ZEF_NUM_THREADS, else every core the process may use (as `zef.mine`).
        The result is the same on any number of threads.
    progress : callable, optional
        ``progress(stage, done, total)``, called now and then from the
        calling thread while the work runs: "prepare" (series), then for each
        alphabet the engine's stages (see `zef.mine`) and "candidates"
        (engine motifs), "screen" (candidates), "refine" (candidates of the
        pool) and "occurrences" (motifs times series). Each stage it saw
        running it sees again as it ended, with its last count. An exception
        it raises stops the work and is raised; so does Ctrl-C.
    max_patterns : int, optional
        When one run of the engine finds more frequent patterns than this,
        the call fails with `TooManyPatterns` instead of going on.

    Returns
    -------
    Discovery
        The motifs, best first, with the series left out.

    Raises
    ------
    TypeError
        For a collection of another kind, a series that is not numbers, or a
        setting of the wrong type.
    ValueError
        For an array of the wrong shape, a setting out of range, no series,
        an infinite value, a length (over a range: its shortest) longer than
        every series, or a range whose shortest length is above its longest.
    TooManyPatterns
        When one run of the engine finds more than `max_patterns` patterns.

    Examples
    --------
    >>> import zef
    >>> from zef.shapes import make_collection
    >>> series, planted = make_collection("bump", 40, n_series=12, n_points=200, seed=1)
    >>> result = zef.discover(series, length=40, k=2)
    >>> len(result) <= 2 and result[0].length
    40
    >>> ranged = zef.discover(series, length=(20, 80), k=2)
    >>> ranged.settings["length"], 20 <= ranged[0].length <= 80
    ([20, 80], True)
    """
    setting = length_setting(length)

    settings_of = settings_by_length(
        setting, minsup, k, detrend, radius, flat_tol, seglen, alphabet, min_len, max_len, max_overlap, iterations, pool
    )
    count = thread_count(threads)
    check_progress(progress)
    limit = pattern_limit(max_patterns)

    rows, names = as_collection(series)
    if not len(rows):
        raise ValueError("no series given")
    for index, row in enumerate(rows):
        if np.isinf(row).any():
            raise ValueError(f"series {index} holds an infinite value")
    filled = [fill_gaps(row) for row in rows]
    lengths = lengths_for(setting, [len(values) for values, _ in filled])
    settings = settings_of(lengths)
    lo, hi = lengths if isinstance(lengths, tuple) else (lengths, 0)
    taking = [i for i, (values, _) in enumerate(filled) if len(values) >= lo]
    short = [i for i, (values, _) in enumerate(filled) if len(values) < lo]

    found = _native.discover(
        [filled[i][0] for i in taking],
        length=lo,
        max_length=hi,
        minsup=settings["minsup"],
        engine_minsup=settings["minsup"] * ENGINE_SUPPORT,
        alphabets=[int(a) for a in settings["alphabet"]],
        detrend_window=settings["detrend"],
        flat_tol=settings["flat_tol"],
        radius=settings["radius"],
        iterations=settings["iterations"],
        seeds_per_motif=SEEDS_PER_PATTERN,
        pool=int(settings["pool"]),
        merge_apart=MERGE_APART,
        most_candidates=MOST_CANDIDATES_OVER_RANGE if hi else MOST_CANDIDATES,
        sample_points=SAMPLE_POINTS,
        sample_fewest=SAMPLE_FEWEST,
        survivors=SURVIVORS,
        join_pairs=JOIN_PAIRS,
        join_count=JOIN_COUNT,
        join_cells=JOIN_CELLS,
        same_place=SAME_PLACE,
        place_overlap=PLACE_OVERLAP,
        k=motif_limit(settings),
        max_overlap=settings["max_overlap"],
        threads=count,
        progress=progress,
        max_patterns=limit,
        seglen=settings["seglen"],
        min_len=settings["min_len"],
        max_len=settings["max_len"],
        chance_shapes=CHANCE_SHAPES,
        length_steps=LENGTH_STEPS,
    )
    motifs = motifs_of(found["motifs"], taking, [offset for _, offset in filled], settings["radius"], bool(hi))
    flat = [taking[i] for i in found["flat_series"]]
    return Discovery(motifs, lengths, filled, short, flat, settings, series_names=names)
