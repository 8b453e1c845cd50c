"""The peers of discovery over a range of lengths, for benchmarks/lengths.py.

Neither peer ranks shapes of several lengths across a collection, so each is
given the nearest thing it does:

- stumpy.ostinato takes one length: it is looped over a geometric grid of
  GRID lengths across the range. Each length gives one consensus motif and its
  radius; the motifs are ranked by the radius over the square root of the
  length (a radius grows with the length of the windows it is taken over).
  Only the ostinato calls are timed; the best match of a consensus motif in
  each series is then its nearest subsequence (stumpy.mass).
- LoCoMotif (dtai-locomotif) finds motif sets of lengths between l_min and
  l_max within one series, allowing time warping, with a similarity matrix of
  the whole series against itself: its memory and time grow with the square
  of the length. It is given the first LOCO_SERIES series laid end to end,
  with its default strictness (rho) and warping. Each of its motif sets maps
  back to one match per series: the segment that lies most in the series,
  and the length of the set's representative segment.
"""

from __future__ import annotations

import time

import numpy as np

# Lengths of the ostinato loop, spread geometrically from the low end of the range to the high end.
GRID = 8
# 8 series of 1000 points make a series of 8000 points: a similarity matrix of 64 million
# cells, a few seconds of LoCoMotif; the whole collection (40000 points) would need 25 times that.
LOCO_SERIES = 8

Motifs = list[tuple[int, dict[int, int]]]  # ranked: (length, series -> start of the best match)


def grid(lo: int, hi: int) -> list[int]:
    """GRID lengths from lo to hi, geometric, rounded (fewer where rounding merges them)."""
    return sorted({round(lo * (hi / lo) ** (i / (GRID - 1))) for i in range(GRID)})


def ostinato_loop(series: np.ndarray, lo: int, hi: int) -> tuple[Motifs, float]:
    """The consensus motif of every length of the grid, best first by radius / sqrt(length), and the time
    that the ostinato calls took together."""
    import stumpy

    rows = [np.ascontiguousarray(row) for row in series]
    found = []
    elapsed = 0.0
    for length in grid(lo, hi):
        start = time.perf_counter()
        radius, index, point = stumpy.ostinato(rows, length)
        elapsed += time.perf_counter() - start
        found.append((float(radius) / np.sqrt(length), length, int(index), int(point)))
    motifs = []
    for _, length, index, point in sorted(found):
        query = rows[index][point : point + length]
        motifs.append((length, {s: int(np.argmin(stumpy.mass(query, row))) for s, row in enumerate(rows)}))
    return motifs, elapsed


def locomotif(series: np.ndarray, lo: int, hi: int, count: int) -> tuple[Motifs, float]:
    """LoCoMotif's best `count` motif sets on the first LOCO_SERIES series laid end to end, as matches per
    series, and its time."""
    from locomotif.locomotif import apply_locomotif

    points = series.shape[1]
    joined = np.ascontiguousarray(np.concatenate(series[:LOCO_SERIES]), dtype=np.float64)
    start = time.perf_counter()
    motif_sets = apply_locomotif(joined, l_min=lo, l_max=hi, nb=count)
    elapsed = time.perf_counter() - start
    motifs = []
    for (begin, end), segments in motif_sets:
        best: dict[int, tuple[int, int]] = {}  # series -> (points inside it, start)
        for b, e in ((int(b), int(e)) for b, e in segments):  # e is exclusive
            row = b // points
            boundary = (row + 1) * points
            if e - boundary > boundary - b and row + 1 < LOCO_SERIES:  # mostly in the next series
                row, inside, at = row + 1, e - boundary, 0
            else:
                inside, at = min(e, boundary) - b, b - row * points
            if inside > best.get(row, (0, 0))[0]:
                best[row] = (inside, at)
        motifs.append((int(end) - int(begin), {row: at for row, (_, at) in best.items()}))
    return motifs, elapsed


def warm_up() -> float:
    """Compiles the peers' numba code on small inputs, so that no timed call pays for it."""
    from locomotif.locomotif import apply_locomotif

    from quality import warm_up_peers

    start = time.perf_counter()
    warm_up_peers()
    rows = [np.random.default_rng(0).normal(size=200) for _ in range(3)]
    apply_locomotif(np.concatenate(rows), l_min=10, l_max=40, nb=2)
    return time.perf_counter() - start
