"""The scaling rows of the quality benchmark: zef.discover as the collection doubles.

Drifting walks with a bump of SHAPE_LENGTH points in 80 % of the series:
40 series of 1,000 to 16,000 points, 40 to 640 series of 1,000 points (each
doubling), and 1,000 series of 10,000 points (10^7 points). zef.discover
runs on 2 threads (the median of 3 runs below REPEAT_BELOW seconds, else one
run); stumpy.ostinato once per size, after its compilation, as long as the
size before it took less than OSTINATO_LIMIT / 4 seconds (its cost grows about
fourfold or more per doubling, so the next size would pass OSTINATO_LIMIT);
the sizes it did not run say so.
"""

from __future__ import annotations

import argparse
import statistics
from collections.abc import Callable
from typing import Any

from zef.shapes import make_collection

SCALING_MARKS = (
    "<!-- quality scaling: written by benchmarks/quality.py --write-docs -->",
    "<!-- end of quality scaling -->",
)
SHAPE_LENGTH = 100
PREVALENCE = 0.8
SNR = 4.0
# Fixed before the first run; size i of a sweep has seed SCALING_SEED + 100 * sweep + i.
SCALING_SEED = 20261211
SWEEPS = (
    ("series length", [(40, 1000 * 2**i) for i in range(5)]),
    ("series count", [(40 * 2**i, 1000) for i in range(5)]),
    ("10^7 points", [(1000, 10_000)]),
)
REPEAT_BELOW = 2.0
OSTINATO_LIMIT = 120.0
DOUBLING_TARGET = 2.2

Method = Callable[[Any, int], tuple[Any, float]]


def _time(method: Method, series: Any, repeats: int) -> tuple[Any, float]:
    motifs, elapsed = method(series, SHAPE_LENGTH)
    if repeats > 1 and elapsed < REPEAT_BELOW:
        times = [elapsed] + [method(series, SHAPE_LENGTH)[1] for _ in range(repeats - 1)]
        elapsed = statistics.median(times)
    return motifs, elapsed


def _seconds(value: float) -> str:
    return f"{value * 1000:.0f} ms" if value < 1 else f"{value:.2f} s"


def scaling(
    args: argparse.Namespace,
    say: Callable[[str], None],
    discover: Method,
    ostinato: Method,
    recovered_rank: Callable[[Any, Any], int | None],
) -> list[str]:
    """The scaling table and its targets, as Markdown lines."""
    lines = [
        f"Drifting walks with a bump of {SHAPE_LENGTH} points in {PREVALENCE:.0%} of the series (SNR {SNR:g});"
        f" zef.discover(length={SHAPE_LENGTH}, threads=2).",
        "",
        "| sweep | series x points | points | discover | x per doubling | bump at rank"
        " | stumpy.ostinato | x per doubling | ostinato / discover |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    worst: dict[str, float] = {}
    for number, (sweep, sizes) in enumerate(SWEEPS):
        before: tuple[float, float | None] | None = None
        for i, (n_series, n_points) in enumerate(sizes):
            if args.quick and n_series * n_points >= 10**7:
                size = f"{n_series:,} x {n_points:,} | {n_series * n_points:,}"
                lines.append(f"| {sweep} | {size} | not run (--quick) | - | - | - | - | - |")
                continue
            series, planted = make_collection(
                "bump", SHAPE_LENGTH, n_series=n_series, n_points=n_points, prevalence=PREVALENCE,
                kind="walk", snr=SNR, seed=SCALING_SEED + 100 * number + i,
            )  # fmt: skip
            motifs, ours = _time(discover, series, 3)
            rank = recovered_rank(motifs, planted)
            growth = f"{ours / before[0]:.2f}" if before else "-"
            if before:
                worst[sweep] = max(worst.get(sweep, 0.0), ours / before[0])
            peer: float | None = None
            if not args.peers:
                peer_cell = "not run (no peer)"
            elif before is not None and (before[1] is None or before[1] > OSTINATO_LIMIT / 4):
                peer_cell = "not run (over the limit)"
            elif n_series * n_points >= 10**7:
                peer_cell = "not run (over the limit)"
            else:
                peer = ostinato(series, SHAPE_LENGTH)[1]
                peer_cell = _seconds(peer)
            peer_growth = f"{peer / before[1]:.2f}" if peer and before and before[1] else "-"
            ratio = f"{peer / ours:.0f}x" if peer else "-"
            lines.append(
                f"| {sweep} | {n_series:,} x {n_points:,} | {n_series * n_points:,} | {_seconds(ours)} | {growth}"
                f" | {rank or 'not in the top 5'} | {peer_cell} | {peer_growth} | {ratio} |"
            )
            say(f"  {sweep:<14} {n_series:>5} x {n_points:>6}: discover {ours:.3f} s, ostinato {peer_cell}")
            before = (ours, peer)
    lines += ["", "| target | measured | met |", "|---|---|---|"]
    for sweep, label in (("series length", "40 x 1,000 to 40 x 16,000"), ("series count", "40 to 640 series of 1,000")):
        if sweep in worst:
            met = "yes" if worst[sweep] <= DOUBLING_TARGET else "NO"
            target = f"at most {DOUBLING_TARGET}x per doubling of the {sweep} ({label})"
            lines.append(f"| {target} | worst {worst[sweep]:.2f}x | {met} |")
    return lines
