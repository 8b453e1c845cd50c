import pytest

from _zef_cpp import Motif, PatternMiner
from helpers import MOTIF_PROPERTIES


def mined(words, **settings):
    miner = PatternMiner(1.0, **{"min_len": 1, "max_overlap": 1.0, **settings})
    miner.mine(words)
    return miner.frequent


def test_motif_cannot_be_constructed_from_python():
    with pytest.raises(TypeError, match=r"^_zef_cpp\.Motif: No constructor defined!$"):
        Motif()


def test_properties_are_read_only_and_registered_in_order():
    names = [name for name in vars(Motif) if not name.startswith("_")]
    assert names == list(MOTIF_PROPERTIES)
    assert list(vars(Motif)).index("__repr__") > list(vars(Motif)).index("naed")
    assert all(getattr(Motif, name).fset is None for name in MOTIF_PROPERTIES)


def test_an_unmapped_motif_holds_only_its_pattern_and_occurrences():
    motif = mined([["a", "b", "a"]])[("a",)]
    assert motif.pattern == "a"
    assert repr(motif) == "Motif('a')"
    assert motif.indexes == {0: [0, 2]}
    assert motif.length == 0
    assert motif.naed == 0.0
    assert motif.representative == []
    assert motif.average_occurrences == {}
    assert motif.best_matches == {}


def test_each_read_is_a_new_object_that_does_not_alias_the_record():
    motif = mined([["a", "b"], ["a"]])[("a",)]
    first = motif.indexes
    first[0].append(99)
    first[7] = [1]
    assert motif.indexes == {0: [0], 1: [0]}
    assert motif.indexes is not motif.indexes
    miner = PatternMiner(1.0, min_len=1)
    miner.mine([["a"]])
    assert miner.frequent[("a",)] is not miner.frequent[("a",)]


def test_assigning_a_property_or_a_new_attribute_fails():
    motif = mined([["a"]])[("a",)]
    with pytest.raises(AttributeError):
        motif.naed = 1.0
    with pytest.raises(AttributeError):
        motif.anything = 1


def test_pattern_of_non_utf8_bytes_raises_unicode_decode_error():
    frequent = mined([["\xe9", "a"]])
    lone = frequent[("\xe9",)]
    with pytest.raises(UnicodeDecodeError):
        lone.pattern
    with pytest.raises(UnicodeDecodeError):
        repr(lone)
    # The two bytes C3 A9 are the UTF-8 form of U+00E9: as a pattern they decode.
    assert mined([["\xc3", "\xa9"]], min_len=2)[("\xc3", "\xa9")].pattern == "\xe9"
