#include "discovery.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "detrend.h"
#include "miner.h"
#include "refine.h"

namespace {

// Means of consecutive blocks of `factor` points (a last partial block is dropped).
std::vector<double> block_means(const double* values, std::size_t size, std::size_t factor) {
    std::vector<double> out(size / factor);
    for (std::size_t b = 0; b < out.size(); ++b) {
        double sum = 0.0;
        for (std::size_t j = 0; j < factor; ++j) sum += values[b * factor + j];
        out[b] = sum / static_cast<double>(factor);
    }
    return out;
}

SeriesViews views_of(const SeriesSet& set) {
    SeriesViews views;
    views.reserve(set.size());
    for (const auto& row : set) views.push_back({row.data(), row.size()});
    return views;
}

struct Seed {
    std::vector<double> shape;
    std::string pattern;
    double score = 0.0;
};

// Candidate shapes from the engine: for each frequent pattern, the windows of
// `length` points centred on its best matches that lie closest to its
// representative, at most `per_motif` of them.
void engine_seeds(const SeriesSet& prepared, const Refiner& fine, const DiscoverySettings& settings, int alphabet,
                  std::vector<Seed>& seeds) {
    const std::size_t m = settings.length;
    // The engine sees the usable series only.
    SeriesSet words_input;
    std::vector<std::size_t> index_of;
    for (std::size_t s = 0; s < prepared.size(); ++s) {
        if (!fine.usable(s)) continue;
        words_input.push_back(prepared[s]);
        index_of.push_back(s);
    }
    Miner miner(settings.engine_minsup, settings.seglen, alphabet, settings.min_len, settings.max_len,
                settings.max_overlap, 0);
    std::vector<Motif> motifs = miner.mine(words_input);  // z-normalises words_input in place

    for (Motif& motif : motifs) {
        const std::vector<double> representative = motif.get_representative();
        const long long span = motif.get_length();
        std::vector<std::pair<double, std::pair<std::size_t, long long>>> matches;
        for (const auto& [series, point] : motif.get_best_matches()) {
            const std::vector<double>& row = words_input[static_cast<std::size_t>(series)];
            double gap = 0.0;
            for (long long j = 0; j < span; ++j) {
                const long long at = point + j;
                const double v = at < static_cast<long long>(row.size()) ? row[static_cast<std::size_t>(at)] : 0.0;
                gap += (v - representative[static_cast<std::size_t>(j)]) * (v - representative[static_cast<std::size_t>(j)]);
            }
            matches.push_back({std::isnan(gap) ? INFINITY : gap, {index_of[static_cast<std::size_t>(series)], point}});
        }
        std::sort(matches.begin(), matches.end());
        std::size_t taken = 0;
        for (const auto& match : matches) {
            if (taken == settings.seeds_per_motif) break;
            const std::size_t s = match.second.first;
            const SeriesView& view = fine.view(s);
            const long long last = static_cast<long long>(view.size) - static_cast<long long>(m);
            const long long start = std::clamp(match.second.second + (span - static_cast<long long>(m)) / 2, 0LL, last);
            std::vector<double> shape =
                znormalised_window(view.values, static_cast<std::size_t>(start), m, fine.window_stats_of(s));
            if (shape.empty()) continue;
            seeds.push_back({std::move(shape), {motif.get_pattern().begin(), motif.get_pattern().end()}, 0.0});
            ++taken;
        }
    }
}

// Scores every seed once, on block means when the shapes are long, and
// returns the positions of the `pool` best at distinct places.
std::vector<std::size_t> screen(std::vector<Seed>& seeds, const SeriesSet& prepared, const Refiner& fine,
                                std::size_t need, const DiscoverySettings& settings) {
    const std::size_t m = settings.length;
    const std::size_t factor = settings.coarse > 0 ? std::max<std::size_t>(1, m / settings.coarse) : 1;
    std::vector<Candidate> scored;
    scored.reserve(seeds.size());
    if (factor == 1) {
        for (Seed& seed : seeds) scored.push_back(fine.evaluate(seed.shape, need));
    } else {
        SeriesSet blocks;
        for (const auto& row : prepared) blocks.push_back(block_means(row.data(), row.size(), factor));
        const std::size_t coarse_m = m / factor;
        const Refiner coarse(views_of(blocks), coarse_m, settings.flat_tol);
        for (Seed& seed : seeds) {
            std::vector<double> shape = block_means(seed.shape.data(), coarse_m * factor, factor);
            const WindowStats one = window_stats(shape.data(), shape.size(), coarse_m, 0.0);
            std::vector<double> z = znormalised_window(shape.data(), 0, coarse_m, one);
            Candidate c = z.empty() ? Candidate{} : coarse.evaluate(std::move(z), need);
            for (long long& b : c.best)
                if (b >= 0) b *= static_cast<long long>(factor);
            scored.push_back(std::move(c));
        }
    }
    std::vector<std::size_t> order(seeds.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return scored[a].score < scored[b].score; });
    std::vector<Candidate> ranked;
    for (std::size_t i : order) ranked.push_back(std::move(scored[i]));
    // The pool drops only near-copies (best matches overlapping by more than
    // half): a shape next to a better-screened one keeps its chance.
    std::vector<std::size_t> kept = distinct_places(ranked, m, settings.same_place, settings.pool);
    for (std::size_t& k : kept) k = order[k];
    return kept;
}

}  // namespace

