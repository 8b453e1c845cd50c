"""The benchmark figures that the pages draw, read from what the benchmark scripts wrote.

The scripts write their tables into the pages between markers
(benchmarks/quality.py, scripts/docs_tables.py) and the GunPoint motifs into
data/gunpoint.json (benchmarks/quality.py); the plots of the benchmark page
read them here, so that a figure is never typed twice.
"""

from __future__ import annotations

import json
import pathlib
import re

import matplotlib.pyplot as plt
import numpy as np

DOCS = pathlib.Path(__file__).resolve().parent


def tables_between(page: str, begin: str, end: str) -> list[list[dict[str, str]]]:
    """The Markdown tables of `page` between the marker lines that start with `begin` and `end`.

    Each table is a list of rows, each row a dict from the table's header to the cell.
    """
    text = (DOCS / page).read_text(encoding="utf-8")
    found = re.search(rf"^<!-- {re.escape(begin)}.*?-->$(.*?)^<!-- {re.escape(end)}.*?-->$", text, re.M | re.S)
    if found is None:
        raise LookupError(f"{page}: no block between markers {begin!r} and {end!r}")
    tables: list[list[dict[str, str]]] = []
    header: list[str] | None = None
    for line in found.group(1).splitlines():
        if not line.startswith("|"):
            header = None
            continue
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if header is None:
            header = cells
            tables.append([])
        elif not all(set(cell) <= {"-", ":"} for cell in cells):
            tables[-1].append(dict(zip(header, cells, strict=True)))
    return tables


def seconds(text: str) -> float:
    """A time as the scripts print it (`123.65 ms`, `1.28 s`, `14.3 us`), in seconds."""
    value, unit = text.split()
    return float(value.replace(",", "")) * {"us": 1e-6, "ms": 1e-3, "s": 1.0}[unit]


def _share(text: str) -> float:
    """A share as the scripts print it (`85%`), or NaN where a method did not run."""
    return float(text.rstrip("%")) if text.endswith("%") else np.nan


def plot_recovery() -> None:
    """Top-1 recovery at the exact length: one row per shape, one column per background and share, per method."""
    cells = tables_between("benchmarks.md", "quality tables", "end of quality tables")[0]
    shapes = list(dict.fromkeys(row["shape"] for row in cells))
    columns = list(dict.fromkeys((row["background"], row["shape in"].split()[0]) for row in cells))
    methods = (("discover", "zef.discover"), ("ostinato", "stumpy.ostinato"))
    figure, axes = plt.subplots(1, 2, figsize=(10, 0.4 * len(shapes) + 1.6), sharey=True, layout="constrained")
    for ax, (prefix, title) in zip(axes, methods, strict=True):
        grid = np.full((len(shapes), len(columns)), np.nan)
        for row in cells:
            column = columns.index((row["background"], row["shape in"].split()[0]))
            grid[shapes.index(row["shape"]), column] = _share(row[f"{prefix} top-1"])
        image = ax.imshow(grid, vmin=0, vmax=100, cmap="RdYlGn", aspect="auto")
        for (i, j), value in np.ndenumerate(grid):
            ax.text(j, i, "-" if np.isnan(value) else f"{value:.0f}", ha="center", va="center", fontsize=7)
        ax.set_xticks(range(len(columns)), [f"{background}\n{share}" for background, share in columns], fontsize=7)
        ax.set_yticks(range(len(shapes)), shapes, fontsize=8)
        ax.set_title(title, fontsize=9)
    figure.colorbar(image, ax=axes, label="data sets recovered at rank 1 (%)", shrink=0.8)
    figure.supxlabel("background, and the share of the series that hold the shape", fontsize=8)


def plot_scaling() -> None:
    """The time of zef.discover (and of ostinato where it ran) as the collection doubles."""
    rows = tables_between("benchmarks.md", "quality scaling", "end of quality scaling")[0]
    figure, axes = plt.subplots(1, 2, figsize=(10, 3.6), layout="constrained")
    for ax, sweep in zip(axes, ("series length", "series count"), strict=True):
        steps = [row for row in rows if row["sweep"] == sweep]
        points = np.array([int(row["points"].replace(",", "")) for row in steps])
        for column, label in (("discover", "zef.discover, 2 threads"), ("stumpy.ostinato", "stumpy.ostinato")):
            ran = [row[column][0].isdigit() for row in steps]
            timed = [(p, seconds(row[column])) for p, row, r in zip(points, steps, ran, strict=True) if r]
            if timed:
                x, y = np.array(timed).T
                ax.loglog(x, y, "o-", label=label)
        first = seconds(steps[0]["discover"])
        ax.loglog(points, first * points / points[0], "--", color="grey", label="linear in the points")
        ax.set_xticks(points, [row["series x points"] for row in steps], fontsize=7)
        ax.minorticks_off()
        ax.set_xlabel(f"doubling the {sweep}")
        ax.set_ylabel("time (s)")
        ax.legend(fontsize=7)


def plot_doubling() -> None:
    """The time of zef.mine as the number of series doubles, against linear growth."""
    doubling = tables_between("benchmarks.md", "table threads", "end of table threads")[1]
    series = np.array([int(row["series"].replace(",", "")) for row in doubling])
    times = np.array([seconds(row["time"]) for row in doubling])
    figure, ax = plt.subplots(figsize=(6, 3.6), layout="constrained")
    ax.loglog(series, times * 1e3, "o-", label="zef.mine, 2 threads")
    ax.loglog(series, times[0] * 1e3 * series / series[0], "--", color="grey", label="linear in the series")
    ax.set_xticks(series, [f"{n:,}" for n in series])
    ax.set_yticks(times * 1e3, [f"{t * 1e3:.0f}" for t in times])
    ax.minorticks_off()
    ax.set_xlabel("series of 1,000 points")
    ax.set_ylabel("time (ms)")
    ax.legend()


def plot_gunpoint() -> None:
    """GunPoint's best motifs: each shape over the spread of its best matches, and where they start."""
    data = json.loads((DOCS / "data" / "gunpoint.json").read_text())
    motifs = data["motifs"]
    figure, axes = plt.subplots(len(motifs), 2, figsize=(10, 2.6 * len(motifs)), squeeze=False, layout="constrained")
    for (left, right), motif in zip(axes, motifs, strict=True):
        x = np.arange(motif["length"])
        spread = {name: np.array(values) for name, values in motif["spread"].items()}
        left.fill_between(x, spread["5"], spread["95"], color="tab:blue", alpha=0.15, label="5 % to 95 %")
        left.fill_between(x, spread["25"], spread["75"], color="tab:blue", alpha=0.35, label="quartiles")
        left.plot(x, motif["shape"], color="black", linewidth=2, label="shape")
        left.set_title(f"motif {motif['rank']}: score {motif['score']:.3f}, {len(motif['starts'])} series", fontsize=9)
        left.set_ylabel("z-normalised", fontsize=8)
        left.legend(fontsize=7, loc="upper right")
        series = np.array([int(s) for s in motif["starts"]])
        starts = np.array(list(motif["starts"].values()))
        right.hlines(series, starts, starts + motif["length"], color="tab:blue", linewidth=0.5)
        right.scatter(starts, series, s=2, color="black")
        right.set_xlim(0, data["points"])
        right.set_xlabel("point", fontsize=8)
        right.set_ylabel("series", fontsize=8)
    figure.suptitle(data["title"])
