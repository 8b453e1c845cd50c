#pragma once

// Comparisons of runs of symbols, eight symbols at a time: the hot
// comparisons of the join of a level and of its counts. Inline, as they were
// where mining calls them in loops.

#include <cstddef>
#include <cstdint>
#include <cstring>

// The first of the n symbols of a and b, from `from` on, in which they differ; n if none.
inline std::size_t first_difference(const char* a, const char* b, std::size_t from, std::size_t n) {
    std::size_t i = from;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Compares n symbols of a with n of b, each read as a signed byte as
// PatternLess reads them: negative, zero or positive.
inline int compare_symbols(const char* a, const char* b, std::size_t n) {
    const std::size_t i = first_difference(a, b, 0, n);
    if (i == n) return 0;
    return static_cast<signed char>(a[i]) < static_cast<signed char>(b[i]) ? -1 : 1;
}
