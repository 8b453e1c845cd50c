#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/patterns.h"
#include "engine/plain_lcs.h"
#include "partitioned/partitioned_mining.h"

namespace {

Pattern P(const std::string& s) { return Pattern(s.begin(), s.end()); }

std::vector<Pattern> Ps(const std::vector<std::string>& patterns) {
    std::vector<Pattern> out;
    for (const auto& p : patterns) out.push_back(P(p));
    return out;
}

// Series index -> positions, as a record or the partitions' lists hold them.
using Occurrences = std::map<int, std::vector<int>>;

// The occurrences of one partition's list, its local series moved by `offset`.
void add_part(Occurrences& all, const partitioned::PartOccurrences& found, int offset) {
    for (std::size_t i = 0; i < found.series.size(); ++i)
        all[found.series[i] + offset].assign(found.positions.begin() + static_cast<std::ptrdiff_t>(found.begin_of(i)),
                                             found.positions.begin() + static_cast<std::ptrdiff_t>(found.ends[i]));
}

}  // namespace

// Level by level as zef.dask runs it, the words cut into two partitions: each
// level's frequent patterns and their occurrences are those of the miner
// over all the words.
TEST(PartitionedMining, TwoPartitionsFindWhatTheMinerFinds) {
    std::mt19937 rng(2025);
    for (int round = 0; round < 60; ++round) {
        WordSet words(2 + rng() % 12);
        for (Pattern& w : words) {
            w.resize(rng() % 16);
            for (char& c : w) c = static_cast<char>('a' + rng() % (1 + round % 4));
        }
        const std::size_t cut = rng() % (words.size() + 1);
        const WordSet parts[2] = {WordSet(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(cut)),
                                  WordSet(words.begin() + static_cast<std::ptrdiff_t>(cut), words.end())};
        const int offsets[2] = {0, static_cast<int>(cut)};
        const double minsup = 0.1 * static_cast<double>(1 + rng() % 9);
        const int max_len = static_cast<int>(rng() % 7);

        PatternMiner miner(minsup, 1, max_len, 1.0);  // filters that erase nothing
        miner.mine(words);
        const FrequentTable expected = miner.get_frequent();

        const double min_count = static_cast<double>(words.size()) * minsup;
        partitioned::PartTable tables[2] = {partitioned::first_level(parts[0]), partitioned::first_level(parts[1])};
        std::map<Pattern, Occurrences, PatternLess> found;
        for (int level = 1;; ++level) {
            std::map<Pattern, std::size_t, PatternLess> supports;
            for (int k = 0; k < 2; ++k)
                for (const auto& [pattern, list] : tables[k]) supports[pattern] += list.support();
            const std::vector<Pattern> frequent = partitioned::frequent_patterns(supports, min_count);
            ASSERT_EQ(frequent, miner.get_levels().at(static_cast<std::size_t>(level))) << "round " << round;
            for (const Pattern& p : frequent)
                for (int k = 0; k < 2; ++k)
                    if (tables[k].count(p)) add_part(found[p], tables[k].at(p), offsets[k]);
            if (frequent.empty() || (max_len != 0 && level >= max_len)) break;
            const std::vector<Pattern> candidates = partitioned::join_level(frequent);
            for (int k = 0; k < 2; ++k) tables[k] = partitioned::extend_level(parts[k], tables[k], candidates);
        }
        ASSERT_EQ(found.size(), expected.size()) << "round " << round;
        for (const auto& [pattern, record] : expected) {
            const auto occurrences = record.occurrences();
            ASSERT_EQ(found.at(pattern), Occurrences(occurrences.begin(), occurrences.end())) << "round " << round;
        }
    }
}

// Worked by hand: a joins b where a without its first symbol is b without its
// last; input in any order, of mixed lengths and with repeats.
TEST(PartitionedMining, JoinPairsSuffixWithPrefixInKeyOrder) {
    EXPECT_EQ(partitioned::join_level(Ps({"ca", "bd", "ab", "bc", "abc", "ab"})), Ps({"abc", "abd", "bca", "cab"}));
    EXPECT_TRUE(partitioned::join_level({}).empty());
}

// The candidates of one prefix are counted together, a repeated candidate
// once; a candidate whose prefix the table lacks is left out.
TEST(PartitionedMining, ExtendFindsCandidatesAtTheirPrefixes) {
    const WordSet words = {P("abab"), P("bab")};
    const partitioned::PartTable first = partitioned::first_level(words);
    const partitioned::PartTable second =
        partitioned::extend_level(words, first, Ps({"aa", "ab", "ab", "ba", "bb", "za"}));
    ASSERT_EQ(second.size(), 2u);
    Occurrences ab, ba;
    add_part(ab, second.at(P("ab")), 0);
    add_part(ba, second.at(P("ba")), 0);
    EXPECT_EQ(ab, (Occurrences{{0, {0, 2}}, {1, {1}}}));
    EXPECT_EQ(ba, (Occurrences{{0, {1}}, {1, {0}}}));
}

// The filter against its plain rule, on survivors longest first (as the
// length filter leaves them) with repeated values; a list in another order is
// refused rather than filtered by a rule it does not meet.
TEST(PartitionedMining, RedundantFollowsThePlainRule) {
    std::mt19937 rng(11);
    const double overlaps[] = {-0.1, 0.0, 0.4, 0.5, 0.75, 1.0};
    for (int round = 0; round < 200; ++round) {
        std::vector<Pattern> survivors(rng() % 12);
        for (Pattern& s : survivors) {
            s.resize(rng() % (round % 5 == 0 ? 90 : 7));
            for (char& c : s) c = static_cast<char>('a' + rng() % 3);
        }
        std::stable_sort(survivors.begin(), survivors.end(),
                         [](const Pattern& a, const Pattern& b) { return a.size() > b.size(); });
        const double max_overlap = overlaps[rng() % 6];
        EXPECT_EQ(partitioned::redundant_patterns(survivors, max_overlap), plain_redundant(survivors, max_overlap))
            << "round " << round;
    }
    EXPECT_THROW(partitioned::redundant_patterns({Pattern{'a'}, Pattern{'a', 'b'}}, 0.9), std::invalid_argument);
}

// The limit checked on the client after each level refuses a run exactly when
// the miner, judging one pattern at a time, refuses it.
TEST(PartitionedMining, PatternLimitRefusesWhatTheMinerRefuses) {
    const WordSet words = {P("abcab"), P("bcabc"), P("cabca"), P("aabbc")};
    const auto refuses = [](const auto& run) {
        try {
            run();
        } catch (const TooManyPatterns&) {
            return true;
        }
        return false;
    };
    PatternMiner unlimited(0.5, 1, 0, 1.0);  // filters that erase nothing
    unlimited.mine(words);
    const std::size_t found = unlimited.get_frequent().size();
    ASSERT_GT(found, 2u);
    for (const std::size_t limit : {found - 1, found, found + 1, std::size_t{0}}) {
        PatternMiner miner(0.5, 1, 0, 1.0);
        miner.set_max_patterns(limit);
        EXPECT_EQ(refuses([&] { partitioned::check_pattern_count(found, limit); }), refuses([&] { miner.mine(words); }))
            << "limit " << limit;
    }
}
