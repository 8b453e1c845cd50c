#include "engine/sax.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

const std::vector<std::vector<double>> breakpoints = {
    {},
    {},
    {0},
    {-0.43, 0.43},
    {-0.67, 0, 0.67},
    {-0.84, -0.25, 0.25, 0.84},
    {-0.97, -0.43, 0, 0.43, 0.97},
    {-1.07, -0.57, -0.18, 0.18, 0.57, 1.07},
    {-1.15, -0.67, -0.32, 0, 0.32, 0.67, 1.15},
    {-1.22, -0.76, -0.43, -0.14, 0.14, 0.43, 0.76, 1.22},
    {-1.28, -0.84, -0.52, -0.25, 0, 0.25, 0.52, 0.84, 1.28},
};

namespace {

// Counts every breakpoint below the value with no early exit, so the loop stays
// branch-free and vectorisable. Comparisons with NaN are false: NaN gives 'a'.
char symbol_for(const std::vector<double>& row, double value) {
    int below = 0;
    for (double b : row) below += value > b ? 1 : 0;
    return static_cast<char>('a' + below);
}

// ceil(size / seglen) in double precision. Checked before the conversion to
// an integer: NaN (0 / 0), infinity (n / 0) and negative quotients have no
// word. The sign is judged on the quotient, since a tiny negative one such as
// 1 / INT_MIN would round up to -0.0; 0 / -1 is -0.0 and gives an empty word.
std::size_t word_length(std::size_t size, int seglen) {
    const double quotient = static_cast<double>(size) / static_cast<double>(seglen);
    const double length = std::ceil(quotient);
    if (!(quotient >= 0.0) || length > static_cast<double>(Pattern().max_size())) throw_too_large();
    return static_cast<std::size_t>(length);
}

}  // namespace

const std::vector<double>& breakpoint_row(int alphabet) {
    if (alphabet < 0 || static_cast<std::size_t>(alphabet) >= breakpoints.size()) {
        throw std::invalid_argument("alphabet must be between 0 and " + std::to_string(breakpoints.size() - 1) +
                                    ", got " + std::to_string(alphabet));
    }
    return breakpoints[static_cast<std::size_t>(alphabet)];
}

Pattern word_of(const double* values, std::size_t size, int seglen, const std::vector<double>& row) {
    const std::size_t length = word_length(size, seglen);
    Pattern word(length);
    if (length == 0) return word;
    // A non-empty word implies seglen >= 1 here.
    const std::size_t step = static_cast<std::size_t>(seglen);
    const double divisor = static_cast<double>(seglen);

    // Full segments four at a time, one from each quarter of the series: each
    // sum still runs left to right from 0.0 on its own, but the four sums need
    // not wait for one another, and the four reads stay far apart in memory.
    const std::size_t quarter = size / step / 4;
    for (std::size_t k = 0; k < quarter; ++k) {
        const std::size_t first[4] = {k, k + quarter, k + 2 * quarter, k + 3 * quarter};
        const double* segment0 = values + first[0] * step;
        const double* segment1 = values + first[1] * step;
        const double* segment2 = values + first[2] * step;
        const double* segment3 = values + first[3] * step;
        double sum0 = 0.0, sum1 = 0.0, sum2 = 0.0, sum3 = 0.0;
        for (std::size_t j = 0; j < step; ++j) {
            sum0 += segment0[j];
            sum1 += segment1[j];
            sum2 += segment2[j];
            sum3 += segment3[j];
        }
        word[first[0]] = symbol_for(row, sum0 / divisor);
        word[first[1]] = symbol_for(row, sum1 / divisor);
        word[first[2]] = symbol_for(row, sum2 / divisor);
        word[first[3]] = symbol_for(row, sum3 / divisor);
    }
    std::size_t i = 4 * quarter;
    for (; i < length; ++i) {
        const std::size_t start = i * step;
        const std::size_t end = size - start < step ? size : start + step;
        double sum = 0.0;
        for (std::size_t j = start; j < end; ++j) sum += values[j];
        // A short last segment is averaged as if padded with zeros up to seglen points.
        word[i] = symbol_for(row, sum / divisor);
    }
    return word;
}

char get_discrete_value(int alphabet, double value) { return symbol_for(breakpoint_row(alphabet), value); }

void znorm(SeriesSet& ts) {
    for (std::vector<double>& series : ts) znorm_series(series);
}

void znorm_series(std::vector<double>& series) {
    if (series.empty()) return;
    write_scaled(series.data(), series.size(), scale_of(series.data(), series.size()), series.data());
}

Scale scale_of(const double* values, std::size_t size) {
    if (size == 0) return {0.0, 1.0};
    const double n = static_cast<double>(size);
    double sum = 0.0;
    for (std::size_t i = 0; i < size; ++i) sum += values[i];
    const double mean = sum / n;
    double ss = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        const double centred = values[i] - mean;
        ss += centred * centred;
    }
    // No threshold for flat series: a zero deviation turns the series into NaN.
    return {mean, std::sqrt(ss / n)};
}

void scales_of_four(const double* const values[4], std::size_t size, Scale scales[4]) {
    if (size == 0) {
        for (int s = 0; s < 4; ++s) scales[s] = scale_of(values[s], 0);
        return;
    }
    const double* const a = values[0];
    const double* const b = values[1];
    const double* const c = values[2];
    const double* const d = values[3];
    const double n = static_cast<double>(size);
    double sa = 0.0, sb = 0.0, sc = 0.0, sd = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        sa += a[i];
        sb += b[i];
        sc += c[i];
        sd += d[i];
    }
    const double ma = sa / n, mb = sb / n, mc = sc / n, md = sd / n;
    double qa = 0.0, qb = 0.0, qc = 0.0, qd = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        const double ca = a[i] - ma, cb = b[i] - mb, cc = c[i] - mc, cd = d[i] - md;
        qa += ca * ca;
        qb += cb * cb;
        qc += cc * cc;
        qd += cd * cd;
    }
    scales[0] = {ma, std::sqrt(qa / n)};
    scales[1] = {mb, std::sqrt(qb / n)};
    scales[2] = {mc, std::sqrt(qc / n)};
    scales[3] = {md, std::sqrt(qd / n)};
}

void write_scaled(const double* values, std::size_t size, Scale scale, double* out) {
    for (std::size_t i = 0; i < size; ++i) out[i] = scale.of(values[i]);
}

Pattern get_row(std::vector<double> series, int seglen, int alphabet) {
    return word_of(series.data(), series.size(), seglen, breakpoint_row(alphabet));
}

WordSet sax(const SeriesSet& ts, int seglen, int alphabet) {
    const std::vector<double>& row = breakpoint_row(alphabet);
    WordSet words;
    words.reserve(ts.size());
    for (const std::vector<double>& series : ts) words.push_back(word_of(series.data(), series.size(), seglen, row));
    return words;
}

WordSet sax_views(const SeriesViews& ts, int seglen, int alphabet) {
    const std::vector<double>& row = breakpoint_row(alphabet);
    WordSet words;
    words.reserve(ts.size());
    for (const SeriesView& series : ts) words.push_back(word_of(series.values, series.size, seglen, row));
    return words;
}
