"""The four entry points share their checks and their inputs: the same bad argument gives the same
error type from each, and the inputs people already have (DataFrames, 3-D arrays of one channel,
objects with __array__) give the motifs of the same series as a 2-D array."""

import numpy as np
import pytest

import zef

pd = pytest.importorskip("pandas")
distributed = pytest.importorskip("distributed")
zd = pytest.importorskip("zef.dask")


@pytest.fixture(scope="module")
def client():
    # Threads of this process: enough for the checks, which run before any partition is read.
    with distributed.Client(processes=False, n_workers=1, threads_per_worker=2, dashboard_address=":0") as c:
        yield c


@pytest.fixture(scope="module")
def walks():
    return np.cumsum(np.random.default_rng(4).normal(size=(12, 80)), axis=1)


def entry_points(client):
    return {
        "zef.mine": lambda series, **kw: zef.mine(series, kw.pop("minsup", 0.5), 4, 3, **kw),
        "zef.dask.mine": lambda series, **kw: zd.mine(series, kw.pop("minsup", 0.5), 4, 3, client=client, **kw),
        "zef.discover": lambda series, **kw: zef.discover(series, length=8, **kw),
        "zef.dask.discover": lambda series, **kw: zd.discover(series, length=8, client=client, **kw),
    }


class Vector:
    """A container that numpy reads through __array__ alone."""

    def __init__(self, values):
        self.values = values

    def __array__(self, dtype=None, copy=None):
        return np.asarray(self.values, dtype=dtype)


@pytest.mark.parametrize(
    "series, settings, error, message",
    [
        ("abc", {}, TypeError, "a pandas DataFrame"),
        (42, {}, TypeError, "an object with __array__"),
        ({"a": [1.0, 2.0]}, {}, TypeError, "a sequence of 1-D series"),
        (np.zeros(10), {}, ValueError, "2-D"),
        (np.zeros((2, 3, 4)), {}, ValueError, r"\(n_series, 1, n_points\)"),
        ([[1.0, 2.0], [1.0, "x"]], {}, TypeError, "series 1 is not a sequence of numbers"),
        ([[1.0, 2.0], [[1.0]]], {}, ValueError, "series 1 must have 1 dimension"),
        (None, {"progress": 3}, TypeError, "progress must be a callable"),
        (None, {"max_patterns": 0}, ValueError, "max_patterns"),
        (None, {"max_patterns": "3"}, TypeError, "max_patterns"),
        (None, {"k": 1.5}, TypeError, "k must be an int"),
        (None, {"k": -1}, ValueError, None),
        (None, {"minsup": "half"}, TypeError, "minsup must be a number"),
    ],
)
def test_the_same_bad_argument_gives_the_same_error_everywhere(client, walks, series, settings, error, message):
    for call in entry_points(client).values():
        with pytest.raises(error, match=message):
            call(walks if series is None else series, **settings)


def test_all_motifs_and_no_length_limit_have_one_spelling(walks):
    every = zef.mine(walks, 0.5, 4, 3)
    assert [m.pattern for m in zef.mine(walks, 0.5, 4, 3, k=None, max_len=None)] == [m.pattern for m in every]
    found = zef.discover(walks, length=8, k=None)
    assert found.settings["k"] == 0 and len(found) == len(zef.discover(walks, length=8, k=0)) > 0
    assert len(found) >= len(zef.discover(walks, length=8, k=1)) == 1


def patterns(motifs):
    return [(m.pattern, m.naed, list(m.best_matches.items())) for m in motifs]


def test_frames_three_d_arrays_and_array_likes_give_the_motifs_of_the_same_series(walks):
    want = patterns(zef.mine(walks, 0.5, 4, 3))
    assert want
    frame = pd.DataFrame(walks.T, columns=[f"sensor {i}" for i in range(len(walks))])
    for series in (frame, walks[:, np.newaxis, :], Vector(walks), [Vector(row) for row in walks]):
        assert patterns(zef.mine(series, 0.5, 4, 3)) == want

    expected = zef.discover(walks, length=8, k=2)
    found = zef.discover(frame, length=8, k=2)
    assert list(found) == list(expected) and found.series_names == list(frame.columns)
    assert "sensor " in found.table() and "sensor " not in expected.table()
    assert found.to_frame()["name"].tolist() == [f"sensor {s}" for s in found.to_frame()["series"]]
    # Missing values of a nullable column are missing points, as NaN is in an array.
    gappy = walks.copy()
    gappy[3, 10:14] = np.nan
    nullable = pd.DataFrame(gappy.T).astype("Float64")
    assert list(zef.discover(nullable, length=8, k=2)) == list(zef.discover(gappy, length=8, k=2))
    with pytest.raises(TypeError, match=r"series 1 is not a sequence of numbers"):
        zef.mine(pd.DataFrame({"a": [1.0, 2.0], "b": ["x", "y"]}), 0.5, 1, 3)


def test_dask_forms_take_the_same_inputs(client, walks):
    frame = pd.DataFrame(walks.T, columns=[f"sensor {i}" for i in range(len(walks))])
    assert patterns(zd.mine(walks[:, np.newaxis, :], 0.5, 4, 3, client=client)) == patterns(zef.mine(walks, 0.5, 4, 3))
    found = zd.discover(frame, length=8, k=2, client=client)
    assert list(found) == list(zef.discover(walks, length=8, k=2)) and found.series_names == list(frame.columns)


def test_an_error_of_the_dask_progress_callback_stops_the_run(client, walks):
    seen = []

    def stop(stage, done, total):
        seen.append(stage)
        if stage == "mine":
            raise RuntimeError("stopped by the callback")

    with pytest.raises(RuntimeError, match="stopped by the callback"):
        zd.mine(walks, 0.5, 4, 3, client=client, progress=stop)
    assert seen[0] == "discretise" and seen[-1] == "mine"
