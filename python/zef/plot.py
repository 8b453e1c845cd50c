"""Plots of motifs: one row per motif.

Left, the motif itself: its representative (black) with the best match of each
series overlaid (coloured), in the z-normalised units in which the miner
compares them. Right, where those best matches sit: each series (as the miner
saw it, gaps filled) drawn in grey, squeezed into a band of its own, with its
best match in the colour it has on the left, on the points of the file.

Needs matplotlib; importing this module without it raises ImportError.
"""

from __future__ import annotations

import math
from collections.abc import Sequence

from matplotlib.axes import Axes
from matplotlib.figure import Figure
from matplotlib.ticker import FuncFormatter, MaxNLocator

from _zef_cpp import Motif
from zef.io import Dataset, Prepared, znorm

__all__ = ["match_label", "plot_motifs"]

# Series drawn at most in the right-hand panel of a motif; beyond that it
# would be too dense to read.
MOST_SERIES = 20
REPRESENTATIVE = "representative"
PATTERN_SHOWN = 28


def match_label(name: str) -> str:
    """The label of the line that draws the best match of the named series.

    Parameters
    ----------
    name : str
        The series' name.

    Returns
    -------
    str
        The label.

    Examples
    --------
    >>> from zef.plot import match_label
    >>> match_label("7")
    'best match of series 7'
    """
    return f"best match of series {name}"


def plot_motifs(
    dataset: Dataset,
    prepared: Prepared,
    motifs: Sequence[Motif],
    seglen: int,
    path: str | None = None,
    title: str | None = None,
) -> Figure:
    """Draws the motifs (in rank order) and saves the figure as PNG when a path is given.

    Parameters
    ----------
    dataset : zef.io.Dataset
        The series as read.
    prepared : zef.io.Prepared
        The series as mined.
    motifs : sequence of Motif
        The motifs of `prepared.series`, best first.
    seglen : int
        The segment length they were mined with.
    path : str, optional
        Where to write the PNG file.
    title : str, optional
        The figure's title.

    Returns
    -------
    matplotlib.figure.Figure
        The figure: per motif, its matches (left) and where they sit (right).

    Examples
    --------
    >>> import zef
    >>> from zef.io import Dataset, prepare
    >>> from zef.planted import make_example
    >>> from zef.plot import plot_motifs
    >>> series, _ = make_example(n_series=6)
    >>> dataset = Dataset(series)
    >>> motifs = zef.mine(series, 0.5, 8, 3, min_len=8, k=1)
    >>> figure = plot_motifs(dataset, prepare(dataset.series), motifs, 8)
    >>> len(figure.axes)
    2
    """
    rows = max(len(motifs), 1)
    figure = Figure(figsize=(13, 0.6 + 3.1 * rows), dpi=100, layout="constrained")
    axes = figure.subplots(rows, 2, squeeze=False, gridspec_kw={"width_ratios": [2, 3]})
    heading = f"{title}: " if title else ""
    if not motifs:
        figure.suptitle(f"{heading}no motif found")
        for ax in axes[0]:
            ax.set_axis_off()
    else:
        figure.suptitle(
            f"{heading}the {len(motifs)} best motifs (segments of {seglen} points); black: representative,"
            " colours: the best match of each series",
            fontsize=11,
        )
    normalised = [znorm(series) for series in prepared.series]
    for rank, motif in enumerate(motifs, start=1):
        left, right = axes[rank - 1]
        matches = sorted(motif.best_matches.items())
        colours = _colours(len(matches))
        _draw_motif(left, rank, motif, matches, colours, normalised, dataset, prepared)
        _draw_positions(right, motif, matches, colours, normalised, dataset, prepared)
    if path is not None:
        figure.savefig(path, format="png")
    return figure


def _colours(count: int) -> list[tuple[float, float, float, float]]:
    from matplotlib import colormaps

    palette = colormaps["tab10"]
    return [palette(i % 10) for i in range(count)]


def _occurrence(values: list[float], start: int, length: int) -> list[float]:
    """The points of one occurrence, NaN past the end of the series, as the miner cuts them."""
    points = values[start : start + length]
    return points + [math.nan] * (length - len(points))


def _draw_motif(
    ax: Axes,
    rank: int,
    motif: Motif,
    matches: list[tuple[int, int]],
    colours: list[tuple[float, float, float, float]],
    normalised: list[list[float]],
    dataset: Dataset,
    prepared: Prepared,
) -> None:
    length = motif.length
    x = list(range(length))
    for (series, start), colour in zip(matches, colours, strict=False):
        name = dataset.name(prepared.source[series])
        occurrence = _occurrence(normalised[series], start, length)
        ax.plot(x, occurrence, color=colour, lw=0.9, alpha=0.55, label=match_label(name))
    ax.plot(x, motif.representative, color="black", lw=2.6, label=REPRESENTATIVE)
    pattern = motif.pattern if len(motif.pattern) <= PATTERN_SHOWN else motif.pattern[: PATTERN_SHOWN - 1] + "…"
    ax.set_title(f"#{rank}  {pattern}   NAED {motif.naed:.4f}   {len(matches)} series", fontsize=10, loc="left")
    ax.set_xlabel("point of the motif")
    ax.set_ylabel("z-normalised value")
    ax.set_xlim(0, max(length - 1, 1))
    ax.grid(True, color="0.92")


def _draw_positions(
    ax: Axes,
    motif: Motif,
    matches: list[tuple[int, int]],
    colours: list[tuple[float, float, float, float]],
    normalised: list[list[float]],
    dataset: Dataset,
    prepared: Prepared,
) -> None:
    shown = matches[:MOST_SERIES]
    ticks, names = [], []
    for band, ((series, start), colour) in enumerate(zip(shown, colours, strict=False)):
        # The series as the miner saw it (gaps filled), squeezed into its band.
        values = normalised[series]
        offset = prepared.offset[series]
        base = -float(band)
        low, high = min(values), max(values)
        scale = 0.9 / (high - low) if high > low else 0.0
        ax.plot(
            [offset + i for i in range(len(values))],
            [base - 0.45 + scale * (v - low) for v in values],
            color="0.6",
            lw=0.7,
        )
        match = _occurrence(values, start, motif.length)
        ax.plot(
            [offset + start + i for i in range(len(match))],
            [base - 0.45 + scale * (v - low) for v in match],
            color=colour,
            lw=2.0,
        )
        ticks.append(base)
        names.append(dataset.name(prepared.source[series]))
    ax.set_yticks(ticks, names, fontsize=7 if len(shown) > 10 else 9)
    ax.set_ylim(-len(shown) + 0.4, 0.6)
    more = f" (the first {len(shown)} of {len(matches)} series)" if len(matches) > len(shown) else ""
    ax.set_title(f"where the best matches sit{more}", fontsize=10, loc="left")
    ax.xaxis.set_major_locator(MaxNLocator(nbins=8, integer=True))
    if dataset.point_labels is not None:
        ax.xaxis.set_major_formatter(FuncFormatter(lambda value, _: _point_label(dataset, value)))
        ax.set_xlabel("point (labelled as in the file)")
    else:
        ax.set_xlabel("point of the series")
    ax.grid(True, axis="x", color="0.92")


def _point_label(dataset: Dataset, value: float) -> str:
    point = int(round(value))
    label = dataset.point_label(point)
    return label if label is not None else str(point)
