#include "discovery/discovery.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "discovery/detrend.h"
#include "discovery/refine.h"
#include "engine/sax.h"
#include "parallel/pipeline.h"

std::vector<double> block_means(const double* values, std::size_t size, std::size_t factor) {
    std::vector<double> out(size / factor);
    for (std::size_t b = 0; b < out.size(); ++b) {
        double sum = 0.0;
        for (std::size_t j = 0; j < factor; ++j) sum += values[b * factor + j];
        out[b] = sum / static_cast<double>(factor);
    }
    return out;
}

std::size_t need_of(double minsup, std::size_t usable) {
    return std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(minsup * static_cast<double>(usable) - 1e-9)), 1,
                                   usable);
}

std::size_t coarse_factor(const DiscoverySettings& settings) {
    return settings.coarse > 0 ? std::max<std::size_t>(1, settings.length / settings.coarse) : 1;
}

std::vector<double> coarse_shape(const std::vector<double>& shape, std::size_t factor) {
    const std::size_t coarse_m = shape.size() / factor;
    std::vector<double> blocks = block_means(shape.data(), coarse_m * factor, factor);
    const WindowStats one = window_stats(blocks.data(), blocks.size(), coarse_m, 0.0);
    return znormalised_window(blocks.data(), 0, coarse_m, one);
}

double seed_gap(const std::vector<double>& normalised, long long point, const std::vector<double>& representative,
                long long span) {
    double gap = 0.0;
    for (long long j = 0; j < span; ++j) {
        const long long at = point + j;
        const double v =
            at < static_cast<long long>(normalised.size()) ? normalised[static_cast<std::size_t>(at)] : 0.0;
        gap += (v - representative[static_cast<std::size_t>(j)]) * (v - representative[static_cast<std::size_t>(j)]);
    }
    return std::isnan(gap) ? INFINITY : gap;
}

std::vector<double> seed_window(const SeriesView& view, const WindowStats& stats, long long point, long long span,
                                std::size_t m) {
    const long long last = static_cast<long long>(view.size) - static_cast<long long>(m);
    const long long start = std::clamp(point + (span - static_cast<long long>(m)) / 2, 0LL, last);
    return znormalised_window(view.values, static_cast<std::size_t>(start), m, stats);
}

namespace {

struct Seed {
    std::vector<double> shape;
    std::string pattern;
    double score = 0.0;
};

// What the engine is given: the usable series, as viewed, and the same series
// z-normalised as the engine normalises them.
struct EngineInput {
    SeriesViews views;
    SeriesSet normalised;
    std::vector<std::size_t> index_of;  // position in the collection of each
};

EngineInput engine_input(const Refiner& fine, const Runner& runner) {
    EngineInput input;
    for (std::size_t s = 0; s < fine.series_count(); ++s) {
        if (!fine.usable(s)) continue;
        input.views.push_back(fine.view(s));
        input.index_of.push_back(s);
    }
    input.normalised.resize(input.views.size());
    runner.run_ranges(input.views.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            runner.check_stop();
            input.normalised[i].assign(input.views[i].values, input.views[i].values + input.views[i].size);
            znorm_series(input.normalised[i]);
        }
    });
    return input;
}

// The candidate shapes of one engine motif: the windows of `length` points
// centred on its best matches that lie closest to its representative, at most
// `per_motif` of them.
std::vector<Seed> seeds_of(Motif& motif, const EngineInput& input, const Refiner& fine,
                           const DiscoverySettings& settings) {
    const std::vector<double> representative = motif.get_representative();
    const long long span = motif.get_length();
    std::vector<std::pair<double, std::pair<std::size_t, long long>>> matches;
    for (const auto& [series, point] : motif.get_best_matches()) {
        const std::vector<double>& row = input.normalised[static_cast<std::size_t>(series)];
        matches.push_back(
            {seed_gap(row, point, representative, span), {input.index_of[static_cast<std::size_t>(series)], point}});
    }
    std::sort(matches.begin(), matches.end());
    std::vector<Seed> seeds;
    for (const auto& match : matches) {
        if (seeds.size() == settings.seeds_per_motif) break;
        const std::size_t s = match.second.first;
        std::vector<double> shape =
            seed_window(fine.view(s), fine.window_stats_of(s), match.second.second, span, settings.length);
        if (shape.empty()) continue;
        seeds.push_back({std::move(shape), {motif.get_pattern().begin(), motif.get_pattern().end()}, 0.0});
    }
    return seeds;
}

// Candidate shapes from one run of the engine, appended to `seeds` in the
// order of the engine's ranking.
void engine_seeds(const EngineInput& input, const Refiner& fine, const DiscoverySettings& settings, int alphabet,
                  const Runner& runner, std::vector<Seed>& seeds) {
    const MinerSettings engine{settings.engine_minsup, settings.seglen,      alphabet, settings.min_len,
                               settings.max_len,       settings.max_overlap, 0};
    std::vector<Motif> motifs = mine_motifs(input.views, engine, settings.max_patterns, runner);
    std::vector<std::vector<Seed>> found(motifs.size());
    StageCount counted(runner, kStageCandidates, motifs.size());
    each(runner, counted, motifs.size(), [&](std::size_t i) { found[i] = seeds_of(motifs[i], input, fine, settings); });
    for (auto& some : found)
        for (Seed& seed : some) seeds.push_back(std::move(seed));
}

