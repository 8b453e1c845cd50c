"""zef.dask.mine on a local cluster of two worker processes: the same motifs as zef.mine, bit for bit."""

import importlib
import os
import re
import signal
import threading
import time

import numpy as np
import pytest

import zef
from zef.timing import StageTimes

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
db = pytest.importorskip("dask.bag")
distributed = pytest.importorskip("distributed")
zd = pytest.importorskip("zef.dask")

pytestmark = [pytest.mark.cluster, pytest.mark.not_sanitized("worker processes load the plain module")]


@pytest.fixture(scope="module")
def client():
    with (
        distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster,
        distributed.Client(cluster) as c,
    ):
        yield c


def assert_same(got, want, statistics=True):
    assert want, "two empty results compare equal without checking anything"
    assert [m.pattern for m in got] == [m.pattern for m in want]
    for a, b in zip(got, want, strict=False):
        assert (a.length, a.naed) == (b.length, b.naed) or (np.isnan(a.naed) and np.isnan(b.naed))
        assert np.array_equal(a.representative, b.representative, equal_nan=True)
        # Dicts in the same key order, with the same values.
        assert list(a.indexes.items()) == list(b.indexes.items())
        assert list(a.best_matches.items()) == list(b.best_matches.items())
        if statistics:
            assert list(a.average_occurrences) == list(b.average_occurrences)
            for s, values in a.average_occurrences.items():
                assert np.array_equal(values, b.average_occurrences[s], equal_nan=True)
        else:
            assert a.average_occurrences == {}


def walks(seed, count, low, high):
    rng = np.random.default_rng(seed)
    return [np.cumsum(rng.normal(size=int(n))) for n in rng.integers(low, high, size=count)]


@pytest.mark.parametrize(
    "chunks, settings, kwargs",
    [
        (80, (0.3, 6, 4, 3, 0, 0.9, 0), {}),
        ((7, 0, 33, 40, 0), (0.3, 6, 4, 3, 0, 0.9, 0), {}),
        (9, (0.5, 4, 3, 2, 5, 0.7, 7), {"batch": 3}),
        (25, (0.2, 8, 5, 1, 0, 1.0, 0), {"statistics": False}),
    ],
)
def test_array_chunkings_equal_one_process(client, chunks, settings, kwargs):
    series = np.array(walks(1, 80, 150, 151))
    series[3, 40:60] = np.nan
    series[5] = 2.0  # flat: NaN after normalisation
    array = da.from_array(series, chunks=(chunks, 64))
    assert_same(zd.mine(array, *settings, **kwargs), zef.mine(series, *settings), kwargs.get("statistics", True))


def test_bag_of_unequal_series_with_empty_partitions(client):
    series = walks(2, 70, 3, 200)
    parts = [series[:20], [], series[20:21], series[21:], []]
    bag = db.from_delayed([dask.delayed(list)(p) for p in parts])
    for settings in [(0.4, 5, 3, 2, 6, 0.8, 10), (0.25, 3, 4, 3, 0, 0.9, 0)]:
        assert_same(zd.mine(bag, *settings), zef.mine(series, *settings))
    assert zd.mine(db.from_sequence([], npartitions=1), 0.5, 4, 3) == []


def test_batches_sized_by_bytes_equal_one_process(client, monkeypatch):
    # A budget below any pattern's values: each pattern is mapped in a batch of its own.
    monkeypatch.setattr(zd._mapping, "TASK_FLOOR", 0)
    monkeypatch.setattr(zd._mapping, "TASK_SHARE", 1e-9)
    series = np.array(walks(5, 40, 120, 121))
    laps = []
    times = StageTimes()
    got = zd.mine(da.from_array(series, chunks=(15, 120)), 0.3, 6, 4, timings=laps, progress=times)
    assert_same(got, zef.mine(series, 0.3, 6, 4))
    assert len(got) > 2 and [name for name, _ in laps].count("map workers") == len(got) + 1
    times.stop()
    assert list(times.seconds) == ["discretise", "mine", "filter", "map"]


def _slow(block):
    time.sleep(0.4)
    return block


def killed_during(client, seconds, run):
    """run(), with one worker process killed `seconds` after it starts."""
    victim = sorted(client.run(os.getpid).values())[0]
    killed = threading.Event()

    def kill():
        os.kill(victim, signal.SIGKILL)
        killed.set()

    timer = threading.Timer(seconds, kill)
    timer.start()
    got = run()
    assert killed.is_set(), "the run ended before the worker was killed"
    timer.join()
    assert victim not in client.run(os.getpid).values()
    return got


