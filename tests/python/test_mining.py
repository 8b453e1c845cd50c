"""zef.mine: the result of Miner.mine on any number of threads, interruptible, with progress."""

import _thread
import array
import math
import os
import sys
import threading
import time

import numpy as np
import pytest

import zef
from _zef_cpp import Miner
from helpers import other_thread_ticks
from zef import mining, progressbar


def bits(values):
    return array.array("d", values).tobytes()


def describe(motif):
    """Every property of a motif; floats as their bits, dicts in their order."""
    return (
        motif.pattern,
        list(motif.indexes.items()),
        [(s, bits(v)) for s, v in motif.average_occurrences.items()],
        bits(motif.representative),
        list(motif.best_matches.items()),
        motif.length,
        bits([motif.naed]),
    )


def walks(seed, count, length, ragged=False):
    rng = np.random.default_rng(seed)
    rows = [np.cumsum(rng.standard_normal(length - (rng.integers(length // 2) if ragged else 0))) for _ in range(count)]
    for row in rows[3::7]:
        row[len(row) // 3] = math.nan
    return rows


CASES = [
    # (seed, series, points, ragged, minsup, seglen, alphabet, min_len, max_len, max_overlap, k)
    (1, 60, 200, False, 0.3, 4, 4, 3, 0, 0.9, 0),
    (2, 50, 240, True, 0.2, 3, 5, 1, 0, 0.8, 4),
    (3, 40, 160, True, 0.5, 5, 3, 2, 2, 0.9, 1),
    (4, 30, 300, False, 0.1, 6, 6, 4, 6, 1.0, 0),
    (5, 25, 120, True, 0.0, 8, 4, 1, 3, 0.5, 7),
]


@pytest.mark.parametrize("case", CASES, ids=lambda c: f"seed{c[0]}")
def test_every_thread_count_gives_what_miner_gives(case):
    seed, count, length, ragged, *settings = case
    rows = walks(seed, count, length, ragged)
    expected = [describe(m) for m in Miner(*settings).mine(rows)]
    assert expected
    inputs = [rows, [r.tolist() for r in rows]]
    if not ragged:
        inputs.append(np.array(rows))
    for threads in (1, 2, 3, 4):
        for series in inputs:
            assert [describe(m) for m in zef.mine(series, *settings, threads=threads)] == expected


def test_errors_are_those_of_miner_and_the_pattern_limit():
    rows = walks(6, 10, 80)
    for settings in [(0.5, 4, 11), (0.5, 0, 4), (0.5, 4, 4, 3, 0, 0.9, -1)]:
        with pytest.raises(Exception) as expected:
            Miner(*settings).mine(rows)
        with pytest.raises(type(expected.value), match=str(expected.value)):
            zef.mine(rows, *settings, threads=2)
    # With min_len 1 and max_overlap 1.0 every pattern that passes the support test is a motif.
    found = len(zef.mine(rows, 0.5, 4, 4, 1, 0, 1.0))
    assert len(zef.mine(rows, 0.5, 4, 4, 1, 0, 1.0, max_patterns=found)) == found
    with pytest.raises(zef.TooManyPatterns, match=f"more than {found - 1} frequent patterns"):
        zef.mine(rows, 0.5, 4, 4, 1, 0, 1.0, max_patterns=np.int64(found - 1))
    with pytest.raises(ValueError, match="2 dimensions"):
        zef.mine(np.zeros(10), 0.5, 4, 4)
    with pytest.raises(TypeError, match="series 0 is not a sequence of numbers"):
        zef.mine([[1.0, "x"]], 0.5, 4, 4)
    with pytest.raises(TypeError, match="progress must be a callable"):
        zef.mine(rows, 0.5, 4, 4, progress=3)


def test_thread_count_from_the_call_the_variable_or_the_cores(monkeypatch, tmp_path):
    monkeypatch.delenv(mining.THREADS_VARIABLE, raising=False)
    assert 1 <= mining.thread_count() <= (os.cpu_count() or 1)
    monkeypatch.setenv(mining.THREADS_VARIABLE, " 3 ")
    assert mining.thread_count() == 3
    assert mining.thread_count(5) == 5
    assert mining.thread_count(np.int64(2)) == 2  # counts computed with numpy
    assert mining.thread_count(10**30) == sys.maxsize  # more than the native call takes: capped
    monkeypatch.setenv(mining.THREADS_VARIABLE, str(10**30))
    assert mining.thread_count() == sys.maxsize
    for bad in ["0", "-2", "two", "1.5"]:
        monkeypatch.setenv(mining.THREADS_VARIABLE, bad)
        with pytest.raises(ValueError, match=mining.THREADS_VARIABLE):
            mining.thread_count()
    for bad in [0, -1]:
        with pytest.raises(ValueError, match="threads must be"):
            mining.thread_count(bad)
    for bad in [2.0, True, np.True_, "2"]:
        with pytest.raises(TypeError, match="threads must be"):
            mining.thread_count(bad)

    # cgroup v2: the smallest quota on the way down to the process's cgroup, rounded up.
    own = tmp_path / "cgroup"
    own.write_text("0::/app/job\n")
    (tmp_path / "app" / "job").mkdir(parents=True)
    (tmp_path / "cpu.max").write_text("max 100000\n")
    (tmp_path / "app" / "cpu.max").write_text("150000 100000\n")
    assert mining.available_cores(str(tmp_path), str(own)) == min(2, len(os.sched_getaffinity(0)))
    (tmp_path / "app" / "job" / "cpu.max").write_text("50000 100000\n")
    assert mining.available_cores(str(tmp_path), str(own)) == 1
    # cgroup v1: quota and period of the cpu controller, -1 for none.
    v1 = tmp_path / "v1"
    (v1 / "cpu").mkdir(parents=True)
    (v1 / "cpu" / "cpu.cfs_quota_us").write_text("-1\n")
    (v1 / "cpu" / "cpu.cfs_period_us").write_text("100000\n")
    assert mining.available_cores(str(v1), str(own)) == len(os.sched_getaffinity(0))
    (v1 / "cpu" / "cpu.cfs_quota_us").write_text("100000\n")
    assert mining.available_cores(str(v1), str(own)) == 1


# White noise cut into two symbols: every pattern up to max_len is frequent;
# on one thread, mining them takes a few hundredths of a second and mapping
# them about half a second on a quiet machine, longer on a busy one.
def long_call(**options):
    noise = np.random.default_rng(0).standard_normal((500, 8000))
    return zef.mine(noise, 0.5, 16, 2, 1, 10, 1.0, **options)


@pytest.mark.not_sanitized(reason="timings")
def test_ctrl_c_interrupts_a_long_call_and_the_module_goes_on(ctrl_c):
    seen = []
    timer = threading.Timer(0.2, _thread.interrupt_main)
    start = time.perf_counter()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            long_call(threads=1, progress=lambda *call: seen.append(call))
    finally:
        timer.cancel()
    assert time.perf_counter() - start < 2.0
    # Stopped while mapping, not raised once the work was done.
    assert seen and seen[-1][0] in ("map", "collect") and seen[-1][1] < seen[-1][2]
    test_errors_are_those_of_miner_and_the_pattern_limit()


@pytest.mark.not_sanitized(reason="timings")
def test_other_threads_run_while_a_call_works():
    with other_thread_ticks() as ticks:
        zef.mine(np.random.default_rng(1).standard_normal((300, 3000)), 0.5, 16, 2, 1, 8, 1.0, threads=1)
    assert ticks[0] > 20


def test_progress_reports_each_stage_in_order_and_its_errors_stop_the_call():
    calls = []
    rows = walks(7, 200, 400)
    result = zef.mine(rows, 0.2, 4, 4, 1, progress=lambda *call: calls.append(call))
    stages = ["discretise", "mine", "filter", "map", "collect"]
    assert calls[-1] == ("collect", len(result), len(result))
    assert [stages.index(s) for s, _, _ in calls] == sorted(stages.index(s) for s, _, _ in calls)
    assert all(0 <= done <= total or (stage == "mine" and total == 0) for stage, done, total in calls)

    def fail(stage, done, total):
        raise LookupError(stage)

    with pytest.raises(LookupError):
        zef.mine(rows, 0.2, 4, 4, 1, progress=fail)


def test_find_shows_progress_when_asked_and_prints_the_same(zef, tmp_path, monkeypatch):
    np.savetxt(tmp_path / "walks.csv", np.array(walks(8, 30, 200)), delimiter=",")
    settings = ["--minsup", "0.3", "--seglen", "4", "--alphabet", "4"]
    quiet = zef("find", "walks.csv", *settings)
    monkeypatch.setattr(progressbar, "DELAY", 0.0)
    shown = zef("find", "walks.csv", *settings, "--progress")
    assert shown[:2] == quiet[:2] and quiet[0] == 0
    assert shown[2].startswith(quiet[2])
    lines = shown[2][len(quiet[2]) :].splitlines()
    assert lines[-1] == f"mapping the best motifs: [{'#' * 24}] 32 of 32"
    assert {line.split(":")[0] for line in lines} <= set(progressbar.LABELS.values())
