#include "discovery/seeds.h"

#include <algorithm>
#include <utility>

#include "discovery/join.h"
#include "engine/sax.h"
#include "parallel/pipeline.h"

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
        if (fine.view(s).size < m) continue;  // over a range, a series may be too short for this length
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

std::vector<Motif> engine_motifs(const EngineInput& input, const DiscoverySettings& settings, int alphabet,
                                 const Runner& runner) {
    const MinerSettings engine{settings.engine_minsup, settings.seglen,      alphabet, settings.min_len,
                               settings.max_len,       settings.max_overlap, 0};
    return mine_motifs(input.views, engine, settings.max_patterns, runner);
}

Candidate screened_on_sample(const BothViews& views, const std::vector<double>& shape,
                             const std::vector<std::size_t>& sample, std::size_t sample_need) {
    const Refiner& fine = views.raw;
    const std::size_t m = fine.length();
    Candidate first = views.evaluate_on(shape, sample, sample_need);
    const std::vector<std::size_t> closest = closest_series(first.distance, first.best, sample_need);
    std::vector<ExactSum> sums(m);
    for (std::size_t s : closest)
        add_window(sums, fine.view(s).values, static_cast<std::size_t>(first.best[s]), m, fine.window_stats_of(s));
    std::vector<double> mean = shape_from_sums(sums, closest.size());
    if (!mean.empty()) {
        Candidate again = views.evaluate_on(std::move(mean), sample, sample_need);
        if (again.score < first.score) return again;
    }
    return first;
}

std::vector<DiscoveredMotif> returned_motifs(
    std::vector<Kept> kept, std::size_t n,
    const std::function<std::vector<long long>(const Kept&, std::size_t)>& occurrences, const Runner& runner) {
    std::vector<DiscoveredMotif> motifs(kept.size());
    for (DiscoveredMotif& motif : motifs) motif.occurrences.resize(n);
    {
        StageCount counted(runner, kStageOccurrences, kept.size() * n);
        each(runner, counted, kept.size() * n,
             [&](std::size_t unit) { motifs[unit / n].occurrences[unit % n] = occurrences(kept[unit / n], unit % n); });
    }
    for (std::size_t j = 0; j < kept.size(); ++j) {
        DiscoveredMotif& motif = motifs[j];
        motif.length = kept[j].length;
        motif.chance = kept[j].chance;
        motif.shape = std::move(kept[j].candidate.shape);
        motif.best = std::move(kept[j].candidate.best);
        motif.distance = std::move(kept[j].candidate.distance);
        motif.score = kept[j].candidate.score;
        motif.pattern = std::move(kept[j].pattern);
    }
    return motifs;
}
