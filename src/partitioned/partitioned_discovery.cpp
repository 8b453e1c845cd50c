#include "partitioned/partitioned_discovery.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "discovery/detrend.h"
#include "discovery/whitened.h"
#include "engine/sax.h"

namespace partitioned {

namespace {

std::size_t local_index(long long s, const Refiner& fine) {
    if (s < 0 || static_cast<std::size_t>(s) >= fine.series_count()) throw std::out_of_range("no such local series");
    return static_cast<std::size_t>(s);
}

}  // namespace

PreparedPart prepare_part(const SeriesViews& series, const DiscoverySettings& settings) {
    PreparedPart part;
    part.prepared.reserve(series.size());
    // The statistics of a series' windows (17 bytes a point) are made and
    // dropped series by series, never held for the whole partition.
    for (const SeriesView& view : series) {
        part.prepared.push_back(detrend(view.values, view.size, settings.detrend_window));
        const std::vector<double>& values = part.prepared.back();
        Refiner fine(SeriesViews{{values.data(), values.size()}}, settings.length, settings.flat_tol);
        if (settings.detrend_window > 1)
            fine.mark_flat(0, window_stats(view.values, view.size, settings.length, settings.flat_tol));
        part.flat.push_back(fine.window_stats_of(0).flat);
        part.usable.push_back(fine.usable(0));
        part.lag.push_back(lag_one(values.data(), values.size()));
    }
    return part;
}

WhitenedPart whiten_part(const SeriesViews& prepared, const std::vector<std::vector<unsigned char>>& flat, double phi,
                         const DiscoverySettings& settings) {
    if (flat.size() != prepared.size()) throw std::invalid_argument("one list of flags per series");
    WhitenedPart part;
    for (std::size_t s = 0; s < prepared.size(); ++s) {
        part.whitened.push_back(whiten(prepared[s].values, prepared[s].size, phi));
        const std::vector<double>& values = part.whitened.back();
        Refiner white(SeriesViews{{values.data(), values.size()}}, settings.length - 1, settings.flat_tol);
        WindowStats marks;
        marks.flat = flat[s];
        white.mark_flat(0, marks);
        part.flat.push_back(white.window_stats_of(0).flat);
    }
    return part;
}

PartFlags part_flags(const SeriesViews& prepared, const SeriesViews* given, const SeriesViews& whitened,
                     const DiscoverySettings& settings) {
    if (whitened.size() != prepared.size() || (given != nullptr && given->size() != prepared.size()))
        throw std::invalid_argument("one whitened (and given) series per prepared series");
    PartFlags flags;
    for (std::size_t s = 0; s < prepared.size(); ++s) {
        Refiner fine(SeriesViews{prepared[s]}, settings.length, settings.flat_tol);
        if (given != nullptr)
            fine.mark_flat(0, window_stats((*given)[s].values, (*given)[s].size, settings.length, settings.flat_tol));
        Refiner white(SeriesViews{whitened[s]}, settings.length - 1, settings.flat_tol);
        white.mark_flat(0, fine.window_stats_of(0));
        flags.flat.push_back(fine.window_stats_of(0).flat);
        flags.white_flat.push_back(white.window_stats_of(0).flat);
        flags.usable.push_back(fine.usable(0));
    }
    return flags;
}

Refiner part_refiner(const SeriesViews& prepared, const std::vector<std::vector<unsigned char>>& flat,
                     const DiscoverySettings& settings) {
    Refiner fine(prepared, settings.length, settings.flat_tol);
    WindowStats marks;
    for (std::size_t s = 0; s < prepared.size() && s < flat.size(); ++s) {
        marks.flat = flat[s];
        fine.mark_flat(s, marks);
    }
    return fine;
}

std::vector<PartSeeds> part_seeds(const Refiner& fine, const std::vector<MotifMatches>& motifs,
                                  const DiscoverySettings& settings) {
    // Each series is z-normalised once, as the engine normalises it, for the
    // gaps of every motif that matches it best.
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> matches_in(fine.series_count());
    std::vector<std::vector<double>> gaps(motifs.size());
    for (std::size_t i = 0; i < motifs.size(); ++i) {
        if (motifs[i].series.size() != motifs[i].points.size())
            throw std::invalid_argument("one point per series of a motif's matches");
        gaps[i].resize(motifs[i].series.size());
        for (std::size_t j = 0; j < motifs[i].series.size(); ++j)
            matches_in[local_index(motifs[i].series[j], fine)].push_back({i, j});
    }
    std::vector<double> normalised;
    for (std::size_t s = 0; s < matches_in.size(); ++s) {
        if (matches_in[s].empty()) continue;
        const SeriesView& view = fine.view(s);
        normalised.assign(view.values, view.values + view.size);
        znorm_series(normalised);
        for (const auto& [i, j] : matches_in[s]) {
            const MotifMatches& motif = motifs[i];
            if (motif.representative.size() < static_cast<std::size_t>(std::max(0LL, motif.span)))
                throw std::invalid_argument("a representative shorter than the motif");
            gaps[i][j] = seed_gap(normalised, motif.points[j], motif.representative, motif.span);
        }
    }
    std::vector<PartSeeds> result(motifs.size());
    for (std::size_t i = 0; i < motifs.size(); ++i) {
        const MotifMatches& motif = motifs[i];
        std::vector<std::tuple<double, long long, long long>> order;
        for (std::size_t j = 0; j < motif.series.size(); ++j)
            order.emplace_back(gaps[i][j], motif.series[j], motif.points[j]);
        std::sort(order.begin(), order.end());
        PartSeeds& seeds = result[i];
        for (const auto& [gap, series, point] : order) {
            if (seeds.shapes.size() == settings.seeds_per_motif) break;
            const std::size_t s = static_cast<std::size_t>(series);
            if (fine.view(s).size < settings.length) continue;
            const long long start = seed_start(fine.view(s).size, point, motif.span, settings.length);
            std::vector<double> shape = znormalised_window(fine.view(s).values, static_cast<std::size_t>(start),
                                                           settings.length, fine.window_stats_of(s));
            if (shape.empty()) continue;
            seeds.gap.push_back(gap);
            seeds.series.push_back(series);
            seeds.point.push_back(point);
            seeds.start.push_back(start);
            seeds.shapes.push_back(std::move(shape));
        }
    }
    return result;
}

std::vector<Candidate> part_evaluate(const BothViews& views, const SeriesSet& shapes,
                                     const std::vector<long long>* only, const DiscoverySettings& settings) {
    std::vector<std::size_t> subset;
    if (only != nullptr)
        for (long long s : *only) subset.push_back(local_index(s, views.raw));
    std::vector<Candidate> result;
    result.reserve(shapes.size());
    for (const auto& shape : shapes) {
        if (shape.size() != settings.length) throw std::invalid_argument("a shape of another length");
        result.push_back(only != nullptr ? views.evaluate_on(shape, subset, 0) : views.evaluate(shape, 0));
    }
    return result;
}

std::vector<std::vector<ExactSum>> part_sums(const Refiner& fine, const std::vector<std::vector<long long>>& series,
                                             const std::vector<std::vector<long long>>& starts) {
    if (series.size() != starts.size()) throw std::invalid_argument("one list of starts per list of series");
    std::vector<std::vector<ExactSum>> result(series.size(), std::vector<ExactSum>(fine.length()));
    for (std::size_t i = 0; i < series.size(); ++i) {
        if (series[i].size() != starts[i].size()) throw std::invalid_argument("one start per series");
        for (std::size_t j = 0; j < series[i].size(); ++j) {
            const std::size_t s = local_index(series[i][j], fine);
            const long long start = starts[i][j];
            if (start < 0 || static_cast<std::size_t>(start) >= fine.window_stats_of(s).flat.size())
                throw std::out_of_range("a window outside its series");
            add_window(result[i], fine.view(s).values, static_cast<std::size_t>(start), fine.length(),
                       fine.window_stats_of(s));
        }
    }
    return result;
}

}  // namespace partitioned
