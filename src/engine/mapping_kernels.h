#pragma once

// The loops that map a motif onto the numeric series: locating an
// occurrence, summing occurrences point by point, distances to a
// representative. Included by the files that map (motif.cpp,
// motif_from_parts.cpp), each of which gets its own copy, as when they were
// private to one file: the compiler keeps inlining them as it did. Those files
// are built with -fno-trapping-math (see CMakeLists.txt).

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/types.h"

namespace {

// Point counts and point indexes are 32-bit ints. The product of two ints is
// formed in 64 bits, where it cannot overflow, and refused when it leaves the
// int range instead of wrapping.
inline int checked_product(int a, int b) {
    const long long product = static_cast<long long>(a) * static_cast<long long>(b);
    if (product < INT_MIN || product > INT_MAX) throw_too_large();
    return static_cast<int>(product);
}

inline const double kMissing = std::numeric_limits<double>::quiet_NaN();

// One occurrence of a motif in one series: `length` points from point `start`
// on. Its offsets [first, last) are the points that lie inside the series; the
// others are missing (NaN): past the end of the series or, for a negative
// recorded position only, before its start. Missing points are never read,
// and every sum skips them.
struct Occurrence {
    long long start;
    std::size_t first;
    std::size_t last;

    // The value at offset i of the occurrence, for first <= i < last.
    double value(const std::vector<double>& series, std::size_t i) const {
        return series[static_cast<std::size_t>(start + static_cast<long long>(i))];
    }
};

// The occurrence at symbol position `position` in a series of `size` points.
// The point index of its start is checked first, whatever the length: an
// overflowing one is refused even for an empty occurrence.
inline Occurrence locate(int position, int seglen, int length, std::size_t size) {
    const long long start = checked_product(position, seglen);
    if (length <= 0) return {start, 0, 0};
    const long long points = static_cast<long long>(length);
    const long long first = std::clamp(-start, 0LL, points);
    const long long last = std::clamp(static_cast<long long>(size) - start, first, points);
    return {start, static_cast<std::size_t>(first), static_cast<std::size_t>(last)};
}

// The helpers below are plain loops over separate arrays, point by point, so
// that the compiler can run several points at once: every sum still takes its
// terms in the same order. Counts are ints or doubles (whole numbers either way).

// Adds one list of values to per-point sums and counts them; a NaN value adds
// 0.0 and counts nothing. Adding 0.0 leaves a sum as skipping the value would:
// a sum that starts at +0.0 is never -0.0.
template <typename Count>
void add_values(const double* __restrict values, std::size_t points, double* __restrict sums,
                Count* __restrict counts) {
    for (std::size_t i = 0; i < points; ++i) {
        const bool missing = std::isnan(values[i]);
        sums[i] += missing ? 0.0 : values[i];
        counts[i] += missing ? Count(0) : Count(1);
    }
}

// The same for the points of an occurrence that lie inside the series.
template <typename Count>
void add_occurrence(const std::vector<double>& series, const Occurrence& occurrence, double* sums, Count* counts) {
    if (occurrence.first >= occurrence.last) return;
    const double* values = series.data() + (occurrence.start + static_cast<long long>(occurrence.first));
    add_values(values, occurrence.last - occurrence.first, sums + occurrence.first, counts + occurrence.first);
}

// Turns per-point sums into means: NaN where nothing was counted.
template <typename Count>
void to_means(double* __restrict sums, const Count* __restrict counts, std::size_t points) {
    for (std::size_t i = 0; i < points; ++i)
        sums[i] = counts[i] == 0 ? kMissing : sums[i] / static_cast<double>(counts[i]);
}

// The representative is built as m equal shares mu / m added one after
// another onto zeros, not stored as mu itself: the two can differ in the last
// bits. `mu` is left holding the share.
inline void add_shares(double* mu, std::size_t points, std::size_t m, double* representative) {
    for (std::size_t i = 0; i < points; ++i) mu[i] = mu[i] / static_cast<double>(m);
    for (std::size_t added = 0; added < m; ++added) {
        for (std::size_t i = 0; i < points; ++i) representative[i] = mu[i] + representative[i];
    }
}

// The squared Euclidean distance of an occurrence to the representative over
// the points inside the series; NaN points add nothing, and the sum is not
// rescaled for them.
inline double squared_distance(const std::vector<double>& series, const Occurrence& occurrence,
                               const double* representative) {
    double q = 0.0;
    for (std::size_t i = occurrence.first; i < occurrence.last; ++i) {
        const double value = occurrence.value(series, i);
        const double diff = value - representative[i];
        q += std::isnan(value) ? 0.0 : diff * diff;
    }
    return q;
}

// Mapping reads occurrences from all over the input, in an order no hardware
// prefetcher can guess: the values of the series a few ahead in that order,
// or of the occurrences a few ahead, are asked for while the current ones are
// summed. Nothing is read or changed; a position that cannot be located is
// skipped here and refused where it is used.
constexpr std::size_t kSeriesAhead = 2;
constexpr std::size_t kOccurrencesAhead = 4;
constexpr std::size_t kValuesPerLine = 8;

// GCC finds that a function which only prefetches changes nothing, and drops
// every call to it; kept out of its analysis across functions, the calls stay.
#if defined(__GNUC__) && !defined(__clang__)
#define ZEF_PREFETCHES __attribute__((noipa))
#else
#define ZEF_PREFETCHES
#endif

ZEF_PREFETCHES inline void fetch_values(const double* values, std::size_t count) {
    for (std::size_t i = 0; i < count; i += kValuesPerLine) __builtin_prefetch(values + i);
}

ZEF_PREFETCHES inline void fetch_occurrences(const SeriesSet& ts, int s, const int* first, const int* last, int seglen,
                                             int length) {
    if (s < 0 || static_cast<std::size_t>(s) >= ts.size()) return;
    const std::vector<double>& series = ts[static_cast<std::size_t>(s)];
    const long long size = static_cast<long long>(series.size());
    for (const int* p = first; p != last; ++p) {
        // Where locate() would put it, found without its refusals.
        const long long start = static_cast<long long>(*p) * seglen;
        const long long from = std::clamp(-start, 0LL, static_cast<long long>(length));
        const long long to = std::clamp(size - start, from, static_cast<long long>(length));
        if (from < to) fetch_values(series.data() + (start + from), static_cast<std::size_t>(to - from));
    }
}

// The squared distances of many occurrences to one representative of
// `points` values, each as squared_distance() finds it. Each sum is a chain of
// dependent additions that a single occurrence leaves the processor waiting
// on; the occurrences that lie wholly inside their series are summed four
// side by side instead, each still in its own order.
class DistanceBatch {
public:
    void add(const std::vector<double>& series, const Occurrence& occurrence) {
        occurrences.push_back({&series, occurrence});
    }

