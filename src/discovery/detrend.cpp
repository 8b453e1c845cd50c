#include "discovery/detrend.h"

#include <algorithm>

std::vector<double> detrend(const double* values, std::size_t size, std::size_t window) {
    std::vector<double> out(values, values + size);
    if (window <= 1 || size == 0) return out;
    const std::size_t half = window / 2;
    // Running sum of the points in [lo, hi), summed afresh every `window`
    // steps so that rounding cannot build up over a long series.
    double sum = 0.0;
    std::size_t lo = 0, hi = 0, since = window;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t want_lo = i > half ? i - half : 0;
        const std::size_t want_hi = std::min(size, i + half + 1);
        if (++since >= window) {
            sum = 0.0;
            for (std::size_t j = want_lo; j < want_hi; ++j) sum += values[j];
            since = 0;
        } else {
            for (; hi < want_hi; ++hi) sum += values[hi];
            for (; lo < want_lo; ++lo) sum -= values[lo];
        }
        lo = want_lo;
        hi = want_hi;
        out[i] = values[i] - sum / static_cast<double>(hi - lo);
    }
    return out;
}
