#pragma once

#include <cstddef>
#include <vector>

#include "core/runner.h"
#include "core/types.h"

// Refinement of candidate shapes at point resolution: every window of `m`
// points of every series is compared with a shape by the Euclidean distance
// of the two after z-normalisation, divided by sqrt(m). That distance is
// sqrt(2 (1 - r)) for the Pearson correlation r of the two: 0 for the same
// shape, about 1.41 for unrelated ones, 2 at most. A flat window (one whose
// deviation is at most `flat_tol` times the deviation of its whole series)
// has no shape: it is given the largest distance, 2, and never divides by zero.

// Mean and deviation of every window of m points of one series, and which are flat.
struct WindowStats {
    std::vector<double> mean;
    std::vector<double> sd;
    std::vector<unsigned char> flat;
    std::size_t usable = 0;  // windows that are not flat
};

// Computed in one pass of running updates, resumed from an exact sum every m
// windows so that rounding cannot build up; no window of a series shorter
// than m. A series that is constant throughout has only flat windows.
WindowStats window_stats(const double* values, std::size_t size, std::size_t m, double flat_tol);

// `out` (size - m + 1 values) gets the distance of `shape` (m z-normalised
// values: mean 0, population deviation 1) to every window. O(size * m), in
// loops that the compiler vectorises.
void distance_profile(const double* shape, std::size_t m, const double* values, std::size_t size,
                      const WindowStats& stats, double* out);

// The window of m points at `start`, z-normalised; empty when it is flat.
std::vector<double> znormalised_window(const double* values, std::size_t start, std::size_t m,
                                       const WindowStats& stats);

// The starts of the windows whose distance in `profile` is at most `radius`,
// closest first (equal distances by start), no two overlapping by more than
// half of m.
std::vector<long long> occurrences_in(const std::vector<double>& profile, std::size_t m, double radius);

// A sum of finite doubles kept exactly, as non-overlapping partial sums
// (Shewchuk's expansion), and rounded once when read: the value is the exact
// sum correctly rounded, whatever the order in which the terms were added and
// however they were grouped. Sums made apart (on the partitions of a
// collection) are combined by adding one's partials to the other.
class ExactSum {
public:
    void add(double value);
    void add(const ExactSum& other) {
        for (double part : other.partials) add(part);
    }
    double value() const;
    const std::vector<double>& parts() const { return partials; }

private:
    std::vector<double> partials;  // non-overlapping, by increasing magnitude
};

// A shape and how every series matches it.
struct Candidate {
    std::vector<double> shape;     // z-normalised
    std::vector<long long> best;   // per series: start of the closest window, -1 for a series without one
    std::vector<double> distance;  // per series: the distance of that window (2 without one)
    double score = 2.0;            // mean distance over the `need` closest series
};

// The score of a shape from its matches: the mean distance over the `need`
// closest series with a match (best >= 0), summed smallest first; 2 without any.
double score_of(const std::vector<double>& distance, const std::vector<long long>& best, std::size_t need);

// The series whose best matches a refinement round averages: those with a
// match, closest first (equal distances by series index), at most `need`.
std::vector<std::size_t> closest_series(const std::vector<double>& distance, const std::vector<long long>& best,
                                        std::size_t need);

// Adds the z-normalised window of m points at `start` to sums[0, m) (nothing
// for a flat window).
void add_window(std::vector<ExactSum>& sums, const double* values, std::size_t start, std::size_t m,
                const WindowStats& stats);

// The refined shape from the sums of `take` z-normalised windows: their mean
// scaled to deviation 1; empty when it has (almost) none.
std::vector<double> shape_from_sums(const std::vector<ExactSum>& sums, std::size_t take);

// The series of one collection, viewed, with the statistics of their windows
// of m points. Work that goes over the series takes a Runner, which spreads it
// series by series: each series fills slots of its own, and whatever adds up
// over the series does so afterwards in series order, so the results do not
// depend on the Runner.
class Refiner {
public:
    Refiner(SeriesViews series, std::size_t m, double flat_tol, const Runner& runner = Runner{});

