"""Discovery: the motifs of a given length that recur across a collection of series.

`discover(series, length=...)` takes its candidates from the engine (the
frequent SAX patterns of `_zef_cpp`, with settings derived from `length`) and
refines each one at point resolution in native code (`zef._native`): the
candidate's shape is compared with every window of every series by the
z-normalised Euclidean distance, its best match in each series found at any
start point, and the shape re-estimated from its closest matches. Motifs are
ranked by their score, the mean distance of the best matches over the `minsup`
share of the series that match best, smallest first; a motif whose best
matches mostly sit where a better motif's do is dropped.

Distances are z-normalised Euclidean distances divided by sqrt(length):
sqrt(2 (1 - r)) for a Pearson correlation r, so 0 is the same shape, about 1.41
an unrelated one, and 2 the largest.
"""

from __future__ import annotations

import html
import importlib
import json
import math
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, overload

import numpy as np
from numpy.typing import NDArray

from zef import _native
from zef.mining import Progress, check_progress, pattern_limit, thread_count

if TYPE_CHECKING:
    from matplotlib.axes import Axes

FloatArray = NDArray[np.float64]

#: Letters per motif length: the engine's segments are length / LETTERS points.
LETTERS = 8
MIN_LENGTH = 4
#: Candidate shapes taken from each engine pattern (its best matches closest to its representative).
SEEDS_PER_PATTERN = 2
#: Points per shape in the coarse screening of every candidate (block means).
COARSE_POINTS = 32
#: Two motifs are one when, in this share of the series, their best matches
#: overlap by more than PLACE_OVERLAP times the length.
SAME_PLACE = 0.5
PLACE_OVERLAP = 0.25
#: The engine's support threshold, as a share of minsup.
ENGINE_SUPPORT = 1.0


@dataclass(frozen=True)
class DiscoveredMotif:
    """One motif: a shape of `length` points and where each series matches it."""

    rank: int
    length: int
    #: series index -> start point of its closest window
    best_matches: dict[int, int]
    #: series index -> start points of every window within the radius, closest first
    occurrences: dict[int, list[int]]
    #: the engine pattern (SAX letters) that the shape was grown from
    pattern: str
    #: the supporting series: those whose best match lies within the radius
    series: tuple[int, ...]
    #: mean distance of the best matches over the minsup share of series that match best
    score: float
    #: the representative shape, z-normalised (mean 0, deviation 1)
    shape: FloatArray = field(repr=False, compare=False)
    #: series index -> distance of its best match
    distances: dict[int, float] = field(repr=False, compare=False)

    def to_dict(self) -> dict[str, Any]:
        return {
            "rank": self.rank,
            "length": self.length,
            "pattern": self.pattern,
            "score": _finite(self.score),
            "series": list(self.series),
            "best_matches": [
                {"series": s, "start": p, "end": p + self.length, "distance": _finite(self.distances[s])}
                for s, p in sorted(self.best_matches.items())
            ],
            "occurrences": [{"series": s, "starts": starts} for s, starts in sorted(self.occurrences.items())],
            "shape": [float(v) for v in self.shape],
        }


