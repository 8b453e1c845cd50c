#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/patterns.h"
#include "engine/plain_lcs.h"

namespace {

// Runs ranges of `chunk` indexes on `threads` threads, each taking the next
// range when it finishes one, so that neighbouring ranges run out of order.
Runner threaded(int threads, std::size_t chunk) {
    Runner runner;
    runner.for_ranges = [=](std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) {
        std::atomic<std::size_t> next{0};
        std::exception_ptr error;
        std::mutex error_lock;
        const auto work = [&] {
            for (std::size_t first; (first = next.fetch_add(chunk)) < count;) {
                try {
                    body(first, std::min(count, first + chunk));
                } catch (...) {
                    const std::lock_guard<std::mutex> lock(error_lock);
                    if (!error) error = std::current_exception();
                    return;
                }
            }
        };
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) pool.emplace_back(work);
        for (std::thread& thread : pool) thread.join();
        if (error) std::rethrow_exception(error);
    };
    return runner;
}

WordSet random_words(std::mt19937& rng, std::size_t count, std::size_t length, int symbols) {
    WordSet words(count);
    for (Pattern& word : words) {
        word.resize(length);
        for (char& c : word) c = static_cast<char>('a' + static_cast<int>(rng() % static_cast<unsigned>(symbols)));
    }
    return words;
}

// Every record with its series in the order of its hash table.
using Record = std::vector<std::pair<int, std::vector<int>>>;
std::vector<std::pair<Pattern, Record>> ordered(const FrequentTable& table) {
    std::vector<std::pair<Pattern, Record>> out;
    for (const auto& [pattern, record] : table) {
        out.emplace_back(pattern, record.occurrences());
    }
    return out;
}

}  // namespace

// Short words, long ones and many: the long ones make patterns of several
// machine words, filter passes large enough to be spread over threads, and
// levels of many prefixes; the many make levels of enough occurrences to be
// counted on threads, and several chunks of words for the first scan.
TEST(MiningRunner, ThreadsGiveTheRunOfOneThread) {
    std::mt19937 rng(1307);
    const Runner runner = threaded(3, 2);
    for (int round = 0; round < 60; ++round) {
        const int symbols = 1 + static_cast<int>(rng() % 4);
        const WordSet words = round % 4 == 0   ? random_words(rng, 1 + rng() % 3, 150 + rng() % 100, 1 + symbols)
                              : round % 4 == 1 ? random_words(rng, 260 + rng() % 300, 120, 1 + symbols)
                                               : random_words(rng, rng() % 40, rng() % 30, symbols);
        const double minsup = static_cast<double>(round % 4 == 1 ? 2 + rng() % 3 : rng() % 5) / 4.0;  // many: 0.5 to 1
        const int min_len = static_cast<int>(rng() % 4);
        const double max_overlap = static_cast<double>(rng() % 5) / 4.0;
        PatternMiner one(minsup, min_len, 0, max_overlap), many(minsup, min_len, 0, max_overlap);
        one.mine(words);
        many.mine(words, runner);
        ASSERT_EQ(ordered(many.get_frequent()), ordered(one.get_frequent())) << "round " << round;
        ASSERT_EQ(many.get_levels(), one.get_levels()) << "round " << round;
    }
}

// Survivors of far more than 64 symbols that are not inside one another: the
// filter's multi-word LCS, its bounds and its substring test against the
// plain table on every pair.
TEST(MiningRunner, FilterOnLongPatternsMatchesThePlainFilter) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 8; ++round) {
        const WordSet words = random_words(rng, 3, 70 + rng() % 40, 2 + round % 3);
        const double max_overlap = 0.5 + 0.1 * static_cast<double>(round % 4);
        PatternMiner miner(0.3, 50, 0, max_overlap);  // one series is enough
        miner.mine(words, threaded(2, 16));

        std::vector<Pattern> survivors;
        for (std::size_t n = miner.get_levels().size() - 1; n >= 50; --n)
            survivors.insert(survivors.end(), miner.get_levels()[n].begin(), miner.get_levels()[n].end());
        std::vector<bool> removed(survivors.size(), false);
        for (std::size_t i = 0; i < survivors.size(); ++i) {
            if (removed[i]) continue;
            for (std::size_t j = i + 1; j < survivors.size(); ++j) {
                const Pattern &p = survivors[i], &s = survivors[j];
                if (removed[j] || p.size() < s.size()) continue;
                removed[j] = static_cast<double>(table_lcs(p, s)) / static_cast<double>(s.size()) > max_overlap;
            }
        }
        std::vector<Pattern> kept;
        for (std::size_t i = 0; i < survivors.size(); ++i)
            if (!removed[i]) kept.push_back(survivors[i]);
        std::sort(kept.begin(), kept.end(), PatternLess());
        std::vector<Pattern> found;
        for (const auto& entry : miner.get_frequent()) found.push_back(entry.first);
        ASSERT_EQ(found, kept) << "round " << round;
    }
}

