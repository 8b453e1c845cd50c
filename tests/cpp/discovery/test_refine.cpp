#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "discovery/detrend.h"
#include "discovery/refine.h"

namespace {

std::vector<double> wave(std::size_t n, double offset) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = offset + std::sin(0.37 * static_cast<double>(i)) + 0.01 * static_cast<double>(i % 7);
    return x;
}

// Distance of the z-normalised windows, computed directly.
double direct(const std::vector<double>& q, const double* w, std::size_t m) {
    double mean = 0, sd = 0;
    for (std::size_t j = 0; j < m; ++j) mean += w[j];
    mean /= static_cast<double>(m);
    for (std::size_t j = 0; j < m; ++j) sd += (w[j] - mean) * (w[j] - mean);
    sd = std::sqrt(sd / static_cast<double>(m));
    double sum = 0;
    for (std::size_t j = 0; j < m; ++j) sum += (q[j] - (w[j] - mean) / sd) * (q[j] - (w[j] - mean) / sd);
    return std::sqrt(sum / static_cast<double>(m));
}

}  // namespace

TEST(Refine, WindowStatisticsStayExactFarFromZero) {
    const std::size_t m = 16;
    const std::vector<double> x = wave(500, 1e8);
    const WindowStats stats = window_stats(x.data(), x.size(), m, 0.05);
    ASSERT_EQ(stats.sd.size(), x.size() - m + 1);
    for (std::size_t i = 0; i < stats.sd.size(); ++i) {
        double mean = 0, sd = 0;
        for (std::size_t j = 0; j < m; ++j) mean += x[i + j] - 1e8;
        mean /= m;
        for (std::size_t j = 0; j < m; ++j) sd += (x[i + j] - 1e8 - mean) * (x[i + j] - 1e8 - mean);
        EXPECT_NEAR(stats.sd[i], std::sqrt(sd / m), 1e-6) << i;
    }
    EXPECT_EQ(stats.usable, stats.sd.size());
}

TEST(Refine, DistanceProfileMatchesDirectComputation) {
    const std::size_t m = 12;
    const std::vector<double> x = wave(200, 3.0);
    const WindowStats stats = window_stats(x.data(), x.size(), m, 0.05);
    const std::vector<double> q = znormalised_window(x.data(), 40, m, stats);
    std::vector<double> out(x.size() - m + 1);
    distance_profile(q.data(), m, x.data(), x.size(), stats, out.data());
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], direct(q, x.data() + i, m), 1e-9) << i;
    EXPECT_NEAR(out[40], 0.0, 1e-7);
}

TEST(Refine, FlatWindowsAreFarthestAndNeverDivideByZero) {
    const std::size_t m = 10;
    std::vector<double> x = wave(100, 0.0);
    for (std::size_t i = 30; i < 60; ++i) x[i] = 5.0;  // a constant stretch
    const WindowStats stats = window_stats(x.data(), x.size(), m, 0.05);
    EXPECT_TRUE(stats.flat[35]);
    EXPECT_FALSE(stats.flat[0]);
    EXPECT_TRUE(znormalised_window(x.data(), 35, m, stats).empty());
    const std::vector<double> q = znormalised_window(x.data(), 0, m, stats);
    std::vector<double> out(x.size() - m + 1);
    distance_profile(q.data(), m, x.data(), x.size(), stats, out.data());
    for (std::size_t i = 30; i + m <= 60; ++i) EXPECT_EQ(out[i], 2.0);
    for (double d : out) EXPECT_TRUE(std::isfinite(d));

    const std::vector<double> constant(50, 1e6 + 0.1);
    EXPECT_EQ(window_stats(constant.data(), constant.size(), m, 0.0).usable, 0u);
    const Refiner refiner({{constant.data(), constant.size()}}, m, 0.05);
    EXPECT_FALSE(refiner.usable(0));
    EXPECT_TRUE(refiner.occurrences(q, 0, 2.0).empty());
}

TEST(Refine, RefinementFindsTheSameShapeEverywhereAndOccurrencesDoNotOverlap) {
    const std::size_t m = 20;
    std::vector<std::vector<double>> rows;
    for (int s = 0; s < 4; ++s) {
        std::vector<double> row(150);
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = 0.3 * std::sin(1.3 * static_cast<double>(i * (s + 2)));
        for (std::size_t j = 0; j < m; ++j) row[17 * s + 5 + j] += 4.0 * std::exp(-std::pow((j - 10.0) / 3.0, 2));
        rows.push_back(row);
    }
    SeriesViews views;
    for (const auto& r : rows) views.push_back({r.data(), r.size()});
    const Refiner refiner(views, m, 0.05);
    const std::vector<double> seed = znormalised_window(rows[0].data(), 5, m, refiner.window_stats_of(0));
    const Candidate c = refiner.refine(seed, 4, 2);
    for (int s = 0; s < 4; ++s) EXPECT_NEAR(c.best[s], 17 * s + 5, 1) << s;
    EXPECT_LT(c.score, 0.3);
    const std::vector<long long> found = refiner.occurrences(c.shape, 1, 1.9);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0], c.best[1]);
    for (std::size_t a = 0; a < found.size(); ++a)
        for (std::size_t b = a + 1; b < found.size(); ++b) EXPECT_GE(std::llabs(found[a] - found[b]), 10);
}

