"""Hostile input: every call gives a result or a clear exception, never a
crash or a hang, and an error that says nothing changed leaves the object as
it was and usable."""

import array
import copy
import itertools
import math
import signal
import sys

import pytest

from _zef_cpp import Miner, PatternMiner, sax
from helpers import (
    INCOMPATIBLE,
    LENGTH_ERROR,
    SHAPE,
    SHAPE_SERIES,
    ClaimsLength,
    LenRaises,
    LenRaisesAfterFirstCall,
    summary,
)


@pytest.fixture(autouse=True)
def no_hang():
    """A call that does not end within two minutes ends the test process
    (the engine holds the interpreter lock, so no Python-level timeout fires)."""
    signal.signal(signal.SIGALRM, signal.SIG_DFL)
    signal.alarm(120)
    yield
    signal.alarm(0)


def used_miner():
    """A Miner that already holds motifs, and what it holds."""
    miner = Miner(1.0, 2, 3)
    miner.mine(copy.deepcopy(SHAPE_SERIES))
    before = summary(miner.motifs)
    assert before
    return miner, before


def assert_still_mines(miner, before):
    """Nothing changed, and the next normal call works."""
    assert summary(miner.motifs) == before
    result = miner.mine(copy.deepcopy(SHAPE_SERIES))
    assert len(miner.motifs) == 2 * len(before)
    assert summary(result) == summary(miner.motifs)


class FloatRaises:
    def __float__(self):
        raise RuntimeError("no float here")


def test_float_that_raises_is_a_type_error_and_changes_nothing():
    miner, before = used_miner()
    for call in (lambda: sax([[1.0, FloatRaises()]], 1, 3), lambda: miner.mine([SHAPE, [FloatRaises()]])):
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            call()
    with pytest.raises(TypeError, match=INCOMPATIBLE):
        Miner(FloatRaises(), 2, 3)
    assert_still_mines(miner, before)


@pytest.mark.parametrize("where", ["outer", "inner"])
def test_len_that_raises_is_the_calls_exception(where):
    miner, before = used_miner()
    series = LenRaises(SHAPE_SERIES) if where == "outer" else [SHAPE, LenRaises(SHAPE)]
    words = LenRaises([["a"]]) if where == "outer" else [LenRaises(["a"])]
    for call in (lambda: sax(series, 1, 3), lambda: miner.mine(series), lambda: PatternMiner(0.5).mine(words)):
        with pytest.raises(RuntimeError, match="^no length$"):
            call()
    assert_still_mines(miner, before)


def test_len_that_raises_on_a_second_call_is_read_once():
    series = LenRaisesAfterFirstCall([LenRaisesAfterFirstCall(s) for s in SHAPE_SERIES])
    assert sax(series, 2, 3) == sax(SHAPE_SERIES, 2, 3)
    words = LenRaisesAfterFirstCall([LenRaisesAfterFirstCall(list("abc"))])
    miner = PatternMiner(1.0)
    miner.mine(words)
    assert list(miner.frequent) == [("a", "b", "c")]


@pytest.mark.parametrize("claimed", [2**40, sys.maxsize])
def test_len_that_claims_terabytes_reserves_nothing(claimed):
    # The items end long before the claimed length: their own IndexError.
    with pytest.raises(IndexError):
        sax(ClaimsLength(claimed, SHAPE_SERIES), 2, 3)
    with pytest.raises(IndexError):
        sax([ClaimsLength(claimed, SHAPE)], 2, 3)
    with pytest.raises(IndexError):
        PatternMiner(0.5).mine([ClaimsLength(claimed, ["a"])])


def test_negative_len_is_cpythons_value_error():
    with pytest.raises(ValueError, match=r"__len__\(\) should return >= 0"):
        sax(ClaimsLength(-1, SHAPE_SERIES), 2, 3)


