#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The yardstick that puts motifs of different lengths on one scale. A short
// window matches some window of every series better than a long one, shape or
// no shape; so a motif is ranked by its score over the score that shapes of no
// particular form reach at its length in the same collection: shapes with the
// spectrum of windows of the series (so as smooth as the background) and
// random phases (so of no recurring form), refined as a candidate is.

// A shape with the spectrum of `shape` and phases drawn from `seed`,
// z-normalised. The same seed gives the same shape on every platform.
std::vector<double> surrogate(const std::vector<double>& shape, std::uint64_t seed);

// The chance score as a power of the length, fitted by least squares to the
// logarithms of the scores measured: a few shapes per length score far apart,
// and the fit keeps their scatter from ranking one length above its
// neighbours. With scores at one length only, that score at every length.
class ChanceLevels {
public:
    void add(std::size_t length, double score);
    double at(std::size_t length) const;

private:
    std::vector<double> lengths, scores;  // logarithms
};
