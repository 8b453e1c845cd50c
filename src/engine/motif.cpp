#include "engine/motif.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/hash_order.h"
#include "engine/mapping_kernels.h"

Motif::Motif(Pattern pattern) : pattern(std::move(pattern)) {}

void Motif::record_index(int series, int position) { indexes.append(series, &position, 1, false); }

void Motif::record_indexes(int series, const int* first, const int* last) {
    if (first == last) return;  // an entry exists only once a position is recorded for it
    indexes.append(series, first, static_cast<std::size_t>(last - first), false);
}

void Motif::record_new_series(int series, const int* first, const int* last) {
    if (first == last) return;
    indexes.append(series, first, static_cast<std::size_t>(last - first), true);
}

void Motif::reserve(std::size_t series, std::size_t positions) { indexes.reserve(series, positions); }

std::vector<std::size_t> Motif::table_order(const std::vector<int>& series) {
    // The tables stand for std::unordered_map<int, ...> with the default hash.
    return distinct_table_order(series);
}

int Motif::get_length() const { return length; }

double Motif::get_naed() const { return naed; }

// Filled in the order the series first went in, a map lists them in the table's order.
std::unordered_map<int, std::vector<int>> Motif::get_indexes() {
    std::unordered_map<int, std::vector<int>> table;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        table.emplace(indexes.series(i), std::vector<int>(indexes.data(i), indexes.data(i) + indexes.count(i)));
    }
    return table;
}

std::vector<std::pair<int, std::vector<int>>> Motif::occurrences() const {
    std::vector<std::pair<int, std::vector<int>>> listed;
    for (std::size_t i : indexes.order()) {
        listed.emplace_back(indexes.series(i), std::vector<int>(indexes.data(i), indexes.data(i) + indexes.count(i)));
    }
    return listed;
}

std::unordered_map<int, std::vector<double>> Motif::get_average_occurrences() {
    std::unordered_map<int, std::vector<double>> table;
    for (std::size_t i = 0; i < average_occurrences.size(); ++i) {
        const double* values = average_occurrences.data(i);
        table.emplace(average_occurrences.series(i),
                      std::vector<double>(values, values + average_occurrences.count(i)));
    }
    return table;
}

std::vector<double> Motif::get_representative() { return representative; }

std::unordered_map<int, int> Motif::get_best_matches() {
    std::unordered_map<int, int> table;
    for (std::size_t i = 0; i < best_matches.size(); ++i) table.emplace(best_matches.series(i), *best_matches.data(i));
    return table;
}

void Motif::start_mapping(int seglen) {
    this->seglen = seglen;
    if (pattern.size() > static_cast<std::size_t>(INT_MAX)) throw_too_large();
    // An overflowing product is refused before it is stored: `length` keeps its value.
    length = checked_product(seglen, static_cast<int>(pattern.size()));
    // A negative seglen gives a negative length, which no list can hold; the
    // statistics of the previous mapping stay as they were.
    if (length < 0) throw_too_large();
    representative.assign(static_cast<std::size_t>(length), 0.0);
    naed = 0.0;
}

int Motif::occurrence_length(std::size_t symbols, int seglen) {
    if (symbols > static_cast<std::size_t>(INT_MAX)) throw_too_large();
    const int length = checked_product(seglen, static_cast<int>(symbols));
    if (length < 0) throw_too_large();
    return length;
}

void Motif::map(const SeriesSet& ts, int seglen) {
    start_mapping(seglen);
    set_average_occurrences(ts);
    set_representative();
    set_best_matches_and_naed(ts);
}

void Motif::map_known(const SeriesSet& ts, int seglen, const std::vector<double>& known_representative,
                      const std::vector<int>& best_positions, double known_naed) {
    if (best_positions.size() != indexes.size()) throw std::invalid_argument("one best position per series");
    start_mapping(seglen);
    set_average_occurrences(ts);
    representative = known_representative;
    const bool fresh = best_matches.empty();
    std::size_t j = 0;
    for (std::size_t e : indexes.order()) {
        const int point = checked_product(best_positions[j++], seglen);
        best_matches.assign(indexes.series(e), &point, 1, fresh);
    }
    naed = known_naed;
}

