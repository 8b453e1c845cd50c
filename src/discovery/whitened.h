#pragma once

#include <cstddef>
#include <vector>

#include "core/runner.h"
#include "discovery/refine.h"

// The second view discovery compares shapes in: every series whitened by the
// first-order filter y[t] = x[t + 1] - phi x[t], with phi the collection's
// typical lag-one autocorrelation. On a smooth background (AR(1) noise,
// walks) the raw view favours smooth shapes, which chance windows of the
// background imitate; the whitened view takes the background's smoothness
// out and favours shapes with detail. A shape is scored in both, and ranked
// by the mean of the two scores. On white noise phi is near 0 and the two
// views agree. A whitened window of m - 1 points starting at t stands for the
// raw window of m points starting at t.

// The lag-one autocorrelation of values[0, size) about their mean; 0 for a
// constant series or fewer than 3 points.
double lag_one(const double* values, std::size_t size);

// The collection's coefficient: the median of the lags of its usable series,
// within [0, 0.95]; 0 without any.
double whitening_coefficient(std::vector<double> lags);

// y[t] = x[t + 1] - phi x[t]: size - 1 points (none for an empty series).
std::vector<double> whiten(const double* values, std::size_t size, double phi);

// A raw shape as the whitened view compares it: whitened and z-normalised;
// empty when that is flat.
std::vector<double> whitened_shape(const std::vector<double>& shape, double phi);

// The two views of one collection: the raw refiner over windows of m points
// and the whitened one over windows of m - 1. Candidates are raw shapes. The
// distance of a shape to a window is the mean of its raw and whitened
// distances (a window flat in either view is farthest in it); a series' best
// match is the window closest by that distance, and a score averages those
// distances as Refiner's does.
struct BothViews {
    const Refiner& raw;
    const Refiner& white;
    double phi = 0.0;

    Candidate evaluate(std::vector<double> shape, std::size_t need, const Runner& runner = Runner{}) const;
    Candidate evaluate_on(std::vector<double> shape, const std::vector<std::size_t>& subset, std::size_t need) const;
    // Refiner::refine with these distances.
    Candidate refine(std::vector<double> shape, std::size_t need, int iterations,
                     const Runner& runner = Runner{}) const;
    // Refiner::occurrences with these distances.
    std::vector<long long> occurrences(const std::vector<double>& shape, std::size_t s, double radius) const;
    // The distance of `shape` (whitened: `white_shape`, empty for none) to every window of series s.
    void profile(const std::vector<double>& shape, const std::vector<double>& white_shape, std::size_t s,
                 std::vector<double>& out, std::vector<double>& scratch) const;
};
