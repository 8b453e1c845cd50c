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
