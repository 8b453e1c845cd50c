import json
import math

import numpy as np
import pytest

import zef
from zef import _native
from zef.cli import main
from zef.discovery import fill_gaps
from zef.shapes import make_collection


def direct_profile(shape, values):
    m = len(shape)
    windows = np.lib.stride_tricks.sliding_window_view(values, m)
    z = (windows - windows.mean(axis=1, keepdims=True)) / windows.std(axis=1, keepdims=True)
    return np.sqrt(((z - shape) ** 2).mean(axis=1))


@pytest.fixture(scope="module")
def planted():
    return make_collection("square", 60, n_series=12, n_points=400, prevalence=1.0, kind="walk", snr=6.0, seed=5)


def test_distance_profile_matches_a_direct_computation_and_flat_windows_are_farthest():
    rng = np.random.default_rng(1)
    values = np.cumsum(rng.normal(size=300)) + 1e6
    shape = values[40:72] - values[40:72].mean()
    shape /= shape.std()
    profile = _native.distance_profile(shape, values, 0.0)
    # far from zero (1e6) the distance near 0 keeps about 5 digits: sqrt(2 (1 - r))
    np.testing.assert_allclose(profile, direct_profile(shape, values), atol=1e-4)
    centred = _native.distance_profile(shape, values - 1e6, 0.0)
    np.testing.assert_allclose(centred, direct_profile(shape, values - 1e6), atol=1e-6)

    values[100:200] = 3.0
    profile = _native.distance_profile(shape, values, 0.05)
    assert np.all(profile[100:169] == 2.0) and np.isfinite(profile).all()


def test_finds_the_planted_shape_at_any_start_point(planted):
    series, where = planted
    result = zef.discover(series, length=60, k=5)
    best = result[0]
    assert best.rank == 1 and best.length == 60 and best.shape.shape == (60,)
    # the square pulse fills the middle half of its 60 points: any window holding it matches
    assert all(abs(best.best_matches[s] - p) <= 15 for s, p in where.starts.items())
    assert set(best.series) == set(range(12)) and 0 <= best.score < 0.5
    for s, starts in best.occurrences.items():
        assert best.best_matches[s] in starts
    # one motif per place: no two motifs share most of their best matches
    for a in result:
        for b in result[a.rank :]:
            same = sum(abs(a.best_matches[s] - b.best_matches[s]) < 30 for s in a.best_matches)
            assert same < 0.5 * len(a.best_matches)
    assert [m.score for m in result] == sorted(m.score for m in result)


def test_flat_stretches_never_become_motifs():
    rng = np.random.default_rng(3)
    series = [np.concatenate([np.full(300, 2.0), rng.normal(size=300)]) for _ in range(10)]
    result = zef.discover(series, length=40)
    for motif in result:
        assert math.isfinite(motif.score)
        assert all(start + 40 > 300 for start in motif.best_matches.values())
    flat = zef.discover([np.ones(100), np.zeros(100)], length=20)
    assert len(flat) == 0 and flat.flat_series == [0, 1]


