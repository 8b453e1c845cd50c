"""Discovery over a range of lengths: each motif at its own length, ranked on one scale."""

import numpy as np
import pytest

import zef
from zef.cli._demo_discovery import hits
from zef.shapes import background, plant


def collection(families, lengths, *, seed, n_points=800, n_series=30, height=5.0, kind="noise"):
    rng = np.random.default_rng(seed)
    rows = [background(kind, n_points, rng) for _ in range(n_series)]
    planted = plant(rows, families, lengths, prevalence=1.0, height=height, rng=rng)
    return np.array(rows), planted


def found(result, planted, top):
    """The first of the top motifs that holds the planted shape, or None."""
    return next((m for m in result[:top] if 2 * hits(m, planted) >= len(planted.starts)), None)


@pytest.mark.parametrize(
    ("families", "lengths"),
    [(["bump"], [120]), (["bump", "square"], [260, 50])],
    ids=["one shape", "a short sharp shape beside a long smooth one"],
)
def test_each_planted_shape_is_found_near_its_own_length(families, lengths):
    series, planted = collection(families, lengths, seed=3)
    result = zef.discover(series, length=(40, 320), k=len(families) + 2)
    assert result.length == (40, 320) and result.settings["length"] == [40, 320]
    for shape in planted:
        motif = found(result, shape, len(families) + 2)
        assert motif is not None, shape.family
        assert abs(motif.length / shape.length - 1) <= 0.2, (shape.family, motif.length)
        assert motif.chance is not None and motif.score < motif.chance
    assert found(result, planted[0], 1) is not None


def test_one_motif_per_place_across_lengths():
    series, _ = collection(["bump"], [120], seed=5)
    result = zef.discover(series, length=(40, 320), k=0)
    places = []
    for motif in result:
        for other, other_length in places:
            both = [s for s in motif.best_matches if s in other]
            shared = sum(
                min(motif.best_matches[s] + motif.length, other[s] + other_length)
                - max(motif.best_matches[s], other[s])
                > 0.25 * min(motif.length, other_length)
                for s in both
            )
            assert shared < 0.5 * len(both)
        places.append((motif.best_matches, motif.length))
    assert len({m.length for m in result}) > 1


def test_the_default_range_comes_from_the_series():
    series, _ = collection(["bump"], [60], seed=7, n_points=600, n_series=12)
    result = zef.discover(series, k=2)
    assert result.settings["length"] == [16, 150]
    assert all(16 <= m.length <= 150 for m in result)
    short = zef.discover([np.sin(np.arange(40) / 3.0 + i) for i in range(6)], k=1)
    assert short.settings["length"] == [5, 10]
    tiny = zef.discover([np.sin(np.arange(12) / 2.0 + i) for i in range(6)], k=1)
    assert tiny.length == 4 and tiny.settings["length"] == 4


@pytest.mark.parametrize(
    ("length", "error", "text"),
    [
        ((3, 40), ValueError, "at least 4"),
        ((50, 40), ValueError, "above the longest"),
        ((900, 1000), ValueError, "longer than every series"),
        ((40.0, 80), TypeError, "pair"),
        ("40:80", TypeError, "pair"),
    ],
)
def test_range_arguments_are_checked(length, error, text):
    series, _ = collection(["bump"], [60], seed=1, n_points=300, n_series=6)
    with pytest.raises(error, match=text):
        zef.discover(series, length=length)


def test_a_range_is_cut_at_the_longest_series_and_the_same_on_any_thread_count():
    series, _ = collection(["saw"], [50], seed=2, n_points=240, n_series=16)
    one = zef.discover(list(series), length=(30, 400), threads=1, k=4)
    two = zef.discover(list(series), length=(30, 400), threads=2, k=4)
    assert one.settings["length"] == [30, 240]
    assert one.to_json() == two.to_json()
    assert all(m.length <= 240 for m in one)
