#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "core/pool.h"
#include "core/progress.h"
#include "core/runner.h"

namespace {

using Snapshot = ProgressState::Snapshot;

// Pool threads report two stages while another thread reads, as the binding's
// waiting thread does; every stage read while it ran must be read again as it
// ended, at its total, and no count may go back.
TEST(Progress, StagesReadWhileThreadsReportEndAtTheirTotals) {
    const char* const first = "first";
    const char* const second = "second";
    ProgressState state;
    Pool pool(4);
    Runner runner = pool.runner();
    runner.progress = [&](const char* stage, std::size_t done, std::size_t total) { state.report(stage, done, total); };

    std::atomic<bool> finished{false};
    std::vector<Snapshot> seen;
    std::thread reader([&] {
        while (true) {
            const bool last = finished.load();
            auto [ended, now] = state.read();
            seen.insert(seen.end(), ended.begin(), ended.end());
            if (now.stage != nullptr) seen.push_back(now);
            if (last) return;
            std::this_thread::yield();
        }
    });
    for (const auto& [stage, count] : {std::pair{first, std::size_t{20000}}, std::pair{second, std::size_t{5000}}}) {
        StageCount counted(runner, stage, count);
        each(runner, counted, count, [](std::size_t) {});
    }
    finished = true;
    reader.join();

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (Snapshot{second, 5000, 5000}));
    for (std::size_t i = 1; i < seen.size(); ++i) {
        const Snapshot& before = seen[i - 1];
        const Snapshot& after = seen[i];
        EXPECT_LE(after.done, after.total);
        if (before.stage == after.stage) {
            EXPECT_LE(before.done, after.done) << "at read " << i;
        } else {
            EXPECT_EQ(before.stage, first);
            EXPECT_EQ(before.done, before.total) << "the first stage ended short";
        }
    }
}

// Every thread may be the first to report a stage: it begins once.
TEST(Progress, AStageReportedFirstByManyThreadsBeginsOnce) {
    const char* const only = "only";
    constexpr std::size_t kThreads = 4;
    for (int round = 0; round < 50; ++round) {
        ProgressState state;
        std::atomic<std::size_t> waiting{kThreads};
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                waiting.fetch_sub(1);
                while (waiting.load() != 0) std::this_thread::yield();
                state.report(only, t + 1, kThreads);
            });
        }
        for (std::thread& thread : threads) thread.join();
        const auto [ended, now] = state.read();
        ASSERT_TRUE(ended.empty()) << "round " << round;
        ASSERT_EQ(now, (Snapshot{only, kThreads, kThreads}));
    }
}

}  // namespace
