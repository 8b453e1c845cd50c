#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/plain_lcs.h"
#include "engine/redundancy.h"

namespace {

Pattern P(const std::string& s) { return Pattern(s.begin(), s.end()); }

}  // namespace

TEST(Lcs, KnownValuesInEitherOrder) {
    const std::vector<std::pair<std::pair<std::string, std::string>, double>> cases{
        {{"abc", "acb"}, 2.0},
        {{"abcd", "abd"}, 3.0},
        {{"abcbdab", "bdcaba"}, 4.0},
        {{"ab", ""}, 0.0},
        {{"", ""}, 0.0},
        {{"xyz", "zyx"}, 1.0},
        // Three machine words each: the carry of the first runs through the second, which holds no a.
        {{"a" + std::string(127, 'c') + "a", "a" + std::string(128, 'd')}, 1.0}};
    for (const auto& c : cases) {
        EXPECT_EQ(lcs(P(c.first.first), P(c.first.second)), c.second) << c.first.first << "/" << c.first.second;
        EXPECT_EQ(lcs(P(c.first.second), P(c.first.first)), c.second) << c.first.second << "/" << c.first.first;
    }
}

TEST(Lcs, BitParallelEqualsTheTable) {
    std::mt19937 rng(99);
    for (int round = 0; round < 3000; ++round) {
        const int symbols = 1 + static_cast<int>(rng() % 5);
        const unsigned longest = round % 4 == 0 ? 300 : 90;  // up to five machine words
        Pattern a(rng() % longest), b(rng() % longest);
        for (auto& c : a) c = static_cast<char>(static_cast<int>(rng() % static_cast<unsigned>(symbols)) - 2);
        for (auto& c : b) c = static_cast<char>(static_cast<int>(rng() % static_cast<unsigned>(symbols)) - 2);
        ASSERT_EQ(lcs(a, b), static_cast<double>(table_lcs(a, b))) << "round " << round;
    }
}
