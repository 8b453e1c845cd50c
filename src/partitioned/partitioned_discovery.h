#pragma once

// The pieces of discovery that run apart on the partitions of a collection
// (zef.dask.discover): each partition compares its own series with the
// candidate shapes and sends per-series values (distances, best matches) and
// exact sums of windows; the client decides from those alone, with the steps
// of discover (discovery.h) that the one-process run takes.

#include <cstddef>
#include <vector>

#include "core/types.h"
#include "discovery/discovery.h"
#include "discovery/refine.h"
#include "discovery/whitened.h"

namespace partitioned {

// One partition's series as discovery compares them: detrended, and for each
// the flags of its flat windows (those of the detrended series and of the
// series as given) and whether any window is not flat.
struct PreparedPart {
    SeriesSet prepared;
    std::vector<std::vector<unsigned char>> flat;
    std::vector<unsigned char> usable;
    std::vector<double> lag;  // lag_one of each detrended series, for the whitening coefficient
};

PreparedPart prepare_part(const SeriesViews& series, const DiscoverySettings& settings);

// The whitened view of a prepared partition (whitened.h): each series
// whitened with `phi`, and the flags of its flat windows of length - 1 points
// (its own, and those flat in the raw view).
struct WhitenedPart {
    SeriesSet whitened;
    std::vector<std::vector<unsigned char>> flat;
};

WhitenedPart whiten_part(const SeriesViews& prepared, const std::vector<std::vector<unsigned char>>& flat, double phi,
                         const DiscoverySettings& settings);

// A prepared partition's flags at settings.length points, for discovery over
// a range of lengths: of its flat windows in the raw view (flat in the
// detrended series, or, when `given` is not null, in the series as given), of
// its flat windows of length - 1 points in the whitened view, and whether
// each series has a window that is not flat.
struct PartFlags {
    std::vector<std::vector<unsigned char>> flat, white_flat;
    std::vector<unsigned char> usable;
};

PartFlags part_flags(const SeriesViews& prepared, const SeriesViews* given, const SeriesViews& whitened,
                     const DiscoverySettings& settings);

// A Refiner over a prepared partition: `flat[s]` marks the flat windows of
// series s, as prepare_part found them.
Refiner part_refiner(const SeriesViews& prepared, const std::vector<std::vector<unsigned char>>& flat,
                     const DiscoverySettings& settings);

// The best matches of one engine motif in one partition: local series
// (ascending) and the point of each, with the motif's representative.
struct MotifMatches {
    std::vector<long long> series;
    std::vector<long long> points;
    std::vector<double> representative;
    long long span = 0;  // points of one occurrence
};

// The partition's part of a motif's candidate shapes: its best matches
// closest to the representative (by gap, then series, then point) whose
// windows are not flat, at most seeds_per_motif, closest first; a series
// shorter than the length gives none.
struct PartSeeds {
    std::vector<double> gap;
    std::vector<long long> series;
    std::vector<long long> point;
    std::vector<long long> start;  // of the window cut (seed_start)
    SeriesSet shapes;
};

std::vector<PartSeeds> part_seeds(const Refiner& fine, const std::vector<MotifMatches>& motifs,
                                  const DiscoverySettings& settings);

// Each shape compared, in both views, with every series of the partition, or
// with the local series `only` when given: per series the distance and start
// of the best match (-1 for a series without one or not compared).
std::vector<Candidate> part_evaluate(const BothViews& views, const SeriesSet& shapes,
                                     const std::vector<long long>* only, const DiscoverySettings& settings);

// For each shape, the exact sums of the z-normalised windows of m points at
// starts[i] of local series series[i].
std::vector<std::vector<ExactSum>> part_sums(const Refiner& fine, const std::vector<std::vector<long long>>& series,
                                             const std::vector<std::vector<long long>>& starts);

}  // namespace partitioned