def test_missing_points_short_series_and_positions(planted):
    series, where = planted
    rows = [row.copy() for row in series]
    rows[0][:7] = np.nan  # left out at the start: positions stay those given
    rows[1][100:104] = np.nan  # filled inside
    rows.append(np.arange(30.0))  # shorter than the length
    result = zef.discover(rows, length=60, k=3)
    assert result.short_series == [12]
    assert 12 not in result[0].best_matches
    assert abs(result[0].best_matches[0] - where.starts[0]) <= 15
    values, offset = fill_gaps(np.array([np.nan, 1.0, np.nan, 3.0, np.nan]))
    assert offset == 1 and values.tolist() == [1.0, 2.0, 3.0]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda s: zef.discover(s, length=3), ValueError, "at least 4"),
        (lambda s: zef.discover(s, length=500), ValueError, "longer than every series"),
        (lambda s: zef.discover([], length=10), ValueError, "no series"),
        (lambda s: zef.discover(s, length=10.0), TypeError, "int"),
        (lambda s: zef.discover(s, length=10, minsup=0), ValueError, "minsup"),
        (lambda s: zef.discover(s, length=10, k=-1), ValueError, "k must"),
        (lambda s: zef.discover(s, length=10, alphabet=11), ValueError, "alphabet"),
        (lambda s: zef.discover(np.zeros((2, 3, 4)), length=10), ValueError, "2-D"),
        (lambda s: zef.discover("abc", length=10), TypeError, "2-D array"),
        (lambda s: zef.discover([[1.0, "x"]], length=10), TypeError, "series 0"),
        (lambda s: zef.discover([[1.0, math.inf] * 10], length=10), ValueError, "infinite"),
    ],
)
def test_bad_arguments_are_refused_clearly(planted, call, error, message):
    with pytest.raises(error, match=message):
        call(planted[0])


def test_results_as_json_frame_html_and_plot(planted):
    result = zef.discover(planted[0], length=60, k=2)
    document = json.loads(result.to_json())
    assert document["length"] == 60 and len(document["motifs"]) == len(result)
    assert document["motifs"][0]["best_matches"][0]["end"] == document["motifs"][0]["best_matches"][0]["start"] + 60
    assert "<table>" in result._repr_html_()
    pd = pytest.importorskip("pandas")
    frame = result.to_frame()
    assert isinstance(frame, pd.DataFrame) and len(frame) == sum(len(m.best_matches) for m in result)
    pytest.importorskip("matplotlib")
    import matplotlib

    matplotlib.use("Agg")
    axes = result.plot(top=2)
    assert axes.shape == (2, 2)


