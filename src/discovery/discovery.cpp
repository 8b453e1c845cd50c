#include "discovery/discovery.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "discovery/detrend.h"
#include "discovery/join.h"
#include "discovery/refine.h"
#include "discovery/screening.h"
#include "discovery/whitened.h"
#include "engine/sax.h"
#include "parallel/pipeline.h"

std::size_t need_of(double minsup, std::size_t usable) {
    return std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(minsup * static_cast<double>(usable) - 1e-9)), 1,
                                   usable);
}

std::vector<std::size_t> discovery_sample(const std::vector<std::size_t>& usable_lengths,
                                          const DiscoverySettings& settings) {
    return screening_sample(usable_lengths, settings.sample_points, settings.sample_fewest);
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

long long seed_start(std::size_t size, long long point, long long span, std::size_t m) {
    const long long last = static_cast<long long>(size) - static_cast<long long>(m);
    return std::clamp(point + (span - static_cast<long long>(m)) / 2, 0LL, last);
}

namespace {

struct Seed {
    std::vector<double> shape;
    std::string pattern;
    SeedPlace place;
    std::size_t rank = 0;  // of its motif in the engine's ranking
    bool joined = false;   // from a join rather than the engine
};

// What the engine is given: the usable series, as viewed, and the same series
// z-normalised as the engine normalises them.
struct EngineInput {
    SeriesViews views;
    SeriesSet normalised;
    std::vector<std::size_t> index_of;  // position in the collection of each
};

EngineInput engine_input(const Refiner& view, const Refiner& fine, const Runner& runner) {
    EngineInput input;
    for (std::size_t s = 0; s < fine.series_count(); ++s) {
        if (!fine.usable(s)) continue;
        input.views.push_back(view.view(s));
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

// The candidate shapes of one engine motif: the windows of `fine`'s length
// centred on its best matches that lie closest to its representative, at most
// `per_motif` of them.
std::vector<Seed> seeds_of(Motif& motif, const EngineInput& input, const Refiner& fine,
                           const DiscoverySettings& settings) {
    const std::size_t m = fine.length();
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
        const long long start = seed_start(fine.view(s).size, match.second.second, span, m);
        std::vector<double> shape =
            znormalised_window(fine.view(s).values, static_cast<std::size_t>(start), m, fine.window_stats_of(s));
        if (shape.empty()) continue;
        seeds.push_back({std::move(shape), {motif.get_pattern().begin(), motif.get_pattern().end()}, {s, start}});
    }
    return seeds;
}

// The raw window at a place as the partitions give it: the mean of one
// window's exact sum (discovery_shape of its sums); empty when it is flat.
std::vector<double> raw_window(const Refiner& raw, const SeedPlace& place) {
    std::vector<ExactSum> sums(raw.length());
    add_window(sums, raw.view(place.series).values, static_cast<std::size_t>(place.start), raw.length(),
               raw.window_stats_of(place.series));
    return shape_from_sums(sums, 1);
}

// Candidate shapes from one run of the engine on one view (cut from `fine`,
// that view's refiner), appended to `seeds` in the order of the engine's
// ranking. With `raw` (for the whitened view), each becomes the raw window at
// its place, as the partitions give it (the mean of one window's exact sum),
// and is dropped when that is flat.
void engine_seeds(const EngineInput& input, const Refiner& fine, const Refiner* raw, const DiscoverySettings& settings,
                  int alphabet, const Runner& runner, std::vector<Seed>& seeds) {
    const MinerSettings engine{settings.engine_minsup, settings.seglen,      alphabet, settings.min_len,
                               settings.max_len,       settings.max_overlap, 0};
    std::vector<Motif> motifs = mine_motifs(input.views, engine, settings.max_patterns, runner);
    std::vector<std::vector<Seed>> found(motifs.size());
    StageCount counted(runner, kStageCandidates, motifs.size());
    each(runner, counted, motifs.size(), [&](std::size_t i) { found[i] = seeds_of(motifs[i], input, fine, settings); });
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (Seed& seed : found[i]) {
            if (raw != nullptr) {
                seed.shape = raw_window(*raw, seed.place);
                if (seed.shape.empty()) continue;
            }
            seed.rank = i;
            seeds.push_back(std::move(seed));
        }
    }
}

// The usable series, and those of them that the first screening compares
// every candidate with (positions into the collection).
struct Sample {
    std::vector<std::size_t> usable, series;
};

Sample sample_of(const Refiner& fine, const DiscoverySettings& settings) {
    Sample sample;
    std::vector<std::size_t> lengths;
    for (std::size_t s = 0; s < fine.series_count(); ++s) {
        if (!fine.usable(s)) continue;
        sample.usable.push_back(s);
        lengths.push_back(fine.view(s).size);
    }
    for (std::size_t i : discovery_sample(lengths, settings)) sample.series.push_back(sample.usable[i]);
    return sample;
}

// Candidate shapes from exact joins of pairs of the sample's series (join.h),
// appended to `seeds` pair by pair: each the raw window at its place, as the
// partitions give it, ranked with the engines' best motifs.
void join_seeds(const BothViews& views, const std::vector<std::size_t>& sample, const DiscoverySettings& settings,
                const Runner& runner, std::vector<Seed>& seeds) {
    const Refiner& fine = views.raw;
    std::vector<std::size_t> windows;
    for (std::size_t s : sample) windows.push_back(fine.view(s).size - fine.length() + 1);
    const auto pairs = join_pairs(windows, settings.join_pairs, settings.join_cells);
    std::vector<std::vector<SeedPlace>> found(pairs.size());
    StageCount counted(runner, kStageCandidates, pairs.size());
    each(runner, counted, pairs.size(), [&](std::size_t p) {
        found[p] = joined_places(views, sample[pairs[p].first], sample[pairs[p].second], settings.join_count);
    });
    for (const std::vector<SeedPlace>& places : found) {
        for (const SeedPlace& place : places) {
            std::vector<double> shape = raw_window(fine, place);
            if (shape.empty()) continue;
            seeds.push_back({std::move(shape), std::string(), place, 0, true});
        }
    }
}

// The positions of the seeds that enter the pool, best first: seeds from one
// place merged, the rest compared at point resolution with a sample of the
// series, and the `survivors` best of those (at distinct places) with every
// series; then the `pool` best at distinct places.
struct Pool {
    std::vector<std::size_t> seed;  // positions into the seeds
    SeriesSet shape;                // as screened
};

Pool screen(const std::vector<Seed>& seeds, const BothViews& views, const Sample& sampled, std::size_t need,
            const DiscoverySettings& settings, const Runner& runner, std::size_t& screened) {
    const Refiner& fine = views.raw;
    const std::size_t m = settings.length;
    std::vector<SeedPlace> places;
    for (const Seed& seed : seeds) places.push_back(seed.place);
    std::vector<std::size_t> merged = merge_places(places, merge_distance(settings.merge_apart, m));
    if (settings.most_candidates > 0 && merged.size() > settings.most_candidates)
        merged.resize(settings.most_candidates);
    screened = merged.size();

    const std::vector<std::size_t>& usable = sampled.usable;
    const std::vector<std::size_t>& sample = sampled.series;
    std::vector<std::size_t> compared = merged;  // positions into seeds
    std::vector<Candidate> scored;
    if (sample.size() < usable.size() && merged.size() > settings.survivors) {
        // Seeds are many and each is cheap to screen on the sample: they are spread one by one.
        const std::size_t sample_need = need_of(settings.minsup, sample.size());
        std::vector<Candidate> first(merged.size());
        {
            StageCount counted(runner, kStageScreen, merged.size());
            each(runner, counted, merged.size(), [&](std::size_t i) {
                first[i] = views.evaluate_on(seeds[merged[i]].shape, sample, sample_need);
                // One round of refinement on the sample: a window cut from one
                // series carries that series' noise, the mean of its closest
                // matches much less of it.
                const std::vector<std::size_t> closest = closest_series(first[i].distance, first[i].best, sample_need);
                std::vector<ExactSum> sums(m);
                for (std::size_t s : closest)
                    add_window(sums, fine.view(s).values, static_cast<std::size_t>(first[i].best[s]), m,
                               fine.window_stats_of(s));
                std::vector<double> mean = shape_from_sums(sums, closest.size());
                if (!mean.empty()) {
                    Candidate again = views.evaluate_on(std::move(mean), sample, sample_need);
                    if (again.score < first[i].score) first[i] = std::move(again);
                }
            });
        }
        std::vector<std::size_t> best = ranked_places(first, m, settings.same_place, settings.survivors);
        // The joins' candidates are few and matched their own pairs best of
        // all: the sample, which holds those pairs, cannot judge them fairly.
        for (std::size_t i = 0; i < merged.size(); ++i)
            if (seeds[merged[i]].joined && std::find(best.begin(), best.end(), i) == best.end()) best.push_back(i);
        compared.clear();
        for (std::size_t i : best) compared.push_back(merged[i]);
        scored.resize(compared.size());
        StageCount counted(runner, kStageScreen, compared.size());
        // Few survivors, each compared with every series: spread series by series.
        for (std::size_t i = 0; i < compared.size(); ++i) {
            scored[i] = views.evaluate(first[best[i]].shape, need, runner);
            counted.add_one();
        }
    } else {
        scored.resize(compared.size());
        StageCount counted(runner, kStageScreen, compared.size());
        each(runner, counted, compared.size(),
             [&](std::size_t i) { scored[i] = views.evaluate(seeds[compared[i]].shape, need); });
    }
    // The pool drops only near-copies (best matches overlapping by more than
    // half): a shape next to a better-screened one keeps its chance.
    Pool pool;
    for (std::size_t i : ranked_places(scored, m, settings.same_place, settings.pool)) {
        pool.seed.push_back(compared[i]);
        pool.shape.push_back(std::move(scored[i].shape));
    }
    return pool;
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

    // The whitened view: each series filtered with the collection's
    // coefficient, a window flat where its raw window is.
    std::vector<double> lags;
    for (std::size_t s = 0; s < prepared.size(); ++s)
        if (fine.usable(s)) lags.push_back(lag_one(prepared[s].data(), prepared[s].size()));
    const double phi = whitening_coefficient(std::move(lags));
    SeriesSet whitened(series.size());
    runner.run_ranges(series.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t s = first; s < last; ++s) whitened[s] = whiten(prepared[s].data(), prepared[s].size(), phi);
    });
    Refiner white(views_of(whitened), m - 1, settings.flat_tol, runner);
    for (std::size_t s = 0; s < series.size(); ++s) white.mark_flat(s, fine.window_stats_of(s));
    const BothViews views{fine, white, phi};

    std::vector<Seed> seeds;
    {
        const EngineInput input = engine_input(fine, fine, runner);
        for (int alphabet : settings.alphabets) engine_seeds(input, fine, nullptr, settings, alphabet, runner, seeds);
    }
    {
        const EngineInput input = engine_input(white, fine, runner);
        for (int alphabet : settings.alphabets) engine_seeds(input, white, &fine, settings, alphabet, runner, seeds);
    }
    const Sample sample = sample_of(fine, settings);
    join_seeds(views, sample.series, settings, runner, seeds);
    // The engines' rankings interleaved: first every engine's best motif (and
    // the joins' pairs), then their second...
    std::stable_sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.rank < b.rank; });
    result.candidates = seeds.size();
    Pool pool = screen(seeds, views, sample, need, settings, runner, result.screened);

    // Few candidates, each compared with every series: each is refined in
    // turn, its comparisons spread series by series.
    std::vector<Candidate> refined;
    std::vector<std::string> patterns;
    {
        StageCount counted(runner, kStageRefine, pool.seed.size());
        for (std::size_t j = 0; j < pool.seed.size(); ++j) {
            runner.check_stop();
            refined.push_back(views.refine(std::move(pool.shape[j]), need, settings.iterations, runner));
            patterns.push_back(seeds[pool.seed[j]].pattern);
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
            result.motifs[r].occurrences[s] = views.occurrences(refined[kept[r]].shape, s, settings.radius);
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
