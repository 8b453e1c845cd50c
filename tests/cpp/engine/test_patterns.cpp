#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/patterns.h"
#include "engine/plain_lcs.h"

namespace {

Pattern P(const std::string& s) { return Pattern(s.begin(), s.end()); }

WordSet W(const std::vector<std::string>& words) {
    WordSet out;
    for (const auto& w : words) out.push_back(P(w));
    return out;
}

std::vector<Pattern> Ps(const std::vector<std::string>& patterns) { return W(patterns); }

// Series index -> positions, with series sorted so tables compare by value.
using Occurrences = std::map<int, std::vector<int>>;
using Table = std::map<Pattern, Occurrences, PatternLess>;

Table table_of(const FrequentTable& frequent) {
    Table out;
    for (const auto& entry : frequent) {
        const auto& occ = entry.second.occurrences();
        out[entry.first] = Occurrences(occ.begin(), occ.end());
    }
    return out;
}

std::vector<Pattern> keys_of(const FrequentTable& frequent) {
    std::vector<Pattern> keys;
    for (const auto& entry : frequent) keys.push_back(entry.first);
    return keys;
}

// Mines `words` with length and redundancy filters that erase nothing.
PatternMiner mined_unfiltered(const WordSet& words, double minsup, int max_len = 0) {
    PatternMiner miner(minsup, 1, max_len, 1.0);
    miner.mine(words);
    return miner;
}

}  // namespace

TEST(Candidates, TwoSymbolsJoinIntoEveryOrderedPair) {
    PatternMiner miner = mined_unfiltered(W({"ab"}), 1.0, 1);
    ASSERT_EQ(miner.get_level(), 2);
    EXPECT_EQ(miner.get_candidates(), Ps({"aa", "ab", "ba", "bb"}));
}

TEST(Candidates, JoinNeedsSuffixEqualToPrefix) {
    // Frequent pairs of "abca": ab, bc, ca. ab with ab does not join (b vs a).
    PatternMiner miner = mined_unfiltered(W({"abca"}), 1.0, 2);
    ASSERT_EQ(miner.get_levels().at(2), Ps({"ab", "bc", "ca"}));
    EXPECT_EQ(miner.get_candidates(), Ps({"abc", "bca", "cab"}));
}

TEST(SupportCounting, CandidateThatWouldRunPastTheWordIsNotRecorded) {
    Table t = table_of(mined_unfiltered(W({"abab"}), 1.0).get_frequent());
    EXPECT_EQ(t.at(P("ab")), (Occurrences{{0, {0, 2}}}));
    EXPECT_EQ(t.at(P("aba")), (Occurrences{{0, {0}}}));
    EXPECT_EQ(t.at(P("abab")), (Occurrences{{0, {0}}}));
}

TEST(SupportCounting, OverlappingOccurrencesAreAllRecorded) {
    Table t = table_of(mined_unfiltered(W({"aaaa"}), 1.0).get_frequent());
    EXPECT_EQ(t.at(P("aa")), (Occurrences{{0, {0, 1, 2}}}));
    EXPECT_EQ(t.at(P("aaa")), (Occurrences{{0, {0, 1}}}));
}

TEST(SupportCounting, CandidateIsTestedOnlyAtItsPrefixOccurrences) {
    PatternMiner miner = mined_unfiltered(W({"ab"}), 1.0);
    // "ab" also occurs at 2 of the new word, but the prefix "a" was recorded at 0 only.
    miner.find_candidate(P("ab"), W({"abab"}));
    EXPECT_EQ(table_of(miner.get_frequent()).at(P("ab")), (Occurrences{{0, {0, 0}}}));
    // Series that the words do not hold are skipped rather than read, and
    // every symbol is compared: "bb" does not hold "ab" where "a" was recorded.
    miner.find_candidate(P("ab"), WordSet{});
    miner.find_candidate(P("ab"), W({"bb"}));
    EXPECT_EQ(table_of(miner.get_frequent()).at(P("ab")), (Occurrences{{0, {0, 0}}}));
}