class Discovery(Sequence[DiscoveredMotif]):
    """The motifs that `discover` found, best first, and what it left out.

    A sequence of `DiscoveredMotif`; `short_series` lists the series shorter
    than the motif length and `flat_series` those without a window that is not
    flat: neither takes part or counts towards the support.
    """

    def __init__(
        self,
        motifs: list[DiscoveredMotif],
        length: int,
        series: Sequence[tuple[FloatArray, int]],
        short_series: list[int],
        flat_series: list[int],
        settings: dict[str, Any],
    ) -> None:
        self.motifs = motifs
        self.length = length
        self.short_series = short_series
        self.flat_series = flat_series
        self.settings = settings
        # Each series as compared: missing points filled, and the position of
        # its first point in the series given.
        self._series = series

    @overload
    def __getitem__(self, index: int) -> DiscoveredMotif: ...
    @overload
    def __getitem__(self, index: slice) -> list[DiscoveredMotif]: ...
    def __getitem__(self, index: int | slice) -> DiscoveredMotif | list[DiscoveredMotif]:
        return self.motifs[index]

    def __len__(self) -> int:
        return len(self.motifs)

    def __iter__(self) -> Iterator[DiscoveredMotif]:
        return iter(self.motifs)

    def __repr__(self) -> str:
        return f"<Discovery: {len(self.motifs)} motifs of {self.length} points in {len(self._series)} series>"

    def to_dict(self) -> dict[str, Any]:
        return {
            "length": self.length,
            "settings": self.settings,
            "short_series": self.short_series,
            "flat_series": self.flat_series,
            "motifs": [m.to_dict() for m in self.motifs],
        }

    def to_json(self, **dumps: Any) -> str:
        """The result as JSON (values that are not numbers become null)."""
        return json.dumps(self.to_dict(), **dumps)

    def to_frame(self) -> Any:
        """One row per motif and series with a best match (needs pandas)."""
        try:
            pd = importlib.import_module("pandas")
        except ImportError:
            raise ImportError("to_frame() needs pandas: pip install 'zef[frame]'") from None
        rows = [
            {
                "rank": m.rank,
                "series": s,
                "start": p,
                "end": p + m.length,
                "distance": m.distances[s],
                "supporting": s in m.series,
                "occurrences": len(m.occurrences.get(s, [])),
                "score": m.score,
                "pattern": m.pattern,
            }
            for m in self.motifs
            for s, p in sorted(m.best_matches.items())
        ]
        columns = ["rank", "series", "start", "end", "distance", "supporting", "occurrences", "score", "pattern"]
        return pd.DataFrame(rows, columns=columns)

    def table(self, shown: int = 5) -> str:
        """The motifs as a text table."""
        lines = [f"{'rank':>4}  {'score':>6}  {'series':>6}  {'length':>6}  best matches (series:point)"]
        for m in self.motifs:
            matches = sorted(m.best_matches.items(), key=lambda item: m.distances[item[0]])
            text = " ".join(f"{s}:{p}" for s, p in matches[:shown]) + (" ..." if len(matches) > shown else "")
            lines.append(f"{m.rank:>4}  {m.score:>6.3f}  {len(m.series):>6}  {m.length:>6}  {text}")
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{h}</th>" for h in ("rank", "score", "series", "length", "pattern", "best matches"))
        body = []
        for m in self.motifs:
            matches = sorted(m.best_matches.items(), key=lambda item: m.distances[item[0]])
            text = " ".join(f"{s}:{p}" for s, p in matches[:5]) + (" …" if len(matches) > 5 else "")
            cells = (m.rank, f"{m.score:.3f}", len(m.series), m.length, m.pattern, text)
            body.append("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in cells) + "</tr>")
        caption = html.escape(repr(self))
        return f"<table><caption>{caption}</caption><tr>{head}</tr>{''.join(body)}</table>"

    def plot(self, top: int = 3, *, axes: Any = None) -> Any:
        """Draws the best `top` motifs, one per row (needs matplotlib); returns the axes.

        Left: the shape (black) and the best match of each supporting series,
        both as they are compared (detrended, then z-normalised); right: where
        those best matches sit in their series.
        """
        import matplotlib.pyplot as plt

        shown = self.motifs[:top]
        if axes is None:
            rows = max(1, len(shown))
            _, axes = plt.subplots(rows, 2, figsize=(10, 2.6 * rows), squeeze=False, layout="constrained")
        axes = np.asarray(axes).reshape(-1, 2)
        for row, motif in zip(axes, shown, strict=False):
            _draw(row[0], row[1], motif, self._series, int(self.settings["detrend"]))
        return axes


def _draw(
    left: Axes, right: Axes, motif: DiscoveredMotif, series: Sequence[tuple[FloatArray, int]], detrend: int
) -> None:
    x = np.arange(motif.length)
    for s in motif.series:
        values, offset = series[s]
        compared = _native.detrend(values, detrend) if detrend > 1 else values
        start = motif.best_matches[s] - offset
        match = compared[start : start + motif.length]
        sd = match.std()
        if sd > 0:
            left.plot(x, (match - match.mean()) / sd, linewidth=0.6, alpha=0.35)
    left.plot(x, motif.shape, color="black", linewidth=2)
    left.set_title(f"motif {motif.rank}: score {motif.score:.3f}, {len(motif.series)} series", fontsize=9)
    left.set_ylabel("z-normalised", fontsize=8)
    starts = [motif.best_matches[s] for s in motif.series]
    right.hlines(list(motif.series), starts, [p + motif.length for p in starts], color="tab:blue", linewidth=0.5)
    right.scatter(starts, list(motif.series), s=2, color="black")
    right.set_xlabel("point", fontsize=8)
    right.set_ylabel("series", fontsize=8)


def _finite(value: float) -> float | None:
    return value if math.isfinite(value) else None


def _as_rows(series: Any) -> list[FloatArray]:
    """The series as 1-D float64 arrays; TypeError or ValueError for anything else."""
    if isinstance(series, np.ndarray):
        if series.ndim != 2:
            raise ValueError(
                f"series must be a 2-D array or a list of 1-D series, got an array of {series.ndim} dimensions"
            )
        items: Sequence[Any] = list(series)
    elif isinstance(series, (str, bytes)) or not isinstance(series, Sequence):
        raise TypeError(f"series must be a 2-D array or a list of 1-D series, got {type(series).__name__}")
    else:
        items = series
    rows = []
    for index, item in enumerate(items):
        try:
            row = np.asarray(item, dtype=np.float64)
        except (TypeError, ValueError) as error:
            raise TypeError(f"series {index} is not a sequence of numbers: {error}") from None
        if row.ndim != 1:
            raise ValueError(f"series {index} must be 1-D, got {row.ndim} dimensions")
        if np.isinf(row).any():
            raise ValueError(f"series {index} holds an infinite value")
        rows.append(row)
    return rows


def fill_gaps(row: FloatArray) -> tuple[FloatArray, int]:
    """Missing points (NaN) filled as `zef find` fills them.

    Gaps inside the series are filled on a straight line between their
    neighbours; missing points at the ends are left out. Returns the filled
    values and the position of the first one in the original series.
    """
    known = np.flatnonzero(~np.isnan(row))
    if known.size == 0:
        return np.empty(0), 0
    first, last = int(known[0]), int(known[-1])
    kept = row[first : last + 1]
    if known.size == kept.size:
        return np.ascontiguousarray(kept), first
    inside = known - first
    filled = np.interp(np.arange(kept.size), inside, kept[inside])
    return filled, first


def settings_for(length: int, seglen: int | None = None) -> dict[str, int]:
    """The engine settings derived from the motif length and segment length (see `discover`)."""
    if seglen is None:
        seglen = max(1, round(length / LETTERS))
    letters = max(1, length // max(1, seglen))
    return {"seglen": seglen, "min_len": max(2, letters // 2), "max_len": letters + 1}


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
    threads: int | None = None,
    progress: Progress | None = None,
    max_patterns: int | None = None,
) -> Discovery:
    """The `k` best motifs of `length` points in `series`, best first.

    series: a 2-D float array (one series per row), or a list of 1-D arrays or
        lists, of any lengths. Missing points (NaN) inside a series are filled
        on a straight line, and left out at its ends (positions stay those
        given). Series shorter than `length` take no part and are listed in
        `short_series`.

    length: the motif length in points, at least 4.

    minsup: the share of the series (0 to 1) that a motif is expected in: a
        motif's score is the mean distance of the best matches of this share of
        the series, those that match it best; the engine looks for candidates
        with the same support.

    k: motifs returned, at most.

    detrend: subtract a moving average first (True: over `length` points; an
        int: over that many points; False: not at all), so that a slow drift
        does not decide where a shape matches.

    radius: the distance within which a window counts as an occurrence and
        its series as supporting (1.0: a correlation of at least 0.5).

    flat_tol: a window whose deviation is at most this share of its series'
        deviation is flat: it never matches, and never becomes a motif.

    seglen, alphabet, min_len, max_len, max_overlap: the engine's settings for
        the candidates (see `Miner`). By default segments of length / 8 points
        (rounded, at least 1), 4 letters, patterns of half to all of the
        length / seglen letters (plus one).

    iterations: rounds in which each candidate's shape is re-estimated from its
        closest matches.

    pool: candidates refined at full resolution, after a coarse screening of
        all of them (default: 2 k, at least 10).

    threads: how many threads do the native work; by default the variable
        ZEF_NUM_THREADS, else every core the process may use (as `zef.mine`).
        The result is the same on any number of threads.

    progress: a callable (stage, done, total), called now and then from the
        calling thread while the work runs: "prepare" (series), then for each
        alphabet the engine's stages (see `zef.mine`) and "candidates" (engine
        motifs), "screen" (candidates), "refine" (candidates of the pool) and
        "occurrences" (motifs times series). Each stage it saw running it
        sees again as it ended, with its last count. An exception it raises
        stops the work and is raised; so does Ctrl-C (KeyboardInterrupt).

    max_patterns: when one run of the engine finds more frequent patterns than
        this, the call fails with `TooManyPatterns` instead of going on.
    """
    length = check_arguments(length, minsup, k, radius, flat_tol, iterations)
    count = thread_count(threads)
    check_progress(progress)
    limit = pattern_limit(max_patterns)

    rows = _as_rows(series)
    if not rows:
        raise ValueError("no series given")
    filled = [fill_gaps(row) for row in rows]
    check_longest(length, max(len(values) for values, _ in filled))
    taking = [i for i, (values, _) in enumerate(filled) if len(values) >= length]
    short = [i for i, (values, _) in enumerate(filled) if len(values) < length]

    settings = full_settings(
        length, minsup, k, detrend, radius, flat_tol, seglen, alphabet, min_len, max_len, max_overlap, iterations, pool
    )
    found = _native.discover(
        [filled[i][0] for i in taking],
        length=length,
        minsup=float(minsup),
        engine_minsup=float(minsup) * ENGINE_SUPPORT,
        alphabets=[int(a) for a in settings["alphabet"]],
        detrend_window=settings["detrend"],
        flat_tol=float(flat_tol),
        radius=float(radius),
        iterations=int(iterations),
        seeds_per_motif=SEEDS_PER_PATTERN,
        pool=int(settings["pool"]),
        coarse=COARSE_POINTS,
        same_place=SAME_PLACE,
        place_overlap=PLACE_OVERLAP,
        k=int(k),
        max_overlap=float(max_overlap),
        threads=count,
        progress=progress,
        max_patterns=limit,
        seglen=settings["seglen"],
        min_len=settings["min_len"],
        max_len=settings["max_len"],
    )
    motifs = motifs_of(found["motifs"], taking, [offset for _, offset in filled], length, radius)
    return Discovery(motifs, length, filled, short, [taking[i] for i in found["flat_series"]], settings)


def check_arguments(length: Any, minsup: float, k: Any, radius: float, flat_tol: float, iterations: int) -> int:
    """The checks of `discover` that need no data; returns the length as an int."""
    if isinstance(length, bool) or not isinstance(length, (int, np.integer)):
        raise TypeError(f"length must be an int, got {type(length).__name__}")
    length = int(length)
    if length < MIN_LENGTH:
        raise ValueError(f"length must be at least {MIN_LENGTH} points, got {length}")
    if not 0 < minsup <= 1:
        raise ValueError(f"minsup must be above 0 and at most 1, got {minsup}")
    if isinstance(k, bool) or not isinstance(k, (int, np.integer)) or k < 1:
        raise ValueError(f"k must be a positive int, got {k!r}")
    if not radius > 0:
        raise ValueError(f"radius must be above 0, got {radius}")
    if not 0 <= flat_tol < 1:
        raise ValueError(f"flat_tol must be at least 0 and below 1, got {flat_tol}")
    if iterations < 0:
        raise ValueError(f"iterations must be 0 or more, got {iterations}")
    return int(length)


def check_longest(length: int, longest: int) -> None:
    if length > longest:
        raise ValueError(f"length {length} is longer than every series (the longest has {longest} points)")


def full_settings(
    length: int,
    minsup: float,
    k: int,
    detrend: bool | int,
    radius: float,
    flat_tol: float,
    seglen: int | None,
    alphabet: int | Sequence[int],
    min_len: int | None,
    max_len: int | None,
    max_overlap: float,
    iterations: int,
    pool: int | None,
) -> dict[str, Any]:
    """The settings of a run (Discovery.settings), checked: the engine's, the detrending window and the pool."""
    engine = settings_for(length, None if seglen is None else int(seglen))
    for name, value in (("min_len", min_len), ("max_len", max_len)):
        if value is not None:
            engine[name] = int(value)
    if engine["seglen"] < 1:
        raise ValueError(f"seglen must be at least 1, got {engine['seglen']}")
    alphabets = [alphabet] if isinstance(alphabet, (int, np.integer)) else list(alphabet)
    if not alphabets or any(
        isinstance(a, bool) or not isinstance(a, (int, np.integer)) or not 2 <= a <= 10 for a in alphabets
    ):
        raise ValueError(f"alphabet must be an int from 2 to 10, or a sequence of them, got {alphabet!r}")
    if engine["max_len"] < 0 or engine["min_len"] < 1:
        raise ValueError("min_len must be at least 1 and max_len at least 0")
    window = length if detrend is True else int(detrend)
    if window < 0:
        raise ValueError(f"detrend must be True, False or a window of points, got {detrend!r}")
    pool = max(10, 2 * k) if pool is None else pool
    if pool < 1:
        raise ValueError(f"pool must be at least 1, got {pool}")
    return {
        "length": length,
        "minsup": minsup,
        "k": k,
        "detrend": window,
        "radius": radius,
        "flat_tol": flat_tol,
        "iterations": iterations,
        "pool": pool,
        "max_overlap": max_overlap,
        "alphabet": alphabets,
        **engine,
    }


def motifs_of(
    found: list[dict[str, Any]], taking: list[int], offsets: Sequence[int], length: int, radius: float
) -> list[DiscoveredMotif]:
    """The motifs from the native result: per taken series j (series taking[j],
    whose first point is at offsets[taking[j]]) its best match, distance and occurrences."""
    motifs = []
    for rank, raw in enumerate(found, start=1):
        best: dict[int, int] = {}
        distances: dict[int, float] = {}
        occurrences: dict[int, list[int]] = {}
        for j, original in enumerate(taking):
            start = int(raw["best"][j])
            if start < 0:
                continue
            offset = offsets[original]
            best[original] = start + offset
            distances[original] = float(raw["distance"][j])
            starts = raw["occurrences"][j]
            if len(starts):
                occurrences[original] = [int(p) + offset for p in starts]
        supporting = tuple(s for s in best if distances[s] <= radius)
        motifs.append(
            DiscoveredMotif(
                rank=rank,
                length=length,
                best_matches=best,
                occurrences=occurrences,
                pattern=raw["pattern"].decode("latin-1"),
                series=supporting,
                score=float(raw["score"]),
                shape=raw["shape"],
                distances=distances,
            )
        )
    return motifs
