"""zef.dask.mine on a local cluster of worker processes against zef.mine in one process.

The collection is random walks generated per partition from a seed
(da.map_blocks), so partitions are loaded lazily on the workers. Prints the
times, each worker's peak resident memory above idle, and the measured costs
per partition, per level and per reduction; `--json` writes them, and
`--write-docs` writes the estimate for larger collections into docs/benchmarks.md.

    python benchmarks/dask_bench.py --series 100000 --points 1000   # 10^8 points
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import re
import sys
import threading
import time
from typing import Any

import numpy as np


def walks(block_id: tuple[int, int] | None = None, rows: int = 0, points: int = 0, total: int = 0) -> Any:
    """The walks of one partition: rows from the partition's own seed."""
    index = 0 if block_id is None else block_id[0]
    count = max(0, min(rows, total - index * rows))
    rng = np.random.default_rng(index)
    steps = rng.standard_normal((count, points))
    return np.cumsum(steps, axis=1, out=steps)  # in place: one copy of the partition at a time


def start_sampler(dask_worker: Any) -> int:
    """Starts sampling the worker's resident memory (kept on the worker object); returns it now."""
    import psutil

    process = psutil.Process()
    _peak: dict[str, Any] = {"rss": 0, "running": False}
    dask_worker.zef_peak = _peak
    _peak["rss"] = process.memory_info().rss
    _peak["running"] = True

    def sample() -> None:
        while _peak["running"]:
            _peak["rss"] = max(_peak["rss"], process.memory_info().rss)
            time.sleep(0.05)

    threading.Thread(target=sample, daemon=True).start()
    return int(_peak["rss"])