TEST(SupportCounting, OccurrencesFoundInOtherWordsAreComparedInFullLater) {
    // Level 2 counted in "abbb" records "ab" at 0, where the scanned word
    // "aabb" holds "aa": level 3 in the scanned word must not extend it to "abb".
    const WordSet scanned = W({"aabb"}), other = W({"abbb"});
    PatternMiner miner(1.0, 1, 0, 1.0);
    miner.start(scanned);
    miner.mine_1_patterns(scanned);
    for (const WordSet* words : {&other, &scanned}) {
        ASSERT_TRUE(miner.open_level());
        for (const Pattern& c : miner.get_candidates()) {
            miner.add_candidate(c);
            miner.find_candidate(c, *words);
            miner.prune_infrequent(c);
        }
        miner.close_level();
    }
    EXPECT_EQ(miner.get_levels().at(2), Ps({"ab", "bb"}));
    EXPECT_TRUE(miner.get_levels().at(3).empty());
}

TEST(SupportCounting, OtherWordsWhereTheScannedOnesWereAreComparedInFull) {
    // "bb" built in the storage of the scanned "ab": "a" was recorded at 0,
    // and "bb" holds no "ab" there, whatever the address says.
    std::optional<WordSet> words(W({"ab"}));
    PatternMiner miner(1.0, 1, 0, 1.0);
    miner.start(*words);
    miner.mine_1_patterns(*words);
    words.emplace(W({"bb"}));
    ASSERT_TRUE(miner.open_level());
    for (const Pattern& c : miner.get_candidates()) {
        miner.add_candidate(c);
        miner.find_candidate(c, *words);
        miner.prune_infrequent(c);
    }
    EXPECT_TRUE(miner.get_levels().at(2).empty());
}

TEST(SupportCounting, CheckedLookupsThrowMapAt) {
    PatternMiner miner = mined_unfiltered(W({"ab"}), 1.0, 1);  // frequent: a, b
    try {
        miner.find_candidate(P("ab"), W({"ab"}));  // the candidate was never inserted
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "map::at");
    }
    EXPECT_THROW(miner.find_candidate(P("za"), W({"ab"})), std::out_of_range);  // prefix absent
    EXPECT_THROW(miner.prune_infrequent(P("zz")), std::out_of_range);
    // Without a matching prefix occurrence the candidate is never looked up.
    EXPECT_NO_THROW(miner.find_candidate(P("ba"), W({"ab"})));
}

TEST(SupportThreshold, EqualToAnIntegralThresholdPasses) {
    PatternMiner miner = mined_unfiltered(W({"a", "a", "b", "c"}), 0.5);
    EXPECT_DOUBLE_EQ(miner.get_min_count(), 2.0);
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"a"}));
}

TEST(SupportThreshold, FractionalThresholdRoundsUp) {
    PatternMiner miner = mined_unfiltered(W({"a", "a", "b", "b", "b", "c", "c", "c", "c", "c"}), 0.25);
    EXPECT_DOUBLE_EQ(miner.get_min_count(), 2.5);
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"b", "c"}));
}

TEST(SupportThreshold, RepeatedSymbolInOneWordCountsOnce) {
    // Threshold 1.8: a and b are in two series; c occurs twice but in one series.
    PatternMiner miner = mined_unfiltered(W({"cc", "ab", "ab"}), 0.6);
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"a", "ab", "b"}));
}

TEST(SupportThreshold, AboveOneLeavesNothing) {
    PatternMiner miner = mined_unfiltered(W({"ab", "ab"}), 1.5);
    EXPECT_TRUE(miner.get_frequent().empty());
    EXPECT_EQ(miner.get_level(), 2);
}

TEST(SupportThreshold, ZeroNegativeOrNanThresholdStillEndsMining) {
    for (double minsup : {0.0, -1.0, std::nan("")}) {
        PatternMiner miner = mined_unfiltered(W({"abc"}), minsup);
        EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"a", "ab", "abc", "b", "bc", "c"})) << minsup;
        EXPECT_EQ(miner.get_level(), 5) << minsup;
    }
}

