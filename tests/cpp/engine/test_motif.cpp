#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/hash_order.h"
#include "engine/motif.h"

namespace {

using Values = std::vector<double>;
using Averages = std::unordered_map<int, Values>;
using Matches = std::unordered_map<int, int>;

const double NaN = std::numeric_limits<double>::quiet_NaN();

// Exact comparison in which NaN equals NaN.
::testing::AssertionResult Same(const Values& actual, const Values& expected) {
    bool same = actual.size() == expected.size();
    for (std::size_t i = 0; same && i < actual.size(); ++i) {
        same = std::isnan(expected[i]) ? std::isnan(actual[i]) : actual[i] == expected[i];
    }
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << ::testing::PrintToString(actual) << " instead of "
                                         << ::testing::PrintToString(expected);
}

Motif Recorded(int symbols, const std::vector<std::pair<int, int>>& occurrences) {
    Motif motif(Pattern(static_cast<std::size_t>(symbols), 'a'));
    for (const auto& [series, position] : occurrences) motif.record_index(series, position);
    return motif;
}

// Two symbols of two points: series 0 at positions 0 and 2 (the second
// occurrence runs one point past the end), series 1 at position 1.
const SeriesSet kWorkedSeries = {{0, 1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1}};
Motif WorkedMotif() { return Recorded(2, {{0, 0}, {0, 2}, {1, 1}}); }

void ExpectWorkedStatistics(Motif& motif) {
    EXPECT_EQ(motif.get_average_occurrences(), (Averages{{0, {2, 3, 4, 3}}, {1, {1, 1, 1, 1}}}));
    EXPECT_EQ(motif.get_representative(), (Values{1.5, 2, 2.5, 2}));
    EXPECT_EQ(motif.get_best_matches(), (Matches{{0, 0}, {1, 2}}));
    EXPECT_EQ(motif.get_naed(), std::sqrt(4.5) / 4);
}

}  // namespace

TEST(MotifRecording, KeepsDuplicatesAndRecordingOrderPerSeries) {
    Motif motif = Recorded(1, {{3, 7}, {1, 4}, {3, 2}, {3, 7}});
    EXPECT_EQ(motif.get_indexes(), (std::unordered_map<int, std::vector<int>>{{3, {7, 2, 7}}, {1, {4}}}));
    EXPECT_EQ(motif.support(), 2);
}

TEST(MotifRecording, NothingIsComputedBeforeMapping) {
    Motif motif = WorkedMotif();
    EXPECT_EQ(motif.get_length(), 0);
    EXPECT_EQ(motif.get_naed(), 0.0);
    EXPECT_TRUE(motif.get_representative().empty());
    EXPECT_TRUE(motif.get_average_occurrences().empty());
    EXPECT_TRUE(motif.get_best_matches().empty());
}

TEST(MotifMapping, WorkedExampleIsExact) {
    Motif motif = WorkedMotif();
    motif.map(kWorkedSeries, 2);
    EXPECT_EQ(motif.get_length(), 4);
    ExpectWorkedStatistics(motif);
    EXPECT_TRUE(Same(motif.get_occurrence(kWorkedSeries[0], 2), {4, 5, 6, NaN}));
    EXPECT_TRUE(Same(motif.get_occurrence(kWorkedSeries[0], 4), {NaN, NaN, NaN, NaN}));
}

TEST(MotifMapping, MappingAgainRecomputesEverything) {
    Motif motif = WorkedMotif();
    motif.map(kWorkedSeries, 2);
    motif.map({{9, 8, 7, 6, 5}, {-1, -2, -3}}, 1);
    EXPECT_EQ(motif.get_average_occurrences(), (Averages{{0, {8, 7}}, {1, {-2, -3}}}));
    motif.map(kWorkedSeries, 2);
    EXPECT_EQ(motif.get_length(), 4);
    ExpectWorkedStatistics(motif);
}

TEST(MotifMapping, MappingAgainKeepsEachSeriesPlaceInTheTables) {
    // Series recorded after a first mapping join the tables after the others,
    // as they would join a std::unordered_map; the others keep their place.
    std::mt19937 rng(3);
    std::vector<int> first(400), later(300);
    for (int& s : first) s = static_cast<int>(rng() % 5000);
    for (int& s : later) s = static_cast<int>(rng() % 5000);
    const SeriesSet ts(5000, Values{1, 2, 3});
    Motif motif(Pattern{'a'});
    std::unordered_map<int, int> expected;
    for (int s : first) motif.record_index(s, 0);
    motif.map(ts, 1);
    for (const auto& entry : motif.occurrences()) expected[entry.first] = 0;
    for (int s : later) motif.record_index(s, 1);
    motif.map(ts, 2);
    for (const auto& entry : motif.occurrences()) expected[entry.first] = 0;
    std::vector<int> wanted, averaged, matched;
    for (const auto& entry : expected) wanted.push_back(entry.first);
    for (const auto& entry : motif.get_average_occurrences()) averaged.push_back(entry.first);
    for (const auto& entry : motif.get_best_matches()) matched.push_back(entry.first);
    EXPECT_EQ(averaged, wanted);
    EXPECT_EQ(matched, wanted);
}

