#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "engine/sax.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Pattern word(const char* letters) { return Pattern(letters, letters + std::char_traits<char>::length(letters)); }

TEST(Breakpoints, RowsHoldOneFewerCutThanLettersInAscendingOrder) {
    ASSERT_EQ(breakpoints.size(), 11u);
    EXPECT_TRUE(breakpoints[0].empty());
    EXPECT_TRUE(breakpoints[1].empty());
    for (std::size_t a = 2; a < breakpoints.size(); ++a) {
        ASSERT_EQ(breakpoints[a].size(), a - 1) << "alphabet " << a;
        for (std::size_t i = 1; i < breakpoints[a].size(); ++i) EXPECT_LT(breakpoints[a][i - 1], breakpoints[a][i]);
    }
    EXPECT_EQ(breakpoints[10], (std::vector<double>{-1.28, -0.84, -0.52, -0.25, 0, 0.25, 0.52, 0.84, 1.28}));
}

TEST(DiscreteValue, ValueOnABreakpointTakesTheLowerSymbol) {
    EXPECT_EQ(get_discrete_value(4, 0.0), 'b');
    EXPECT_EQ(get_discrete_value(4, 0.67), 'c');
    EXPECT_EQ(get_discrete_value(4, 0.6700001), 'd');
    EXPECT_EQ(get_discrete_value(4, -0.67), 'a');
    EXPECT_EQ(get_discrete_value(2, 0.0), 'a');
    EXPECT_EQ(get_discrete_value(2, std::numeric_limits<double>::denorm_min()), 'b');
    EXPECT_EQ(get_discrete_value(3, -0.43), 'a');
    EXPECT_EQ(get_discrete_value(3, 0.43), 'b');
    EXPECT_EQ(get_discrete_value(3, 0.44), 'c');
}

TEST(DiscreteValue, InfinitiesNanAndTinyAlphabets) {
    EXPECT_EQ(get_discrete_value(10, kInf), 'j');
    EXPECT_EQ(get_discrete_value(10, -kInf), 'a');
    for (int a = 0; a <= 10; ++a) EXPECT_EQ(get_discrete_value(a, kNaN), 'a') << "alphabet " << a;
    for (double v : {-1e300, -1.0, 0.0, 1.0, 1e300}) {
        EXPECT_EQ(get_discrete_value(0, v), 'a');
        EXPECT_EQ(get_discrete_value(1, v), 'a');
    }
}

TEST(DiscreteValue, AlphabetOutsideTheTableIsRefused) {
    for (int a : {-1, 11, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        EXPECT_THROW(get_discrete_value(a, 0.0), std::invalid_argument) << "alphabet " << a;
    }
    try {
        get_discrete_value(11, 0.0);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "alphabet must be between 0 and 10, got 11");
    }
}

TEST(Znorm, UsesThePopulationDeviation) {
    SeriesSet ts = {{1.0, 2.0, 3.0}};
    znorm(ts);
    EXPECT_EQ(ts[0], (std::vector<double>{-1.224744871391589, 0.0, 1.224744871391589}));
}

TEST(Znorm, FlatSeriesAreDividedWithoutAThreshold) {
    SeriesSet ts = {{5.0}, {5.0, 5.0, 5.0, 5.0}, {0.1, 0.1, 0.1}, {}, {1.0, 2.0, 3.0}};
    znorm(ts);
    EXPECT_TRUE(std::isnan(ts[0][0]));
    ASSERT_EQ(ts[1].size(), 4u);
    for (double v : ts[1]) EXPECT_TRUE(std::isnan(v));
    // The computed mean of 0.1, 0.1, 0.1 lies one ulp above 0.1.
    EXPECT_EQ(ts[2], (std::vector<double>{-1.0, -1.0, -1.0}));
    EXPECT_TRUE(ts[3].empty());
    EXPECT_EQ(ts[4][1], 0.0);
}

TEST(Znorm, ANanAnywhereMakesTheWholeSeriesNan) {
    SeriesSet ts = {{1.0, kNaN, 3.0}};
    znorm(ts);
    for (double v : ts[0]) EXPECT_TRUE(std::isnan(v));
}

TEST(Znorm, FourScalesAtOnceGiveEachSeriesItsOwnBits) {
    std::mt19937 rng(5);
    std::normal_distribution<double> value(3.0, 7.0);
    for (int round = 0; round < 40; ++round) {
        // Sizes from empty up; flat and NaN series too.
        const std::size_t size = round % 4 == 3 ? rng() % 50 : 333;
        SeriesSet four(4, std::vector<double>(size));
        for (std::vector<double>& series : four) {
            for (double& v : series) v = value(rng);
        }
        if (round % 5 == 1) std::fill(four[1].begin(), four[1].end(), 0.25);
        if (round % 5 == 2 && size > 0) four[2][size / 2] = kNaN;
        SeriesSet alone = four;
        znorm(alone);
        const double* const values[4] = {four[0].data(), four[1].data(), four[2].data(), four[3].data()};
        Scale scales[4];
        scales_of_four(values, size, scales);
        for (std::size_t s = 0; s < 4; ++s) {
            std::vector<double> scaled(size);
            write_scaled(four[s].data(), size, scales[s], scaled.data());
            for (std::size_t i = 0; i < size; ++i) {
                ASSERT_TRUE(scaled[i] == alone[s][i] || (std::isnan(scaled[i]) && std::isnan(alone[s][i])))
                    << "round " << round << " series " << s << " point " << i;
            }
        }
    }
}

