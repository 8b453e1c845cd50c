#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

// A symbol is one byte. A pattern is an ordered run of symbols; the word that
// discretisation makes of one series is a pattern too.
using Pattern = std::vector<char>;

// The values a symbol can take: tables indexed by symbol have this many entries.
inline constexpr std::size_t kSymbolValues = 256;

// One word per series, in series order: word i belongs to series i.
using WordSet = std::vector<Pattern>;

// Numeric series; the position of a series in the set is its series index.
using SeriesSet = std::vector<std::vector<double>>;

// A read-only view of one numeric series held elsewhere (in a SeriesSet, or in
// a buffer of the caller's): `size` values from `values` on.
struct SeriesView {
    const double* values;
    std::size_t size;
};

// Views of series, in series order; like a SeriesSet that owns nothing.
using SeriesViews = std::vector<SeriesView>;

// Views of the series of a set, which must outlive them.
inline SeriesViews views_of(const SeriesSet& set) {
    SeriesViews views;
    views.reserve(set.size());
    for (const auto& row : set) views.push_back({row.data(), row.size()});
    return views;
}

// Orders patterns lexicographically with every symbol read as a signed 8-bit
// value (bytes 0x80..0xFF before 0x00..0x7F) and a proper prefix before the
// longer pattern. Spelled out because plain `char` is unsigned on some ABIs.
struct PatternLess {
    bool operator()(const Pattern& a, const Pattern& b) const {
        const std::size_t common = std::min(a.size(), b.size());
        std::size_t i = 0;
        // Equal runs are passed over eight symbols at a time (long patterns
        // often share long prefixes); the first difference decides.
        for (; i + 8 <= common; i += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) break;
        }
        for (; i < common; ++i) {
            if (a[i] != b[i]) return static_cast<signed char>(a[i]) < static_cast<signed char>(b[i]);
        }
        return a.size() < b.size();
    }
};

// The one error for a size that no list can have (a negative or overflowing
// length, a word longer than any vector): std::length_error with the text that
// std::vector itself gives, so that every such refusal reads the same.
[[noreturn]] inline void throw_too_large() {
    throw std::length_error("cannot create std::vector larger than max_size()");
}