TEST(Mining, KeysComeInSignedByteOrder) {
    PatternMiner miner = mined_unfiltered(W({"ba\xE9"}), 1.0, 1);
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"\xE9", "a", "b"}));
    EXPECT_EQ(miner.get_levels().at(1), Ps({"\xE9", "a", "b"}));
}

TEST(Mining, KeyOrderOfLongPatternsIsBytewise) {
    // Patterns that share runs of up to 20 symbols, from bytes on both sides of 0x80.
    std::mt19937 rng(5);
    const char symbols[] = {'a', '\x7F', '\x80', '\xFF'};
    for (int round = 0; round < 3000; ++round) {
        Pattern a(rng() % 21);
        for (auto& c : a) c = symbols[rng() % 4];
        Pattern b(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(rng() % (a.size() + 1)));
        b.resize(b.size() + rng() % 3, symbols[rng() % 4]);
        const bool expected = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<signed char>(x) < static_cast<signed char>(y);
        });
        ASSERT_EQ(PatternLess()(a, b), expected) << "round " << round;
        ASSERT_EQ(PatternLess()(b, a), !expected && a != b) << "round " << round;
    }
}

TEST(Mining, SingleWordWithDefaultFilters) {
    PatternMiner miner(1.0, 3, 0, 0.9);
    miner.mine(W({"aaa"}));
    EXPECT_EQ(table_of(miner.get_frequent()), (Table{{P("aaa"), {{0, {0}}}}}));
    EXPECT_EQ(miner.get_level(), 5);
    EXPECT_EQ(miner.get_levels(), (std::vector<std::vector<Pattern>>{{}, Ps({"a"}), Ps({"aa"}), Ps({"aaa"}), {}}));
}

TEST(Mining, EmptyInputFindsNothing) {
    PatternMiner none = mined_unfiltered(WordSet{}, 0.5);
    EXPECT_TRUE(none.get_frequent().empty());
    EXPECT_EQ(none.get_min_count(), 0.0);
    EXPECT_EQ(none.get_level(), 2);

    PatternMiner blank = mined_unfiltered(W({"", ""}), 0.5);
    EXPECT_TRUE(blank.get_frequent().empty());
    EXPECT_EQ(blank.get_min_count(), 1.0);
    EXPECT_EQ(blank.get_levels().size(), 2u);
}

TEST(Mining, SecondRunEqualsAFreshMiner) {
    PatternMiner reused(0.5, 2, 0, 0.9);
    reused.mine(W({"abcab", "bca", "xyz"}));
    reused.mine(W({"ab", "ba"}));
    PatternMiner fresh(0.5, 2, 0, 0.9);
    fresh.mine(W({"ab", "ba"}));
    EXPECT_EQ(table_of(reused.get_frequent()), table_of(fresh.get_frequent()));
    EXPECT_EQ(reused.get_levels(), fresh.get_levels());
    EXPECT_EQ(reused.get_level(), fresh.get_level());
    EXPECT_EQ(reused.get_min_count(), fresh.get_min_count());
}

TEST(Filters, LongerPatternErasesItsSubsequences) {
    PatternMiner miner(0.3, 3, 0, 0.9);  // threshold 0.9: one series is enough
    miner.mine(W({"abcd", "abd", "bce"}));
    ASSERT_EQ(miner.get_levels().at(4), Ps({"abcd"}));
    ASSERT_EQ(miner.get_levels().at(3), Ps({"abc", "abd", "bcd", "bce"}));
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"abcd", "bce"}));
}

TEST(Filters, EarlierOfTwoEqualLengthPatternsSurvives) {
    PatternMiner miner(0.5, 3, 0, 0.5);
    miner.mine(W({"abc", "abd"}));
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"abc"}));
}