// Scores every seed once, on block means when the shapes are long, and
// returns the positions of the `pool` best at distinct places.
std::vector<std::size_t> screen(std::vector<Seed>& seeds, const SeriesSet& prepared, const Refiner& fine,
                                std::size_t need, const DiscoverySettings& settings, const Runner& runner) {
    const std::size_t factor = coarse_factor(settings);
    std::vector<Candidate> scored(seeds.size());
    // Seeds are many and each is cheap to screen: they are spread one by one.
    if (factor == 1) {
        StageCount counted(runner, kStageScreen, seeds.size());
        each(runner, counted, seeds.size(), [&](std::size_t i) { scored[i] = fine.evaluate(seeds[i].shape, need); });
    } else {
        SeriesSet blocks(prepared.size());
        runner.run_ranges(prepared.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t s = first; s < last; ++s)
                blocks[s] = block_means(prepared[s].data(), prepared[s].size(), factor);
        });
        const Refiner coarse(views_of(blocks), settings.length / factor, settings.flat_tol, runner);
        StageCount counted(runner, kStageScreen, seeds.size());
        each(runner, counted, seeds.size(), [&](std::size_t i) {
            std::vector<double> z = coarse_shape(seeds[i].shape, factor);
            Candidate c = z.empty() ? Candidate{} : coarse.evaluate(std::move(z), need);
            for (long long& b : c.best)
                if (b >= 0) b *= static_cast<long long>(factor);
            scored[i] = std::move(c);
        });
    }
    // The pool drops only near-copies (best matches overlapping by more than
    // half): a shape next to a better-screened one keeps its chance.
    return ranked_places(scored, settings.length, settings.same_place, settings.pool);
}

}  // namespace

Discovery discover(const SeriesViews& series, const DiscoverySettings& settings, const Runner& runner) {
    const std::size_t m = settings.length;
    if (m < 2) throw std::invalid_argument("the motif length must be at least 2 points");
    Discovery result;

    // Each series detrended, its windows measured, and (when detrended) flat
    // judged on the series as given too: detrending turns the edge of a
    // constant stretch into a smooth curve that every such series shares.
    SeriesSet prepared(series.size());
    {
        StageCount counted(runner, kStagePrepare, series.size());
        each(runner, counted, series.size(),
             [&](std::size_t s) { prepared[s] = detrend(series[s].values, series[s].size, settings.detrend_window); });
    }
    Refiner fine(views_of(prepared), m, settings.flat_tol, runner);
    if (settings.detrend_window > 1) {
        runner.run_ranges(series.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t s = first; s < last; ++s) {
                runner.check_stop();
                fine.mark_flat(s, window_stats(series[s].values, series[s].size, m, settings.flat_tol));
            }
        });
    }
    for (std::size_t s = 0; s < prepared.size(); ++s)
        if (prepared[s].size() >= m && !fine.usable(s)) result.flat_series.push_back(s);
    const std::size_t usable = fine.usable_count();
    if (usable == 0 || settings.k == 0) return result;
    const std::size_t need = need_of(settings.minsup, usable);

    std::vector<Seed> seeds;
    {
        const EngineInput input = engine_input(fine, runner);
        for (int alphabet : settings.alphabets) engine_seeds(input, fine, settings, alphabet, runner, seeds);
    }
    result.candidates = seeds.size();
    const std::vector<std::size_t> pool = screen(seeds, prepared, fine, need, settings, runner);

    // Few candidates, each compared with every series: each is refined in
    // turn, its comparisons spread series by series.
    std::vector<Candidate> refined;
    std::vector<std::string> patterns;
    {
        StageCount counted(runner, kStageRefine, pool.size());
        for (std::size_t i : pool) {
            runner.check_stop();
            refined.push_back(fine.refine(std::move(seeds[i].shape), need, settings.iterations, runner));
            patterns.push_back(seeds[i].pattern);
            counted.add_one();
        }
    }
    const std::vector<std::size_t> kept =
        ranked_places(refined, m, settings.same_place, settings.k, settings.place_overlap);

    // The occurrences of every returned motif in every series.
    const std::size_t n = series.size();
    result.motifs.resize(kept.size());
    for (DiscoveredMotif& motif : result.motifs) motif.occurrences.resize(n);
    {
        StageCount counted(runner, kStageOccurrences, kept.size() * n);
        each(runner, counted, kept.size() * n, [&](std::size_t unit) {
            const std::size_t r = unit / n, s = unit % n;
            result.motifs[r].occurrences[s] = fine.occurrences(refined[kept[r]].shape, s, settings.radius);
        });
    }
    for (std::size_t j = 0; j < kept.size(); ++j) {
        Candidate& c = refined[kept[j]];
        DiscoveredMotif& motif = result.motifs[j];
        motif.shape = std::move(c.shape);
        motif.best = std::move(c.best);
        motif.distance = std::move(c.distance);
        motif.score = c.score;
        motif.pattern = patterns[kept[j]];
    }
    return result;
}
