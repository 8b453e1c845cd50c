#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "discovery/join.h"

namespace {

// AR(1) noise (coefficient 0.9) times `scale`, a sweep of 40 points, 2 to 12
// cycles, at `at`, and a constant stretch at [flat, flat + 100) unless `flat` is 0.
std::vector<double> series(std::size_t size, unsigned seed, std::size_t at, std::size_t flat, double scale) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> values(size);
    double level = 0.0;
    for (std::size_t i = 0; i < size; ++i) values[i] = level = 0.9 * level + step(rng);
    for (std::size_t i = flat; flat > 0 && i < flat + 100; ++i) values[i] = 5.0;
    for (std::size_t k = 0; k < 40; ++k) {
        const double t = static_cast<double>(k) / 40.0;
        values[at + k] += 4.0 * std::sin(2.0 * M_PI * (2.0 * t + 5.0 * t * t));
    }
    for (double& v : values) v *= scale;
    return values;
}

struct Views {
    std::vector<double> a, b, white_a, white_b;
    Refiner raw, white;
    BothViews both;

    Views(std::vector<double> first, std::vector<double> second, std::size_t m, double phi)
        : a(std::move(first)),
          b(std::move(second)),
          white_a(whiten(a.data(), a.size(), phi)),
          white_b(whiten(b.data(), b.size(), phi)),
          raw(SeriesViews{{a.data(), a.size()}, {b.data(), b.size()}}, m, 0.05),
          white(SeriesViews{{white_a.data(), white_a.size()}, {white_b.data(), white_b.size()}}, m - 1, 0.05),
          both{raw, white, phi} {
        for (std::size_t s = 0; s < 2; ++s) white.mark_flat(s, raw.window_stats_of(s));
    }
};

}  // namespace

// The join's pairs against every window of a compared directly with all of b
// (distance profiles of both views): each partner is the window of b closest
// to its window of a, pairs come closest first, the planted shape first of
// all, and neither the rows updated in O(1) nor the data's scale change that.
TEST(Join, PairsAreTheClosestWindowsComparedDirectly) {
    const std::size_t m = 40;
    const Views views(series(700, 3, 430, 0, 1.0), series(650, 4, 300, 450, 1.0), m, 0.9);
    const std::vector<SeedPlace> places = joined_places(views.both, 0, 1, 60);
    ASSERT_GE(places.size(), 40u);
    EXPECT_EQ(places[0].series, 0u);
    EXPECT_EQ(places[1].series, 1u);
    EXPECT_LT(std::abs(places[0].start - 430), static_cast<long long>(m / 2));
    EXPECT_EQ(places[1].start - places[0].start, 300 - 430);
    double previous = 0.0;
    std::vector<double> profile, scratch;
    for (std::size_t p = 0; p < places.size(); p += 2) {
        const auto i = static_cast<std::size_t>(places[p].start);
        EXPECT_FALSE(places[p + 1].start >= 450 && places[p + 1].start + static_cast<long long>(m) <= 550)
            << "a flat window of b";
        const std::vector<double> shape = znormalised_window(views.a.data(), i, m, views.raw.window_stats_of(0));
        views.both.profile(shape, whitened_shape(shape, 0.9), 1, profile, scratch);
        const auto closest = std::min_element(profile.begin(), profile.end());
        EXPECT_EQ(places[p + 1].start, closest - profile.begin()) << "window " << i;
        EXPECT_GE(*closest, previous - 1e-6);
        previous = *closest;
    }

    for (const double scale : {1e-100, 1e100}) {
        const Views scaled(series(700, 3, 430, 0, scale), series(650, 4, 300, 450, scale), m, 0.9);
        const std::vector<SeedPlace> again = joined_places(scaled.both, 0, 1, 60);
        ASSERT_EQ(again.size(), places.size());
        for (std::size_t p = 0; p < places.size(); ++p) EXPECT_EQ(again[p].start, places[p].start);
    }
    EXPECT_TRUE(joined_places(views.both, 0, 1, 0).empty());
}

TEST(Join, PairsTakeTheSampleInTwosWithinTheBudget) {
    using Pairs = std::vector<std::pair<std::size_t, std::size_t>>;
    const std::vector<std::size_t> windows(5, 900);
    EXPECT_EQ(join_pairs(windows, 4, 4000000), (Pairs{{0, 1}, {2, 3}}));
    EXPECT_EQ(join_pairs(windows, 1, 4000000), (Pairs{{0, 1}}));
    EXPECT_EQ(join_pairs(windows, 4, 1000000), (Pairs{{0, 1}}));
    EXPECT_TRUE(join_pairs(windows, 4, 800000).empty());
    EXPECT_TRUE(join_pairs({900}, 4, 4000000).empty());
    const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
    EXPECT_TRUE(join_pairs({huge, 4}, 4, std::numeric_limits<std::size_t>::max()).empty());
}
