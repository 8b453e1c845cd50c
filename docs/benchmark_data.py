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


def plot_recovery() -> None:
    """Top-1 recovery at the exact length, one group of bars per background and share of planted series."""
    cells = tables_between("benchmarks.md", "quality tables", "end of quality tables")[0]
    exact = [row for row in cells if row["length given"] == "exact"]
    groups = list(dict.fromkeys((row["background"], row["shape in"]) for row in exact))
    methods = list(dict.fromkeys(row["method"] for row in exact))
    figure, ax = plt.subplots(figsize=(9, 3.6), layout="constrained")
    width = 0.8 / len(methods)
    for i, method in enumerate(methods):
        share = {
            (r["background"], r["shape in"]): float(r["top-1"].rstrip("%")) for r in exact if r["method"] == method
        }
        x = np.arange(len(groups)) + (i - (len(methods) - 1) / 2) * width
        ax.bar(x, [share.get(group, np.nan) for group in groups], width, label=method)
    # "100% of the series" and the like: the share alone under the background.
    ax.set_xticks(np.arange(len(groups)), [f"{background}\n{share.split()[0]}" for background, share in groups])
    ax.set_xlabel("background, and the share of the series that hold the shape")
    ax.set_ylabel("data sets recovered at rank 1 (%)")
    ax.set_ylim(0, 105)
    ax.legend(fontsize=8, ncols=len(methods), loc="lower center", bbox_to_anchor=(0.5, 1.0))


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
