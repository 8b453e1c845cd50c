#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The yardstick that puts motifs of different lengths on one scale. A short
// window matches some window of every series better than a long one, shape or
// no shape; so a motif is ranked by its score over the score that shapes of no
// particular form reach at its length in the same collection: shapes with the
// spectrum of windows of the series (so as smooth as the background) and
// random phases (so of no recurring form), refined as a candidate is.

// Where the j-th chance shape of length m (shape number `unit` of the run) is
// cut, on its `attempt`-th try: a position into the sample's series (whose
// windows of m points number `windows`) and a start. A try whose window is
// flat is followed by the next, up to kChanceAttempts tries.
constexpr std::size_t kChanceAttempts = 8;
std::pair<std::size_t, std::size_t> chance_place(std::size_t unit, std::size_t j, std::size_t q, std::size_t attempt,
                                                 const std::vector<std::size_t>& windows);

// The seed of the phases of the j-th chance shape of length m.
std::uint64_t chance_seed(std::size_t m, std::size_t j);

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

// How far a motif's matches lie above chance at its length. A window that
// correlates r with the shape carries -log(1 - r^2) / 2 per point of evidence
// that it holds the shape rather than noise (the log-likelihood ratio of a
// Gaussian window); over m points, m times that. The score and the chance
// score are read as correlations (a distance d is sqrt(2 (1 - r))), chance's
// evidence is taken off, and the rest divided by sqrt(m), the spread of
// evidence summed over m points. Negated: the lower, the better. Short
// windows match better by chance, and chance's share takes that out; points
// beyond the shape add about as much evidence as chance's, while the spread
// grows with them.
double standing_of(double score, std::size_t m, double chance);
