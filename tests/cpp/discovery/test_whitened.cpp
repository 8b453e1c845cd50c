#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "discovery/whitened.h"

namespace {

// AR(1) noise with coefficient 0.9, a constant stretch at [100, 160).
std::vector<double> ar1(std::size_t size, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> values(size);
    double at = 0.0;
    for (std::size_t i = 0; i < size; ++i) values[i] = at = 0.9 * at + step(rng);
    for (std::size_t i = 100; i < 160; ++i) values[i] = 5.0;
    return values;
}

}  // namespace

TEST(Whitened, CoefficientIsTheClampedMedianOfTheLags) {
    EXPECT_EQ(whitening_coefficient({}), 0.0);
    EXPECT_DOUBLE_EQ(whitening_coefficient({0.2, 0.9, 0.4}), 0.4);
    EXPECT_DOUBLE_EQ(whitening_coefficient({0.2, 0.4}), 0.30000000000000004);
    EXPECT_EQ(whitening_coefficient({-0.5, -0.2, 0.1}), 0.0);
    EXPECT_EQ(whitening_coefficient({0.99, 0.98}), 0.95);
    const std::vector<double> flat(50, 3.0);
    EXPECT_EQ(lag_one(flat.data(), flat.size()), 0.0);
    const std::vector<double> noise = ar1(20000, 1);
    EXPECT_NEAR(lag_one(noise.data(), noise.size()), 0.9, 0.03);
}

// A window is at distance 0 from itself in both views, a flat window is
// farthest, and the occurrences of a window include itself.
TEST(Whitened, BothViewsFindAWindowItselfAndSkipFlatOnes) {
    const std::size_t m = 40;
    const std::vector<double> values = ar1(600, 2);
    const double phi = 0.9;
    const std::vector<double> white_values = whiten(values.data(), values.size(), phi);
    ASSERT_EQ(white_values.size(), values.size() - 1);
    Refiner raw(SeriesViews{{values.data(), values.size()}}, m, 0.05);
    Refiner white(SeriesViews{{white_values.data(), white_values.size()}}, m - 1, 0.05);
    white.mark_flat(0, raw.window_stats_of(0));
    const BothViews views{raw, white, phi};
    const std::vector<double> shape = znormalised_window(values.data(), 300, m, raw.window_stats_of(0));
    const Candidate c = views.evaluate(shape, 1);
    EXPECT_EQ(c.best[0], 300);
    EXPECT_NEAR(c.distance[0], 0.0, 1e-6);
    std::vector<double> profile, scratch;
    views.profile(shape, whitened_shape(shape, phi), 0, profile, scratch);
    EXPECT_EQ(profile[110], 2.0);  // inside the constant stretch: flat in both views
    const std::vector<long long> found = views.occurrences(shape, 0, 0.5);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0], 300);
}