def test_series_changed_while_read():
    outer = copy.deepcopy(SHAPE_SERIES)

    class Shrinks:
        def __float__(self):
            outer.clear()
            return 1.0

    outer[0].append(Shrinks())
    miner, before = used_miner()
    with pytest.raises(IndexError, match="list index out of range"):
        miner.mine(outer)
    assert_still_mines(miner, before)

    grown = copy.deepcopy(SHAPE_SERIES)

    class Grows:
        def __float__(self):
            grown.append([9.0] * 12)
            grown[1].clear()  # an inner list that was already read
            return 0.0

    grown[2].append(Grows())
    # Read as it was when each item's turn came: three series, the second as read before it was cleared.
    assert sax(grown, 2, 3) == sax([SHAPE_SERIES[0], SHAPE_SERIES[1], SHAPE_SERIES[2] + [0.0]], 2, 3)

    inner = list(SHAPE)

    class ClearsItsOwnSeries:
        def __float__(self):
            inner.clear()
            return 1.0

    inner.insert(0, ClearsItsOwnSeries())
    with pytest.raises(IndexError):
        sax([inner], 1, 3)


def test_sequence_whose_items_change_between_reads():
    class Drifting:
        def __init__(self):
            self.reads = 0

        def __len__(self):
            return 3

        def __getitem__(self, i):
            self.reads += 1
            return [float(self.reads)] * 4

    assert sax(Drifting(), 1, 2) == [["b"] * 4] * 3  # each read a fresh list of positive values


def test_deeply_nested_lists_are_type_errors():
    nested = [1.0]
    for _ in range(100_000):
        nested = [nested]
    with pytest.raises(TypeError, match=INCOMPATIBLE):
        sax(nested, 1, 3)
    with pytest.raises(TypeError, match=INCOMPATIBLE):
        Miner(0.5, 1, 3).mine(nested)
    with pytest.raises(TypeError, match=INCOMPATIBLE):
        PatternMiner(0.5).mine(nested)
    for bad in ([[[1.0]]], [[None]], [{1: 2.0}], [{1.0}], [(x for x in [1.0])], [[1.0], "12"], [b"\x00"], [[2**1100]]):
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            sax(bad, 1, 3)


def test_ragged_and_unusual_sequences_convert():
    ragged = [[1.0], [], SHAPE, [2, 1], (3.0, 4.0, 5.0), range(7), array.array("d", [1.0, 2.0])]
    words = sax(ragged, 2, 3)
    assert [len(w) for w in words] == [1, 0, 6, 1, 2, 4, 1]
    motifs = Miner(0.5, 1, 3, min_len=1).mine(ragged)
    assert motifs
    for m in motifs:
        assert len(m.representative) == m.length


def test_nan_infinities_denormals_and_huge_values_give_results():
    series = [
        [math.nan, 1.0, 2.0, 3.0],
        [math.inf, 1.0, -math.inf, 0.0],
        [5e-324, 0.0, -5e-324, 0.0],
        [1e308, -1e308, 1e308, -1e308],
        [sys.float_info.max] * 4,
        [3.0] * 4,
    ]
    for seglen, alphabet in [(1, 10), (2, 3), (3, 0)]:
        motifs = Miner(0.1, seglen, alphabet, min_len=1).mine(copy.deepcopy(series))
        naeds = [m.naed for m in motifs]
        numbers = [n for n in naeds if not math.isnan(n)]
        assert naeds[: len(numbers)] == sorted(numbers)
        assert all(set(m.best_matches) == set(m.indexes) for m in motifs)
    assert sax(series, 1, 10)[0][0] == "a"


def test_a_million_empty_series():
    empty = [[] for _ in range(10**6)]
    assert Miner(0.5, 2, 3).mine(empty) == []
    assert sax(empty, 2, 3) == empty
    miner = PatternMiner(0.0, min_len=1)
    miner.mine(empty)
    assert miner.frequent == {}


