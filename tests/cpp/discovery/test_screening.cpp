#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "discovery/refine.h"
#include "discovery/screening.h"
#include "discovery/sliding_dot.h"

namespace {

std::vector<double> walk(std::size_t size, double scale, double level, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> values(size);
    double at = 0.0;
    for (double& v : values) {
        at += step(rng);
        v = (level + at + step(rng)) * scale;
    }
    return values;
}

}  // namespace

// The transform against the direct products, on series far from zero and at
// extreme scales, including shapes longer than half the series and a shape
// as long as the series.
TEST(SlidingDot, TransformAgreesWithDirectProducts) {
    for (const auto& [size, m] : {std::pair<std::size_t, std::size_t>{1000, 100}, {1000, 427}, {4097, 600}, {64, 64}}) {
        for (double scale : {1.0, 1e-100, 1e100}) {
            const std::vector<double> values = walk(size, scale, 1e3, static_cast<unsigned>(size + m));
            const WindowStats stats = window_stats(values.data(), size, m, 0.0);
            const std::vector<double> shape = znormalised_window(values.data(), size - m, m, stats);
            std::vector<double> direct(size - m + 1), fast(size - m + 1);
            sliding_dot_direct(shape.data(), m, values.data(), size, direct.data());
            sliding_dot_fft(shape.data(), m, values.data(), size, fast.data());
            for (std::size_t i = 0; i < direct.size(); ++i) {
                // Relative to the norms of the shape (sqrt m) and of the window.
                const double norm = std::sqrt(static_cast<double>(m)) * std::sqrt(static_cast<double>(m)) *
                                    (stats.sd[i] + std::abs(stats.mean[i]));
                ASSERT_NEAR(direct[i] / norm, fast[i] / norm, 1e-9) << size << " " << m << " " << scale << " " << i;
            }
            // Distances come out the same either way, whatever the scale.
            std::vector<double> profile(size - m + 1);
            distance_profile(shape.data(), m, values.data(), size, stats, profile.data());
            EXPECT_NEAR(profile[size - m], 0.0, 1e-6);
        }
    }
    EXPECT_FALSE(sliding_dot_prefers_fft(16, 1000));
    EXPECT_TRUE(sliding_dot_prefers_fft(2000, 100000));
    EXPECT_FALSE(sliding_dot_prefers_fft(150, 1000));
}

TEST(Screening, MergesCandidatesCutFromOnePlace) {
    // Series 0: 100 and 105 are one place, 130 another; series 1 keeps its own.
    const std::vector<SeedPlace> places{{0, 100}, {0, 105}, {1, 103}, {0, 130}, {0, 96}, {1, 200}};
    EXPECT_EQ(merge_places(places, 10), (std::vector<std::size_t>{0, 2, 3, 5}));
    EXPECT_EQ(merge_places(places, 1).size(), places.size());
    EXPECT_EQ(merge_distance(0.125, 100), 13);
    EXPECT_EQ(merge_distance(0.0, 100), 1);
}

TEST(Screening, SampleIsSpreadAndBoundedByPoints) {
    const std::vector<std::size_t> lengths(40, 1000);
    // 8,000 points: 8 series, every fifth from the first.
    EXPECT_EQ(screening_sample(lengths, 8000, 4), (std::vector<std::size_t>{0, 5, 10, 15, 20, 25, 30, 35}));
    EXPECT_EQ(screening_sample(lengths, 1000, 4).size(), 4u);  // at least `fewest`
    EXPECT_EQ(screening_sample(lengths, 0, 4).size(), 40u);    // 0: every series
    EXPECT_EQ(screening_sample(lengths, 1u << 30, 4).size(), 40u);
    EXPECT_TRUE(screening_sample({}, 8000, 4).empty());
}