// Erasing s takes a common subsequence of all of |s| symbols, which is also
// all that s's symbol counts allow: the filter's bounds must admit equality.
TEST(MiningRunner, SubsequenceOfALongPatternIsErasedAtTheTightestThreshold) {
    std::mt19937 rng(31);
    const Pattern p = random_words(rng, 1, 80, 3)[0];
    Pattern s;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (i % 5 != 2) s.push_back(p[i]);
    PatternMiner miner(0.5, 10, 0, 0.99);  // needs lcs = |s| below 100 symbols
    miner.mine(WordSet{p, s});
    ASSERT_TRUE(is_p_in_vec(s, miner.get_levels().at(s.size())));
    ASSERT_EQ(miner.get_frequent().size(), 1u);
    EXPECT_EQ(miner.get_frequent().begin()->first, p);
}

TEST(MiningRunner, StopEndsTheRunAndProgressCountsLevelsAndSurvivors) {
    std::mt19937 rng(77);
    const WordSet words = random_words(rng, 1, 400, 3);  // every substring frequent: 400 levels
    std::vector<std::pair<std::string, std::size_t>> reports;
    std::atomic<std::size_t> checks{0};
    Runner runner = threaded(2, 4);
    runner.progress = [&](const char* stage, std::size_t done, std::size_t total) {
        reports.emplace_back(stage, done);
        if (std::string(stage) == "filter") {
            EXPECT_LE(done, total);
        }
    };
    runner.check = [&] { ++checks; };
    PatternMiner miner(1.0, 3, 0, 0.9);
    miner.mine(words, runner);
    // Lengths 1 to 401 (the first that comes out empty), then the survivors of lengths 3 to 400.
    std::size_t survivors = 0;
    for (std::size_t n = 3; n <= 400; ++n) survivors += miner.get_levels().at(n).size();
    ASSERT_GT(reports.size(), 402u);
    for (std::size_t i = 0; i < 401; ++i) ASSERT_EQ(reports[i], (std::pair<std::string, std::size_t>("mine", i + 1)));
    for (std::size_t i = 402; i < reports.size(); ++i) ASSERT_LE(reports[i - 1].second, reports[i].second);
    EXPECT_EQ(reports.back(), (std::pair<std::string, std::size_t>("filter", survivors)));
    EXPECT_GT(checks, 10u);

    // A stop thrown from the Runner's check, on whichever thread, ends the
    // run with that exception; the miner mines afresh afterwards.
    const FrequentTable whole = miner.get_frequent();
    for (const std::size_t stop_at : {std::size_t{1}, checks / 2, checks - 1}) {
        std::atomic<std::size_t> calls{0};
        runner.progress = nullptr;
        runner.check = [&] {
            if (++calls == stop_at) throw std::runtime_error("stop");
        };
        EXPECT_THROW(miner.mine(words, runner), std::runtime_error) << stop_at;
    }
    miner.mine(words);
    EXPECT_EQ(ordered(miner.get_frequent()), ordered(whole));

    // Released a share at a time, with the Runner asked in between, the miner is as new.
    std::size_t release_checks = 0;
    Runner counting;
    counting.check = [&] { ++release_checks; };
    miner.release(counting);
    EXPECT_GT(release_checks, 10u);
    EXPECT_TRUE(miner.get_frequent().empty());
    EXPECT_EQ(miner.get_levels(), std::vector<std::vector<Pattern>>(2));
}

TEST(MiningRunner, MaxPatternsRefusesOneMoreThanTheLimit) {
    // Frequent: a, b, ab, ba, aba, bab, abab: seven patterns.
    const WordSet words{Pattern{'a', 'b', 'a', 'b'}};
    PatternMiner miner(1.0, 1, 0, 1.0);
    miner.set_max_patterns(7);
    miner.mine(words);
    EXPECT_EQ(miner.get_frequent().size(), 7u);
    miner.set_max_patterns(6);
    try {
        miner.mine(words);
        FAIL() << "expected TooManyPatterns";
    } catch (const TooManyPatterns& e) {
        EXPECT_STREQ(e.what(),
                     "mining found more than 6 frequent patterns; raise minsup, set max_len, or raise max_patterns");
    }
    EXPECT_TRUE(miner.get_frequent().empty());  // no partial result
    EXPECT_TRUE(miner.get_levels().at(1).empty());
    miner.set_max_patterns(0);
    miner.mine(words);
    EXPECT_EQ(miner.get_frequent().size(), 7u);
}
