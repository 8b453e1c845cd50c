import re

import pytest

from _zef_cpp import PatternMiner


def frequent_indexes(words, minsup, **settings):
    miner = PatternMiner(minsup, **settings)
    miner.mine(words)
    return {"".join(key): motif.indexes for key, motif in miner.frequent.items()}


def test_single_word_keeps_only_the_longest_pattern_by_default():
    miner = PatternMiner(1.0)
    assert miner.frequent == {}
    miner.mine([["a", "a", "a"]])
    frequent = miner.frequent
    assert list(frequent) == [("a", "a", "a")]
    assert frequent[("a", "a", "a")].indexes == {0: [0]}


def test_keys_are_tuples_in_signed_byte_order_and_round_trip_latin1():
    keys = list(frequent_indexes([["b", "a", "\xe9"], ["\xe9", "b", "a"]], 1.0, min_len=1, max_overlap=1.0))
    assert keys == ["\xe9", "a", "b", "ba"]
    miner = PatternMiner(1.0, min_len=1, max_overlap=1.0)
    miner.mine([[b"a", bytearray(b"\xe9")]])
    assert list(miner.frequent) == [("\xe9",), ("a",), ("a", "\xe9")]


def test_support_threshold_counts_series_not_occurrences():
    words = [["a", "b"], ["c", "c"], ["a", "d"], ["e", "f"]]
    # 4 words x 0.5: a threshold of exactly 2.0 series.
    assert frequent_indexes(words, 0.5, min_len=1) == {"a": {0: [0], 2: [0]}}
    # 4 words x 0.625 = 2.5: two series are no longer enough.
    assert frequent_indexes(words, 0.625, min_len=1) == {}


@pytest.mark.parametrize("minsup", [0.0, -1.0])
def test_a_threshold_at_or_below_zero_still_ends(minsup):
    result = frequent_indexes([["a", "b", "a", "b"]], minsup, min_len=1, max_overlap=1.0)
    assert result == {
        "a": {0: [0, 2]}, "ab": {0: [0, 2]}, "aba": {0: [0]}, "abab": {0: [0]},
        "b": {0: [1, 3]}, "ba": {0: [1]}, "bab": {0: [1]},
    }  # fmt: skip


def test_max_len_bounds_the_mined_lengths_and_the_filters_cover_the_last_level():
    words = [list("abcd"), list("abcd")]
    assert set(frequent_indexes(words, 1.0, min_len=1, max_len=2, max_overlap=1.0)) == {
        "a", "b", "c", "d", "ab", "bc", "cd",
    }  # fmt: skip
    # With max_len 3 the length-3 patterns meet the redundancy filter: abc and bcd overlap by 2/3.
    assert set(frequent_indexes(words, 1.0, min_len=3, max_len=3, max_overlap=0.5)) == {"abc"}
    # A negative max_len mines single symbols only, and they meet the length filter.
    assert frequent_indexes(words, 1.0, max_len=-1) == {}


def test_a_second_mine_starts_afresh():
    miner = PatternMiner(1.0, min_len=1)
    miner.mine([["a", "b"]])
    miner.mine([["c"]])
    assert list(miner.frequent) == [("c",)]


def test_empty_inputs_find_nothing():
    assert frequent_indexes([], 0.5) == {}
    assert frequent_indexes([[], []], 0.0, min_len=1) == {}


@pytest.mark.parametrize(
    ("symbol", "message"),
    [
        (None, "Cannot convert None to a character"),
        ("", "Cannot convert empty string to a character"),
        ("\u0100", "Character code point not in range(0x100)"),
        ("ab", "Expected a character, but multi-character string found"),
    ],
)
def test_symbols_that_are_not_one_byte_raise_value_error(symbol, message):
    miner = PatternMiner(0.5)
    with pytest.raises(ValueError, match=rf"^{re.escape(message)}$"):
        miner.mine([["a", symbol]])


@pytest.mark.parametrize("words", [["ab", "cd"], [[1]], "ab", [["a"], None]])
def test_words_that_are_not_lists_of_symbols_raise_type_error(words):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        PatternMiner(0.5).mine(words)
