"""Does discovery over a range of lengths find shapes whose length it was not told? Against the peers.

    python benchmarks/lengths.py                    # the full run, with the peers
    python benchmarks/lengths.py --quick            # 2 data sets per cell, zef.discover only
    python benchmarks/lengths.py --sets 4           # 4 data sets per cell (the peers on the first)
    python benchmarks/lengths.py --quick --peers --families bump,saw   # a short run with the peers
    python benchmarks/lengths.py --write-docs       # the full run, written into docs/benchmarks.md
    python benchmarks/lengths.py --tuning --sets 3 --no-peers   # other seeds, to tune on

Needs the benchmark extra (`pip install .[bench]`); `make quality` runs it after quality.py.

Data: collections of quality.py's size (SERIES series of POINTS points) on its
backgrounds (zef.shapes: white noise, a drifting walk, AR(1) noise), holding
one or two planted shapes of the families of zef.shapes, in 100 % or 80 % of
the series, their peak-to-peak height SNR times the deviation of the noise
(SNR drawn from 2 to 5 per data set, each copy varied by up to 20 %). Each
shape's length is drawn log-uniformly from 40 to 400 points; a second shape is
of another family, drawn, and the two lengths are drawn again until the longer
is at most 8 times the shorter, so that one range holds both. The real shapes
of quality.py are left out: their lengths are fixed by their data sets, not
drawn. A cell is one family (the first shape's), one background, one share and
one or two shapes. The seed of every data set is fixed by its cell and index
(SEED_BASE, fixed before any run; --tuning draws from TUNING_SEED_BASE).

Each data set comes with a range (lo, hi = 8 lo) holding every planted length:
lo drawn log-uniformly from the longest length / 8 to the shortest, rounded,
and at most POINTS / 16, so that no window is longer than half a series.
A planted shape is found when one of the top k motifs (k = planted shapes + 2)
hits it by quality.py's rule (its best matches overlap at least half of the
planted series) and has a length within 20 % of the planted length; in
one-shape collections, "first" is the share of data sets whose motif 1 does.
Methods, timed in the same run:

- range: zef.discover(series, length=(lo, hi), threads=2); beside its found
  share, the share of planted shapes hit by its top k at any length, which
  tells a wrong length from a missed place;
- true length: zef.discover(series, length=L) at each planted length, each
  shape counted from its own run (the ceiling); its time is per call;
- middle: zef.discover(series, length=M), M = round(sqrt(lo * hi)), timed only:
  the cost of the range is given as range / middle, per data set;
- ostinato loop and LoCoMotif (length_peers.py), on the first PEER_SETS data
  sets of each cell with one shape in every series (PEER_SHAPE_COUNTS,
  PEER_PREVALENCES), after their compilation; their results are kept in a
  cache file keyed by data set and version, so that a run fills in only what
  is missing (--no-cache runs them afresh). LoCoMotif sees the first
  LOCO_SERIES series only and is judged on the planted copies among them.
"""

from __future__ import annotations

import argparse
import math
import os
import pathlib
import statistics
import sys
import time
import warnings
from dataclasses import dataclass
from typing import Any

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import numpy as np  # noqa: E402

import length_peers  # noqa: E402
from length_peers import LOCO_SERIES, Motifs  # noqa: E402
from quality import POINTS, PREVALENCES, SERIES, SNR, THREADS, Cache, recovered_rank, seconds, versions  # noqa: E402
from quality import write_between as write_between_marks  # noqa: E402
from zef.shapes import BACKGROUNDS, FAMILIES, Planted, background, plant  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[1]
LENGTHS = (40, 400)
SPAN = 8  # hi = SPAN * lo
LENGTH_TOLERANCE = 0.2
SHAPE_COUNTS = (1, 2)
SETS = 8
QUICK_SETS = 2
PEER_SETS = 1
# The peers' cost (tens of seconds a data set, most of it the ostinato loop) keeps them to the cells with
# one shape in every series, so that a full run with an empty cache stays near half an hour.
PEER_PREVALENCES = (1.0,)
PEER_SHAPE_COUNTS = (1,)
# Fixed before the first run of these cells; a data set's seed is SEED_BASE + 1000 * cell + index.
SEED_BASE = 20261228
# Data sets to tune on (--tuning): the same cells from other seeds, never written into the docs.
TUNING_SEED_BASE = 555000
CACHE = ROOT / "build" / "lengths-cache.json"
MARKS = (
    "<!-- lengths tables: written by benchmarks/lengths.py --write-docs -->",
    "<!-- end of lengths tables -->",
)
TARGETS = dict(found=0.9, first=0.8, range_over_middle=4.0, ostinato_over_range=50.0)