def test_a_series_of_ten_million_points():
    long = list(itertools.islice(itertools.cycle(SHAPE), 10**7))
    assert len(sax([long], 10**6, 4)[0]) == 10
    miner = Miner(1.0, 100_000, 4, min_len=2, max_len=3)
    motifs = miner.mine([long])
    assert motifs
    for m in motifs:
        assert m.length == 100_000 * len(m.pattern)
        assert len(m.representative) == m.length


def test_seglen_far_beyond_every_series():
    series = [[math.sin(i / 7.0 + s) for i in range(100)] for s in range(3)]
    assert Miner(0.5, 10**6, 5).mine(series) == []  # one symbol per word, below the default min_len 3
    motifs = Miner(0.5, 10**6, 5, min_len=1).mine(series)
    assert motifs
    for m in motifs:
        assert m.length == 10**6 and len(m.representative) == 10**6
        assert all(math.isnan(v) for v in m.representative[100:])
        assert set(m.best_matches.values()) == {0}


def test_seglen_int_max_with_the_default_min_len_finds_nothing():
    # Every word is one symbol long, so no pattern reaches min_len 3.
    assert Miner(0.5, 2**31 - 1, 5).mine(copy.deepcopy(SHAPE_SERIES)) == []


def test_seglen_int_max_with_min_len_1_raises_memory_error():
    # One-symbol motifs of 2**31 - 1 points each: the mapping would need
    # gigabytes per list and filled the memory until the process was killed.
    miner = Miner(0.5, 2**31 - 1, 5, min_len=1)
    with pytest.raises(MemoryError):
        miner.mine(copy.deepcopy(SHAPE_SERIES))
    assert miner.motifs == []
    assert miner.mine([[], []]) == []


def test_negative_seglen():
    miner = Miner(0.5, -(2**31), 3, min_len=1)
    with pytest.raises(ValueError, match=LENGTH_ERROR):
        miner.mine(copy.deepcopy(SHAPE_SERIES))
    assert miner.motifs == []
    assert miner.mine([[], []]) == []


@pytest.mark.parametrize("alphabet", [-(2**31), -5, -4, -3, -2, -1, 11, 12, 13, 14, 15, 2**31 - 1])
def test_alphabet_out_of_range(alphabet):
    message = rf"^alphabet must be between 0 and 10, got {alphabet}$"
    with pytest.raises(ValueError, match=message):
        sax(copy.deepcopy(SHAPE_SERIES), 2, alphabet)
    miner = Miner(0.5, 2, alphabet)
    with pytest.raises(ValueError, match=message):
        miner.mine(copy.deepcopy(SHAPE_SERIES))
    assert miner.motifs == []


@pytest.mark.parametrize("minsup", [0.0, -1.0, -math.inf, math.nan])
def test_minsup_zero_or_below_with_max_len_0_ends(minsup):
    words = [list("abcabcabdabc"), list("bcad")]
    miner = PatternMiner(minsup, min_len=1, max_len=0)
    miner.mine(words)
    # Every substring that occurs is frequent; nothing that does not occur is.
    assert ("a", "b", "c", "a", "b", "c", "a", "b", "d", "a", "b", "c") in miner.frequent
    assert all(len(k) <= 12 for k in miner.frequent)
    motifs = Miner(minsup, 1, 4, min_len=1, max_len=0).mine(copy.deepcopy(SHAPE_SERIES))
    assert motifs and all(len(m.pattern) <= 12 for m in motifs)


def test_minsup_infinite_finds_nothing():
    assert Miner(math.inf, 2, 3).mine(copy.deepcopy(SHAPE_SERIES)) == []