TEST(Filters, FullOverlapThresholdErasesNothing) {
    PatternMiner miner(0.5, 1, 0, 1.0);
    miner.mine(W({"abc", "abd"}));
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"a", "ab", "abc", "abd", "b", "bc", "bd", "c", "d"}));
}

TEST(Filters, MinLenAboveEveryLengthEmptiesTheTable) {
    PatternMiner miner(1.0, 4, 0, 1.0);
    miner.mine(W({"abc"}));
    EXPECT_TRUE(miner.get_frequent().empty());
    EXPECT_EQ(miner.get_levels().at(3), Ps({"abc"}));  // the filters leave levels alone
}

TEST(Filters, LastLevelBeforeMaxLenStopIsFiltered) {
    // abd shares ab with abc (2/3 > 0.5), so it is erased although length 3 is the
    // last level mined.
    PatternMiner miner(0.5, 3, 3, 0.5);
    miner.mine(W({"abc", "abd"}));
    EXPECT_EQ(miner.get_level(), 4);
    EXPECT_EQ(keys_of(miner.get_frequent()), Ps({"abc"}));
}

TEST(Filters, NegativeMaxLenStillAppliesLengthFilterToSymbols) {
    PatternMiner miner(1.0, 2, -1, 0.9);
    miner.mine(W({"ab"}));
    EXPECT_EQ(miner.get_level(), 2);
    EXPECT_EQ(miner.get_levels().at(1), Ps({"a", "b"}));
    EXPECT_TRUE(miner.get_frequent().empty());
}

TEST(IsPInVec, MatchesWholePatternsOnly) {
    const std::vector<Pattern> v = Ps({"ab", "abc"});
    EXPECT_TRUE(is_p_in_vec(P("abc"), v));
    EXPECT_FALSE(is_p_in_vec(P("a"), v));
    EXPECT_FALSE(is_p_in_vec(P("abcd"), v));
    EXPECT_FALSE(is_p_in_vec(P("ab"), {}));
}

namespace {

// Every substring of every word, with the positions where it starts per series,
// found by scanning the words directly.
Table brute_force(const WordSet& words, double minsup, int max_len) {
    Table all;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Pattern& w = words[i];
        for (std::size_t start = 0; start < w.size(); ++start) {
            for (std::size_t len = 1; start + len <= w.size(); ++len) {
                if (max_len < 0 && len > 1) break;
                if (max_len > 0 && len > static_cast<std::size_t>(max_len)) break;
                all[Pattern(w.begin() + start, w.begin() + start + len)][static_cast<int>(i)].push_back(
                    static_cast<int>(start));
            }
        }
    }
    const double threshold = static_cast<double>(words.size()) * minsup;
    Table out;
    for (auto& entry : all) {
        const auto support = static_cast<double>(entry.second.size());
        if (support >= threshold) out.insert(entry);
    }
    return out;
}

}  // namespace

TEST(CrossCheck, RandomWordSetsMatchDirectScan) {
    std::mt19937 rng(20240531);
    const double minsups[] = {-0.5, 0.0, 0.2, 0.34, 0.5, 0.75, 1.0, 1.2};
    for (int round = 0; round < 600; ++round) {
        const int symbols = 2 + static_cast<int>(rng() % 2);
        WordSet words(rng() % 6);
        for (auto& w : words) {
            w.resize(rng() % 8);
            for (auto& c : w) c = static_cast<char>('a' + static_cast<int>(rng() % static_cast<unsigned>(symbols)));
        }
        const double minsup = minsups[rng() % 8];
        const int max_len = static_cast<int>(rng() % 6) - 1;
        const int min_len = static_cast<int>(rng() % 3) - 1;  // at most 1: erases nothing

        PatternMiner miner(minsup, min_len, max_len, 1.0 + static_cast<double>(rng() % 2));
        miner.mine(words);
        const Table expected = brute_force(words, minsup, max_len);
        ASSERT_EQ(table_of(miner.get_frequent()), expected) << "round " << round;
        for (std::size_t n = 1; n < miner.get_levels().size(); ++n) {
            std::vector<Pattern> of_length;
            for (const auto& entry : expected)
                if (entry.first.size() == n) of_length.push_back(entry.first);
            ASSERT_EQ(miner.get_levels()[n], of_length) << "round " << round << ", length " << n;
        }

        // With real filters the result is a subset of the unfiltered one, records
        // untouched, and nothing shorter than min_len is left.
        const int real_min_len = 1 + static_cast<int>(rng() % 3);
        PatternMiner filtered(minsup, real_min_len, max_len, static_cast<double>(rng() % 5) / 4.0);
        filtered.mine(words);
        for (const auto& entry : table_of(filtered.get_frequent())) {
            EXPECT_GE(static_cast<int>(entry.first.size()), real_min_len);
            auto it = expected.find(entry.first);
            ASSERT_NE(it, expected.end());
            EXPECT_EQ(entry.second, it->second);
        }
    }
}