    // q[j] for the j-th occurrence added.
    const std::vector<double>& squared(const double* representative, std::size_t points) {
        q.resize(occurrences.size());
        starts.clear();
        whole.clear();
        for (std::size_t j = 0; j < occurrences.size(); ++j) {
            const auto& [series, occurrence] = occurrences[j];
            if (occurrence.first == 0 && occurrence.last == points && points > 0) {
                whole.push_back(j);
                starts.push_back(series->data() + occurrence.start);
            } else {
                q[j] = squared_distance(*series, occurrence, representative);
            }
        }
        std::size_t w = 0;
        for (; w + 4 <= whole.size(); w += 4) {
            for (std::size_t ahead = w + 4; ahead < std::min(w + 4 + kOccurrencesAhead, whole.size()); ++ahead) {
                fetch_values(starts[ahead], points);
            }
            const double* a = starts[w];
            const double* b = starts[w + 1];
            const double* c = starts[w + 2];
            const double* d = starts[w + 3];
            double qa = 0.0, qb = 0.0, qc = 0.0, qd = 0.0;
            for (std::size_t i = 0; i < points; ++i) {
                const double r = representative[i];
                const double da = a[i] - r, db = b[i] - r, dc = c[i] - r, dd = d[i] - r;
                qa += std::isnan(a[i]) ? 0.0 : da * da;
                qb += std::isnan(b[i]) ? 0.0 : db * db;
                qc += std::isnan(c[i]) ? 0.0 : dc * dc;
                qd += std::isnan(d[i]) ? 0.0 : dd * dd;
            }
            q[whole[w]] = qa;
            q[whole[w + 1]] = qb;
            q[whole[w + 2]] = qc;
            q[whole[w + 3]] = qd;
        }
        for (; w < whole.size(); ++w) {
            const auto& [series, occurrence] = occurrences[whole[w]];
            q[whole[w]] = squared_distance(*series, occurrence, representative);
        }
        return q;
    }

private:
    std::vector<std::pair<const std::vector<double>*, Occurrence>> occurrences;
    std::vector<const double*> starts;
    std::vector<std::size_t> whole;
    std::vector<double> q;
};

}  // namespace