TEST(Refine, DistinctPlacesDropsCandidatesAtTheSamePlaces) {
    Candidate a, b, c;
    a.best = {10, 50, 90, -1};
    b.best = {14, 55, 200, 3};  // two of the three shared series within half of m
    c.best = {100, 150, 20, 3};
    EXPECT_EQ(distinct_places({a, b, c}, 20, 0.5), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(distinct_places({a, b, c}, 20, 0.9), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(distinct_places({a, b, c}, 20, 0.5, 1), (std::vector<std::size_t>{0}));
    // Starts 4 and 5 apart: windows overlapping by 16 and 15 of 20 points, not by more than 16.
    EXPECT_EQ(distinct_places({a, b, c}, 20, 0.5, 3, 0.8), (std::vector<std::size_t>{0, 1, 2}));
}

TEST(Refine, DetrendRemovesALineAwayFromTheEnds) {
    std::vector<double> x(100);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = 1e6 + 3.0 * static_cast<double>(i);
    const std::vector<double> flat = detrend(x.data(), x.size(), 11);
    for (std::size_t i = 5; i + 5 < x.size(); ++i) EXPECT_NEAR(flat[i], 0.0, 1e-6) << i;
    EXPECT_EQ(detrend(x.data(), x.size(), 1), x);
}

TEST(Refine, ScoreIsTheMeanOverTheClosestSeries) {
    const std::size_t m = 8;
    std::vector<std::vector<double>> rows;
    for (int s = 0; s < 3; ++s) rows.push_back(wave(60, s));
    rows.push_back(std::vector<double>(60, 1.0));  // flat: takes no part
    SeriesViews views;
    for (const auto& r : rows) views.push_back({r.data(), r.size()});
    const Refiner refiner(views, m, 0.05);
    EXPECT_EQ(refiner.usable_count(), 3u);
    const Candidate c = refiner.evaluate(znormalised_window(rows[0].data(), 3, m, refiner.window_stats_of(0)), 2);
    EXPECT_EQ(c.best[3], -1);
    std::vector<double> d(c.distance.begin(), c.distance.begin() + 3);
    std::sort(d.begin(), d.end());
    EXPECT_DOUBLE_EQ(c.score, (d[0] + d[1]) / 2);
}

TEST(Refine, ExactSumIsTheCorrectlyRoundedSumInAnyOrderAndGrouping) {
    const auto sum_of = [](const std::vector<double>& values) {
        ExactSum sum;
        for (double v : values) sum.add(v);
        return sum.value();
    };
    EXPECT_EQ(sum_of({1e100, 1.0, -1e100}), 1.0);
    EXPECT_EQ(sum_of(std::vector<double>(10, 0.1)), 1.0);        // plain addition gives 0.9999999999999999
    EXPECT_EQ(sum_of({1.0, 1e-16, 1e-16}), 1.0000000000000002);  // below half an ulp each, not together
    EXPECT_EQ(sum_of({}), 0.0);

    std::mt19937_64 rng(7);
    std::normal_distribution<double> normal;
    std::vector<double> values(2000);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = normal(rng) * std::pow(10.0, static_cast<double>(i % 9));
    const double whole = sum_of(values);
    for (int round = 0; round < 3; ++round) {
        std::shuffle(values.begin(), values.end(), rng);
        ExactSum left, right;
        for (std::size_t i = 0; i < values.size(); ++i) (i % 3 == 0 ? left : right).add(values[i]);
        left.add(right);
        EXPECT_EQ(left.value(), whole);
    }
}

TEST(Refine, ClosestSeriesBreakTiesBySeriesIndex) {
    const std::vector<double> distance{0.5, 0.2, 0.5, 0.1, 0.5};
    const std::vector<long long> best{3, 0, 7, -1, 1};  // series 3 has no match
    EXPECT_EQ(closest_series(distance, best, 3), (std::vector<std::size_t>{1, 0, 2}));
    EXPECT_EQ(closest_series(distance, best, 9), (std::vector<std::size_t>{1, 0, 2, 4}));
    EXPECT_EQ(score_of(distance, best, 2), (0.2 + 0.5) / 2);
}
