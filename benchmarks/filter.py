"""How the redundancy filter's cost grows with the pattern count, in one run.

    python benchmarks/filter.py             # median of 5 rounds per case
    python benchmarks/filter.py --rounds 9

Needs numpy. Fifty series of 2,000 standard normal points (seed 27), seglen 2,
alphabet 10; minsup and max_len chosen so that the patterns that reach the
redundancy filter (those of at least min_len 3 symbols) about double from one
case to the next, from about 2,000 to about 90,000 (with 50 series, minsup
only moves in steps of 1/50). Per case: `_zef_cpp.Miner.mine` (one thread),
`zef.mine` on 2 threads and its "filter" stage, from its first progress report
to its last; then the time per doubling of the pattern count between
neighbouring cases and over the whole sweep (the slope of log time against
log count). The cases run in rounds, one run of each per round, so that other
work on a shared machine weighs on all of them alike.
"""

from __future__ import annotations

import argparse
import math
import pathlib
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import numpy as np  # noqa: E402

import _zef_cpp  # noqa: E402
import zef  # noqa: E402
import zef.io  # noqa: E402
from bench import fmt_time, section, table  # noqa: E402

SEGLEN, ALPHABET = 2, 10
# (minsup, max_len), by the count of patterns that reach the filter.
CASES = [(0.2, 5), (0.12, 5), (0.06, 6), (0.04, 6), (0.02, 5), (0.02, 6)]


def pattern_count(x: np.ndarray, minsup: float, max_len: int) -> int:
    """The patterns that reach the redundancy filter: those a filter that erases nothing keeps."""
    words = _zef_cpp.sax([zef.io.znorm(list(row)) for row in x], SEGLEN, ALPHABET)
    miner = _zef_cpp.PatternMiner(minsup, 3, max_len, 1.0)
    miner.mine(words)
    return len(miner.frequent)


def filter_run(x: np.ndarray, minsup: float, max_len: int) -> tuple[float, float | None]:
    """zef.mine on 2 threads: the whole call, and its "filter" stage from its first
    progress report to its last (None when too short to be reported twice)."""
    seen: dict[str, list[float]] = {}

    def follow(stage: str, done: int, count: int) -> None:
        now = time.perf_counter()
        seen.setdefault(stage, [now, now])[1] = now

    start = time.perf_counter()
    zef.mine(x, minsup, SEGLEN, ALPHABET, max_len=max_len, threads=2, progress=follow)
    whole = time.perf_counter() - start
    stage = seen.get("filter")
    return whole, None if stage is None or stage[1] == stage[0] else stage[1] - stage[0]


def miner_run(x: np.ndarray, minsup: float, max_len: int) -> float:
    start = time.perf_counter()
    _zef_cpp.Miner(minsup, SEGLEN, ALPHABET, max_len=max_len).mine(x)
    return time.perf_counter() - start


def per_doubling(counts: list[int], seconds: list[float]) -> float:
    """2 to the slope of log2(seconds) against log2(counts), by least squares."""
    xs = [math.log2(c) for c in counts]
    ys = [math.log2(s) for s in seconds]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    slope = sum((a - mx) * (b - my) for a, b in zip(xs, ys, strict=True)) / sum((a - mx) ** 2 for a in xs)
    return 2.0**slope


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    x = np.random.default_rng(27).standard_normal((50, 2000))
    runs: dict[tuple[float, int], dict[str, list[float]]] = {case: {} for case in CASES}
    counts: dict[tuple[float, int], int] = {}
    for case in CASES:  # warm-up, and the pattern counts
        counts[case] = pattern_count(x, *case)
        filter_run(x, *case)
    for _ in range(args.rounds):
        for case in CASES:
            whole, stage = filter_run(x, *case)
            runs[case].setdefault("zef.mine", []).append(whole)
            if stage is not None:
                runs[case].setdefault("filter", []).append(stage)
            runs[case].setdefault("Miner", []).append(miner_run(x, *case))

    section(f"Redundancy filter: 50 x 2,000 points, seglen {SEGLEN}, alphabet {ALPHABET}; medians of {args.rounds}")
    order = sorted(CASES, key=lambda case: counts[case])
    kinds = ["Miner", "zef.mine", "filter"]
    medians = {
        case: {kind: statistics.median(runs[case][kind]) if runs[case].get(kind) else None for kind in kinds}
        for case in order
    }
    rows = []
    for i, case in enumerate(order):
        row = [f"{case[0]:g}", str(case[1]), f"{counts[case]:,}"]
        for kind in kinds:
            row.append(fmt_time(medians[case][kind]))
        if i == 0:
            row += ["-", "-"]
        else:
            before = order[i - 1]
            steps = math.log2(counts[case] / counts[before])
            for kind in ("Miner", "zef.mine"):
                row.append(f"{(medians[case][kind] / medians[before][kind]) ** (1 / steps):.2f}x")
        rows.append(tuple(row))
    table(
        [
            "minsup",
            "max_len",
            "patterns",
            "_zef_cpp.Miner",
            "zef.mine (2 threads)",
            "of which filter",
            "per doubling, Miner",
            "per doubling, zef.mine",
        ],
        rows,
    )
    sweep = [counts[case] for case in order]
    for kind in ("Miner", "zef.mine"):
        factor = per_doubling(sweep, [medians[case][kind] for case in order])
        print(f"time per doubling over the sweep, {kind}: {factor:.2f}x")


if __name__ == "__main__":
    main()
