#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/pool.h"
#include "discovery/discovery.h"

namespace {

// Noisy drifting series of unequal lengths, most with a bump of 40 points
// somewhere; one flat, one too short to take part.
SeriesSet collection(unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise;
    std::uniform_int_distribution<std::size_t> extra(0, 60);
    SeriesSet ts(24);
    for (std::size_t s = 0; s < ts.size(); ++s) {
        ts[s].resize(260 + extra(gen));
        double drift = 0.0;
        for (double& v : ts[s]) v = (drift += 0.1 * noise(gen)) + 0.3 * noise(gen);
        if (s % 5 == 4) continue;
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, ts[s].size() - 40)(gen);
        for (std::size_t j = 0; j < 40; ++j) ts[s][at + j] += 2.0 * std::exp(-std::pow((j - 20.0) / 6.0, 2));
    }
    ts[3].assign(280, 1.5);
    ts[7].resize(30);
    return ts;
}

// Every field of the result, doubles as bits.
std::string describe(const Discovery& found) {
    std::string text = std::to_string(found.candidates) + " candidates; flat";
    for (std::size_t s : found.flat_series) text += " " + std::to_string(s);
    auto add = [&](double v) {
        unsigned long long b;
        std::memcpy(&b, &v, sizeof b);
        text += " " + std::to_string(b);
    };
    for (const DiscoveredMotif& m : found.motifs) {
        text += "\n" + m.pattern + " " + std::to_string(m.length) + " score";
        add(m.score);
        add(m.chance);
        for (double v : m.shape) add(v);
        for (std::size_t s = 0; s < m.best.size(); ++s) {
            text += "\n " + std::to_string(m.best[s]) + " at";
            add(m.distance[s]);
            for (long long p : m.occurrences[s]) text += " " + std::to_string(p);
        }
    }
    return text;
}

}  // namespace

// One length, and a range of lengths (seed 3).
TEST(Discovery, SameResultOnThreadsWithProgressOfEveryStage) {
    DiscoverySettings settings;
    settings.length = 40;
    settings.seglen = 5;
    settings.detrend_window = 40;
    settings.k = 4;
    for (unsigned seed : {1u, 2u, 3u}) {
        if (seed == 3) {
            settings.length = 20;
            settings.max_length = 120;
            settings.detrend_window = 120;
        }
        const SeriesSet ts = collection(seed);
        const std::string expected = describe(discover(views_of(ts), settings));
        ASSERT_GT(expected.size(), 1000u);  // motifs were found
        Pool pool(3);
        Runner runner = pool.runner();
        std::mutex mutex;
        std::set<std::string> stages;
        runner.progress = [&](const char* stage, std::size_t done, std::size_t total) {
            std::lock_guard<std::mutex> lock(mutex);
            if (total != 0) {
                EXPECT_LE(done, total) << stage;
            }
            stages.insert(stage);
        };
        EXPECT_EQ(describe(discover(views_of(ts), settings, runner)), expected) << "seed " << seed;
        for (const char* stage : {kStagePrepare, kStageCandidates, kStageScreen, kStageRefine, kStageOccurrences})
            EXPECT_EQ(stages.count(stage), 1u) << stage;
    }
}

TEST(Discovery, StopsWhenAskedDuringRefinement) {
    DiscoverySettings settings;
    settings.length = 40;
    settings.seglen = 5;
    const SeriesSet ts = collection(3);
    Pool pool(2);
    Runner runner = pool.runner();
    runner.progress = [&](const char* stage, std::size_t, std::size_t) {
        if (std::string(stage) == kStageRefine) pool.request_stop();
    };
    EXPECT_THROW(discover(views_of(ts), settings, runner), PoolStopped);
}
