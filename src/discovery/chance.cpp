#include "discovery/chance.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

// splitmix64: a fixed sequence of 64-bit values from a seed.
std::uint64_t next_random(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

std::vector<double> surrogate(const std::vector<double>& shape, std::uint64_t seed) {
    const std::size_t m = shape.size();
    const double pi = std::acos(-1.0);
    // The discrete Fourier transform of the real shape, its first half: the
    // shapes are a few hundred points and few, so directly.
    const std::size_t half = m / 2;
    std::vector<double> cosine(m), sine(m);
    for (std::size_t i = 0; i < m; ++i) {
        cosine[i] = std::cos(2.0 * pi * static_cast<double>(i) / static_cast<double>(m));
        sine[i] = std::sin(2.0 * pi * static_cast<double>(i) / static_cast<double>(m));
    }
    std::vector<std::complex<double>> spectrum(half + 1);
    for (std::size_t k = 0; k <= half; ++k) {
        double re = 0.0, im = 0.0;
        for (std::size_t j = 0; j < m; ++j) {
            re += shape[j] * cosine[(k * j) % m];
            im -= shape[j] * sine[(k * j) % m];
        }
        spectrum[k] = {re, im};
    }
    // Each frequency keeps its amplitude and gets a phase of its own; the mean
    // and (for an even length) the last frequency stay real.
    std::uint64_t state = seed;
    for (std::size_t k = 1; k <= half; ++k) {
        if (2 * k == m) continue;
        const double phase = 2.0 * pi * static_cast<double>(next_random(state) >> 11) * 0x1.0p-53;
        spectrum[k] = std::abs(spectrum[k]) * std::complex<double>(std::cos(phase), std::sin(phase));
    }
    std::vector<double> out(m, 0.0);
    for (std::size_t j = 0; j < m; ++j) {
        double value = spectrum[0].real();
        for (std::size_t k = 1; k <= half; ++k) {
            const double term = spectrum[k].real() * cosine[(k * j) % m] - spectrum[k].imag() * sine[(k * j) % m];
            value += (2 * k == m) ? term : 2.0 * term;
        }
        out[j] = value / static_cast<double>(m);
    }
    double mean = 0.0;
    for (double v : out) mean += v;
    mean /= static_cast<double>(m);
    double squares = 0.0;
    for (double& v : out) {
        v -= mean;
        squares += v * v;
    }
    const double sd = std::sqrt(squares / static_cast<double>(m));
    if (!(sd > 0.0)) return {};
    for (double& v : out) v /= sd;
    return out;
}

void ChanceLevels::add(std::size_t length, double score) {
    lengths.push_back(std::log(static_cast<double>(length)));
    scores.push_back(std::log(score));
}

double ChanceLevels::at(std::size_t length) const {
    if (lengths.empty()) return 1.0;
    const double n = static_cast<double>(lengths.size());
    double mx = 0.0, my = 0.0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        mx += lengths[i];
        my += scores[i];
    }
    mx /= n;
    my /= n;
    double sxx = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        sxx += (lengths[i] - mx) * (lengths[i] - mx);
        sxy += (lengths[i] - mx) * (scores[i] - my);
    }
    const double slope = sxx > 0.0 ? sxy / sxx : 0.0;
    return std::exp(my + slope * (std::log(static_cast<double>(length)) - mx));
}

double standing_of(double score, std::size_t m, double chance) {
    const auto evidence = [](double d) {
        const double r = std::clamp(1.0 - d * d / 2.0, -0.999, 0.999);
        return -0.5 * std::log(1.0 - r * r);
    };
    return -std::sqrt(static_cast<double>(m)) * (evidence(score) - evidence(chance));
}

std::pair<std::size_t, std::size_t> chance_place(std::size_t unit, std::size_t j, std::size_t q, std::size_t attempt,
                                                 const std::vector<std::size_t>& windows) {
    const std::size_t at = (j + attempt * q) % windows.size();
    return {at, static_cast<std::size_t>((2654435761ULL * (unit + 1) + 40503ULL * attempt) % windows[at])};
}

std::uint64_t chance_seed(std::size_t m, std::size_t j) { return 1000003ULL * m + j; }
