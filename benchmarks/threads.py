"""Times zef.mine and zef.discover on threads against one numpy pass and _zef_cpp.Miner, in one run.

    python benchmarks/threads.py                     # the full run (a few minutes on 2 cores)
    python benchmarks/threads.py --json OUT.json     # also saves the tables of the docs
    python benchmarks/threads.py --only discovery    # some sections only (no --json)

Needs numpy. Sections:

1. `zef.mine(X, 0.3, 8, 4, k=10)` on 8,000 random walks of 1,000 points (float64,
   C-contiguous) on 2 threads, as a ratio to the median of 20 `X.sum()` calls; 1
   against 2 threads; `_zef_cpp.Miner` on the same call;
2. scaling: the same call from 1,000 to 16,000 series, the time per doubling.
   The cases of sections 1 and 2 (and 6) run in rounds, one run of each per round,
   so that other work on a shared machine weighs on all of them alike;
3. Ctrl-C: how long a long call takes to raise KeyboardInterrupt once interrupted;
4. peak memory beyond the input, each case in a fresh process;
5. long words: one series, seglen 10, alphabet 10, minsup 1.0 through
   `_zef_cpp.Miner`, and the rows of the "Practical limits" table (docs/errors.md), each
   in a fresh process capped at 60 s;
6. discovery: `zef.discover` on 200 series of 2,000 points (`zef.shapes`) on 1
   and 2 threads, the whole call and its screening and refinement, and how long
   Ctrl-C takes to raise KeyboardInterrupt during it.

`scripts/docs_tables.py OUT.json` writes the saved tables into the pages of docs/.
"""

from __future__ import annotations

import _thread
import argparse
import json
import os
import pathlib
import resource
import statistics
import subprocess
import sys
import threading
import time
from functools import partial

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import numpy as np  # noqa: E402

import _zef_cpp  # noqa: E402
import zef  # noqa: E402
from bench import cpu_name, fmt_time, section, table  # noqa: E402
from zef.shapes import make_collection  # noqa: E402

SETTINGS = dict(minsup=0.3, seglen=8, alphabet=4, k=10)
SERIES, POINTS = 8000, 1000
COUNTS = [1000, 2000, 4000, 8000, 16000]
CAP = 60.0

TARGETS: list[tuple[str, str, bool]] = []


def target(text: str, measured: str, met: bool) -> None:
    TARGETS.append((text, measured, met))


def walks(count: int, length: int, seed: int = 0) -> np.ndarray:
    """Random walks (running sums of standard normal steps), float64 and C-contiguous,
    made a block of rows at a time so that making them needs little beyond the array."""
    rng = np.random.default_rng(seed)
    out = np.empty((count, length))
    for first in range(0, count, 500):
        last = min(count, first + 500)
        np.cumsum(rng.standard_normal((last - first, length)), axis=1, out=out[first:last])
    return out


def child(code: str, cap: float = CAP) -> str | None:
    """Runs `code` in a fresh python with this module imported as `t`; its stdout, or
    None when it ran longer than `cap` seconds."""
    program = f"import sys; sys.path.insert(0, {str(pathlib.Path(__file__).parent)!r}); import threads as t; {code}"
    try:
        return subprocess.run(
            [sys.executable, "-c", program], capture_output=True, text=True, check=True, timeout=cap
        ).stdout
    except subprocess.TimeoutExpired:
        return None


