#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/pool.h"

namespace {

std::vector<int> hits_of(Pool& pool, std::size_t count) {
    std::vector<std::atomic<int>> hits(count);
    pool.for_ranges(count, [&](std::size_t first, std::size_t last) {
        ASSERT_LT(first, last);
        for (std::size_t i = first; i < last; ++i) hits[i].fetch_add(1);
    });
    return std::vector<int>(hits.begin(), hits.end());
}

TEST(ThreadPool, EveryIndexIsCoveredOnce) {
    for (std::size_t threads : {1, 2, 4, 7}) {
        Pool pool(threads);
        for (std::size_t count : {0, 1, 2, 3, 63, 64, 65, 1000, 4099}) {
            EXPECT_EQ(hits_of(pool, count), std::vector<int>(count, 1)) << threads << " threads, " << count;
        }
    }
}

TEST(ThreadPool, FirstExceptionIsCarriedBackAndThePoolGoesOn) {
    Pool pool(4);
    // Every range throws: each thread runs at most one before a failure is
    // seen, since no range is handed out once one threw.
    std::atomic<std::size_t> ranges{0};
    EXPECT_THROW(pool.for_ranges(100000,
                                 [&](std::size_t, std::size_t) {
                                     ranges.fetch_add(1);
                                     throw std::out_of_range("a range");
                                 }),
                 std::out_of_range);
    EXPECT_GE(ranges.load(), 1u);
    EXPECT_LE(ranges.load(), pool.size());
    EXPECT_EQ(hits_of(pool, 500), std::vector<int>(500, 1));
}

TEST(ThreadPool, StopEndsTheWorkWithPoolStopped) {
    for (std::size_t threads : {1, 3}) {
        Pool pool(threads);
        Runner runner = pool.runner();
        std::atomic<std::size_t> ran{0};
        EXPECT_THROW(runner.run_ranges(100000,
                                       [&](std::size_t first, std::size_t last) {
                                           for (std::size_t i = first; i < last; ++i) {
                                               runner.check_stop();
                                               if (ran.fetch_add(1) == 10) pool.request_stop();
                                           }
                                       }),
                     PoolStopped);
        EXPECT_LT(ran.load(), 100000u);
        EXPECT_THROW(pool.for_ranges(10, [](std::size_t, std::size_t) {}), PoolStopped);
    }
}

TEST(ThreadPool, NestedCallRunsOnTheCallingThread) {
    Pool pool(3);
    std::vector<std::atomic<int>> hits(50 * 20);
    pool.for_ranges(50, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            pool.for_ranges(20, [&](std::size_t a, std::size_t b) {
                for (std::size_t j = a; j < b; ++j) hits[i * 20 + j].fetch_add(1);
            });
        }
    });
    for (const auto& h : hits) EXPECT_EQ(h.load(), 1);
}

TEST(ThreadPool, TheCallingThreadIsCalledBackWhileItWaits) {
    // The caller's unit ends once the other thread has begun its own, which takes 50 ms.
    Pool pool(2);
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> begun{false};
    std::atomic<int> calls{0};
    std::atomic<bool> elsewhere{false};
    pool.set_waiting(
        [&] {
            if (std::this_thread::get_id() != caller) elsewhere = true;
            ++calls;
        },
        std::chrono::milliseconds(1));
    pool.for_ranges(2, [&](std::size_t, std::size_t) {
        if (std::this_thread::get_id() == caller) {
            while (!begun) std::this_thread::yield();
            return;
        }
        begun = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    EXPECT_FALSE(elsewhere);
    EXPECT_GT(calls.load(), 0);
}

}  // namespace
