#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

#include "discovery/chance.h"
#include "discovery/lengths.h"
#include "discovery/refine.h"

namespace {

std::vector<double> amplitudes(const std::vector<double>& x) {
    const double pi = std::acos(-1.0);
    std::vector<double> out;
    for (std::size_t k = 0; k <= x.size() / 2; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t j = 0; j < x.size(); ++j)
            sum += x[j] * std::polar(1.0, -2.0 * pi * static_cast<double>(k * j) / static_cast<double>(x.size()));
        out.push_back(std::abs(sum));
    }
    return out;
}

}  // namespace

// A surrogate keeps the amplitude of every frequency of a z-normalised shape
// (odd and even lengths), is z-normalised, the same for a seed and another
// for another seed.
TEST(Surrogate, KeepsTheSpectrumAndDrawsThePhases) {
    for (std::size_t m : {31u, 64u}) {
        std::vector<double> shape(m);
        for (std::size_t j = 0; j < m; ++j) shape[j] = std::sin(0.3 * static_cast<double>(j)) + 0.01 * (j % 7);
        double mean = 0.0, squares = 0.0;
        for (double v : shape) mean += v / static_cast<double>(m);
        for (double& v : shape) {
            v -= mean;
            squares += v * v;
        }
        for (double& v : shape) v /= std::sqrt(squares / static_cast<double>(m));

        const std::vector<double> one = surrogate(shape, 7), again = surrogate(shape, 7), other = surrogate(shape, 8);
        ASSERT_EQ(one.size(), m);
        EXPECT_EQ(one, again);
        EXPECT_NE(one, other);
        const std::vector<double> want = amplitudes(shape), got = amplitudes(one);
        for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], 1e-9) << m << " " << k;
        double sum = 0.0, sq = 0.0;
        for (double v : one) {
            sum += v;
            sq += v * v;
        }
        EXPECT_NEAR(sum, 0.0, 1e-9);
        EXPECT_NEAR(sq / static_cast<double>(m), 1.0, 1e-9);
    }
    EXPECT_TRUE(surrogate(std::vector<double>(16, 0.0), 1).empty());
}

// Chance scores on a power of the length are given back exactly, scatter at
// one length is smoothed by its neighbours, and one length gives its mean.
TEST(ChanceLevels, FitAPowerOfTheLength) {
    ChanceLevels exact;
    for (std::size_t m : {40u, 80u, 160u, 320u}) exact.add(m, 0.8 * std::pow(static_cast<double>(m), 0.1));
    EXPECT_NEAR(exact.at(113), 0.8 * std::pow(113.0, 0.1), 1e-12);
    EXPECT_NEAR(exact.at(1000), 0.8 * std::pow(1000.0, 0.1), 1e-12);

    ChanceLevels one;
    one.add(50, 0.9);
    one.add(50, 1.1);
    EXPECT_NEAR(one.at(10), std::sqrt(0.99), 1e-12);
    EXPECT_EQ(ChanceLevels().at(50), 1.0);
}

TEST(LengthGrid, StepsOfASixthOfAnOctaveWithBothEnds) {
    const std::vector<std::size_t> grid = length_grid(40, 320);
    EXPECT_EQ(grid.front(), 40u);
    EXPECT_EQ(grid.back(), 320u);
    EXPECT_EQ(grid.size(), 19u);
    for (std::size_t i = 1; i < grid.size(); ++i) {
        const double step = static_cast<double>(grid[i]) / static_cast<double>(grid[i - 1]);
        EXPECT_GT(step, 1.05);
        EXPECT_LT(step, 1.2);
    }
    EXPECT_EQ(length_grid(4, 5), (std::vector<std::size_t>{4, 5}));
    EXPECT_EQ(length_grid(9, 9), (std::vector<std::size_t>{9}));
}

// Across lengths, two best matches are at one place when they overlap by more
// than the share of the shorter window: a short motif inside a long one's
// windows is the long one's place; beside them, a place of its own.
TEST(DistinctPlaces, AcrossLengthsOverlapIsOfTheShorter) {
    Candidate longer, inside, beside;
    longer.best = {100, 300, 500};
    inside.best = {150, 330, 560};  // 40 points within each 200-point window
    beside.best = {310, 520, 710};  // just after them
    const std::vector<Candidate> candidates{longer, inside, beside};
    const std::vector<std::size_t> lengths{200, 40, 40}, order{0, 1, 2};
    EXPECT_EQ(distinct_places(candidates, lengths, order, 0.5, 10, 0.25), (std::vector<std::size_t>{0, 2}));
}