TEST(GetRow, ShortLastSegmentIsAveragedOverSeglen) {
    // 2.0 / 4 = 0.5 lies above 0.43.
    EXPECT_EQ(get_row({1.0, 1.0}, 4, 3), word("c"));
    // The fourth segment holds only the tenth value: 3.0 / 3 = 1.0 -> c, not 3.0.
    std::vector<double> ten = {-1, -1, -1, 0, 0, 0, 1, 1, 1, 3.0};
    EXPECT_EQ(get_row(ten, 3, 3), word("abcc"));
    std::vector<double> ten_low = {-1, -1, -1, 0, 0, 0, 1, 1, 1, 0.3};
    EXPECT_EQ(get_row(ten_low, 3, 3), word("abcb"));
}

TEST(GetRow, WordLengthIsTheCeilingOfSizeOverSeglen) {
    EXPECT_EQ(get_row(std::vector<double>(8, 0.0), 4, 3).size(), 2u);
    EXPECT_EQ(get_row(std::vector<double>(10, 0.0), 3, 3).size(), 4u);
    EXPECT_EQ(get_row(std::vector<double>(3, 0.0), 1000000, 3).size(), 1u);
    EXPECT_TRUE(get_row({}, 3, 3).empty());
    EXPECT_TRUE(get_row({}, -1, 3).empty());
}

TEST(GetRow, NoWordLengthFailsWithALengthError) {
    EXPECT_THROW(get_row({}, 0, 3), std::length_error);
    EXPECT_THROW(get_row({1.0}, 0, 3), std::length_error);
    EXPECT_THROW(get_row({1.0}, -1, 3), std::length_error);
    EXPECT_THROW(get_row({1.0}, std::numeric_limits<int>::min(), 3), std::length_error);
    try {
        get_row({1.0}, 0, 3);
        FAIL();
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "cannot create std::vector larger than max_size()");
    }
}

TEST(Sax, OneWordPerSeriesLeavingTheInputUnchanged) {
    const SeriesSet ts = {{-1.0, 0.0, 1.0}, {}, {2.0, 2.0, -2.0, -2.0}};
    const SeriesSet before = ts;
    const WordSet words = sax(ts, 1, 3);
    EXPECT_EQ(words, (WordSet{word("abc"), word(""), word("ccaa")}));
    EXPECT_EQ(ts, before);
    EXPECT_EQ(sax(ts, 1, 3), words);
    EXPECT_EQ(sax(ts, 2, 2), (WordSet{word("ab"), word(""), word("ba")}));
    EXPECT_TRUE(sax({}, 1, 3).empty());
}

TEST(Sax, NormalisingFirstKeepsTheWordOfASymmetricSeries) {
    SeriesSet ts = {{-1.0, 0.0, 1.0}};
    znorm(ts);
    EXPECT_EQ(sax(ts, 1, 3), (WordSet{word("abc")}));
}

TEST(Sax, BadSettingsFailBeforeAnyWork) {
    EXPECT_THROW(sax({}, 1, 11), std::invalid_argument);
    EXPECT_THROW(sax({}, 1, -1), std::invalid_argument);
    EXPECT_THROW(sax({{1.0}, {2.0}}, 0, 3), std::length_error);
    EXPECT_TRUE(sax({{}, {}}, -5, 3) == (WordSet{word(""), word("")}));
}

}  // namespace

TEST(Sax, ViewsGiveTheWordsOfTheSeries) {
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss;
    for (int round = 0; round < 100; ++round) {
        SeriesSet ts(rng() % 6);
        for (auto& series : ts) {
            series.resize(rng() % 200);
            for (double& v : series) v = gauss(rng);
        }
        SeriesViews views;
        for (const auto& series : ts) views.push_back({series.data(), series.size()});
        for (int seglen : {1, 2, 3, 4, 7, 10, 64, 1000}) {
            ASSERT_EQ(sax_views(views, seglen, 5), sax(ts, seglen, 5)) << "round " << round << ", seglen " << seglen;
            for (const auto& series : ts) ASSERT_EQ(get_row(series, seglen, 5), sax({series}, seglen, 5)[0]);
        }
    }
    EXPECT_THROW(sax_views({{nullptr, 1}}, 0, 3), std::length_error);
    EXPECT_THROW(sax_views({}, 1, 11), std::invalid_argument);
}