std::vector<double> Motif::get_occurrence(const std::vector<double>& series, int position) const {
    // `position` is a symbol position; the occurrence starts at point position x seglen.
    const Occurrence occurrence = locate(position, seglen, length, series.size());
    if (length <= 0) return {};
    std::vector<double> points(static_cast<std::size_t>(length), kMissing);
    for (std::size_t i = occurrence.first; i < occurrence.last; ++i) points[i] = occurrence.value(series, i);
    return points;
}

// The occurrences are read in place rather than cut out with get_occurrence():
// the points outside the series are NaN there and would be skipped, so only
// the points inside are visited, in the same order.
void Motif::set_average_occurrences(const SeriesSet& ts) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    // A record mapped for the first time meets each series once, and new.
    const bool fresh = average_occurrences.empty();
    constexpr std::size_t kReservedPoints = std::size_t{1} << 20;
    if (fresh && points <= kReservedPoints) average_occurrences.reserve(indexes.size(), indexes.size() * points);
    std::vector<double> averages;
    std::vector<int> counts;
    const std::vector<std::size_t> listed = indexes.order();
    for (std::size_t k = 0; k < listed.size(); ++k) {
        if (k + kSeriesAhead < listed.size()) {
            const std::size_t ahead = listed[k + kSeriesAhead];
            const auto next = indexes.values_of(ahead);
            fetch_occurrences(ts, indexes.series(ahead), next.first, next.last, seglen, length);
        }
        const int s = indexes.series(listed[k]);
        const auto positions = indexes.values_of(listed[k]);
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(s));
        // Per point, the occurrences are summed in recording order from 0.0.
        averages.assign(points, 0.0);
        counts.assign(points, 0);
        for (int position : positions) {
            add_occurrence(series, locate(position, seglen, length, series.size()), averages.data(), counts.data());
        }
        to_means(averages.data(), counts.data(), points);
        average_occurrences.assign(s, averages.data(), points, fresh);
    }
}

void Motif::set_representative() {
    if (average_occurrences.empty() || length <= 0) return;
    const std::size_t points = static_cast<std::size_t>(length);
    const double m = static_cast<double>(average_occurrences.size());
    const std::vector<std::size_t> order = average_occurrences.order();

    // map() leaves every list with `length` values; only an interrupted
    // mapping followed by a direct call can leave them shorter, and then the
    // checked loops below report it where the plain algorithm would.
    bool complete = representative.size() >= points;
    for (std::size_t i : order) complete = complete && average_occurrences.count(i) >= points;

    // mu: the NaN-skipping mean of the per-series averages, each series
    // counting once whatever its number of occurrences. Per point, the
    // averages are added in the table's iteration order, from 0.0.
    std::vector<double> mu(points, 0.0);
    std::vector<int> counts(points, 0);
    if (complete) {
        for (std::size_t i : order) add_values(average_occurrences.data(i), points, mu.data(), counts.data());
    } else {
        std::vector<std::vector<double>> lists;
        for (std::size_t i : order) {
            lists.emplace_back(average_occurrences.data(i), average_occurrences.data(i) + average_occurrences.count(i));
        }
        for (std::size_t i = 0; i < points; ++i) {
            for (const std::vector<double>& list : lists) {
                const double value = list.at(i);
                if (std::isnan(value)) continue;
                mu[i] += value;
                ++counts[i];
            }
        }
    }
    to_means(mu.data(), counts.data(), points);

    // m equal shares added onto the zeros that map() put there.
    if (complete) {
        add_shares(mu.data(), points, average_occurrences.size(), representative.data());
        return;
    }
    std::vector<double> share(points);
    for (std::size_t i = 0; i < points; ++i) share[i] = mu[i] / m;
    for (std::size_t added = 0; added < average_occurrences.size(); ++added) {
        for (std::size_t i = 0; i < points; ++i) representative.at(i) = share[i] + representative.at(i);
    }
}