def run_once(call) -> tuple[float, float]:
    """Wall time and process CPU time (user and system, every thread) of one call: a CPU
    time near twice the wall time means that both threads had a core to themselves."""
    before = resource.getrusage(resource.RUSAGE_SELF)
    t0 = time.perf_counter()
    call()
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_SELF)
    return wall, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def alternated(calls: dict, repeats: int) -> dict:
    """Per call, the run of median wall time (wall, CPU) over `repeats` rounds after one
    warm-up run each. Each round runs every call once in turn, so that other work on the
    machine, which comes and goes, weighs on all of them alike and not on one case."""
    for call in calls.values():
        call()
    runs: dict = {name: [] for name in calls}
    for _ in range(repeats):
        for name, call in calls.items():
            runs[name].append(run_once(call))
    return {name: sorted(r)[len(r) // 2] for name, r in runs.items()}


def status(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


# --------------------------------------------------------------------------- 1. the call


def bench_call(repeats: int) -> dict[str, float]:
    section(f"1. zef.mine on {SERIES:,} x {POINTS:,} random walks")
    x = walks(SERIES, POINTS)
    sums: list[float] = []
    # 20 passes in all, spread over the rounds; the warm-up run makes one more, left out.
    schedule = [1] + [20 // repeats + (1 if r < 20 % repeats else 0) for r in range(repeats)]

    def sum_passes() -> None:
        for _ in range(schedule.pop(0)):
            t0 = time.perf_counter()
            x.sum()
            sums.append(time.perf_counter() - t0)

    medians = alternated(
        {
            "sum": sum_passes,
            "two": lambda: zef.mine(x, **SETTINGS, threads=2),
            "one": lambda: zef.mine(x, **SETTINGS, threads=1),
            "miner": lambda: _zef_cpp.Miner(**SETTINGS).mine(x),
        },
        repeats,
    )
    passes = sums[1:]  # not the warm-up
    one_pass = statistics.median(passes)
    (two, two_cpu), (one, one_cpu), (miner, miner_cpu) = medians["two"], medians["one"], medians["miner"]
    settings = ", ".join(f"{k}={v}" for k, v in SETTINGS.items())
    print(f"zef.mine(X, {settings}); X float64, C-contiguous, {x.nbytes / 2**20:.0f} MiB")
    print()
    rows = [
        (f"X.sum() (median of {len(passes)})", fmt_time(one_pass), "-", "1.0x"),
        ("zef.mine, 2 threads", fmt_time(two), fmt_time(two_cpu), f"{two / one_pass:.1f}x"),
        ("zef.mine, 1 thread", fmt_time(one), fmt_time(one_cpu), f"{one / one_pass:.1f}x"),
        ("_zef_cpp.Miner.mine", fmt_time(miner), fmt_time(miner_cpu), f"{miner / one_pass:.1f}x"),
    ]
    table(["call", "time", "CPU time", "x X.sum()"], rows)
    print(f"1 thread / 2 threads: {one / two:.2f}x; Miner.mine / zef.mine on 2 threads: {miner / two:.2f}x")
    target("zef.mine on 2 threads <= 25x X.sum()", f"{two / one_pass:.1f}x", two / one_pass <= 25)
    target("2 threads >= 1.8x faster than 1", f"{one / two:.3f}x", one / two >= 1.8)
    return {
        "sum": one_pass,
        "passes": len(passes),
        "two": two,
        "one": one,
        "miner": miner,
        "two_cpu": two_cpu,
        "one_cpu": one_cpu,
        "miner_cpu": miner_cpu,
    }


# --------------------------------------------------------------------------- 2. scaling


def bench_scaling(repeats: int) -> list[tuple[int, float, float]]:
    section("2. Scaling: zef.mine on 2 threads as the number of series doubles")
    x = walks(COUNTS[-1], POINTS, seed=1)
    rows, times, worst = [], [], 0.0
    medians = alternated({count: partial(zef.mine, x[:count], **SETTINGS, threads=2) for count in COUNTS}, repeats)
    for count in COUNTS:
        seconds, cpu = medians[count]
        growth = seconds / times[-1][1] if times else None
        cpu_growth = cpu / times[-1][2] if times else None
        worst = max(worst, growth or 0.0)
        times.append((count, seconds, cpu))
        rows.append(
            (
                f"{count:,} x {POINTS:,}",
                fmt_time(seconds),
                f"{growth:.2f}" if growth else "-",
                fmt_time(cpu),
                f"{cpu_growth:.2f}" if cpu_growth else "-",
            )
        )
    table(["series x points", "time", "x per doubling", "CPU time", "x per doubling"], rows)
    target(f"time per doubling <= 2.1x ({COUNTS[0]:,} to {COUNTS[-1]:,} series)", f"worst {worst:.3f}x", worst <= 2.1)
    return times


# --------------------------------------------------------------------------- 3. Ctrl-C


def interrupted_after(delay: float, call) -> float | None:
    """Seconds from interrupting the main thread `delay` s into `call` to KeyboardInterrupt;
    None when the call ended first."""
    fired: list[float] = []

    def interrupt() -> None:
        fired.append(time.perf_counter())
        _thread.interrupt_main()

    timer = threading.Timer(delay, interrupt)
    timer.start()
    finished = False
    try:
        call()
        finished = True
        timer.cancel()
        timer.join()
        if fired:  # the interruption came after the call returned: take it here
            time.sleep(1.0)
    except KeyboardInterrupt:
        if not finished:
            return time.perf_counter() - fired[0]
    return None


def bench_interrupt() -> None:
    section("3. Ctrl-C: from the interruption to KeyboardInterrupt")
    noise = np.random.default_rng(2).standard_normal((500, 8000))
    mapping = lambda: zef.mine(noise, 0.5, 16, 2, 1, 9, 1.0, threads=2)  # noqa: E731
    x = walks(SERIES, POINTS)
    call = lambda: zef.mine(x, **SETTINGS, threads=2)  # noqa: E731
    lengths = {}
    for work in (mapping, call):
        t0 = time.perf_counter()
        work()
        lengths[work] = time.perf_counter() - t0
    rows, latencies = [], {}
    # Each call is interrupted a quarter, half and three quarters of the way
    # through; the first one maps from about a tenth of the way to four fifths.
    for name, work in [
        ("white noise 500 x 8,000, every pattern of 1 to 9 symbols", mapping),
        ("the call of section 1", call),
    ]:
        name = f"{name} ({fmt_time(lengths[work])})"
        delays = [lengths[work] * f for f in (0.25, 0.5, 0.75)]
        for delay in delays:
            latency = interrupted_after(delay, work)
            if latency is not None:
                latencies.setdefault(work, []).append(latency)
            rows.append((name, fmt_time(delay), fmt_time(latency) if latency is not None else "ended first"))
    table(["call", "interrupted after", "KeyboardInterrupt after"], rows)
    for work, text in [(mapping, "while mapping"), (call, "anywhere in the call of section 1")]:
        worst = max(latencies.get(work, [float("nan")]))
        target(f"Ctrl-C {text}: KeyboardInterrupt within 50 ms", f"worst {fmt_time(worst)}", worst <= 0.05)


# --------------------------------------------------------------------------- 4. memory


def peak_child(kind: str, count: int, length: int) -> None:
    """In a fresh process: the peak resident memory that one call adds beyond the input."""
    x = walks(count, length)
    rss = status("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:  # resets the peak (VmHWM) to the current RSS
        f.write("5")
    if kind == "zef":
        result = zef.mine(x, **SETTINGS, threads=2)
    else:
        result = _zef_cpp.Miner(**SETTINGS).mine(x)
    peak = status("VmHWM") - rss
    # What the result holds: its lists of points and of positions, and the entries of
    # the three tables of each motif that hold them (per series: a node of a next
    # pointer, the key and a list or an int, and a bucket; allocator headers left out).
    entry_bytes = (8 + 8 + 24) + (8 + 8 + 24) + (8 + 8) + 3 * 8
    held = sum(
        8 * (len(m.average_occurrences) + 1) * m.length
        + 4 * sum(map(len, m.indexes.values()))
        + entry_bytes * len(m.indexes)
        for m in result
    )
    print(json.dumps([peak, x.nbytes, held]))


def bench_memory() -> float:
    section("4. Peak memory beyond the input (each case in a fresh process)")
    rows, ratio = [], 0.0
    for kind, name in [("zef", "zef.mine, 2 threads"), ("miner", "_zef_cpp.Miner.mine")]:
        out = child(f"t.peak_child({kind!r}, {SERIES}, {POINTS})")
        extra, size, held = json.loads(out or "[0, 1, 0]")
        bound = size + held
        rows.append(
            (
                name,
                f"{extra / 2**20:.1f} MiB",
                f"{size / 2**20:.1f} MiB",
                f"{held / 2**20:.1f} MiB",
                f"{extra / bound:.2f}",
            )
        )
        if kind == "zef":
            ratio = extra / bound
    table(["call", "peak beyond the input", "input", "result", "peak / (input + result)"], rows)
    print("One normalised copy of the input plus the result is 1.00; the rest is the words and the")
    print("occurrences that mining holds while it runs.")
    target(
        "zef.mine: peak beyond the input <= one normalised copy of the input + its result",
        f"{ratio:.2f}x",
        ratio <= 1.0,
    )
    return ratio


# --------------------------------------------------------------------------- 5. limits

# The rows of the "Practical limits" table (docs/errors.md): (series, points, settings beyond
# alphabet 5 and the defaults).
LIMITS = [
    (100, 1000, dict(seglen=10, minsup=0.5)),
    (1000, 1000, dict(seglen=10, minsup=0.5)),
    (100, 10000, dict(seglen=10, minsup=0.5)),
    (100, 1000, dict(seglen=10, minsup=0.1)),
    (100, 1000, dict(seglen=10, alphabet=10, minsup=0.02)),
    (100, 1000, dict(seglen=10, alphabet=10, minsup=0.02, max_len=6)),
    (1, 2000, dict(seglen=10, alphabet=10, minsup=1.0)),
    (1, 5000, dict(seglen=10, alphabet=10, minsup=1.0)),
    (1, 10000, dict(seglen=10, alphabet=10, minsup=1.0)),
    (1, 10000, dict(seglen=10, alphabet=10, minsup=1.0, max_len=5)),
]


def limit_child(count: int, length: int, settings: dict[str, float]) -> None:
    x = walks(count, length, seed=3)
    options = {"alphabet": 5, **settings}
    runs = []
    while not runs or (sum(runs) < 2.0 and len(runs) < 5):
        t0 = time.perf_counter()
        found = len(_zef_cpp.Miner(**options).mine(x))
        runs.append(time.perf_counter() - t0)
    print(json.dumps([statistics.median(runs), found]))


def describe(settings: dict[str, float]) -> str:
    return ", ".join(f"`{k}` {v}" for k, v in settings.items())


def seconds_text(seconds: float | None) -> str:
    if seconds is None:
        return f"over {CAP:.0f} s (stopped)"
    if seconds >= 10:
        return f"{seconds:.0f} s"
    return f"{seconds:.2g} s" if seconds >= 0.01 else f"{seconds:.3f} s"


def bench_limits() -> list[tuple[str, str, str]]:
    section(f"5. Long words and the practical limits: _zef_cpp.Miner, fresh process, cap {CAP:.0f} s")
    rows, measured = [], {}
    for count, length, settings in LIMITS:
        out = child(f"t.limit_child({count}, {length}, {settings!r})")
        seconds, found = json.loads(out) if out is not None else (None, None)
        measured[(count, length, tuple(settings.items()))] = seconds
        rows.append(
            (
                f"{count:,} of {length:,} points",
                describe(settings),
                seconds_text(seconds),
                found if found is not None else "-",
            )
        )
    table(["series", "settings", "time", "motifs"], rows)
    single = dict(seglen=10, alphabet=10, minsup=1.0)
    for points, limit in [(5000, 0.5), (10000, 5.0)]:
        seconds = measured[(1, points, tuple(single.items()))]
        target(
            f"one series of {points:,} points, seglen 10, alphabet 10, minsup 1.0: <= {limit:g} s",
            seconds_text(seconds),
            seconds is not None and seconds <= limit,
        )
    return [(r[0], r[1], r[2]) for r in rows]


# --------------------------------------------------------------------------- 6. discovery

DISCOVERY = dict(n_series=200, n_points=2000, length=80)


def discovery_run(x: np.ndarray, threads: int) -> tuple[float, float, float]:
    """One zef.discover call: its wall time, its CPU time, and the wall time from the
    first report of the screening to the end (screening and refinement)."""
    screening: list[float] = []

    def follow(stage: str, done: int, total: int) -> None:
        if stage == "screen" and not screening:
            screening.append(time.perf_counter())

    before = resource.getrusage(resource.RUSAGE_SELF)
    t0 = time.perf_counter()
    zef.discover(x, length=DISCOVERY["length"], threads=threads, progress=follow)
    end = time.perf_counter()
    after = resource.getrusage(resource.RUSAGE_SELF)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return end - t0, cpu, end - (screening[0] if screening else t0)


def bench_discovery(repeats: int) -> dict[str, tuple[float, float, float]]:
    n, points, length = DISCOVERY["n_series"], DISCOVERY["n_points"], DISCOVERY["length"]
    section(f"6. zef.discover on {n} x {points:,} points, length {length}, on 1 and 2 threads")
    x, _ = make_collection("bump", length, n_series=n, n_points=points, prevalence=0.8, kind="walk", seed=1)
    runs: dict[int, list[tuple[float, float, float]]] = {1: [], 2: []}
    discovery_run(x, 2)
    for _ in range(repeats):  # alternated, so that other work on the machine weighs on both alike
        for threads in (1, 2):
            runs[threads].append(discovery_run(x, threads))
    medians = {t: tuple(statistics.median(r[i] for r in runs[t]) for i in range(3)) for t in runs}
    table(
        ["threads", "zef.discover", "CPU time", "screening and refinement"],
        [(str(t), fmt_time(m[0]), fmt_time(m[1]), fmt_time(m[2])) for t, m in medians.items()],
    )
    whole, refine = medians[1][0] / medians[2][0], medians[1][2] / medians[2][2]
    print(f"1 thread / 2 threads: {whole:.2f}x for the call, {refine:.2f}x for screening and refinement")
    target("discovery: 2 threads >= 1.8x faster than 1 (screening and refinement)", f"{refine:.3f}x", refine >= 1.8)

    call = lambda: zef.discover(x, length=length, threads=2)  # noqa: E731
    latencies = []
    rows = []
    for share in (0.1, 0.3, 0.5, 0.7, 0.9):
        delay = medians[2][0] * share
        latency = interrupted_after(delay, call)
        if latency is not None:
            latencies.append(latency)
        rows.append((fmt_time(delay), fmt_time(latency) if latency is not None else "ended first"))
    table(["interrupted after", "KeyboardInterrupt after"], rows)
    worst = max(latencies, default=float("nan"))
    target("Ctrl-C in zef.discover: KeyboardInterrupt within 50 ms", f"worst {fmt_time(worst)}", worst <= 0.05)
    return {"one": medians[1], "two": medians[2]}


# --------------------------------------------------------------------------- tables of the docs


def markdown(headers: list[str], rows: list[tuple[str, ...]]) -> str:
    lines = ["| " + " | ".join(headers) + " |", "|" + "---|" * len(headers)]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines) + "\n"


SECTIONS = ("call", "scaling", "interrupt", "memory", "limits", "discovery")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=9, help="timed rounds per case (default 9)")
    parser.add_argument("--json", metavar="OUT", help="save the tables of the docs to this file")
    parser.add_argument("--only", nargs="+", choices=SECTIONS, help="run these sections only")
    args = parser.parse_args()
    if args.only and args.json:
        parser.error("--json needs the full run")
    runs = set(args.only or SECTIONS)
    started = time.perf_counter()
    load = os.getloadavg()[0]
    machine = f"{os.cpu_count()} cores, {cpu_name()}; Python {sys.version.split()[0]}, numpy {np.__version__}"
    print("zef benchmark: zef.mine and zef.discover on threads")
    print(f"machine: {machine}; load average {load:.1f} at the start")
    print(f"runs: median of {args.repeats} after a warm-up")

    call = bench_call(args.repeats) if "call" in runs else {}
    scaling = bench_scaling(args.repeats) if "scaling" in runs else []
    if "interrupt" in runs:
        bench_interrupt()
    if "memory" in runs:
        bench_memory()
    limits = bench_limits() if "limits" in runs else []
    discovery = bench_discovery(args.repeats) if "discovery" in runs else {}

    section("Targets")
    table(["target", "measured", "met"], [(t, m, "yes" if ok else "NO") for t, m, ok in TARGETS])
    print(f"whole run: {fmt_time(time.perf_counter() - started)}")

    if args.json:
        growth = [f"{b[1] / a[1]:.2f}" for a, b in zip(scaling, scaling[1:], strict=False)]
        threads = markdown(["target", "measured", "met"], [(t, m, "yes" if ok else "no") for t, m, ok in TARGETS])
        calls = markdown(
            ["call", "time", "CPU time", "x `X.sum()`"],
            [
                (f"`X.sum()` (median of {call['passes']})", fmt_time(call["sum"]), "-", "1"),
                (
                    "`zef.mine`, 2 threads",
                    fmt_time(call["two"]),
                    fmt_time(call["two_cpu"]),
                    f"{call['two'] / call['sum']:.1f}",
                ),
                (
                    "`zef.mine`, 1 thread",
                    fmt_time(call["one"]),
                    fmt_time(call["one_cpu"]),
                    f"{call['one'] / call['sum']:.1f}",
                ),
                (
                    "`_zef_cpp.Miner.mine`",
                    fmt_time(call["miner"]),
                    fmt_time(call["miner_cpu"]),
                    f"{call['miner'] / call['sum']:.1f}",
                ),
            ],
        )
        doubling = markdown(
            ["series", "time", "x per doubling", "CPU time"],
            [
                (f"{c:,}", fmt_time(s), g, fmt_time(cpu))
                for (c, s, cpu), g in zip(scaling, ["-"] + growth, strict=False)
            ],
        )
        n, points = DISCOVERY["n_series"], DISCOVERY["n_points"]
        discovering = markdown(
            ["threads", f"`zef.discover`, {n} x {points:,} points", "CPU time", "screening and refinement"],
            [
                (str(t), fmt_time(m[0]), fmt_time(m[1]), fmt_time(m[2]))
                for t, m in ((1, discovery["one"]), (2, discovery["two"]))
            ],
        )
        tables = {
            "threads": f"Measured on {machine}, with a load average of {load:.1f} (other work) at the start"
            f" and {os.getloadavg()[0]:.1f} at the end:\n\n"
            + calls
            + "\n"
            + doubling
            + "\n"
            + discovering
            + "\n"
            + threads,
            "limits": markdown(["Series", "Settings", "Time"], limits),
        }
        pathlib.Path(args.json).write_text(json.dumps(tables, indent=1) + "\n")
        print(f"tables saved to {args.json}")


if __name__ == "__main__":
    main()
