"""zef.discover on threads: the same result on any number of them, interruptible, with progress."""

import _thread
import itertools
import threading
import time

import numpy as np
import pytest

import zef
from helpers import other_thread_ticks
from zef import progressbar
from zef.shapes import make_collection


def everything(result):
    return (result.to_dict(), [m.shape.tobytes() for m in result], [list(m.distances.items()) for m in result])


@pytest.fixture(scope="module")
def long_collection():
    """About a second of discovery on one thread."""
    return make_collection("bump", 80, n_series=200, n_points=2000, prevalence=0.8, kind="walk", seed=1)[0]


@pytest.mark.parametrize(
    "family, length, points, kind, prevalence, seed",
    [
        ("bump", 40, 400, "walk", 0.8, 1),
        ("sine", 30, 400, "noise", 1.0, 2),
        ("saw", 50, 400, "walk", 0.5, 3),
        ("serrated", 400, 3000, "ar1", 1.0, 4),  # compared through the Fourier transform
    ],
)
def test_every_thread_count_gives_the_same_result(family, length, points, kind, prevalence, seed):
    series, _ = make_collection(
        family, length, n_series=25, n_points=points, prevalence=prevalence, kind=kind, seed=seed
    )
    rows = [row[: points - 9 * (i % 5)] for i, row in enumerate(series)]
    rows[4], rows[6] = np.full(points, 3.0), rows[6][:20]  # one flat, one short
    expected = everything(zef.discover(rows, length=length, k=4, threads=1))
    assert expected[0]["motifs"] and expected[0]["flat_series"] == [4] and expected[0]["short_series"] == [6]
    for threads in (2, 3):
        assert everything(zef.discover(rows, length=length, k=4, threads=threads)) == expected


@pytest.mark.not_sanitized(reason="timings")
def test_ctrl_c_interrupts_a_long_call_and_discovery_goes_on(long_collection, ctrl_c):
    fired, seen = [], []
    timer = threading.Timer(0.3, lambda: (fired.append(time.perf_counter()), _thread.interrupt_main()))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            zef.discover(long_collection, length=80, threads=1, progress=lambda *call: seen.append(call))
        latency = time.perf_counter() - fired[0]
    finally:
        timer.cancel()
    assert latency < 0.2
    # Stopped in the heavy stages, before the occurrences (the screening's
    # sample part may have just ended).
    assert seen[-1][0] in ("screen", "refine") and all(stage != "occurrences" for stage, *_ in seen)
    assert len(zef.discover(long_collection[:20, :600], length=80, threads=2)) > 0


@pytest.mark.not_sanitized(reason="timings")
def test_progress_from_the_calling_thread_while_other_threads_run(long_collection):
    calls = []
    with other_thread_ticks() as ticks:
        result = zef.discover(long_collection[:60], length=80, k=3, threads=1, progress=lambda *c: calls.append(c))
    assert ticks[0] > 20
    assert calls[-1] == ("occurrences", 60 * len(result), 60 * len(result))
    own = ["prepare", "screen", "refine", "occurrences"]
    seen = [own.index(stage) for stage, _, _ in calls if stage in own]
    assert seen == sorted(seen) and len(set(seen)) >= 3
    assert all(0 <= done <= total or (stage == "mine" and total == 0) for stage, done, total in calls)
    assert {stage for stage, _, _ in calls} <= set(progressbar.LABELS)
    # Every stage seen while it ran is seen as it ended, its count complete.
    ends = [list(run)[-1] for _, run in itertools.groupby(calls, key=lambda call: call[0])]
    assert all(done == total for _, done, total in ends if total)

    def fail(stage, done, total):
        raise LookupError(stage)

    with pytest.raises(LookupError):
        zef.discover(long_collection[:60], length=80, progress=fail)
    with pytest.raises(TypeError, match="progress must be a callable"):
        zef.discover(long_collection[:5], length=80, progress=3)
    with pytest.raises(ValueError, match="threads must be"):
        zef.discover(long_collection[:5], length=80, threads=0)


def test_find_with_a_length_shows_progress_when_asked_and_prints_the_same(zef, tmp_path, monkeypatch):
    series, _ = make_collection("sine", 40, n_series=20, n_points=300, seed=4)
    np.savetxt(tmp_path / "shapes.csv", series, delimiter=",")
    quiet = zef("find", "shapes.csv", "--length", "40")
    monkeypatch.setattr(progressbar, "DELAY", 0.0)
    shown = zef("find", "shapes.csv", "--length", "40", "--progress")
    assert shown[:2] == quiet[:2] and quiet[0] == 0 and shown[2].startswith(quiet[2])
    lines = shown[2][len(quiet[2]) :].splitlines()
    assert lines[-1] == f"finding occurrences: [{'#' * 24}] 200 of 200"  # 10 motifs, 20 series
    assert {line.split(":")[0] for line in lines} <= set(progressbar.LABELS.values())


def test_max_patterns_stops_discovery_with_a_clear_error():
    series, _ = make_collection("bump", 40, n_series=20, n_points=300, prevalence=1.0, kind="noise", seed=4)
    assert len(zef.discover(series, length=40, k=2, max_patterns=10**6)) > 0
    with pytest.raises(zef.TooManyPatterns, match="more than 1 frequent patterns"):
        zef.discover(series, length=40, k=2, max_patterns=1)
    with pytest.raises(ValueError, match="max_patterns"):
        zef.discover(series, length=40, max_patterns=0)
