#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "discovery/refine.h"

// Discovery of motifs of a given length: the engine's frequent patterns give
// candidate shapes, each refined at point resolution (refine.h) and ranked by
// how closely the series that match it best agree with it.
struct DiscoverySettings {
    std::size_t length = 0;      // motif length in points; over a range (lengths.h), the shortest
    std::size_t max_length = 0;  // the longest motif length over a range; 0: `length` alone
    double minsup = 0.5;         // share of the usable series that a motif is scored over
    // The engine's settings, for the candidates (see Miner).
    double engine_minsup = 0.5;
    int seglen = 1;
    std::vector<int> alphabets{3, 4};  // the engine runs once for each
    int min_len = 3;
    int max_len = 0;
    double max_overlap = 0.9;
    std::size_t detrend_window = 0;   // moving average subtracted first; 0 or 1: none
    double flat_tol = 0.05;           // a window this much quieter than its series is flat
    double radius = 1.0;              // how close a window must be to count as an occurrence
    int iterations = 2;               // refinement rounds of each candidate
    std::size_t seeds_per_motif = 2;  // candidate shapes taken from each engine motif
    std::size_t pool = 20;            // candidates refined
    // Screening (screening.h): candidates cut less than merge_apart * length
    // apart in one series are one; each is compared with a sample of series
    // holding about sample_points points (at least sample_fewest series; 0:
    // every series), and the best `survivors` of them with every series.
    // At most most_candidates of them are screened, the engines' best first (0: all).
    double merge_apart = 0.125;
    std::size_t most_candidates = 200;
    std::size_t sample_points = 8000;
    std::size_t sample_fewest = 4;
    std::size_t survivors = 40;
    // Exact joins (join.h): at most join_pairs pairs of the sample's series,
    // comparing at most join_cells pairs of windows in all, each giving its
    // join_count closest pairs of windows as candidates.
    std::size_t join_pairs = 4;
    std::size_t join_count = 1;
    std::size_t join_cells = 4000000;
    double same_place = 0.5;       // share of overlapping best matches that makes two motifs one
    double place_overlap = 0.25;   // how much two best matches overlap (times length) to be at one place
    std::size_t k = 10;            // motifs returned
    std::size_t max_patterns = 0;  // frequent patterns one engine run may find (0: no limit)
    // Over a range of lengths: shapes of no recurring form measured per length
    // (chance.h), and steps in length (of about 12 %) a motif may take.
    std::size_t chance_shapes = 4;
    std::size_t length_steps = 6;
};

struct DiscoveredMotif {
    std::size_t length = 0;                           // in points
    std::vector<double> shape;                        // z-normalised, `length` points
    std::vector<long long> best;                      // per series: start of its best match, -1: none
    std::vector<double> distance;                     // per series: distance of that match
    std::vector<std::vector<long long>> occurrences;  // per series: starts within the radius
    double score = 0.0;
    double chance = 0.0;  // over a range: the score of shapes of no recurring form at its length; else 0
    std::string pattern;  // the engine pattern the candidate came from; empty for a join's
};

struct Discovery {
    std::vector<DiscoveredMotif> motifs;   // best first
    std::vector<std::size_t> flat_series;  // series without a window that is not flat
    std::size_t candidates = 0;            // candidate shapes found
    std::size_t screened = 0;              // of those, at places of their own
};

// Stages of discover, in the order in which they report progress, with what
// they count: series detrended and measured; then for each alphabet the
// stages of mine_motifs (pipeline.h) and the engine motifs turned into
// candidate shapes; candidates screened; candidates of the pool refined;
// pairs of a returned motif and a series searched for occurrences.
inline constexpr const char* kStagePrepare = "prepare";
inline constexpr const char* kStageCandidates = "candidates";
inline constexpr const char* kStageScreen = "screen";
inline constexpr const char* kStageRefine = "refine";
inline constexpr const char* kStageOccurrences = "occurrences";

// With a max_length above `length`, discovery over that range of lengths
// (lengths.h). Series shorter than `length` take no part (no match, not counted). Throws
// std::invalid_argument for a length below 2. The work is spread by `runner`
// (series by series, candidate by candidate) and its result does not depend
// on how: every unit fills a slot of its own, and slots are combined in one
// fixed order.
Discovery discover(const SeriesViews& series, const DiscoverySettings& settings, const Runner& runner = Runner{});

// Steps of discover that zef.dask also runs, on the partitions of a
// collection and on the client (partitioned/partitioned_discovery.h).
//
// The share minsup of `usable` series, rounded up: at least 1, at most usable.
std::size_t need_of(double minsup, std::size_t usable);
// The series the first screening samples (screening_sample over the usable
// ones): positions into `usable`, the collection's usable series.
std::vector<std::size_t> discovery_sample(const std::vector<std::size_t>& usable_lengths,
                                          const DiscoverySettings& settings);
// The start of the window of m points that a best match at `point` (span
// points) of a series of `size` points gives: centred on it, within the series.
long long seed_start(std::size_t size, long long point, long long span, std::size_t m);
// How far an engine motif's best match at `point` (span points) of a series,
// z-normalised as the engine normalises it, lies from the motif's
// representative: the sum of squared differences (infinite for NaN).
double seed_gap(const std::vector<double>& normalised, long long point, const std::vector<double>& representative,
                long long span);
