#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "discovery/discovery.h"
#include "discovery/refine.h"
#include "discovery/screening.h"
#include "discovery/whitened.h"
#include "engine/motif.h"

// Where discovery's candidate shapes come from: the best matches of the
// engine's motifs, and the closest pairs of windows of two series.

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

// The series of `view` that `fine` finds usable.
EngineInput engine_input(const Refiner& view, const Refiner& fine, const Runner& runner);

// The engine's motifs on one view, as `settings` asks for them with `alphabet` letters.
std::vector<Motif> engine_motifs(const EngineInput& input, const DiscoverySettings& settings, int alphabet,
                                 const Runner& runner);

// The candidate shapes of one engine motif: the windows of `fine`'s length
// centred on its best matches that lie closest to its representative, at most
// `per_motif` of them.
std::vector<Seed> seeds_of(Motif& motif, const EngineInput& input, const Refiner& fine,
                           const DiscoverySettings& settings);

// The raw window at a place as the partitions give it: the mean of one
// window's exact sum (discovery_shape of its sums); empty when it is flat.
std::vector<double> raw_window(const Refiner& raw, const SeedPlace& place);

// The usable series, and those of them that the first screening compares
// every candidate with (positions into the collection).
struct Sample {
    std::vector<std::size_t> usable, series;
};

Sample sample_of(const Refiner& fine, const DiscoverySettings& settings);

// Candidate shapes from exact joins of pairs of the sample's series (join.h),
// appended to `seeds` pair by pair: each the raw window at its place, as the
// partitions give it, ranked with the engines' best motifs.
void join_seeds(const BothViews& views, const std::vector<std::size_t>& sample, const DiscoverySettings& settings,
                const Runner& runner, std::vector<Seed>& seeds);

// A candidate as the first screening judges it: compared with the sample's
// series, then, since a window cut from one series carries that series'
// noise and the mean of its closest matches much less of it, replaced by that
// mean when the mean scores better there.
Candidate screened_on_sample(const BothViews& views, const std::vector<double>& shape,
                             const std::vector<std::size_t>& sample, std::size_t sample_need);

// What discover returns for the kept candidates, best first: each with its
// length, chance score and pattern, and its occurrences in each of n series
// (`occurrences(kept, s)` in series s, spread by `runner`).
struct Kept {
    Candidate candidate;
    std::size_t length = 0;
    double chance = 0.0;
    std::string pattern;
};
std::vector<DiscoveredMotif> returned_motifs(
    std::vector<Kept> kept, std::size_t n,
    const std::function<std::vector<long long>(const Kept&, std::size_t)>& occurrences, const Runner& runner);