def stop_sampler(dask_worker: Any) -> int:
    _peak = dask_worker.zef_peak
    _peak["running"] = False
    return int(_peak["rss"])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--series", type=int, default=100_000)
    parser.add_argument("--points", type=int, default=1_000)
    parser.add_argument("--partition-mb", type=float, default=100.0)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--minsup", type=float, default=0.5)
    parser.add_argument("--seglen", type=int, default=50)
    parser.add_argument("--alphabet", type=int, default=4)
    parser.add_argument("--max-len", type=int, default=8)
    parser.add_argument("--k", type=int, default=10)
    parser.add_argument("--no-single", action="store_true", help="skip the one-process run")
    parser.add_argument(
        "--discover", type=int, default=0, metavar="N", help="also zef.dask.discover on N walks (4 partitions)"
    )
    parser.add_argument("--length", type=int, default=100, help="motif length of --discover")
    parser.add_argument(
        "--client-heap",
        action="store_true",
        help="also measure the client's peak Python heap (tracemalloc) in a run with statistics=False",
    )
    parser.add_argument("--json", type=pathlib.Path)
    parser.add_argument("--write-docs", action="store_true")
    args = parser.parse_args()

    import distributed

    import zef
    import zef.dask

    rows = max(1, int(args.partition_mb * 1e6 / (8 * args.points)))
    parts = -(-args.series // rows)
    settings = (args.minsup, args.seglen, args.alphabet, 3, args.max_len, 0.9, args.k)
    array = lazy_walks(args.series, rows, args.points)
    result: dict[str, Any] = {
        "series": args.series,
        "points": args.points,
        "partitions": parts,
        "partition_mb": rows * args.points * 8 / 1e6,
        "workers": args.workers,
        "settings": settings,
    }
    with (
        distributed.LocalCluster(
            n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=":0", memory_limit=0
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        idle = client.run(start_sampler)
        laps: list[tuple[str, float]] = []
        start = time.perf_counter()
        motifs = zef.dask.mine(array, *settings, timings=laps)
        result["dask_seconds"] = time.perf_counter() - start
        peaks = client.run(stop_sampler)
        result["worker_peak_mb"] = sorted((peaks[w] - idle[w]) / 1e6 for w in idle)
        result["laps"] = laps
        result["motifs"] = len(motifs)
        # The values the result holds: averages and representative, best matches and positions.
        result["result_bytes_lean"] = sum(
            8 * m.length + 8 * len(m.best_matches) + 4 * sum(map(len, m.indexes.values())) for m in motifs
        )
        result["result_bytes"] = result["result_bytes_lean"] + sum(
            8 * m.length * len(m.average_occurrences) for m in motifs
        )
        if args.client_heap:
            result["client_heap_peak_mb"] = client_heap_peak(array, settings) / 1e6
            result["data_mb"] = args.series * args.points * 8 / 1e6
        if args.discover:
            result["discover"] = run_discover(client, args)
    if not args.no_single:
        data = np.concatenate([walks((i, 0), rows, args.points, args.series) for i in range(parts)])
        start = time.perf_counter()
        single = zef.mine(data, *settings, threads=args.workers)
        result["single_seconds"] = time.perf_counter() - start
        result["equal"] = [(m.pattern, m.naed, m.best_matches) for m in single] == [
            (m.pattern, m.naed, m.best_matches) for m in motifs
        ]
    report(result)
    if args.json:
        args.json.write_text(json.dumps(result, indent=1))
    if args.write_docs:
        if args.client_heap:
            write_heap_docs(result, args)
        else:
            write_docs(result)


def client_heap_peak(array: Any, settings: tuple[Any, ...]) -> int:
    """The peak of the client's Python heap (numpy's arrays included) during zef.dask.mine with
    statistics=False, in bytes above the heap at its start."""
    import tracemalloc

    import zef.dask

    tracemalloc.start()
    try:
        base = tracemalloc.get_traced_memory()[0]
        zef.dask.mine(array, *settings, statistics=False)
        return tracemalloc.get_traced_memory()[1] - base
    finally:
        tracemalloc.stop()


def lazy_walks(series: int, rows: int, points: int) -> Any:
    """`series` random walks of `points` points as a dask array of `rows` rows a chunk, each
    chunk made on its worker when a task needs it."""
    import dask.array as da

    parts = -(-series // rows)
    chunks = (tuple(min(rows, series - i * rows) for i in range(parts)), (points,))
    return da.map_blocks(
        walks, dtype=np.float64, chunks=chunks, rows=rows, points=points, total=series, meta=np.empty((0, 0))
    )


def run_discover(client: Any, args: argparse.Namespace) -> dict[str, Any]:
    """zef.dask.discover on args.discover walks of args.points in 4 partitions, against zef.discover."""

    import zef
    import zef.dask

    rows = -(-args.discover // 4)
    array = lazy_walks(args.discover, rows, args.points)
    found: dict[str, Any] = {"series": args.discover, "length": args.length}
    idle = client.run(start_sampler)
    laps: list[tuple[str, float]] = []
    start = time.perf_counter()
    got = zef.dask.discover(array, length=args.length, timings=laps)
    found["dask_seconds"] = time.perf_counter() - start
    peaks = client.run(stop_sampler)
    found["worker_peak_mb"] = sorted((peaks[w] - idle[w]) / 1e6 for w in idle)
    found["laps"] = laps
    if not args.no_single:
        data = np.concatenate([walks((i, 0), rows, args.points, args.discover) for i in range(4)])
        start = time.perf_counter()
        single = zef.discover(data, length=args.length, threads=args.workers)
        found["single_seconds"] = time.perf_counter() - start
        found["equal"] = list(got) == list(single) and all(
            np.array_equal(a.shape, b.shape) and a.distances == b.distances for a, b in zip(got, single, strict=True)
        )
    return found


def costs(result: dict[str, Any]) -> dict[str, float]:
    """Measured costs in seconds: per partition on the workers (preparation, each level's
    count, mapping), per reduction on the client, and the client's share of mapping per
    series (adding the series' averages and best matches up in the engine's order)."""
    laps = result["laps"]
    prepare = sum(s for n, s in laps if n == "prepare")
    counts = [s for n, s in laps if n.endswith(" count")]
    reductions = [s for n, s in laps if n.endswith(" reduce")]
    per_worker = max(1.0, result["partitions"] / result["workers"])
    return {
        "partition": prepare / per_worker,
        "level_per_partition": sum(counts) / len(counts) / per_worker,
        "levels": float(len(counts)),
        "reduction": sum(reductions) / len(reductions),
        "map_per_partition": sum(s for n, s in laps if n == "map workers") / per_worker,
        "client_per_series": sum(s for n, s in laps if n == "map client") / result["series"],
    }


def report(result: dict[str, Any]) -> None:
    print(
        f"{result['series']} series x {result['points']} points, {result['partitions']} partitions of"
        f" {result['partition_mb']:.0f} MB, {result['workers']} workers: {result['motifs']} motifs"
    )
    print(f"dask: {result['dask_seconds']:.1f} s", end="")
    if "single_seconds" in result:
        print(f"; one process: {result['single_seconds']:.1f} s; equal: {result['equal']}", end="")
    print()
    print("worker peak RSS above idle (MB): " + ", ".join(f"{m:.0f}" for m in result["worker_peak_mb"]))
    if "client_heap_peak_mb" in result:
        share = result["client_heap_peak_mb"] / result["data_mb"]
        print(
            f"client peak Python heap with statistics=False: {result['client_heap_peak_mb']:.1f} MB,"
            f" {share:.1%} of the data's {result['data_mb']:.0f} MB"
        )
    for name, seconds in result["laps"]:
        print(f"  {name:>18}: {seconds:8.3f} s")
    for name, value in costs(result).items():
        print(f"cost {name}: {value:.4f}")
    if "discover" in result:
        d = result["discover"]
        print(f"discover, {d['series']} series x {result['points']} points, length {d['length']}, 4 partitions:")
        print(f"dask: {d['dask_seconds']:.1f} s", end="")
        if "single_seconds" in d:
            print(f"; one process: {d['single_seconds']:.1f} s; equal: {d['equal']}", end="")
        print("; worker peak RSS above idle (MB): " + ", ".join(f"{m:.0f}" for m in d["worker_peak_mb"]))
        for name, seconds in d["laps"]:
            print(f"  {name:>24}: {seconds:8.3f} s")


def write_block(name: str, lines: list[str]) -> None:
    """`lines` into docs/benchmarks.md between the markers of `name`, replacing what was there."""
    page = pathlib.Path(__file__).resolve().parent.parent / "docs" / "benchmarks.md"
    text = page.read_text()
    begin = f"<!-- {name}: written by benchmarks/dask_bench.py"
    pattern = re.compile(rf"{re.escape(begin)}.*?<!-- end {re.escape(name)} -->", re.S)
    if not pattern.search(text):
        sys.exit(f"{page} has no {name} markers")
    page.write_text(pattern.sub(lambda _: "\n".join(lines), text))


def write_heap_docs(result: dict[str, Any], args: argparse.Namespace) -> None:
    """The benchmark page's measure of the client's heap (a run with --client-heap --write-docs)."""
    peak, data = result["client_heap_peak_mb"], result["data_mb"]
    write_block(
        "dask client heap",
        [
            "<!-- dask client heap: written by benchmarks/dask_bench.py --client-heap --write-docs -->",
            f'`ARGS="--series {args.series} --points {args.points} --minsup {args.minsup} --seglen {args.seglen}'
            f' --client-heap --no-single"` ({data:.0f} MB of walks, `alphabet` {args.alphabet},'
            f" `max_len` {args.max_len}) measured a peak of {peak:.1f} MB on this machine,"
            f" {100 * peak / data:.1f} % of the data.",
            "<!-- end dask client heap -->",
        ],
    )


def write_docs(result: dict[str, Any]) -> None:
    """The benchmark page's estimate of larger collections, from the measured costs."""
    c = costs(result)
    per_partition = c["partition"] + c["levels"] * c["level_per_partition"] + c["map_per_partition"]
    points_per_partition = result["partition_mb"] * 1e6 / 8
    per_series = result["result_bytes"] / result["series"]
    per_series_lean = result["result_bytes_lean"] / result["series"]
    lines = [
        "<!-- dask estimate: written by benchmarks/dask_bench.py --write-docs -->",
        f"Measured on this machine ({result['series']} series x {result['points']} points,"
        f" {result['partitions']} partitions of {result['partition_mb']:.0f} MB, {result['workers']} workers,"
        f" {result['motifs']} motifs):"
        f" {result['dask_seconds']:.1f} s on the cluster"
        + (f", {result['single_seconds']:.1f} s in one process" if "single_seconds" in result else "")
        + "; peak worker memory above idle "
        + ", ".join(f"{m:.0f} MB" for m in result["worker_peak_mb"])
        + ".",
        f"Costs: on the workers, {c['partition']:.2f} s to load and discretise a partition,"
        f" {c['level_per_partition']:.3f} s per level and partition ({c['levels']:.0f} levels) and"
        f" {c['map_per_partition']:.3f} s of mapping per partition; on the client, {c['reduction']:.4f} s per"
        f" level's reduction and {c['client_per_series'] * 1e6:.1f} us per series to add up the mapping, which"
        f" does not spread over machines. The result holds {per_series:.0f} bytes per series"
        f" ({per_series_lean:.0f} with `statistics=False`).",
    ]
    if "discover" in result:
        d = result["discover"]
        lines.append(
            f"`zef.dask.discover` on {d['series']} series x {result['points']} points (length {d['length']},"
            f" 4 partitions): {d['dask_seconds']:.1f} s on the cluster"
            + (f", {d['single_seconds']:.1f} s in one process (equal: {d['equal']})" if "single_seconds" in d else "")
            + "; peak worker memory above idle "
            + ", ".join(f"{m:.0f} MB" for m in d["worker_peak_mb"])
            + "."
        )
    lines += [
        "",
        "Estimated time and client memory (one worker per machine, partitions of the same size, series of the"
        " same length, same settings and as many motifs):",
        "",
        "| points | partitions | N = 10 | N = 100 | N = 1000 | of which on the client | result on the client |",
        "|---|---|---|---|---|---|---|",
    ]
    for points in (1e10, 1e11):
        partitions = points / points_per_partition
        series = points / result["points"]
        client = c["levels"] * c["reduction"] + c["client_per_series"] * series
        cells = [f"{(partitions / machines * per_partition + client) / 60:.1f} min" for machines in (10, 100, 1000)]
        memory = f"{series * per_series / 1e9:.0f} GB ({series * per_series_lean / 1e9:.1f} GB lean)"
        row = [f"{points:.0e}", f"{partitions:.0f}", *cells, f"{client / 60:.1f} min", memory]
        lines.append("| " + " | ".join(row) + " |")
    lines.append("<!-- end dask estimate -->")
    write_block("dask estimate", lines)


if __name__ == "__main__":
    os.environ.setdefault("ZEF_NUM_THREADS", "2")
    main()