    std::size_t length() const { return m; }
    std::size_t series_count() const { return series.size(); }
    // Whether a series has a window that is not flat (and so can match at all).
    bool usable(std::size_t s) const { return stats[s].usable > 0; }
    std::size_t usable_count() const;
    const SeriesView& view(std::size_t s) const { return series[s]; }
    const WindowStats& window_stats_of(std::size_t s) const { return stats[s]; }
    // Marks flat, besides its own, the windows of series s that `other` (the
    // statistics of the same windows of another version of the series, such
    // as the series before detrending) marks flat.
    void mark_flat(std::size_t s, const WindowStats& other);

    // The best match of `shape` in every series, and the score over the
    // `need` closest usable series.
    Candidate evaluate(std::vector<double> shape, std::size_t need, const Runner& runner = Runner{}) const;
    // evaluate(), then `iterations` times: the shape becomes the mean of the
    // z-normalised best matches of the `need` closest series (closest_series,
    // add_window, shape_from_sums), and is evaluated again. Returns the
    // best-scoring of these shapes.
    Candidate refine(std::vector<double> shape, std::size_t need, int iterations,
                     const Runner& runner = Runner{}) const;
    // Starts of every window of series s within `radius` of `shape`, closest
    // first, no two overlapping by more than half of m.
    std::vector<long long> occurrences(const std::vector<double>& shape, std::size_t s, double radius) const;

private:
    SeriesViews series;
    std::size_t m;
    std::vector<WindowStats> stats;
};

// Refiner::refine with another evaluation: `evaluate(shape)` gives a
// Candidate whose best matches and distances are those of `fine`'s series.
template <typename Evaluate>
Candidate refine_with(const Refiner& fine, std::vector<double> shape, std::size_t need, int iterations,
                      Evaluate evaluate) {
    Candidate best = evaluate(std::move(shape));
    Candidate current = best;
    for (int round = 0; round < iterations; ++round) {
        const std::vector<std::size_t> closest = closest_series(current.distance, current.best, need);
        if (closest.empty()) break;
        std::vector<ExactSum> sums(fine.length());
        for (std::size_t s : closest)
            add_window(sums, fine.view(s).values, static_cast<std::size_t>(current.best[s]), fine.length(),
                       fine.window_stats_of(s));
        std::vector<double> mean = shape_from_sums(sums, closest.size());
        if (mean.empty()) break;
        current = evaluate(std::move(mean));
        if (current.score < best.score) best = current;
    }
    return best;
}

// One candidate per place: walks `ranked` (best first) and keeps a candidate
// unless, among the series where both it and an already kept candidate have a
// best match, a share of at least `share` have the two best matches (windows
// of m points) overlapping by more than `overlap` times m. Returns the
// positions kept, at most `limit`.
std::vector<std::size_t> distinct_places(const std::vector<Candidate>& ranked, std::size_t m, double share,
                                         std::size_t limit = static_cast<std::size_t>(-1), double overlap = 0.5);
// The same over candidates taken in the order `order` (positions into
// `candidates`); returns positions into `order`.
std::vector<std::size_t> distinct_places(const std::vector<Candidate>& candidates,
                                         const std::vector<std::size_t>& order, std::size_t m, double share,
                                         std::size_t limit, double overlap);

// The same over candidates of their own lengths (lengths[i] points for
// candidates[i]): two best matches are at one place when their windows
// overlap by more than `overlap` times the shorter of the two.
std::vector<std::size_t> distinct_places(const std::vector<Candidate>& candidates,
                                         const std::vector<std::size_t>& lengths, const std::vector<std::size_t>& order,
                                         double share, std::size_t limit, double overlap);

// The candidates ranked by score (equal scores keep their order), one per
// place (distinct_places): positions into `candidates`, best first.
std::vector<std::size_t> ranked_places(const std::vector<Candidate>& candidates, std::size_t m, double share,
                                       std::size_t limit, double overlap = 0.5);
// The same over candidates of their own lengths, ranked by `keys` (lower
// first) rather than by score.
std::vector<std::size_t> ranked_places(const std::vector<Candidate>& candidates,
                                       const std::vector<std::size_t>& lengths, const std::vector<double>& keys,
                                       double share, std::size_t limit, double overlap);