Discovery discover(const SeriesViews& series, const DiscoverySettings& settings) {
    const std::size_t m = settings.length;
    if (m < 2) throw std::invalid_argument("the motif length must be at least 2 points");
    Discovery result;

    SeriesSet prepared;
    prepared.reserve(series.size());
    for (const SeriesView& s : series) prepared.push_back(detrend(s.values, s.size, settings.detrend_window));
    Refiner fine(views_of(prepared), m, settings.flat_tol);
    // Flat is judged on the series as given too: detrending turns the edge of
    // a constant stretch into a smooth curve that every such series shares.
    if (settings.detrend_window > 1) {
        for (std::size_t s = 0; s < series.size(); ++s)
            fine.mark_flat(s, window_stats(series[s].values, series[s].size, m, settings.flat_tol));
    }
    for (std::size_t s = 0; s < prepared.size(); ++s)
        if (prepared[s].size() >= m && !fine.usable(s)) result.flat_series.push_back(s);
    const std::size_t usable = fine.usable_count();
    if (usable == 0 || settings.k == 0) return result;
    const std::size_t need = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::ceil(settings.minsup * static_cast<double>(usable) - 1e-9)), 1, usable);

    std::vector<Seed> seeds;
    for (int alphabet : settings.alphabets) engine_seeds(prepared, fine, settings, alphabet, seeds);
    result.candidates = seeds.size();
    const std::vector<std::size_t> pool = screen(seeds, prepared, fine, need, settings);

    std::vector<Candidate> refined;
    std::vector<std::string> patterns;
    for (std::size_t i : pool) {
        refined.push_back(fine.refine(std::move(seeds[i].shape), need, settings.iterations));
        patterns.push_back(seeds[i].pattern);
    }
    std::vector<std::size_t> order(refined.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return refined[a].score < refined[b].score; });
    std::vector<Candidate> ranked;
    for (std::size_t i : order) ranked.push_back(std::move(refined[i]));
    for (std::size_t r : distinct_places(ranked, m, settings.same_place, settings.k, settings.place_overlap)) {
        Candidate& c = ranked[r];
        DiscoveredMotif motif;
        motif.occurrences.resize(series.size());
        for (std::size_t s = 0; s < series.size(); ++s) motif.occurrences[s] = fine.occurrences(c.shape, s, settings.radius);
        motif.shape = std::move(c.shape);
        motif.best = std::move(c.best);
        motif.distance = std::move(c.distance);
        motif.score = c.score;
        motif.pattern = patterns[order[r]];
        result.motifs.push_back(std::move(motif));
    }
    return result;
}
