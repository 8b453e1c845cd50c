#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/types.h"

// The longest common subsequence by the full table, the plain form that the
// engine's fast comparisons must agree with.
inline int table_lcs(const Pattern& a, const Pattern& b) {
    std::vector<std::vector<int>> t(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j)
            t[i][j] = a[i - 1] == b[j - 1] ? t[i - 1][j - 1] + 1 : std::max(t[i][j - 1], t[i - 1][j]);
    return t[a.size()][b.size()];
}

// The redundancy filter in its plain quadratic form, every pair compared by
// the full table in the filter's order (longest first): whether each
// survivor ends up erased.
inline std::vector<bool> plain_redundant(const std::vector<Pattern>& survivors, double max_overlap) {
    std::vector<Pattern> removed;
    const auto is_removed = [&](const Pattern& p) {
        return std::find(removed.begin(), removed.end(), p) != removed.end();
    };
    for (const Pattern& p : survivors) {
        if (is_removed(p)) continue;
        for (const Pattern& s : survivors) {
            if (p.size() < s.size() || s == p || is_removed(s)) continue;
            const double ratio = static_cast<double>(table_lcs(p, s)) / static_cast<double>(s.size());
            if (ratio > max_overlap) removed.push_back(s);
        }
    }
    std::vector<bool> erased;
    for (const Pattern& p : survivors) erased.push_back(is_removed(p));
    return erased;
}