namespace {

// The tables of a frequent map with each record's series in the iteration
// order of its hash table, which decides the order of sums when a motif is
// mapped and the key order Python sees.
using OrderedRecord = std::vector<std::pair<int, std::vector<int>>>;
using OrderedTable = std::vector<std::pair<Pattern, OrderedRecord>>;

OrderedRecord ordered(const Motif& record) { return record.occurrences(); }

OrderedTable ordered_table_of(const FrequentTable& frequent) {
    OrderedTable out;
    for (const auto& entry : frequent) out.emplace_back(entry.first, ordered(entry.second));
    return out;
}

// The record that record_index calls build for a frequent pattern: a symbol's
// from a scan of the words, a longer pattern's at its prefix's occurrences in
// the order of the prefix's table.
Motif expected_record(const Pattern& p, const FrequentTable& table, const WordSet& words) {
    OrderedRecord starts;
    if (p.size() == 1) {
        for (std::size_t s = 0; s < words.size(); ++s) {
            starts.emplace_back(static_cast<int>(s), std::vector<int>(words[s].size()));
            std::iota(starts.back().second.begin(), starts.back().second.end(), 0);
        }
    } else {
        starts = ordered(table.at(Pattern(p.begin(), p.end() - 1)));
    }
    Motif record(p);
    for (const auto& [s, positions] : starts) {
        const Pattern& w = words[static_cast<std::size_t>(s)];
        for (const int at : positions)
            if (at + p.size() <= w.size() && std::equal(p.begin(), p.end(), w.begin() + at)) record.record_index(s, at);
    }
    return record;
}

// The survivors that the plain filter keeps, in key order.
std::vector<Pattern> kept_by_overlap(const std::vector<Pattern>& survivors, double max_overlap) {
    const std::vector<bool> erased = plain_redundant(survivors, max_overlap);
    std::vector<Pattern> kept;
    for (std::size_t i = 0; i < survivors.size(); ++i)
        if (!erased[i]) kept.push_back(survivors[i]);
    std::sort(kept.begin(), kept.end(), PatternLess());
    return kept;
}

}  // namespace

