#include "motif.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

const char* const kTooLarge = "cannot create std::vector larger than max_size()";

// Point counts and point indexes are 32-bit ints. The product of two ints is
// formed in 64 bits, where it cannot overflow, and refused when it leaves the
// int range instead of wrapping.
int checked_product(int a, int b) {
    const long long product = static_cast<long long>(a) * static_cast<long long>(b);
    if (product < INT_MIN || product > INT_MAX) throw std::length_error(kTooLarge);
    return static_cast<int>(product);
}

const double kMissing = std::numeric_limits<double>::quiet_NaN();

}  // namespace

Motif::Motif(Pattern pattern) : pattern(std::move(pattern)) {}

void Motif::record_index(int series, int position) { indexes[series].push_back(position); }

int Motif::get_length() const { return length; }

double Motif::get_naed() const { return naed; }

std::unordered_map<int, std::vector<int>> Motif::get_indexes() { return indexes; }

std::unordered_map<int, std::vector<double>> Motif::get_average_occurrences() { return average_occurrences; }

std::vector<double> Motif::get_representative() { return representative; }

std::unordered_map<int, int> Motif::get_best_matches() { return best_matches; }

void Motif::map(const SeriesSet& ts, int seglen) {
    this->seglen = seglen;
    if (pattern.size() > static_cast<std::size_t>(INT_MAX)) throw std::length_error(kTooLarge);
    // An overflowing product is refused before it is stored: `length` keeps its value.
    length = checked_product(seglen, static_cast<int>(pattern.size()));
    // A negative seglen gives a negative length, which no list can hold; the
    // statistics of the previous mapping stay as they were.
    if (length < 0) throw std::length_error(kTooLarge);
    representative.assign(static_cast<std::size_t>(length), 0.0);
    naed = 0.0;
    set_average_occurrences(ts);
    set_representative();
    set_best_matches_and_naed(ts);
}

std::vector<double> Motif::get_occurrence(const std::vector<double>& series, int position) const {
    // `position` is a symbol position, `start` the point index where it begins.
    const long long start = checked_product(position, seglen);
    if (length <= 0) return {};
    const long long n = static_cast<long long>(series.size());
    std::vector<double> occurrence;
    occurrence.reserve(static_cast<std::size_t>(length));
    for (long long point = start; point < start + length; ++point) {
        // A point beyond the end of the series is missing: NaN. So is a point
        // before its start, which only a negative recorded position reaches;
        // neither is ever read.
        if (point < 0 || point >= n) {
            occurrence.push_back(kMissing);
        } else {
            occurrence.push_back(series[static_cast<std::size_t>(point)]);
        }
    }
    return occurrence;
}

void Motif::set_average_occurrences(const SeriesSet& ts) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    for (const auto& [s, positions] : indexes) {
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(s));
        // Per point, the occurrences are summed in recording order from 0.0.
        std::vector<double> sums(points, 0.0);
        std::vector<int> counts(points, 0);
        for (int position : positions) {
            const std::vector<double> occurrence = get_occurrence(series, position);
            for (std::size_t i = 0; i < points; ++i) {
                if (std::isnan(occurrence[i])) continue;
                sums[i] += occurrence[i];
                ++counts[i];
            }
        }
        std::vector<double> averages(points);
        for (std::size_t i = 0; i < points; ++i) {
            averages[i] = counts[i] == 0 ? kMissing : sums[i] / static_cast<double>(counts[i]);
        }
        average_occurrences[s] = std::move(averages);
    }
}

void Motif::set_representative() {
    if (average_occurrences.empty() || length <= 0) return;
    const std::size_t points = static_cast<std::size_t>(length);
    const double m = static_cast<double>(average_occurrences.size());

    // Checked access below and in set_best_matches_and_naed(): every list
    // holds `length` values unless an interrupted mapping left them unequal.

    // mu: the NaN-skipping mean of the per-series averages, each series
    // counting once whatever its number of occurrences.
    std::vector<double> mu(points);
    for (std::size_t i = 0; i < points; ++i) {
        double sum = 0.0;
        int count = 0;
        for (const auto& entry : average_occurrences) {
            const double value = entry.second.at(i);
            if (std::isnan(value)) continue;
            sum += value;
            ++count;
        }
        mu[i] = count == 0 ? kMissing : sum / static_cast<double>(count);
    }

    // The representative is built as m equal shares mu / m added one after
    // another onto the zeros that map() put there, not stored as mu itself:
    // the two can differ in the last bits.
    for (std::size_t share = 0; share < average_occurrences.size(); ++share) {
        for (std::size_t i = 0; i < points; ++i) {
            representative.at(i) = mu[i] / m + representative.at(i);
        }
    }
}

void Motif::set_best_matches_and_naed(const SeriesSet& ts) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    for (const auto& [s, positions] : indexes) {
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(s));
        double best = 1000000.0;
        int best_position = 0;
        for (int position : positions) {
            const std::vector<double> occurrence = get_occurrence(series, position);
            // Missing points add nothing and the sum is not rescaled for them.
            double q = 0.0;
            for (std::size_t i = 0; i < points; ++i) {
                if (std::isnan(occurrence[i])) continue;
                const double diff = occurrence[i] - representative.at(i);
                q += diff * diff;
            }
            const double d = std::sqrt(q);
            // Strictly smaller: a tie keeps the earlier position, NaN never wins.
            if (d < best) {
                best = d;
                best_position = position;
            }
        }
        naed += best;
        // A point index, not a symbol position.
        best_matches[s] = checked_product(best_position, seglen);
    }
    naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}
