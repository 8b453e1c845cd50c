#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/pool.h"
#include "engine/miner.h"
#include "engine/patterns.h"
#include "engine/sax.h"
#include "parallel/pipeline.h"

namespace {

// Random walks of unequal lengths, some with a NaN point, one flat.
SeriesSet walks(unsigned seed, std::size_t count, std::size_t length) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> step;
    std::uniform_int_distribution<std::size_t> extra(0, length / 3);
    SeriesSet ts(count);
    for (std::size_t s = 0; s < count; ++s) {
        double value = 0.0;
        ts[s].resize(length - extra(gen));
        for (double& v : ts[s]) v = value += step(gen);
        if (s % 7 == 3) ts[s][ts[s].size() / 2] = std::numeric_limits<double>::quiet_NaN();
    }
    ts.back().assign(length, 2.5);
    return ts;
}

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::vector<std::uint64_t> bits(const std::vector<double>& values) {
    std::vector<std::uint64_t> result;
    for (double v : values) result.push_back(bits(v));
    return result;
}

// Every statistic of a motif, maps in their iteration order, doubles as bits.
std::string describe(Motif motif) {
    std::string text(motif.get_pattern().begin(), motif.get_pattern().end());
    text += " length " + std::to_string(motif.get_length()) + " naed " + std::to_string(bits(motif.get_naed()));
    for (const auto& [s, positions] : motif.get_indexes()) {
        text += " | " + std::to_string(s) + ":";
        for (int p : positions) text += " " + std::to_string(p);
    }
    for (const auto& [s, averages] : motif.get_average_occurrences()) {
        text += " | avg " + std::to_string(s) + ":";
        for (std::uint64_t b : bits(averages)) text += " " + std::to_string(b);
    }
    text += " | rep";
    for (std::uint64_t b : bits(motif.get_representative())) text += " " + std::to_string(b);
    for (const auto& [s, point] : motif.get_best_matches())
        text += " | best " + std::to_string(s) + ":" + std::to_string(point);
    return text;
}

std::vector<std::string> describe(const std::vector<Motif>& motifs) {
    std::vector<std::string> result;
    for (const Motif& m : motifs) result.push_back(describe(m));
    return result;
}

// On several threads, progress is reported from all of them.
std::vector<Motif> with_pool(const SeriesSet& ts, const MinerSettings& s, std::size_t threads,
                             std::size_t limit = kNoPatternLimit) {
    Pool pool(threads);
    Runner runner = pool.runner();
    std::atomic<std::size_t> reports{0};
    if (threads > 1) runner.progress = [&](const char*, std::size_t, std::size_t) { reports.fetch_add(1); };
    std::vector<Motif> result = mine_motifs(views_of(ts), s, limit, runner);
    if (threads > 1) {
        EXPECT_GT(reports.load(), ts.size());
    }
    return result;
}

// The ranking sees only NAED, so equal results above could hide NAED bits
// that differ without changing the order: every record is checked here.
TEST(MappedNaed, SameBitsAsMapOnEveryRecord) {
    SeriesSet ts = walks(3, 60, 200);
    znorm(ts);
    // Negative zeros and more missing values, which the NAED from occurrence
    // lists must treat exactly as the full mapping does.
    for (std::size_t s = 0; s < ts.size(); s += 3) {
        ts[s][s % ts[s].size()] = std::numeric_limits<double>::quiet_NaN();
        ts[s][(s * 7) % ts[s].size()] = -0.0;
    }
    PatternMiner miner(0.1, 1, 0, 1.0);
    miner.mine(sax(ts, 3, 4));
    NaedScratch scratch;
    std::size_t checked = 0;
    for (const auto& entry : miner.get_frequent()) {
        Motif mapped = entry.second;
        mapped.map(ts, 3);
        ASSERT_EQ(bits(entry.second.mapped_naed(ts, 3, scratch)), bits(mapped.get_naed())) << describe(mapped);
        ++checked;
    }
    EXPECT_GT(checked, 100u);
}

TEST(MineMotifs, SameAsMinerOnRandomWalksWithOneAndFourThreads) {
    const std::vector<MinerSettings> settings = {
        {0.3, 4, 4, 3, 0, 0.9, 0}, {0.5, 3, 3, 1, 0, 0.9, 5}, {0.2, 5, 5, 2, 4, 0.6, 1},
        {1.0, 2, 3, 3, 3, 1.0, 0}, {0.0, 8, 6, 1, 2, 0.9, 3},
    };
    unsigned seed = 1;
    for (const MinerSettings& s : settings) {
        const SeriesSet ts = walks(seed++, 40, 120);
        SeriesSet copy = ts;
        Miner miner(s.minsup, s.seglen, s.alphabet, s.min_len, s.max_len, s.max_overlap, s.k);
        const std::vector<std::string> expected = describe(miner.mine(copy));
        EXPECT_FALSE(expected.empty());
        for (std::size_t threads : {1, 4}) {
            EXPECT_EQ(describe(with_pool(ts, s, threads)), expected) << "minsup " << s.minsup << ", " << threads;
        }
    }
}

TEST(MineMotifs, ErrorsOfMinerAndThePatternLimit) {
    const SeriesSet ts = walks(9, 10, 60);
    EXPECT_THROW(with_pool(ts, {0.5, 4, 11, 3, 0, 0.9, 0}, 2), std::invalid_argument);
    EXPECT_THROW(with_pool(ts, {0.5, 0, 4, 3, 0, 0.9, 0}, 2), std::length_error);
    EXPECT_THROW(with_pool(ts, {0.5, 4, 4, 3, 0, 0.9, -1}, 2), std::length_error);
    // One-symbol patterns of 2^31 - 1 points each could never be mapped.
    EXPECT_THROW(with_pool(ts, {0.5, std::numeric_limits<int>::max(), 4, 1, 0, 0.9, 0}, 2), std::bad_alloc);

    // With min_len 1 and max_overlap 1.0 every pattern that passes the support test is a motif.
    const MinerSettings s{0.5, 4, 4, 1, 0, 1.0, 0};
    const std::size_t found = with_pool(ts, s, 1).size();
    EXPECT_EQ(with_pool(ts, s, 2, found).size(), found);
    EXPECT_THROW(with_pool(ts, s, 2, found - 1), TooManyPatterns);
}

}  // namespace
