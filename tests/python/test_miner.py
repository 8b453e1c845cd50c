import copy
import math

import pytest

from _zef_cpp import Miner
from helpers import SERIES, summary


def test_mine_ranks_by_naed_and_leaves_the_callers_series_alone():
    miner = Miner(1.0, 2, 3)
    assert miner.motifs == []
    series = copy.deepcopy(SERIES)
    result = miner.mine(series)
    assert series == SERIES
    assert result, "the shared shape must be found"
    naeds = [m.naed for m in result]
    assert naeds == sorted(naeds)
    for motif in result:
        assert set(motif.best_matches) == set(motif.indexes) == {0, 1, 2}
        assert motif.length == 2 * len(motif.pattern)
        assert len(motif.representative) == motif.length
        assert all(len(avg) == motif.length for avg in motif.average_occurrences.values())
        for series_index, point in motif.best_matches.items():
            assert point // 2 in motif.indexes[series_index] and point % 2 == 0
    assert summary(miner.motifs) == summary(result)


def test_k_cuts_the_result_but_not_the_stored_list():
    everything = Miner(0.5, 2, 3, min_len=1, max_overlap=1.0).mine(copy.deepcopy(SERIES))
    assert len(everything) > 2
    miner = Miner(0.5, 2, 3, min_len=1, max_overlap=1.0, k=2)
    best = miner.mine(copy.deepcopy(SERIES))
    assert len(best) == 2
    stored = miner.motifs
    assert len(stored) == len(everything)
    assert summary(stored[:2]) == summary(best)
    assert sorted(summary(stored), key=str) == sorted(summary(everything), key=str)
    assert len(Miner(0.5, 2, 3, min_len=1, k=10**6).mine(copy.deepcopy(SERIES))) == len(
        Miner(0.5, 2, 3, min_len=1).mine(copy.deepcopy(SERIES))
    )


def test_a_second_mine_stores_every_pattern_again_with_tying_naed():
    miner = Miner(1.0, 2, 3)
    first = miner.mine(copy.deepcopy(SERIES))
    second = miner.mine(copy.deepcopy(SERIES))
    assert len(second) == 2 * len(first)
    by_pattern = {}
    for motif in second:
        by_pattern.setdefault(motif.pattern, []).append(motif)
    assert all(len(pair) == 2 for pair in by_pattern.values())
    for old, new in by_pattern.values():
        assert summary([old]) == summary([new])


def test_nothing_frequent_gives_an_empty_result():
    miner = Miner(1.0, 2, 3)
    assert miner.mine([[0.0, 1.0], [5.0, 5.0, 5.0]]) == []
    assert miner.motifs == []


def test_stored_motifs_are_mapped_again_onto_new_series():
    miner = Miner(1.0, 2, 3)
    miner.mine(copy.deepcopy(SERIES))
    again = miner.mine([[1.0, 2.0] * 6, [3.0] * 12, [0.0, 1.0] * 6])
    assert again
    for motif in again:
        # The flat series becomes all NaN: its average is NaN and its distance 0.0.
        assert all(math.isnan(v) for v in motif.average_occurrences[1])


def test_reads_of_motifs_are_new_objects():
    miner = Miner(1.0, 2, 3)
    miner.mine(copy.deepcopy(SERIES))
    first, second = miner.motifs, miner.motifs
    assert summary(first) == summary(second)
    assert all(a is not b for a, b in zip(first, second, strict=False))


def test_settings_that_do_not_convert_raise_type_error():
    with pytest.raises(TypeError):
        Miner(1.0, 2.0, 3)
    with pytest.raises(TypeError):
        Miner(1.0, 2, 3).mine("abc")