void Motif::set_best_matches_and_naed(const SeriesSet& ts) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    const bool fresh = best_matches.empty();
    // map() gives `representative` its `length` values before this runs: then
    // every distance is found first, in a batch. A direct call without them
    // takes the checked access, occurrence by occurrence.
    const bool complete = representative.size() >= points;
    const std::vector<std::size_t> listed = indexes.order();
    DistanceBatch batch;
    if (complete) {
        for (std::size_t e : listed) {
            const std::vector<double>& series = ts.at(static_cast<std::size_t>(indexes.series(e)));
            for (int position : indexes.values_of(e))
                batch.add(series, locate(position, seglen, length, series.size()));
        }
    }
    const std::vector<double>* batched = complete ? &batch.squared(representative.data(), points) : nullptr;
    std::size_t j = 0;
    for (std::size_t e : listed) {
        const int s = indexes.series(e);
        const auto positions = indexes.values_of(e);
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(s));
        double best = 1000000.0;
        int best_position = 0;
        for (int position : positions) {
            // Missing points add nothing and the sum is not rescaled for them.
            double q = 0.0;
            if (batched != nullptr) {
                q = (*batched)[j++];
            } else {
                const Occurrence occurrence = locate(position, seglen, length, series.size());
                for (std::size_t i = occurrence.first; i < occurrence.last; ++i) {
                    const double value = occurrence.value(series, i);
                    if (std::isnan(value)) continue;
                    const double diff = value - representative.at(i);
                    q += diff * diff;
                }
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
        const int point = checked_product(best_position, seglen);
        best_matches.assign(s, &point, 1, fresh);
    }
    naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}

double Motif::mapped_naed(const SeriesSet& ts, int seglen, NaedScratch& scratch) const {
    scratch.runs.clear();
    for (std::size_t e : indexes.order()) {
        const auto positions = indexes.values_of(e);
        scratch.runs.push_back({indexes.series(e), positions.first, positions.last});
    }
    return mapped_naed(pattern, ts, seglen, scratch);
}

double Motif::mapped_naed(const Pattern& pattern, const SeriesSet& ts, int seglen, NaedScratch& scratch) {
    // The length as map() finds it, with the same refusals.
    const int length = occurrence_length(pattern.size(), seglen);
    const std::size_t points = static_cast<std::size_t>(length);

    // map() visits the series in the order of `indexes`, and stores their
    // averages in a table that receives them in that order; the mean of the
    // averages follows that table's own order. Each series' average is taken
    // when its turn in that order comes and added at once, so no average is kept.
    const std::vector<PositionRun>& runs = scratch.runs;
    scratch.series.clear();
    for (const PositionRun& run : runs) scratch.series.push_back(run.series);
    scratch.mean.assign(points, 0.0);
    scratch.mean_counts.assign(points, 0);
    const std::vector<std::size_t> order = table_order(scratch.series);
    for (std::size_t o = 0; o < order.size(); ++o) {
        const std::size_t k = order[o];
        if (o + kSeriesAhead < order.size()) {
            const PositionRun& ahead = runs[order[o + kSeriesAhead]];
            fetch_occurrences(ts, ahead.series, ahead.first, ahead.last, seglen, length);
        }
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(runs[k].series));
        scratch.sums.assign(points, 0.0);
        scratch.counts.assign(points, 0);
        for (const int* p = runs[k].first; p != runs[k].last; ++p) {
            add_occurrence(series, locate(*p, seglen, length, series.size()), scratch.sums.data(),
                           scratch.counts.data());
        }
        to_means(scratch.sums.data(), scratch.counts.data(), points);
        add_values(scratch.sums.data(), points, scratch.mean.data(), scratch.mean_counts.data());
    }
    scratch.representative.assign(points, 0.0);
    if (!runs.empty() && points > 0) {
        to_means(scratch.mean.data(), scratch.mean_counts.data(), points);
        add_shares(scratch.mean.data(), points, runs.size(), scratch.representative.data());
    }

    // The best match of each series, in the order of `indexes`.
    DistanceBatch batch;
    for (const PositionRun& run : runs) {
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(run.series));
        for (const int* p = run.first; p != run.last; ++p) batch.add(series, locate(*p, seglen, length, series.size()));
    }
    const std::vector<double>& q = batch.squared(scratch.representative.data(), points);
    double naed = 0.0;
    std::size_t j = 0;
    scratch.best.clear();
    for (const PositionRun& run : runs) {
        double best = 1000000.0;
        int best_position = 0;
        for (const int* p = run.first; p != run.last; ++p) {
            const double d = std::sqrt(q[j++]);
            if (d < best) {
                best = d;
                best_position = *p;
            }
        }
        naed += best;
        scratch.best.push_back(best_position);
    }
    return naed / (static_cast<double>(runs.size()) * static_cast<double>(length));
}
