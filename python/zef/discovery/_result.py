"""The result of discovery: `Discovery`, a sequence of `DiscoveredMotif`, with tables, JSON and plots."""

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

if TYPE_CHECKING:
    from matplotlib.axes import Axes

__all__ = ["DiscoveredMotif", "Discovery", "motifs_of"]

FloatArray = NDArray[np.float64]


@dataclass(frozen=True)
class DiscoveredMotif:
    """One motif: a shape of `length` points and where each series matches it.

    Attributes
    ----------
    rank : int
        Its rank, from 1.
    length : int
        Its length in points.
    best_matches : dict of int to int
        Series index -> start point of its closest window.
    occurrences : dict of int to list of int
        Series index -> start points of every window within the radius, closest first.
    pattern : str
        The engine pattern (SAX letters) that the shape was grown from; empty
        when it was grown from the closest pair of windows of two series.
    series : tuple of int
        The supporting series: those whose best match lies within the radius.
    score : float
        Mean distance of the best matches over the minsup share of series that match best.
    chance : float or None
        Over a range of lengths, the score that shapes of no recurring form
        reach at this motif's length; motifs are ranked by score / chance.
        None for a single length.
    shape : ndarray
        The representative shape, z-normalised (mean 0, deviation 1).
    distances : dict of int to float
        Series index -> distance of its best match.
    """

    rank: int
    length: int
    #: series index -> start point of its closest window
    best_matches: dict[int, int]
    #: series index -> start points of every window within the radius, closest first
    occurrences: dict[int, list[int]]
    #: the engine pattern (SAX letters) that the shape was grown from; empty
    #: when it was grown from the closest pair of windows of two series
    pattern: str
    #: the supporting series: those whose best match lies within the radius
    series: tuple[int, ...]
    #: mean distance of the best matches over the minsup share of series that match best
    score: float
    #: the representative shape, z-normalised (mean 0, deviation 1)
    shape: FloatArray = field(repr=False, compare=False)
    #: series index -> distance of its best match
    distances: dict[int, float] = field(repr=False, compare=False)
    #: over a range of lengths, the score of shapes of no recurring form at this length
    chance: float | None = None

    def to_dict(self) -> dict[str, Any]:
        """The motif as plain Python values.

        Returns
        -------
        dict
            rank, length, pattern, score (and chance, over a range of lengths),
            series, best_matches, occurrences and shape.
        """
        chance = {} if self.chance is None else {"chance": _finite(self.chance)}
        return {
            "rank": self.rank,
            "length": self.length,
            "pattern": self.pattern,
            "score": _finite(self.score),
            **chance,
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

    A sequence of `DiscoveredMotif`.

    Parameters
    ----------
    motifs : list of DiscoveredMotif
        The motifs, best first.
    length : int or (int, int)
        The motif length in points, or the range of lengths searched.
    series : sequence of (ndarray, int)
        Each series as compared (missing points filled) and the position of
        its first point in the series given.
    short_series : list of int
        The series shorter than the (shortest) motif length.
    flat_series : list of int
        The series without a window that is not flat.
    settings : dict
        The settings of the run.
    series_names : list of str, optional
        The names of the series (the columns of a DataFrame), shown in tables.

    Attributes
    ----------
    short_series, flat_series : list of int
        Series that take no part and do not count towards the support.
    settings : dict
        The settings of the run, the derived ones included.
    series_names : list of str or None
        The names of the series, when the input named them.

    Examples
    --------
    >>> import zef
    >>> from zef.shapes import make_collection
    >>> series, _ = make_collection("bump", 40, n_series=12, n_points=200, seed=1)
    >>> result = zef.discover(series, length=40, k=1)
    >>> result.settings["seglen"], result.short_series
    (5, [])
    """

    def __init__(
        self,
        motifs: list[DiscoveredMotif],
        length: int | tuple[int, int],
        series: Sequence[tuple[FloatArray, int]],
        short_series: list[int],
        flat_series: list[int],
        settings: dict[str, Any],
        *,
        series_names: list[str] | None = None,
    ) -> None:
        self.motifs = motifs
        self.length = length
        self.short_series = short_series
        self.flat_series = flat_series
        self.settings = settings
        self.series_names = series_names
        # Each series as compared: missing points filled, and the position of
        # its first point in the series given.
        self._series = series

    def name(self, series: int) -> str:
        """How series `series` is shown: its name when the input named it, else its index.

        Parameters
        ----------
        series : int
            The index of a series in the collection.

        Returns
        -------
        str
            Its name, or its index as text.
        """
        return self.series_names[series] if self.series_names is not None else str(series)

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
        lengths = f"{self.length[0]} to {self.length[1]}" if isinstance(self.length, tuple) else self.length
        return f"<Discovery: {len(self.motifs)} motifs of {lengths} points in {len(self._series)} series>"

    def to_dict(self) -> dict[str, Any]:
        """The result as plain Python values (a motif per entry of "motifs").

        Returns
        -------
        dict
            length, settings, short_series, flat_series and motifs.
        """
        return {
            "length": list(self.length) if isinstance(self.length, tuple) else self.length,
            "settings": self.settings,
            "short_series": self.short_series,
            "flat_series": self.flat_series,
            "motifs": [m.to_dict() for m in self.motifs],
        }

    def to_json(self, **dumps: Any) -> str:
        """The result as JSON (values that are not numbers become null).

        Parameters
        ----------
        **dumps
            Keywords for `json.dumps`.

        Returns
        -------
        str
            The JSON text of `to_dict()`.
        """
        return json.dumps(self.to_dict(), **dumps)

    def to_frame(self) -> Any:
        """One row per motif and series with a best match (needs pandas).

        Returns
        -------
        pandas.DataFrame
            Columns rank, series, start, end, length, distance, supporting,
            occurrences, score and pattern; and name, after series, when the
            input named its series.
        """
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
                "length": m.length,
                "distance": m.distances[s],
                "supporting": s in m.series,
                "occurrences": len(m.occurrences.get(s, [])),
                "score": m.score,
                "pattern": m.pattern,
            }
            for m in self.motifs
            for s, p in sorted(m.best_matches.items())
        ]
        columns = [
            "rank",
            "series",
            "start",
            "end",
            "length",
            "distance",
            "supporting",
            "occurrences",
            "score",
            "pattern",
        ]
        frame = pd.DataFrame(rows, columns=columns)
        if self.series_names is not None:
            frame.insert(2, "name", [self.name(s) for s in frame["series"]])
        return frame

    def table(self, shown: int = 5) -> str:
        """The motifs as a text table, the closest best matches of each as series:point.

        Parameters
        ----------
        shown : int, default 5
            Best matches shown per motif.

        Returns
        -------
        str
            The table.
        """
        lines = [f"{'rank':>4}  {'score':>6}  {'series':>6}  {'length':>6}  best matches (series:point)"]
        for m in self.motifs:
            matches = sorted(m.best_matches.items(), key=lambda item: m.distances[item[0]])
            text = " ".join(f"{self.name(s)}:{p}" for s, p in matches[:shown])
            text += " ..." if len(matches) > shown else ""
            lines.append(f"{m.rank:>4}  {m.score:>6.3f}  {len(m.series):>6}  {m.length:>6}  {text}")
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{h}</th>" for h in ("rank", "score", "series", "length", "pattern", "best matches"))
        body = []
        for m in self.motifs:
            matches = sorted(m.best_matches.items(), key=lambda item: m.distances[item[0]])
            text = " ".join(f"{self.name(s)}:{p}" for s, p in matches[:5]) + (" …" if len(matches) > 5 else "")
            cells = (m.rank, f"{m.score:.3f}", len(m.series), m.length, m.pattern, text)
            body.append("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in cells) + "</tr>")
        caption = html.escape(repr(self))
        return f"<table><caption>{caption}</caption><tr>{head}</tr>{''.join(body)}</table>"

    def plot(self, top: int = 3, *, axes: Any = None) -> Any:
        """Draws the best `top` motifs, one per row (needs matplotlib).

        Left: the shape (black) and the best match of each supporting series,
        both as they are compared (detrended, then z-normalised); right: where
        those best matches sit in their series.

        Parameters
        ----------
        top : int, default 3
            Motifs drawn.
        axes : array of matplotlib Axes, optional
            Rows of two axes to draw into; by default a new figure's.

        Returns
        -------
        ndarray of matplotlib Axes
            The axes, one row of two per motif.
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
    title = f"motif {motif.rank}: {motif.length} points, score {motif.score:.3f}, {len(motif.series)} series"
    left.set_title(title, fontsize=9)
    left.set_ylabel("z-normalised", fontsize=8)
    starts = [motif.best_matches[s] for s in motif.series]
    right.hlines(list(motif.series), starts, [p + motif.length for p in starts], color="tab:blue", linewidth=0.5)
    right.scatter(starts, list(motif.series), s=2, color="black")
    right.set_xlabel("point", fontsize=8)
    right.set_ylabel("series", fontsize=8)


def _finite(value: float) -> float | None:
    return value if math.isfinite(value) else None


def motifs_of(
    found: list[dict[str, Any]], taking: list[int], offsets: Sequence[int], radius: float, ranged: bool = False
) -> list[DiscoveredMotif]:
    """The motifs from the native result: each its length, and per taken series j (series
    taking[j], whose first point is at offsets[taking[j]]) its best match, distance and
    occurrences; over a range of lengths (`ranged`), its chance score too."""
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
                length=int(raw["length"]),
                best_matches=best,
                occurrences=occurrences,
                pattern=raw["pattern"].decode("latin-1"),
                series=supporting,
                score=float(raw["score"]),
                shape=raw["shape"],
                distances=distances,
                chance=float(raw["chance"]) if ranged else None,
            )
        )
    return motifs
