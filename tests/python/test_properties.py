"""Properties that hold for every result, on random valid input."""

import copy
import math

from hypothesis import given
from hypothesis import strategies as st

from _zef_cpp import Miner, PatternMiner, sax

# Values a caller may pass: finite floats of moderate size, and ints.
values = st.one_of(
    st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, allow_subnormal=False),
    st.integers(min_value=-1000, max_value=1000),
)
# Series stay short and few, so that even the cheapest settings (every
# substring of every word frequent, compared pairwise by the redundancy
# filter) take milliseconds.
series_sets = st.lists(st.lists(values, max_size=24), min_size=1, max_size=6)
settings = st.fixed_dictionaries(
    {
        "minsup": st.floats(min_value=0.05, max_value=1.0),
        "seglen": st.integers(min_value=1, max_value=4),
        "alphabet": st.integers(min_value=0, max_value=10),
        "min_len": st.integers(min_value=0, max_value=5),
        "max_len": st.integers(min_value=0, max_value=6),
        "max_overlap": st.floats(min_value=0.0, max_value=1.0),
        "k": st.integers(min_value=0, max_value=8),
    }
)
words = st.lists(st.lists(st.sampled_from("abcd\xe9"), max_size=12), max_size=5)


def canonical(value):
    """A comparable form of a result value: NaN equals NaN, dict order counts."""
    if isinstance(value, float):
        return "nan" if math.isnan(value) else value
    if isinstance(value, dict):
        return [(canonical(k), canonical(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [canonical(v) for v in value]
    return value


def details(motifs):
    """Every value of each motif, comparable with ==."""
    return [
        canonical([m.pattern, m.indexes, m.average_occurrences, m.representative, m.best_matches, m.length, m.naed])
        for m in motifs
    ]


@given(series_sets, settings)
def test_every_mined_result_keeps_its_invariants(series, config):
    original = copy.deepcopy(series)
    miner = Miner(**config)
    result = miner.mine(series)
    stored = miner.motifs
    assert series == original, "the caller's lists are not changed"

    naeds = [m.naed for m in stored]
    numbers = [n for n in naeds if not math.isnan(n)]
    assert naeds[: len(numbers)] == numbers == sorted(numbers), "ranked by naed, NaN last"

    k = config["k"]
    assert len(result) == (len(stored) if k == 0 else min(k, len(stored)))
    assert details(result) == details(stored[: len(result)]), "k cuts the ranked list"

    seglen = config["seglen"]
    for motif in stored:
        indexes, best = motif.indexes, motif.best_matches
        # The same keys; each dict lists them in its own hash map's order.
        assert set(best) == set(indexes), "best_matches keys are the indexes keys"
        assert set(motif.average_occurrences) == set(indexes)
        assert motif.length == seglen * len(motif.pattern)
        assert len(motif.representative) == motif.length
        assert all(len(average) == motif.length for average in motif.average_occurrences.values())
        for s, point in best.items():
            # Where no distance to the representative is a number (infinite
            # points: a series whose deviation underflows to zero), no
            # occurrence wins and the best match stays at point 0.
            comparable = all(math.isfinite(v) for v in motif.representative + motif.average_occurrences[s])
            assert point % seglen == 0, "a best match starts a segment"
            assert point // seglen in indexes[s] or (point == 0 and not comparable), (
                "a best match is a recorded position"
            )
        assert config["min_len"] <= len(motif.pattern)
        assert config["max_len"] == 0 or len(motif.pattern) <= config["max_len"]

    again = Miner(**config).mine(copy.deepcopy(original))
    assert details(again) == details(result), "the same input gives the same result"


@given(series_sets, settings)
def test_a_second_mine_stores_every_motif_twice_and_ranks_them_again(series, config):
    miner = Miner(**config)
    first = miner.mine(copy.deepcopy(series))
    stored = miner.motifs
    second = miner.mine(copy.deepcopy(series))
    assert len(miner.motifs) == 2 * len(stored)
    if config["k"] == 0:
        assert len(second) == 2 * len(first)
    assert sorted(m.pattern for m in miner.motifs) == sorted(2 * [m.pattern for m in stored])
    naeds = [m.naed for m in miner.motifs]
    numbers = [n for n in naeds if not math.isnan(n)]
    assert naeds[: len(numbers)] == sorted(numbers)


@given(words, st.floats(min_value=-0.5, max_value=1.5), st.integers(-1, 4), st.integers(-1, 4), st.floats(0.0, 1.0))
def test_every_frequent_pattern_occurs_where_it_is_recorded(word_set, minsup, min_len, max_len, max_overlap):
    original = copy.deepcopy(word_set)
    miner = PatternMiner(minsup, min_len=min_len, max_len=max_len, max_overlap=max_overlap)
    miner.mine(word_set)
    frequent = miner.frequent
    assert word_set == original
    keys = list(frequent)
    signed = [tuple(ord(c) - 256 if ord(c) >= 0x80 else ord(c) for c in key) for key in keys]
    assert signed == sorted(signed), "ascending order of signed bytes"
    for key, motif in frequent.items():
        assert len(motif.indexes) >= max(1, len(word_set) * minsup)
        for s, positions in motif.indexes.items():
            assert positions == sorted(set(positions))
            assert all(tuple(word_set[s][p : p + len(key)]) == key for p in positions)
    miner.mine(word_set)
    again = {key: motif.indexes for key, motif in miner.frequent.items()}
    assert again == {key: motif.indexes for key, motif in frequent.items()}, "mining again starts afresh"


@given(series_sets, st.integers(1, 30), st.integers(0, 10))
def test_sax_gives_one_symbol_per_segment(series, seglen, alphabet):
    result = sax(series, seglen, alphabet)
    assert [len(w) for w in result] == [-(-len(s) // seglen) for s in series]
    letters = {chr(ord("a") + i) for i in range(max(alphabet, 1))}
    assert all(set(w) <= letters for w in result)
    assert sax(series, seglen, alphabet) == result