def test_killed_worker_gives_the_same_result(client):
    series = np.array(walks(3, 64, 300, 301))
    array = da.from_array(series, chunks=(8, 300)).map_blocks(_slow)
    got = killed_during(client, 0.8, lambda: zd.mine(array, 0.3, 10, 4))
    assert_same(got, zef.mine(series, 0.3, 10, 4))


def _fails_at_third(block, block_info=None):
    if block_info is not None and block_info[0]["chunk-location"][0] == 2:
        raise OSError("disk read failed")
    return block


def test_bad_partition_is_named(client):
    array = da.from_array(np.array(walks(4, 20, 50, 51)), chunks=(5, 50)).map_blocks(_fails_at_third)
    with pytest.raises(zd.PartitionError, match=r"partition 2 .*OSError: disk read failed") as caught:
        zd.mine(array, 0.5, 5, 3)
    assert caught.value.partition == 2
    bag = db.from_sequence([[1.0, 2.0], [[1.0]], [3.0]], npartitions=3)
    with pytest.raises(zd.PartitionError, match="partition 1 "):
        zd.mine(bag, 0.5, 1, 3)
    # A bad series is named by its index in the collection, not in its partition.
    bag = db.from_delayed([dask.delayed(list)(p) for p in ([[1.0, 2.0], [3.0]], [[4.0], [[1.0]]])])
    for call in (lambda: zd.mine(bag, 0.5, 1, 3), lambda: zd.discover(bag, length=4)):
        with pytest.raises(zd.PartitionError, match="partition 1 .*series 3 must have 1 dimension"):
            call()
    with pytest.raises(TypeError, match="dask array, a dask bag"):
        zd.mine("abc", 0.5, 1, 3)


def _fails_after_first_read(block, folder, block_info=None):
    """Block 2 loads once, then fails: a file marks that it was read."""
    if block_info is not None and block_info[0]["chunk-location"][0] == 2:
        marker = folder / "read"
        if marker.exists():
            raise OSError("disk read failed")
        marker.touch()
    return block


def _changes_on_each_read(block):
    return block + 1e-9 * np.random.default_rng().random(block.shape)


def cluster_is_empty(client):
    """Whether the scheduler holds no task and the workers no key, waiting a little for releases."""
    deadline = time.monotonic() + 10
    while True:
        tasks = client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks))
        keys = sum(client.run(lambda dask_worker: len(dask_worker.data)).values())
        if (tasks, keys) == (0, 0) or time.monotonic() > deadline:
            return (tasks, keys) == (0, 0)
        time.sleep(0.1)


def test_later_pass_failure_is_named_and_nothing_is_held(client, tmp_path):
    series = np.array(walks(7, 20, 60, 61))
    array = da.from_array(series, chunks=(5, 60)).map_blocks(_fails_after_first_read, tmp_path)
    with pytest.raises(zd.PartitionError, match=r"partition 2 .*OSError: disk read failed") as caught:
        zd.mine(array, 0.3, 6, 4)
    assert (tmp_path / "read").exists() and caught.value.partition == 2
    assert cluster_is_empty(client)
    # Discovery reads a partition once; a plot reads its series again.
    (tmp_path / "read").unlink()
    found = zd.discover(
        da.from_array(collection(), chunks=(5, 300)).map_blocks(_fails_after_first_read, tmp_path), length=40, k=1
    )
    with pytest.raises(zd.PartitionError, match=r"partition 2 .*OSError: disk read failed"):
        found._series[12]


def test_source_that_changes_between_reads_is_refused(client):
    array = da.from_array(np.array(walks(8, 20, 60, 61)), chunks=(5, 60)).map_blocks(_changes_on_each_read)
    with pytest.raises(zd.PartitionError, match="other values than at its first read"):
        zd.mine(array, 0.3, 6, 4)
    assert cluster_is_empty(client)


@pytest.mark.parametrize(
    "settings, kwargs",
    [((0.3, 4, 4), {"max_patterns": 3}), ((0.5, 2**31 - 1, 5), {"min_len": 1}), ((0.3, 4, 4), {"k": -1})],
)
def test_refusals_are_those_of_one_process(client, settings, kwargs):
    series = np.array(walks(6, 12, 60, 61))
    with pytest.raises((zef.TooManyPatterns, MemoryError, ValueError)) as want:
        zef.mine(series, *settings, **kwargs)
    with pytest.raises(type(want.value), match=re.escape(str(want.value))):
        zd.mine(da.from_array(series, chunks=(5, 60)), *settings, **kwargs)