@dataclass
class LengthSet:
    series: np.ndarray
    planted: list[Planted]
    lo: int
    hi: int
    seed: int


def cell_seed(family: str, background_kind: str, prevalence: float, count: int, index: int) -> int:
    cell = FAMILIES.index(family) * len(BACKGROUNDS) + BACKGROUNDS.index(background_kind)
    cell = (cell * len(PREVALENCES) + PREVALENCES.index(prevalence)) * len(SHAPE_COUNTS) + SHAPE_COUNTS.index(count)
    return SEED_BASE + 1000 * cell + index


def data_set(family: str, background_kind: str, prevalence: float, count: int, index: int) -> LengthSet:
    seed = cell_seed(family, background_kind, prevalence, count, index)
    rng = np.random.default_rng(seed)
    others = [f for f in FAMILIES if f != family]
    families = [family] + [others[int(rng.integers(len(others)))] for _ in range(count - 1)]
    while True:
        lengths = [round(math.exp(rng.uniform(math.log(LENGTHS[0]), math.log(LENGTHS[1])))) for _ in families]
        if max(lengths) <= SPAN * min(lengths):
            break
    # lo from the longest length / SPAN to the shortest, kept within those bounds by the rounding, and
    # hi within half a series: a longer window has fewer places in a series than it has points.
    top = min(min(lengths), POINTS // (2 * SPAN))
    lo = round(math.exp(rng.uniform(math.log(max(lengths) / SPAN), math.log(top))))
    lo = max(4, math.ceil(max(lengths) / SPAN), min(lo, top))
    snr = float(rng.uniform(*SNR))
    rows = [background(background_kind, POINTS, rng) for _ in range(SERIES)]
    planted = plant(rows, families, lengths, prevalence=prevalence, height=snr, rng=rng)
    return LengthSet(np.array(rows), planted, lo, SPAN * lo, seed)


def finds(motif: tuple[int, dict[int, int]], planted: Planted) -> bool:
    """Whether a motif hits the planted shape (quality.py's rule) at a length within the tolerance."""
    length = motif[0]
    return recovered_rank([motif], planted, limit=1) == 1 and (
        abs(length - planted.length) <= LENGTH_TOLERANCE * planted.length
    )


def judged(motifs: Motifs, planted: list[Planted]) -> tuple[int, bool | None]:
    """How many planted shapes one of the top k motifs finds, and (one shape) whether motif 1 does."""
    top = motifs[: len(planted) + 2]
    found = sum(any(finds(m, p) for m in top) for p in planted)
    first = bool(top) and finds(top[0], planted[0]) if len(planted) == 1 else None
    return found, first


# --------------------------------------------------------------------------- zef


def discover(series: np.ndarray, length: int | tuple[int, int]) -> tuple[Motifs, float]:
    import zef

    start = time.perf_counter()
    try:
        found = zef.discover(series, length=length, threads=THREADS)
    except TypeError as error:
        if isinstance(length, tuple):
            raise RuntimeError(
                f"zef.discover(series, length={length}) raised {error!r}: this zef has no discovery over a"
                " range of lengths; install one that has, or leave the range out with --no-range"
            ) from error
        raise
    elapsed = time.perf_counter() - start
    return [(int(m.length), {int(s): int(t) for s, t in m.best_matches.items()}) for m in found], elapsed


def zef_methods(data: LengthSet, with_range: bool) -> dict[str, Any]:
    """The range, each true length and the middle length on one data set: shapes found, first, times."""
    result: dict[str, Any] = {}
    if with_range:
        motifs, elapsed = discover(data.series, (data.lo, data.hi))
        result["range"] = (*judged(motifs, data.planted), [elapsed])
        # The same motifs judged by place alone: a shape missed here was not found at any length.
        top = motifs[: len(data.planted) + 2]
        result["range placed"] = sum(any(recovered_rank([m], p, limit=1) for m in top) for p in data.planted)
    found, first, times = 0, None, []
    for p in data.planted:
        motifs, elapsed = discover(data.series, p.length)
        found += any(finds(m, p) for m in motifs[: len(data.planted) + 2])
        if len(data.planted) == 1:
            first = bool(motifs) and finds(motifs[0], p)
        times.append(elapsed)
    result["true length"] = (found, first, times)
    result["middle"] = (None, None, [discover(data.series, round(math.sqrt(data.lo * data.hi)))[1]])
    return result


# --------------------------------------------------------------------------- peers


def peer_versions() -> dict[str, str]:
    from importlib.metadata import version

    return {"stumpy": version("stumpy"), "dtai-locomotif": version("dtai-locomotif")}


def peer_methods(data: LengthSet, cache: Cache, tags: dict[str, str]) -> dict[str, Any]:
    """The ostinato loop and LoCoMotif on one data set, from the cache where it has them."""
    shapes = "+".join(f"{p.family}:{p.length}" for p in data.planted)
    base = f"{SERIES}x{POINTS}|{shapes}|{data.seed}|{data.lo}-{data.hi}"
    count = len(data.planted) + 2
    runs = {
        "ostinato loop": (
            f"ostinato loop|stumpy {tags['stumpy']}|grid {length_peers.GRID}|{base}",
            lambda: length_peers.ostinato_loop(data.series, data.lo, data.hi),
            data.planted,
        ),
        "LoCoMotif": (
            f"locomotif|{tags['dtai-locomotif']}|first {LOCO_SERIES}|nb {count}|{base}",
            lambda: length_peers.locomotif(data.series, data.lo, data.hi, count),
            [Planted(p.family, p.length, {s: t for s, t in p.starts.items() if s < LOCO_SERIES}) for p in data.planted],
        ),
    }
    result: dict[str, Any] = {}
    for name, (key, run, planted) in runs.items():
        kept = cache.get(key)
        if kept is None:
            motifs, elapsed = run()
            kept = {"time": elapsed, "motifs": [[length, sorted(best.items())] for length, best in motifs]}
            cache.put(key, kept)
        motifs = [(int(length), {int(s): int(t) for s, t in best}) for length, best in kept["motifs"]]
        result[name] = (*judged(motifs, planted), [kept["time"]])
    return result


# --------------------------------------------------------------------------- the run

METHODS = ("range", "true length", "middle", "ostinato loop", "LoCoMotif")


def cell_row(sets: list[dict[str, Any]], shapes: int) -> dict[str, Any]:
    """Per method: the share of the planted shapes found, the share of data sets first, the median time."""
    row: dict[str, Any] = {}
    for method in METHODS:
        runs = [s[method] for s in sets if method in s]
        if not runs:
            continue
        times = [t for _, _, ts in runs for t in ts]
        row[method] = {"sets": len(runs), "time": statistics.median(times)}
        if runs[0][0] is not None:
            row[method]["found"] = sum(found for found, _, _ in runs) / (shapes * len(runs))
            if shapes == 1:
                row[method]["first"] = sum(bool(first) for _, first, _ in runs) / len(runs)
    if placed := [s["range placed"] for s in sets if "range placed" in s]:
        row["range"]["placed"] = sum(placed) / (shapes * len(placed))
    ratios = {
        "range / middle": ("range", "middle"),
        "ostinato loop / range": ("ostinato loop", "range"),
    }
    for name, (above, below) in ratios.items():
        pairs = [sum(s[above][2]) / sum(s[below][2]) for s in sets if above in s and below in s]
        if pairs:
            row[name] = statistics.median(pairs)
    return row


def cells_run(args: argparse.Namespace, say: Any) -> list[dict[str, Any]]:
    cache = Cache(pathlib.Path(args.cache) if args.cache else None)
    tags = peer_versions() if args.peers else {}
    rows = []
    for family in args.families:
        for background_kind in BACKGROUNDS:
            for prevalence in PREVALENCES:
                for count in SHAPE_COUNTS:
                    sets = []
                    for index in range(args.sets):
                        data = data_set(family, background_kind, prevalence, count, index)
                        result = zef_methods(data, args.range)
                        peer_cell = prevalence in PEER_PREVALENCES and count in PEER_SHAPE_COUNTS
                        if args.peers and index < args.peer_sets and peer_cell:
                            result.update(peer_methods(data, cache, tags))
                        sets.append(result)
                    row = {"family": family, "background": background_kind, "prevalence": prevalence}
                    row.update(count=count, sets=args.sets, **cell_row(sets, count))
                    rows.append(row)
                    say("  " + " | ".join(cell_cells(row)))
    return rows


def share(value: dict[str, Any] | None, key: str) -> str:
    return "-" if value is None or key not in value else f"{value[key]:.0%}"


def cell_cells(row: dict[str, Any]) -> list[str]:
    """The table's cells of one row."""
    cells = [row["family"], row["background"], f"{row['prevalence']:.0%}", str(row["count"]), str(row["sets"])]
    for method in METHODS:
        value = row.get(method)
        if method != "middle":
            cells += [share(value, "found"), share(value, "first")]
        if method == "range":
            cells.append(share(value, "placed"))
        cells.append("not run" if value is None else seconds(value["time"]))
        if method in ("ostinato loop", "LoCoMotif"):
            cells.append("-" if value is None else str(value["sets"]))
        ratio = {"middle": "range / middle", "ostinato loop": "ostinato loop / range"}.get(method)
        if ratio:
            cells.append(f"{row[ratio]:.1f}x" if ratio in row else "-")
    return cells


HEADER = (
    "family | background | shape in | shapes | data sets | range found | range first | range hit at any length"
    " | range time"
    " | true length found | true length first | true length time (per call) | middle time | range / middle"
    " | ostinato loop found | ostinato loop first | ostinato loop time | ostinato data sets | ostinato loop / range"
    " | LoCoMotif found | LoCoMotif first | LoCoMotif time | LoCoMotif data sets"
)


def cells_table(rows: list[dict[str, Any]]) -> list[str]:
    columns = HEADER.count("|") + 1
    return [f"| {HEADER} |", "|" + "---|" * columns] + [f"| {' | '.join(cell_cells(r))} |" for r in rows]


def targets(rows: list[dict[str, Any]]) -> list[str]:
    """The targets of discovery over a range, met or not, each cell counted on its own."""
    lines = ["| target | measured | met |", "|---|---|---|"]

    def add(target: str, measured: str, met: bool | None) -> None:
        lines.append(f"| {target} | {measured} | {'not run' if met is None else 'yes' if met else 'NO'} |")

    def name(r: dict[str, Any]) -> str:
        return f"{r['family']}, {r['background']}, {r['prevalence']:.0%}, {r['count']} shape{'s' * (r['count'] > 1)}"

    def per_cell(target: str, cells: list[dict[str, Any]], value: Any, good: Any, show: Any) -> None:
        """One target over the cells that ran it, given worst first."""
        cells = [r for r in cells if value(r) is not None]
        if not cells:
            add(target, "no cell ran it", None)
            return
        bad = [r for r in cells if not good(value(r))]
        worst = cells[0]  # the callers sort the cells worst first
        add(target, f"{len(bad)} of {len(cells)} cells short; worst {show(value(worst))} ({name(worst)})", not bad)

    def found(r: dict[str, Any]) -> float | None:
        return r["range"]["found"] if "range" in r else None

    for prevalence in PREVALENCES:
        cells = [r for r in rows if r["prevalence"] == prevalence]
        worst_first = sorted(cells, key=lambda r: found(r) if found(r) is not None else 1.0)
        per_cell(
            f"found at least {TARGETS['found']:.0%} in every cell, shapes in {prevalence:.0%}",
            worst_first,
            found,
            lambda v: v >= TARGETS["found"] - 1e-9,
            lambda v: f"{v:.0%}",
        )
    singles = sorted((r for r in rows if r["count"] == 1 and "range" in r), key=lambda r: r["range"]["first"])
    per_cell(
        f"first at least {TARGETS['first']:.0%} in every one-shape cell",
        singles,
        lambda r: r["range"]["first"],
        lambda v: v >= TARGETS["first"] - 1e-9,
        lambda v: f"{v:.0%}",
    )
    per_cell(
        f"range at most {TARGETS['range_over_middle']:g}x the middle length in every cell (median per cell)",
        sorted(rows, key=lambda r: -r.get("range / middle", 0.0)),
        lambda r: r.get("range / middle"),
        lambda v: v <= TARGETS["range_over_middle"],
        lambda v: f"{v:.1f}x",
    )
    per_cell(
        f"ostinato loop at least {TARGETS['ostinato_over_range']:g}x the range in every cell (median per cell)",
        sorted(rows, key=lambda r: r.get("ostinato loop / range", math.inf)),
        lambda r: r.get("ostinato loop / range"),
        lambda v: v >= TARGETS["ostinato_over_range"],
        lambda v: f"{v:.0f}x",
    )
    return lines


# --------------------------------------------------------------------------- main


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"{QUICK_SETS} data sets per cell, no peers")
    parser.add_argument("--sets", type=int, default=None, help=f"data sets per cell (default {SETS})")
    parser.add_argument("--peer-sets", type=int, default=PEER_SETS, help="data sets per cell given to the peers")
    parser.add_argument("--peers", action="store_true", default=None, help="the peers too (with --quick)")
    parser.add_argument("--no-peers", dest="peers", action="store_false", help="zef.discover alone")
    parser.add_argument("--no-range", dest="range", action="store_false", help="without discovery over a range")
    parser.add_argument("--families", default=",".join(FAMILIES), help="some families only, comma-separated")
    parser.add_argument("--cache", default=str(CACHE), help="peer results kept here")
    parser.add_argument("--no-cache", dest="cache", action="store_const", const="", help="run the peers afresh")
    parser.add_argument("--write-docs", action="store_true", help="write the tables into docs/benchmarks.md")
    parser.add_argument("--tuning", action="store_true", help="the data sets of the tuning seeds")
    args = parser.parse_args(argv)
    args.families = [f.strip() for f in args.families.split(",") if f.strip()]
    if unknown := [f for f in args.families if f not in FAMILIES]:
        parser.error(f"unknown families {', '.join(unknown)}; known: {', '.join(FAMILIES)}")
    if args.write_docs and (args.tuning or not args.range):
        parser.error("--write-docs writes the range's figures on the benchmark's own seeds")
    if args.tuning:
        global SEED_BASE
        SEED_BASE = TUNING_SEED_BASE
    args.sets = args.sets or (QUICK_SETS if args.quick else SETS)
    args.peer_sets = min(args.peer_sets, args.sets)
    if args.peers is None:
        args.peers = not args.quick
    warnings.simplefilter("ignore")

    def say(text: str) -> None:
        print(text, file=sys.stderr, flush=True)

    found = versions()
    if args.peers:
        found.update(peer_versions())
    machine = f"{os.cpu_count()} cores, " + ", ".join(f"{k} {v}" for k, v in found.items())
    say(f"machine: {machine}")
    if args.peers:
        say(f"peers' compilation (warm-up, not timed below): {length_peers.warm_up():.1f} s")
    say("  " + HEADER)
    started = time.perf_counter()
    rows = cells_run(args, say)
    shapes = " or ".join(map(str, PEER_SHAPE_COUNTS))
    shares = " or ".join(f"{p:.0%}" for p in PEER_PREVALENCES)
    first = f"first {args.peer_sets} data sets" if args.peer_sets > 1 else "first data set"
    peers = (
        f"the peers on the {first} of each cell with {shapes} shape{'s' * (shapes != '1')} in {shares}"
        f" of the series (LoCoMotif on its first {LOCO_SERIES} series laid end to end)"
        if args.peers
        else "the peers not run"
    )
    text = [
        f"{SERIES} series of {POINTS} points per data set, {args.sets} data sets per cell, {peers};"
        f" planted lengths {LENGTHS[0]} to {LENGTHS[1]} points, a range (lo, {SPAN} lo) holding them;"
        f" found: among the top (shapes + 2) motifs, at a length within {LENGTH_TOLERANCE:.0%};"
        f" SNR {SNR[0]:g} to {SNR[1]:g}; zef.discover on {THREADS} threads; times are medians; {machine}.",
        "",
        *cells_table(rows),
        "",
        *targets(rows),
    ]
    print("\n".join(text))
    say(f"whole run: {time.perf_counter() - started:.0f} s")
    if args.write_docs:
        write_between_marks(MARKS, "\n".join(text))
        say("written into docs/benchmarks.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