def test_find_with_length_uses_discovery(planted, tmp_path, capsys):
    path = tmp_path / "series.csv"
    np.savetxt(path, planted[0], delimiter=",")
    assert main(["find", str(path), "--length", "60", "--k", "2"]) == 0
    out = capsys.readouterr().out
    assert "motifs of 60 points" in out and "ranked by score" in out
    assert main(["find", str(path), "--length", "60", "--json"]) == 0
    assert json.loads(capsys.readouterr().out)["motifs"][0]["length"] == 60
    for bad in ("2", "60:40", "40:x"):
        with pytest.raises(SystemExit) as exit:
            main(["find", str(path), "--length", bad])
        assert exit.value.code == 2
    # With no option, and with a range: each motif at its own length.
    for options, lengths in (([], [16, len(planted[0][0]) // 4]), (["--length", "40:120"], [40, 120])):
        assert main(["find", str(path), "--k", "3", "--json", *options]) == 0
        found = json.loads(capsys.readouterr().out)
        assert found["settings"]["length"] == lengths
        assert all(lengths[0] <= m["length"] <= lengths[1] and "chance" in m for m in found["motifs"])


def test_shapes_are_planted_at_arbitrary_points_without_overlap():
    from zef.shapes import FAMILIES, background, plant, shape

    for family in FAMILIES:
        values = shape(family, 77)
        assert np.ptp(values) == pytest.approx(1.0) and values.mean() == pytest.approx(0.0, abs=1e-12)
    with pytest.raises(ValueError, match="unknown shape"):
        shape("wave", 10)
    rng = np.random.default_rng(0)
    rows = [background("noise", 500, rng) for _ in range(40)]
    planted = plant(rows, ["bump", "saw", "chirp"], 100, prevalence=1.0, height=4.0, rng=rng)
    starts = [p.starts for p in planted]
    for s in range(40):
        spans = sorted(where[s] for where in starts)
        assert all(b - a >= 100 for a, b in zip(spans, spans[1:], strict=False)) and spans[-1] <= 400
    assert any(where[s] % 8 for where in starts for s in where)  # not aligned to segments


@pytest.mark.parametrize("length", [50, 100, 200])
def test_fine_detail_families_have_their_stated_detail(length):
    from zef.shapes import SPIKE_WIDTH, SWEEP_CYCLES, TEETH, shape

    sweep = shape("sweep", length)
    rises = np.flatnonzero((sweep[:-1] < 0) & (sweep[1:] >= 0))
    assert length / (rises[-1] - rises[-2]) >= 0.9 * SWEEP_CYCLES >= 14  # its last cycle
    spike = shape("spike", length)
    assert 1 <= np.count_nonzero(spike > spike.min() + 1e-12) <= SPIKE_WIDTH * length
    serrated = shape("serrated", length)
    assert np.count_nonzero(np.diff(serrated) < -0.2) + 1 == TEETH >= 10


def test_real_instances_and_stationary_ar1_background():
    from zef.shapes import background, plant_instances

    rng = np.random.default_rng(3)
    ar1 = background("ar1", 200_000, rng)
    assert np.std(ar1) == pytest.approx(1.0, abs=0.03)
    assert np.corrcoef(ar1[:-1], ar1[1:])[0, 1] == pytest.approx(0.9, abs=0.01)
    instances = rng.normal(size=(12, 30))
    rows = [np.zeros(100) for _ in range(10)]
    planted = plant_instances(rows, instances, "class", prevalence=1.0, height=2.0, rng=rng, jitter=0.0)
    copies = [rows[s][start : start + 30] for s, start in planted.starts.items()]
    assert len(copies) == 10 and all(np.ptp(c) == pytest.approx(2.0) for c in copies)
    assert len({np.argmax(c) for c in copies}) > 1  # a different instance in each series
    with pytest.raises(ValueError, match="each needs its own"):
        plant_instances(rows, instances[:5], "class", prevalence=1.0, height=2.0, rng=rng)


def test_unequal_lengths_settings_and_radius(planted):
    from zef.discovery import settings_for

    assert settings_for(100) == {"seglen": 12, "min_len": 4, "max_len": 9}
    assert settings_for(60, seglen=5) == {"seglen": 5, "min_len": 6, "max_len": 13}
    series, where = planted
    rows = [list(row[: 250 + 10 * i]) for i, row in enumerate(series)] + [[7.0] * 300]
    result = zef.discover(rows, length=60, seglen=5, alphabet=3, detrend=False, k=3)
    assert result.flat_series == [12] and result.short_series == []
    assert result.settings["seglen"] == 5 and result.settings["alphabet"] == [3] and result.settings["detrend"] == 0
    assert all(12 not in m.best_matches for m in result)
    tight = zef.discover(series, length=60, radius=0.2, detrend=False, k=1)[0]
    assert set(tight.series) == {s for s, d in tight.distances.items() if d <= 0.2}
    for s, starts in tight.occurrences.items():
        profile = _native.distance_profile(tight.shape, fill_gaps(series[s])[0], 0.05)
        assert all(profile[p] <= 0.2 + 1e-9 for p in starts)


def test_demo_says_where_each_planted_shape_ranks(capsys):
    assert main(["demo"]) == 0
    out = capsys.readouterr().out
    assert "Discovery:" in out
    assert sum(" ranks " in line or "not among" in line for line in out.splitlines()) == 2


@pytest.mark.parametrize("length, points", [(40, 400), (400, 3000)])  # direct products; the Fourier transform
def test_the_same_motifs_at_any_scale(length, points):
    series, _ = make_collection("saw", length, n_series=12, n_points=points, kind="walk", seed=4)
    base = zef.discover(series, length=length, k=3)
    assert len(base)
    for scale in (1e-100, 1e100):
        got = zef.discover(series * scale, length=length, k=3)
        assert [dict(m.best_matches) for m in got] == [dict(m.best_matches) for m in base]
        np.testing.assert_allclose([m.score for m in got], [m.score for m in base], rtol=1e-9)
