"""Motif discovery on every core: `mine`, and how many threads it uses.

`mine` returns what `Miner(...).mine(series)` returns on a new Miner, bit for
bit, but does the work on the calling thread and threads of its own with the
interpreter lock released: other Python threads go on meanwhile, Ctrl-C
interrupts it, and a callback can follow its progress.
"""

from __future__ import annotations

from typing import Any

from _zef_cpp import Motif
from zef import _native
from zef._cores import available_cores
from zef._native import TooManyPatterns
from zef._validation import (
    THREADS_VARIABLE,
    Progress,
    as_collection,
    check_progress,
    engine_rows,
    float_setting,
    int_setting,
    longest_pattern,
    pattern_limit,
    thread_count,
    top_count,
)

__all__ = ["THREADS_VARIABLE", "TooManyPatterns", "available_cores", "mine", "thread_count"]


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
    threads: int | None = None,
    progress: Progress | None = None,
    max_patterns: int | None = None,
) -> list[Motif]:
    """The motifs of `series`, ranked by NAED: what a new Miner with these settings returns from `mine(series)`.

    The work runs on the calling thread and threads of its own with the
    interpreter lock released; the result is the same on any number of threads.

    Parameters
    ----------
    series : array_like
        A 2-D float array (one series per row), a sequence of series (1-D
        arrays or sequences of numbers, of any lengths), a pandas DataFrame
        (one series per column), a 3-D array of shape (n_series, 1, n_points),
        or any object with ``__array__``. Values are read as float64 and the
        caller's arrays are never changed.
    minsup : float
        The share of the series in which a pattern must occur.
    seglen : int
        Points per symbol.
    alphabet : int
        Symbols, 2 to 10.
    min_len : int, default 3
        The shortest pattern, in symbols.
    max_len : int or None, default 0
        The longest pattern, in symbols; 0 or None for no limit.
    max_overlap : float, default 0.9
        A pattern is dropped when more than this share of it is a subsequence
        of a kept pattern at least as long.
    k : int or None, default 0
        How many motifs are returned, best first; 0 or None for all.
    threads : int, optional
        How many threads do the work; by default the variable
        ZEF_NUM_THREADS, else every core the process may use (affinity and
        cgroup limits honoured).
    progress : callable, optional
        ``progress(stage, done, total)``, called now and then from the
        calling thread while the work runs: stages "discretise" (series),
        "mine" (levels; total 0 while unknown), "filter" (patterns that
        passed the length filter), "map" (motifs) and "collect" (returned
        motifs). It sees a count about every 10 ms, and the last count of
        every stage it saw running. An exception it raises stops the work and
        is raised.
    max_patterns : int, optional
        When mining finds more frequent patterns than this, the call fails
        with TooManyPatterns instead of mapping them all.

    Returns
    -------
    list of Motif
        The motifs, ranked by NAED (smallest first).

    Raises
    ------
    TypeError
        For a collection of another kind, a series that is not numbers, or a
        setting of the wrong type.
    ValueError
        For an array of the wrong shape or a setting out of range.
    TooManyPatterns
        When more than `max_patterns` patterns pass the support test.
    MemoryError
        When mapping the motifs could never fit in memory.

    Examples
    --------
    >>> import numpy as np
    >>> import zef
    >>> rng = np.random.default_rng(0)
    >>> series = np.cumsum(rng.normal(size=(20, 64)), axis=1)
    >>> motifs = zef.mine(series, minsup=0.5, seglen=8, alphabet=3, min_len=2, k=2)
    >>> len(motifs)
    2
    >>> motifs[0].naed <= motifs[1].naed
    True
    """
    count = thread_count(threads)
    check_progress(progress)
    limit = pattern_limit(max_patterns)
    settings = (
        float_setting("minsup", minsup),
        int_setting("seglen", seglen),
        int_setting("alphabet", alphabet),
        int_setting("min_len", min_len),
        longest_pattern(max_len),
        float_setting("max_overlap", max_overlap),
        top_count(k),
    )
    rows = engine_rows(series)
    reported = False

    def report(stage: str, done: int, total: int) -> object:
        nonlocal reported
        reported = True
        return progress(stage, done, total) if progress is not None else None

    try:
        return _native.mine(
            rows,
            *settings,
            count,
            report if progress is not None else None,
            limit,
        )
    except TypeError:
        # Before the first report the only TypeError is the native call's refusal of a series.
        if reported:
            raise
        as_collection(series)
        raise
