#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/patterns.h"
#include "engine/plain_lcs.h"
#include "engine/redundancy.h"

namespace {

Pattern P(const std::string& s) { return Pattern(s.begin(), s.end()); }

std::vector<const Pattern*> pointers_to(const std::vector<Pattern>& patterns) {
    std::vector<const Pattern*> out;
    for (const Pattern& p : patterns) out.push_back(&p);
    return out;
}

// Pair by pair only; the index for short lengths with long patterns pair by
// pair; the index wherever its keys fit; and the default choice.
const IndexBudget kBudgets[] = {{0, 32}, {64, 0}, {4096, 0}, {}};

// A survivor list as the filter receives it: longest first; within a length
// in key order, or in any order (the filter does not rely on it).
std::vector<Pattern> random_survivors(std::mt19937& rng) {
    const int alphabet = 2 + static_cast<int>(rng() % 9);
    const std::size_t longest = 1 + rng() % 20;
    const auto symbol = [&] { return static_cast<char>('a' + rng() % static_cast<unsigned>(alphabet)); };
    std::vector<Pattern> patterns;
    const std::size_t count = 5 + rng() % 40;
    while (patterns.size() < count) {
        const unsigned kind = rng() % 4;
        if (kind == 0 && !patterns.empty()) {
            patterns.push_back(patterns[rng() % patterns.size()]);  // a duplicate
        } else if (kind == 1 && !patterns.empty()) {
            // A subsequence of an earlier pattern, and so often of several.
            Pattern p = patterns[rng() % patterns.size()];
            for (std::size_t drop = rng() % 4; drop > 0 && p.size() > 1; --drop)
                p.erase(p.begin() + static_cast<std::ptrdiff_t>(rng() % p.size()));
            patterns.push_back(p);
        } else {
            Pattern p(1 + rng() % longest);
            for (char& c : p) c = symbol();
            patterns.push_back(p);
        }
    }
    const bool key_order = rng() % 2 == 0;
    std::shuffle(patterns.begin(), patterns.end(), rng);
    std::stable_sort(patterns.begin(), patterns.end(), [&](const Pattern& a, const Pattern& b) {
        if (a.size() != b.size()) return a.size() > b.size();
        return key_order && PatternLess()(a, b);
    });
    return patterns;
}

}  // namespace

// Every budget gives what the plain definition gives, on lists with
// duplicates and patterns contained in several others, at every kind of
// threshold: none erased (1, NaN), a shared symbol enough (0), everything
// after the first (negative), and the common subsequence cases between.
TEST(RedundancyFilter, EveryBudgetEqualsThePlainDefinition) {
    std::mt19937 rng(20261210);
    const double overlaps[] = {0.0, 0.5, 0.9, 1.0, -0.25, std::numeric_limits<double>::quiet_NaN(), 0.75};
    for (int round = 0; round < 240; ++round) {
        const std::vector<Pattern> survivors = random_survivors(rng);
        const double max_overlap = overlaps[static_cast<std::size_t>(round) % std::size(overlaps)];
        const std::vector<bool> expected = plain_redundant(survivors, max_overlap);
        for (const IndexBudget& budget : kBudgets) {
            ASSERT_EQ(redundant(pointers_to(survivors), max_overlap, Runner(), budget), expected)
                << "round " << round << ", max_overlap " << max_overlap << ", most_per_pattern "
                << budget.most_per_pattern;
        }
    }
}

// A pattern erased earlier erases nothing. At 0.5: bcd, erased by abc (bc in
// common, 2/3), would have erased cde (cd), which shares only c with abc and
// stays. Across lengths: abce, erased by abcd (abc, 3/4), would have erased
// cex (ce, 2/3), which shares only c with abcd.
TEST(RedundancyFilter, PatternErasedEarlierErasesNothing) {
    const std::vector<Pattern> equal_lengths = {P("abc"), P("bcd"), P("cde")};
    const std::vector<Pattern> across_lengths = {P("abcd"), P("abce"), P("cex")};
    const std::vector<bool> expected = {false, true, false};
    ASSERT_EQ(plain_redundant(across_lengths, 0.5), expected);
    for (const IndexBudget& budget : kBudgets) {
        EXPECT_EQ(redundant(pointers_to(equal_lengths), 0.5, Runner(), budget), expected);
        EXPECT_EQ(redundant(pointers_to(across_lengths), 0.5, Runner(), budget), expected);
    }
}