TEST(MotifMapping, AllNaNSeriesAddsNothingButCountsInTheNaed) {
    Motif motif = Recorded(2, {{0, 1}, {0, 0}, {1, 0}, {1, 1}});
    motif.map({{NaN, NaN, NaN}, {0, 2, 4}}, 1);
    EXPECT_TRUE(Same(motif.get_average_occurrences()[0], {NaN, NaN}));
    EXPECT_EQ(motif.get_representative(), (Values{1, 3}));
    // Series 0: distance 0.0 everywhere, its first position wins.
    EXPECT_EQ(motif.get_best_matches(), (Matches{{0, 1}, {1, 0}}));
    EXPECT_EQ(motif.get_naed(), std::sqrt(2.0) / 4);
}

TEST(MotifMapping, PointMissingFromEveryOccurrenceIsNaN) {
    Motif motif = Recorded(2, {{0, 2}});
    motif.map({{1, 2, 3}}, 1);
    EXPECT_TRUE(Same(motif.get_average_occurrences()[0], {3, NaN}));
    EXPECT_TRUE(Same(motif.get_representative(), {3, NaN}));
    EXPECT_EQ(motif.get_naed(), 0.0);

    Motif two_series = Recorded(2, {{0, 2}, {1, 0}});
    two_series.map({{1, 2, 3}, {5, 7}}, 1);
    EXPECT_EQ(two_series.get_representative(), (Values{4, 7}));
}

TEST(MotifMapping, RepresentativeIsBuiltFromEqualShares) {
    Motif motif = Recorded(1, {{0, 0}, {1, 0}, {2, 0}});
    motif.map({{0.9}, {0.9}, {0.9}}, 1);
    // Three shares of 0.9 / 3 do not add up to 0.9 in double.
    EXPECT_EQ(motif.get_representative(), Values{0.9 / 3 + 0.9 / 3 + 0.9 / 3});
    EXPECT_NE(motif.get_representative(), Values{0.9});
}

TEST(MotifMapping, TiesKeepTheEarlierPosition) {
    Motif motif = Recorded(1, {{0, 2}, {0, 0}, {0, 1}});
    motif.map({{1, 5, 3}}, 1);  // 1 and 5 lie at the same distance from 3
    EXPECT_EQ(motif.get_best_matches(), (Matches{{0, 2}}));
}

TEST(MotifMapping, NoDistanceBelowAMillionGivesPointZero) {
    Motif far = Recorded(1, {{0, 1}, {1, 1}});
    far.map({{7, 0}, {9, 2e6}}, 1);  // both distances exactly 1e6
    EXPECT_EQ(far.get_best_matches(), (Matches{{0, 0}, {1, 0}}));
    EXPECT_EQ(far.get_naed(), 1e6);

    Motif nan_distance = Recorded(1, {{0, 1}, {1, 1}});
    const double inf = std::numeric_limits<double>::infinity();
    nan_distance.map({{1, inf}, {1, -inf}}, 1);  // the representative is NaN
    EXPECT_EQ(nan_distance.get_best_matches(), (Matches{{0, 0}, {1, 0}}));
    EXPECT_EQ(nan_distance.get_naed(), 1e6);
}

TEST(MotifMapping, BestMatchIsAPointIndex) {
    Motif motif = Recorded(1, {{0, 3}});
    motif.map({std::vector<double>(16, 1.0)}, 4);
    EXPECT_EQ(motif.get_best_matches(), (Matches{{0, 12}}));
    EXPECT_EQ(motif.get_indexes()[0], std::vector<int>{3});
}

TEST(MotifMapping, WithoutOccurrencesNaedIsNaN) {
    Motif motif(Pattern{'a', 'b'});
    motif.map(kWorkedSeries, 3);
    EXPECT_EQ(motif.get_representative(), Values(6, 0.0));
    EXPECT_TRUE(motif.get_average_occurrences().empty());
    EXPECT_TRUE(motif.get_best_matches().empty());
    EXPECT_TRUE(std::isnan(motif.get_naed()));
}

TEST(MotifMapping, EmptyPatternTakesTheFirstPositions) {
    Motif motif = Recorded(0, {{0, 2}, {0, 1}, {1, 0}});
    motif.map(kWorkedSeries, 2);
    EXPECT_EQ(motif.get_length(), 0);
    EXPECT_TRUE(motif.get_representative().empty());
    EXPECT_EQ(motif.get_average_occurrences(), (Averages{{0, {}}, {1, {}}}));
    EXPECT_EQ(motif.get_best_matches(), (Matches{{0, 4}, {1, 0}}));
    EXPECT_TRUE(std::isnan(motif.get_naed()));
}

