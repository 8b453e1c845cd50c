// The pieces of a Motif's mapping that the partitioned steps compute apart,
// and the record put together again from them on the client.
#include <cmath>
#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/mapping_kernels.h"
#include "engine/motif.h"

std::vector<double> Motif::series_average(const std::vector<double>& series, const std::vector<int>& positions,
                                          int seglen, int length) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    std::vector<double> averages(points, 0.0);
    std::vector<int> counts(points, 0);
    for (int position : positions) {
        add_occurrence(series, locate(position, seglen, length, series.size()), averages.data(), counts.data());
    }
    to_means(averages.data(), counts.data(), points);
    return averages;
}

std::pair<double, int> Motif::series_best(const std::vector<double>& series, const std::vector<int>& positions,
                                          int seglen, int length, const std::vector<double>& representative) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    if (representative.size() < points) throw std::invalid_argument("the representative is shorter than the motif");
    double best = 1000000.0;
    int best_position = 0;
    for (int position : positions) {
        const double d =
            std::sqrt(squared_distance(series, locate(position, seglen, length, series.size()), representative.data()));
        if (d < best) {
            best = d;
            best_position = position;
        }
    }
    return {best, checked_product(best_position, seglen)};
}

Motif Motif::restored(Pattern pattern, int seglen, const std::vector<int>& series,
                      const std::vector<std::vector<int>>& positions,
                      const std::unordered_map<int, std::vector<double>>& averages, bool keep_averages) {
    Motif motif(std::move(pattern));
    motif.seglen = seglen;
    motif.length = occurrence_length(motif.pattern.size(), seglen);
    if (positions.size() != series.size()) throw std::invalid_argument("one list of positions per series");
    for (std::size_t i = 0; i < series.size(); ++i) {
        motif.record_indexes(series[i], positions[i].data(), positions[i].data() + positions[i].size());
    }
    const std::size_t points = static_cast<std::size_t>(motif.length);
    // The averages enter their table in the order of `indexes`, as in map().
    for (std::size_t e : motif.indexes.order()) {
        const std::vector<double>& average = averages.at(motif.indexes.series(e));
        if (average.size() != points) throw std::invalid_argument("an average of another length than the motif");
        motif.average_occurrences.assign(motif.indexes.series(e), average.data(), average.size(), true);
    }
    motif.representative.assign(points, 0.0);
    motif.set_representative();
    if (!keep_averages) motif.average_occurrences.clear();
    return motif;
}

void Motif::set_best_matches(const std::unordered_map<int, std::pair<double, int>>& best) {
    naed = 0.0;
    best_matches.clear();
    for (std::size_t e : indexes.order()) {
        const std::pair<double, int>& found = best.at(indexes.series(e));
        naed += found.first;
        best_matches.assign(indexes.series(e), &found.second, 1, true);
    }
    naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}