@pytest.mark.parametrize("max_overlap", [math.nan, math.inf, -math.inf])
def test_max_overlap_extremes(max_overlap):
    motifs = Miner(0.5, 1, 4, min_len=1, max_overlap=max_overlap).mine(copy.deepcopy(SHAPE_SERIES))
    unfiltered = Miner(0.5, 1, 4, min_len=1, max_overlap=1.0).mine(copy.deepcopy(SHAPE_SERIES))
    assert len(unfiltered) > 1
    if max_overlap == -math.inf:
        # Every overlap exceeds it: the first pattern kept (the longest, then
        # the smallest) drops every other.
        assert [m.pattern for m in motifs] == [min((m.pattern for m in unfiltered), key=lambda p: (-len(p), p))]
    else:
        # No overlap exceeds NaN or infinity: nothing is dropped, as with 1.0.
        assert summary(motifs) == summary(unfiltered)


@pytest.mark.parametrize("settings", [dict(min_len=2**31 - 1), dict(min_len=-(2**31)), dict(max_len=-(2**31)),
                                      dict(max_len=2**31 - 1), dict(k=2**31 - 1)])  # fmt: skip
def test_int_settings_at_their_extremes(settings):
    motifs = Miner(0.5, 2, 3, **settings).mine(copy.deepcopy(SHAPE_SERIES))
    if settings.get("min_len") == 2**31 - 1 or settings.get("max_len") == -(2**31):
        assert motifs == []
    else:
        assert motifs


@pytest.mark.parametrize("value", [2**31, -(2**31) - 1, 2**63, 1.0, "1", None])
def test_int_settings_out_of_range_are_type_errors(value):
    for name in ("seglen", "alphabet", "min_len", "max_len", "k"):
        arguments = {"minsup": 0.5, "seglen": 2, "alphabet": 3, name: value}
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            Miner(**arguments)


def test_negative_k_then_a_normal_mine_on_the_same_miner():
    miner = Miner(1.0, 2, 3, k=-1)
    with pytest.raises(ValueError, match=rf"^{LENGTH_ERROR}$"):
        miner.mine(copy.deepcopy(SHAPE_SERIES))
    stored = summary(miner.motifs)
    assert stored and stored == summary(Miner(1.0, 2, 3).mine(copy.deepcopy(SHAPE_SERIES)))
    # The same Miner mines again: stores and ranks this call's motifs too, then refuses the result again.
    with pytest.raises(ValueError, match=rf"^{LENGTH_ERROR}$"):
        miner.mine(copy.deepcopy(SHAPE_SERIES))
    assert len(miner.motifs) == 2 * len(stored)
    assert sorted(summary(miner.motifs)) == sorted(stored * 2)
    with pytest.raises(IndexError):
        miner.mine(copy.deepcopy(SHAPE_SERIES[:1]))
    assert len(miner.motifs) == 2 * len(stored)
    # Refused even when nothing is found.
    with pytest.raises(ValueError, match=rf"^{LENGTH_ERROR}$"):
        Miner(1.0, 2, 3, k=-1).mine([])


def test_fewer_series_than_the_stored_motifs_refer_to():
    miner, before = used_miner()
    for fewer in ([], SHAPE_SERIES[:1], SHAPE_SERIES[:2]):
        message = rf"^a stored motif refers to series index 2, but only {len(fewer)} series were given$"
        with pytest.raises(IndexError, match=message):
            miner.mine(copy.deepcopy(fewer))
        assert summary(miner.motifs) == before
    assert_still_mines(miner, before)


def test_non_utf8_pattern_leaves_the_motif_usable():
    miner = PatternMiner(1.0, min_len=1, max_overlap=1.0)
    miner.mine([["\xe9", "a"], ["\xff", "\xe9"]])
    motif = miner.frequent[("\xe9",)]
    with pytest.raises(UnicodeDecodeError):
        motif.pattern
    with pytest.raises(UnicodeDecodeError):
        repr(motif)
    assert motif.indexes == {0: [0], 1: [1]}
    assert (motif.length, motif.naed, motif.representative) == (0, 0.0, [])
    assert list(miner.frequent) == [("\xe9",)]