TEST(MotifMapping, NegativePositionReadsNothingBeforeTheSeries) {
    Motif motif = Recorded(2, {{0, -1}});
    motif.map({{1, 2, 3, 4}}, 2);
    EXPECT_TRUE(Same(motif.get_average_occurrences()[0], {NaN, NaN, 1, 2}));
    EXPECT_EQ(motif.get_best_matches(), (Matches{{0, -2}}));
    // Cut out, an occurrence is NaN wherever the averages skip its points.
    EXPECT_TRUE(Same(motif.get_occurrence({1, 2, 3, 4}, -1), {NaN, NaN, 1, 2}));
    EXPECT_TRUE(Same(motif.get_occurrence({1, 2, 3, 4}, -5), {NaN, NaN, NaN, NaN}));
}

TEST(MotifMappingFailure, OverflowingPointCountsAreLengthErrors) {
    const std::string message = "cannot create std::vector larger than max_size()";
    Motif motif = WorkedMotif();
    motif.map(kWorkedSeries, 2);
    for (int seglen : {INT_MAX, INT_MIN, 1 << 30}) {
        try {
            motif.map(kWorkedSeries, seglen);
            ADD_FAILURE() << "seglen " << seglen << " was accepted";
        } catch (const std::length_error& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_EQ(motif.get_length(), 4);
        ExpectWorkedStatistics(motif);
    }

    for (int position : {1 << 16, INT_MIN}) {
        Motif one_symbol = Recorded(1, {{0, position}});
        EXPECT_THROW(one_symbol.map(kWorkedSeries, 1 << 16), std::length_error);
    }
}

TEST(MotifMappingFailure, NegativeSeglenStoresLengthAndKeepsStatistics) {
    Motif motif = WorkedMotif();
    motif.map(kWorkedSeries, 2);
    EXPECT_THROW(motif.map(kWorkedSeries, -1), std::length_error);
    EXPECT_EQ(motif.get_length(), -2);
    ExpectWorkedStatistics(motif);
}

TEST(MotifMappingFailure, SeriesIndexOutsideTheSetIsOutOfRange) {
    for (int series : {2, -1}) {
        Motif motif = Recorded(1, {{0, 0}, {series, 0}});
        EXPECT_THROW(motif.map(kWorkedSeries, 1), std::out_of_range);
    }
}

TEST(MotifRecording, RecordIndexesEqualsRecordIndexOneByOne) {
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        Motif one(Pattern{'a'});
        Motif batch(Pattern{'a'});
        std::vector<int> order;
        for (int k = 0; k < static_cast<int>(rng() % 300); ++k) order.push_back(static_cast<int>(rng() % 500));
        for (int series : order) {
            std::vector<int> positions(rng() % 3);
            for (int& p : positions) p = static_cast<int>(rng() % 50);
            for (int p : positions) one.record_index(series, p);
            batch.record_indexes(series, positions.data(), positions.data() + positions.size());
        }
        using Entries = std::vector<std::pair<int, std::vector<int>>>;
        const auto& a = one.occurrences();
        const auto& b = batch.occurrences();
        // Same entries in the same iteration order.
        ASSERT_EQ(Entries(a.begin(), a.end()), Entries(b.begin(), b.end()));
    }
}

TEST(MotifRecording, TableOrderIsTheOrderOfTheIndexesTable) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        // Distinct series in a random first-recorded order, some far apart.
        std::vector<int> series;
        const int count = static_cast<int>(rng() % 2500);
        for (int i = 0; i < count; ++i) series.push_back(round % 3 == 0 ? i * 7919 : i);
        std::shuffle(series.begin(), series.end(), rng);
        Motif motif(Pattern{'a'});
        for (int s : series) motif.record_index(s, 0);
        std::vector<int> walked;
        for (std::size_t i : Motif::table_order(series)) walked.push_back(series[i]);
        std::vector<int> expected;
        for (const auto& entry : motif.occurrences()) expected.push_back(entry.first);
        ASSERT_EQ(walked, expected) << "round " << round;
    }
}

TEST(MotifRecording, ReplayedTableOrderIsTheBuiltTablesOrder) {
    // Keys of every kind the table may see: dense, sparse, negative (their
    // hash codes need more than 32 bits), repeated, and sizes across the
    // table's growth steps.
    std::mt19937 rng(12);
    for (int round = 0; round < 400; ++round) {
        std::vector<int> keys;
        const int count = round < 40 ? round : static_cast<int>(rng() % 6000);
        for (int i = 0; i < count; ++i) {
            switch (round % 4) {
                case 0:
                    keys.push_back(i);
                    break;
                case 1:
                    keys.push_back(static_cast<int>(rng() % 100000));
                    break;
                case 2:
                    keys.push_back(static_cast<int>(rng() % 2000000000) - 1000000000);
                    break;
                default:
                    keys.push_back(static_cast<int>(rng() % (count / 2 + 1)));
                    break;  // many repeats
            }
        }
        if (round % 5 == 0) keys.push_back(INT_MIN);
        std::shuffle(keys.begin(), keys.end(), rng);
        const std::vector<std::size_t> built = built_table_order(keys);
        ASSERT_EQ(hash_table_order(keys), built) << "round " << round;
        std::vector<int> sorted = keys;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) {
            ASSERT_EQ(distinct_table_order(keys), built) << "round " << round;
        }
    }
}