def assert_same_discovery(got, want):
    assert (got.short_series, got.flat_series, got.settings) == (want.short_series, want.flat_series, want.settings)
    assert list(got) == list(want)  # ranks, matches, occurrences, patterns, series, scores
    for a, b in zip(got, want, strict=True):
        assert np.array_equal(a.shape, b.shape)
        assert list(a.distances.items()) == list(b.distances.items())
    assert len(want) > 0


def collection():
    from zef.shapes import make_collection

    series, _ = make_collection("bump", 40, n_series=30, n_points=300, prevalence=0.7, kind="walk", seed=5)
    series[4, 100:120] = np.nan
    series[6] = 1.0  # flat
    return series


@pytest.mark.parametrize(
    "chunks, kwargs, batch, narrow",
    [
        (30, {"length": 40, "k": 4}, 256, False),  # one partition
        ((7, 0, 11, 12), {"length": 64, "k": 3, "minsup": 0.4, "alphabet": 4}, 5, False),  # long shapes
        # Few candidates kept, screened on a sample of 7 series first: the sample spans partitions.
        ((7, 0, 11, 12), {"length": 40, "k": 4}, 7, True),
        # Over a range, and over the default one without detrending; the same sample first.
        ((7, 0, 11, 12), {"length": (20, 160), "k": 4}, 7, True),
        (30, {"k": 3, "minsup": 0.4, "detrend": False}, 256, False),
        (30, {"length": (40, 40), "k": 2}, 256, False),  # a range of one length
    ],
)
def test_discover_equals_one_process(client, monkeypatch, chunks, kwargs, batch, narrow):
    if narrow:
        narrowed = {"MOST_CANDIDATES": 30, "MOST_CANDIDATES_OVER_RANGE": 30, "SAMPLE_POINTS": 2000, "SURVIVORS": 6}
        for name in ("zef.discovery._run", "zef.dask._discover", "zef.dask._discover_lengths"):
            module = importlib.import_module(name)
            for setting, value in narrowed.items():
                if hasattr(module, setting):
                    monkeypatch.setattr(module, setting, value)
    series = collection()
    array = da.from_array(series, chunks=(chunks, 100))
    assert_same_discovery(zd.discover(array, batch=batch, **kwargs), zef.discover(series, **kwargs))


def test_discover_bag_of_unequal_series_with_empty_partition(client):
    rows = [np.asarray(r) for r in collection()]
    rows = [r[: 40 + 13 * i] for i, r in enumerate(rows)] + [np.arange(10.0)]  # the first ones short
    parts = [rows[:3], [], rows[3:20], rows[20:]]
    bag = db.from_delayed([dask.delayed(list)(p) for p in parts])
    got = zd.discover(bag, length=50, k=3, detrend=20, iterations=3)
    assert_same_discovery(got, zef.discover(rows, length=50, k=3, detrend=20, iterations=3))
    assert got.short_series == [0, 30] and got.flat_series == [6]
    # Over a range, many series are too short for its longer lengths.
    ranged = zd.discover(bag, length=(30, 240), k=3, detrend=20)
    assert_same_discovery(ranged, zef.discover(rows, length=(30, 240), k=3, detrend=20))
    assert ranged.short_series == [30]
    values, offset = got._series[4]
    assert offset == 0 and np.array_equal(values[:50], rows[4][:50])


def test_discover_killed_worker_gives_the_same_result(client):
    series = collection()
    array = da.from_array(series, chunks=(6, 300)).map_blocks(_slow)
    got = killed_during(client, 1.5, lambda: zd.discover(array, length=40, k=3))
    assert_same_discovery(got, zef.discover(series, length=40, k=3))


def test_discover_bad_partition_values_and_pattern_limit(client):
    array = da.from_array(collection(), chunks=(5, 300)).map_blocks(_fails_at_third)
    with pytest.raises(zd.PartitionError, match=r"partition 2 .*OSError: disk read failed"):
        zd.discover(array, length=40)
    series = collection()
    series[17, 3] = np.inf
    with pytest.raises(ValueError, match="series 17 holds an infinite value"):
        zd.discover(da.from_array(series, chunks=(5, 300)), length=40)
    with pytest.raises(ValueError, match="length 400 is longer than every series"):
        zd.discover(da.from_array(collection(), chunks=(10, 300)), length=(400, 800))
    with pytest.raises(zef.TooManyPatterns, match="more than 3 frequent patterns"):
        zd.discover(da.from_array(collection(), chunks=(10, 300)), length=40, max_patterns=3)
    # The failed runs' keys are gone without taking the next call's with them.
    assert len(zd.discover(da.from_array(collection(), chunks=(10, 300)), length=40, k=1)) == 1