// mine() against its public steps run by hand on a fresh miner, which in some
// rounds gives find_candidate a copy of the words (another object, equal by
// value: the counts of the scanned words serve it); the records against what
// record_index builds, and the filters against their plain form.
TEST(CrossCheck, MineEqualsTheStepsOneCandidateAtATime) {
    std::mt19937 rng(7031);
    const double minsups[] = {-0.5, 0.0, 0.34, 1.0, 1.2};
    const double overlaps[] = {-0.1, 0.0, 0.34, 0.5, 0.66, 0.75, 0.9, 1.0};
    for (int round = 0; round < 600; ++round) {
        // Every tenth round: long words of one symbol, so that patterns longer
        // than 64 symbols occur (the redundancy filter's other lcs). Some
        // rounds use bytes on both sides of 0x80, which sort as signed.
        const bool long_words = round % 10 == 0;
        const int symbols = long_words ? 1 : 1 + static_cast<int>(rng() % 4);
        const int first_symbol = round % 7 == 3 ? 0x7E : 'a';
        WordSet words(rng() % 9);
        for (auto& w : words) {
            w.resize(long_words ? 60 + rng() % 80 : rng() % 14);
            for (auto& c : w)
                c = static_cast<char>(first_symbol + static_cast<int>(rng() % static_cast<unsigned>(symbols)));
        }
        // Half the rounds: a threshold of exactly k series (k from 0 to one past all).
        const double minsup = rng() % 2 ? minsups[rng() % 5]
                                        : static_cast<double>(rng() % (words.size() + 2)) /
                                              static_cast<double>(std::max<std::size_t>(words.size(), 1));
        const int max_len = long_words ? 0 : static_cast<int>(rng() % 8) - 2;
        const int min_len = static_cast<int>(rng() % 6) - 1;
        const double max_overlap = overlaps[rng() % 8];
        const WordSet copy = words;
        const WordSet& given = round % 3 == 1 ? copy : words;

        PatternMiner miner(minsup, min_len, max_len, max_overlap);
        miner.mine(words);

        PatternMiner steps(minsup, min_len, max_len, max_overlap);
        steps.start(words);
        steps.mine_1_patterns(words);
        while (steps.open_level()) {
            for (const Pattern& candidate : steps.get_candidates()) {
                steps.add_candidate(candidate);
                steps.find_candidate(candidate, given);
                steps.prune_infrequent(candidate);
            }
            steps.close_level();
        }
        const FrequentTable unfiltered = steps.get_frequent();
        for (const auto& [p, record] : unfiltered)
            ASSERT_EQ(ordered(record), ordered(expected_record(p, unfiltered, words))) << "round " << round;
        // The plain lists, taken before the filters, hold the same records.
        PatternMiner taken = steps;
        for (auto& [p, list] : taken.take_frequent_lists())
            ASSERT_EQ(ordered(list.record(p)), ordered(unfiltered.at(p))) << "round " << round;
        // A second count of a pattern records each of its occurrences again.
        for (const auto& [p, record] : unfiltered) {
            if (p.size() < 2) continue;
            PatternMiner again = steps;
            again.find_candidate(p, given);
            OrderedRecord twice = ordered(record);
            for (auto& entry : twice) entry.second.insert(entry.second.end(), entry.second.begin(), entry.second.end());
            ASSERT_EQ(ordered(again.get_frequent().at(p)), twice) << "round " << round;
            break;
        }

        const std::vector<Pattern> survivors = steps.remove_short();
        std::vector<Pattern> sorted_survivors = survivors;
        std::sort(sorted_survivors.begin(), sorted_survivors.end(), PatternLess());
        ASSERT_EQ(sorted_survivors, keys_of(steps.get_frequent())) << "round " << round;
        steps.remove_redundant();
        ASSERT_EQ(keys_of(steps.get_frequent()), kept_by_overlap(survivors, max_overlap)) << "round " << round;
        for (const auto& [p, record] : steps.get_frequent())  // the filters leave the records as they were
            ASSERT_EQ(ordered(record), ordered(unfiltered.at(p))) << "round " << round;

        ASSERT_EQ(ordered_table_of(miner.get_frequent()), ordered_table_of(steps.get_frequent())) << "round " << round;
        ASSERT_EQ(miner.get_levels(), steps.get_levels()) << "round " << round;
        ASSERT_EQ(miner.get_level(), steps.get_level()) << "round " << round;
        ASSERT_EQ(miner.get_min_count(), steps.get_min_count()) << "round " << round;
    }
}

TEST(Filters, TakeFrequentMovesTheTableOut) {
    PatternMiner miner(1.0, 1, 0, 1.0);
    miner.mine(W({"abc", "abd"}));
    const FrequentTable copy = miner.get_frequent();
    const FrequentTable taken = miner.take_frequent();
    EXPECT_EQ(ordered_table_of(taken), ordered_table_of(copy));
    EXPECT_TRUE(miner.get_frequent().empty());
}
