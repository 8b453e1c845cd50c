#include "discovery/discovery.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "discovery/collection.h"
#include "discovery/join.h"
#include "discovery/lengths.h"
#include "discovery/refine.h"
#include "discovery/screening.h"
#include "discovery/seeds.h"
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

// Candidate shapes from one run of the engine on one view (cut from `fine`,
// that view's refiner), appended to `seeds` in the order of the engine's
// ranking. With `raw` (for the whitened view), each becomes the raw window at
// its place, as the partitions give it (the mean of one window's exact sum),
// and is dropped when that is flat.
void engine_seeds(const EngineInput& input, const Refiner& fine, const Refiner* raw, const DiscoverySettings& settings,
                  int alphabet, const Runner& runner, std::vector<Seed>& seeds) {
    std::vector<Motif> motifs = engine_motifs(input, settings, alphabet, runner);
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
                first[i] = screened_on_sample(views, seeds[merged[i]].shape, sample, sample_need);
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
    if (settings.max_length > m) return discover_lengths(series, settings, runner);
    Discovery result;

    Collection collection(series, settings.detrend_window, settings.flat_tol, runner);
    Refiner measured = collection.raw_view(m, runner);
    for (std::size_t s = 0; s < series.size(); ++s)
        if (series[s].size >= m && !measured.usable(s)) result.flat_series.push_back(s);
    const std::size_t usable = measured.usable_count();
    if (usable == 0 || settings.k == 0) return result;
    const std::size_t need = need_of(settings.minsup, usable);
    collection.whiten_with(measured, runner);
    const auto both = collection.views(std::move(measured), runner);
    const Refiner& fine = both->raw;
    const Refiner& white = both->white;
    const BothViews& views = both->both;

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

    std::vector<Kept> returned;
    for (std::size_t i : kept) returned.push_back({std::move(refined[i]), m, 0.0, patterns[i]});
    result.motifs = returned_motifs(
        std::move(returned), series.size(),
        [&](const Kept& motif, std::size_t s) { return views.occurrences(motif.candidate.shape, s, settings.radius); },
        runner);
    return result;
}
