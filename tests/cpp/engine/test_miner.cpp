#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/miner.h"

namespace {

Pattern word(const std::string& letters) { return Pattern(letters.begin(), letters.end()); }

std::vector<std::string> patterns_of(const std::vector<Motif>& motifs) {
    std::vector<std::string> result;
    for (const Motif& m : motifs) result.emplace_back(m.get_pattern().begin(), m.get_pattern().end());
    return result;
}

// Single symbols only (max_len 1, min_len 1), one point per symbol. Each
// symbol occurs twice in the one series, so its representative is the mean of
// two points and its NAED half their distance: a 0.25, b 0.1, c 0.3.
Miner single_symbol_miner(int k) { return Miner(1.0, 1, 3, 1, 1, 1.0, k); }
const WordSet kWords = {word("aabbcc")};
const SeriesSet kSeries = {{0.0, 0.5, 0.0, 0.2, 0.0, 0.6}};

TEST(Ranking, SmallestNaedFirst) {
    Miner miner = single_symbol_miner(0);
    miner.mine_patterns(kWords);
    EXPECT_EQ(patterns_of(miner.get_motifs()), (std::vector<std::string>{"a", "b", "c"}));
    miner.map_patterns(kSeries);
    miner.sort_patterns();
    const std::vector<Motif> ranked = miner.get_motifs();
    EXPECT_EQ(patterns_of(ranked), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_DOUBLE_EQ(ranked[0].get_naed(), 0.1);
    EXPECT_DOUBLE_EQ(ranked[1].get_naed(), 0.25);
    EXPECT_DOUBLE_EQ(ranked[2].get_naed(), 0.3);
}

TEST(Ranking, AllNaedNanKeepsEveryMotifOnce) {
    // seglen 0 maps every motif onto zero points: NAED 0 / 0.
    Miner miner(1.0, 0, 3, 1, 1, 1.0, 0);
    miner.mine_patterns({word("abcabcddee")});
    miner.map_patterns({{1.0, 2.0}});
    miner.sort_patterns();
    const std::vector<Motif> ranked = miner.get_motifs();
    ASSERT_EQ(ranked.size(), 5u);
    for (const Motif& m : ranked) EXPECT_TRUE(std::isnan(m.get_naed()));
    std::vector<std::string> sorted = patterns_of(ranked);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

TEST(Ranking, KCutsTheResultButNotTheStoredList) {
    for (int k : {0, 1, 2, 3, 4, 1000}) {
        SeriesSet ts = {{1.0, 2.0, 1.0, 2.0}, {2.0, 1.0, 2.0, 1.0}};
        Miner miner(1.0, 1, 2, 1, 1, 1.0, k);
        const std::vector<Motif> result = miner.mine(ts);
        const std::size_t stored = miner.get_motifs().size();
        ASSERT_EQ(stored, 2u);
        EXPECT_EQ(result.size(), k == 0 ? stored : std::min<std::size_t>(stored, static_cast<std::size_t>(k)));
    }
}

TEST(Ranking, NegativeKFailsAfterStoringAndRanking) {
    SeriesSet ts = {{1.0, 2.0, 1.0, 2.0}};
    Miner miner(1.0, 1, 2, 1, 1, 1.0, -1);
    EXPECT_THROW(miner.mine(ts), std::length_error);
    EXPECT_EQ(miner.get_motifs().size(), 2u);
}

TEST(Pipeline, NormalisesTheGivenSeriesInPlace) {
    SeriesSet ts = {{1.0, 2.0, 3.0}};
    Miner miner(1.0, 1, 3, 1, 0, 1.0, 0);
    const std::vector<Motif> result = miner.mine(ts);
    EXPECT_EQ(ts[0], (std::vector<double>{-1.224744871391589, 0.0, 1.224744871391589}));
    // Every statistic is in normalised units: the one-point occurrence of "c".
    for (const Motif& m : result) {
        if (m.get_pattern() == word("c")) {
            EXPECT_EQ(Motif(m).get_representative(), (std::vector<double>{ts[0][2]}));
        }
    }
}

TEST(Pipeline, StoredMotifsAreKeptMappedAgainAndStoredTwice) {
    const SeriesSet original = {{0.0, 5.0, 0.0, 5.0}, {5.0, 0.0, 5.0, 0.0}};
    Miner miner(1.0, 1, 2, 2, 2, 1.0, 0);
    SeriesSet first = original;
    const std::vector<Motif> once = miner.mine(first);
    SeriesSet second = original;
    const std::vector<Motif> twice = miner.mine(second);
    ASSERT_EQ(twice.size(), 2 * once.size());
    for (std::size_t i = 0; i + 1 < twice.size(); ++i) EXPECT_LE(twice[i].get_naed(), twice[i + 1].get_naed());
}

TEST(Pipeline, StoredMotifOutsideTheNewSeriesChangesNothing) {
    Miner miner(1.0, 1, 2, 1, 1, 1.0, 0);
    SeriesSet three = {{1.0, 2.0}, {1.0, 2.0}, {1.0, 2.0}};
    miner.mine(three);
    const std::size_t stored = miner.get_motifs().size();
    SeriesSet two = {{1.0, 2.0}, {2.0, 1.0}};
    const SeriesSet before = two;
    try {
        miner.mine(two);
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "a stored motif refers to series index 2, but only 2 series were given");
    }
    EXPECT_EQ(two, before);
    EXPECT_EQ(miner.get_motifs().size(), stored);
}

// seglen 2^31 - 1 with min_len 1: every word is one symbol, so every motif is
// a one-symbol pattern of 2^31 - 1 points, and mapping it filled the memory
// until the process was killed. The call is refused before anything changes.
TEST(Pipeline, SeglenIntMaxWithMinLen1IsRefusedBeforeAnythingIsStored) {
    SeriesSet ts(64, {0.0, 0.0, 5.0, 5.0, 0.0, 1.0});
    Miner miner(0.5, INT_MAX, 5, 1, 0, 0.9, 0);
    EXPECT_THROW(miner.mine(ts), std::bad_alloc);
    EXPECT_TRUE(miner.get_motifs().empty());
    // The stored list stays usable: a call with nothing to map goes through.
    SeriesSet empty(64);
    EXPECT_TRUE(miner.mine(empty).empty());
}

// A long seglen that the machine can hold is mapped as usual, NaN past the ends.
TEST(Pipeline, SeglenFarBeyondTheSeriesIsMappedWithNanPastTheEnds) {
    SeriesSet ts(3, {0.0, 0.0, 5.0, 5.0, 0.0, 1.0});
    Miner miner(0.5, 1000000, 5, 1, 0, 0.9, 0);
    std::vector<Motif> result = miner.mine(ts);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].get_length(), 1000000);
    const std::vector<double> representative = result[0].get_representative();
    ASSERT_EQ(representative.size(), 1000000u);
    EXPECT_FALSE(std::isnan(representative[5]));
    EXPECT_TRUE(std::isnan(representative[6]));
}

}  // namespace
