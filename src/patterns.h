#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "motif.h"
#include "types.h"

// Ordered table of frequent patterns, smallest pattern first (see PatternLess).
using FrequentTable = std::map<Pattern, Motif, PatternLess>;

// Level-wise miner of the contiguous patterns that occur in enough words,
// followed by a length filter and a redundancy filter.
class PatternMiner {
public:
    PatternMiner(double minsup, int min_len, int max_len, double max_overlap);

    void mine(const WordSet& words);
    void mine_1_patterns(const WordSet& words);
    FrequentTable get_frequent() const;
    // Moves the frequent table out, for a caller that discards the miner
    // afterwards; the miner's own table is left empty.
    FrequentTable take_frequent();

    std::vector<Pattern> get_candidates() const;
    void find_candidate(const Pattern& candidate, const WordSet& words);
    void prune_infrequent(const Pattern& pattern);

    std::vector<Pattern> remove_short();
    void remove_redundant();

    // Read access to the mining state, for callers and tests that inspect a run.
    double get_min_count() const { return min_count; }
    int get_level() const { return level; }
    const std::vector<std::vector<Pattern>>& get_levels() const { return levels; }

private:
    // The support test of prune_infrequent on a record already looked up.
    void judge(FrequentTable::iterator record);
    // The highest level that the length filter visits.
    std::size_t top_level() const;

    double minsup;
    int min_len;
    int max_len;  // 0: no limit
    double max_overlap;
    FrequentTable frequent;
    double min_count = 0.0;  // absolute support threshold, set by mine()
    int level = 2;           // length of the candidates being mined
    // Entry n: patterns of length n that passed the support test, in the order they passed.
    std::vector<std::vector<Pattern>> levels;
};

// Length of the longest common subsequence (gaps allowed) of two patterns.
double lcs(const Pattern& a, const Pattern& b);

// Whether some element of v equals p.
bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v);
