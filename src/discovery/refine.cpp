#include "discovery/refine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <tuple>
#include <utility>

#include "discovery/sliding_dot.h"

namespace {

constexpr double kFarthest = 2.0;

// Exact mean and sum of squared deviations of values[0, m).
std::pair<double, double> exact_moments(const double* values, std::size_t m) {
    double sum = 0.0;
    for (std::size_t j = 0; j < m; ++j) sum += values[j];
    const double mean = sum / static_cast<double>(m);
    double squares = 0.0;
    for (std::size_t j = 0; j < m; ++j) squares += (values[j] - mean) * (values[j] - mean);
    return {mean, squares};
}

}  // namespace

WindowStats window_stats(const double* values, std::size_t size, std::size_t m, double flat_tol) {
    WindowStats stats;
    if (m == 0 || size < m) return stats;
    const std::size_t count = size - m + 1;
    stats.mean.resize(count);
    stats.sd.resize(count);
    stats.flat.resize(count);

    const auto [series_mean, series_squares] = exact_moments(values, size);
    double largest = 0.0;
    for (std::size_t i = 0; i < size; ++i) largest = std::max(largest, std::abs(values[i] - series_mean));
    // Below this a deviation is rounding, whatever flat_tol says.
    const double floor = 1e-9 * std::max(largest, std::abs(series_mean));
    const double limit = std::max(flat_tol * std::sqrt(series_squares / static_cast<double>(size)), floor);

    const double inv_m = 1.0 / static_cast<double>(m);
    double mean = 0.0, squares = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % m == 0) {
            std::tie(mean, squares) = exact_moments(values + i, m);
        } else {
            // Welford's update for the value that enters and the one that leaves.
            const double in = values[i + m - 1], out = values[i - 1];
            const double old_mean = mean;
            mean += (in - out) * inv_m;
            squares += (in - out) * (in - mean + out - old_mean);
            squares = std::max(squares, 0.0);
        }
        const double sd = std::sqrt(squares * inv_m);
        stats.mean[i] = mean;
        stats.sd[i] = sd;
        const bool flat = !(sd > limit);  // NaN counts as flat
        stats.flat[i] = flat;
        stats.usable += !flat;
    }
    return stats;
}

void distance_profile(const double* shape, std::size_t m, const double* values, std::size_t size,
                      const WindowStats& stats, double* out) {
    if (m == 0 || size < m) return;
    const std::size_t count = size - m + 1;
    sliding_dot(shape, m, values, size, out);
    double shape_sum = 0.0;
    for (std::size_t j = 0; j < m; ++j) shape_sum += shape[j];
    const double inv_m = 1.0 / static_cast<double>(m);
    const unsigned char* flat = stats.flat.data();
    const double* mean = stats.mean.data();
    const double* sd = stats.sd.data();
    // Without branches, so that the loop is vectorised: a flat window (whose
    // deviation may be 0) is divided by 1 and its distance then replaced.
    for (std::size_t i = 0; i < count; ++i) {
        const bool is_flat = flat[i] != 0;
        const double deviation = sd[i];
        // The shape's sum is 0 but for rounding: take it out with the window's mean.
        const double r = (out[i] - shape_sum * mean[i]) * inv_m / (is_flat ? 1.0 : deviation);
        double twice = 2.0 * (1.0 - r);  // within [0, 4] (r is finite but for a flat window)
        twice = twice > 0.0 ? twice : 0.0;
        twice = twice < 4.0 ? twice : 4.0;
        out[i] = is_flat ? kFarthest : std::sqrt(twice);
    }
}

std::vector<double> znormalised_window(const double* values, std::size_t start, std::size_t m,
                                       const WindowStats& stats) {
    if (start >= stats.flat.size() || stats.flat[start]) return {};
    std::vector<double> shape(values + start, values + start + m);
    const double mean = stats.mean[start], sd = stats.sd[start];
    for (double& v : shape) v = (v - mean) / sd;
    return shape;
}

void ExactSum::add(double value) {
    // Each partial in turn absorbs the value: their sum, rounded, goes on and
    // the rounding error (exact, by two-sum) stays as a partial.
    std::size_t kept = 0;
    for (double part : partials) {
        double big = value, small = part;
        if (std::abs(big) < std::abs(small)) std::swap(big, small);
        const double high = big + small;
        const double low = small - (high - big);
        if (low != 0.0) partials[kept++] = low;
        value = high;
    }
    partials.resize(kept);
    partials.push_back(value);
}

double ExactSum::value() const {
    // The partials from the largest down, until one is lost in rounding; then
    // a tie of that rounding is broken towards the sign of what remains below.
    std::size_t n = partials.size();
    if (n == 0) return 0.0;
    double high = partials[--n], low = 0.0;
    while (n > 0) {
        const double x = high, y = partials[--n];
        high = x + y;
        low = y - (high - x);
        if (low != 0.0) break;
    }
    if (n > 0 && ((low < 0.0 && partials[n - 1] < 0.0) || (low > 0.0 && partials[n - 1] > 0.0))) {
        const double y = low * 2.0;
        const double x = high + y;
        if (y == x - high) high = x;
    }
    return high;
}

double score_of(const std::vector<double>& distance, const std::vector<long long>& best, std::size_t need) {
    std::vector<double> matched;
    for (std::size_t s = 0; s < best.size() && s < distance.size(); ++s)
        if (best[s] >= 0) matched.push_back(distance[s]);
    need = std::min(need, matched.size());
    if (need == 0) return kFarthest;
    std::partial_sort(matched.begin(), matched.begin() + static_cast<std::ptrdiff_t>(need), matched.end());
    return std::accumulate(matched.begin(), matched.begin() + static_cast<std::ptrdiff_t>(need), 0.0) /
           static_cast<double>(need);
}

std::vector<std::size_t> closest_series(const std::vector<double>& distance, const std::vector<long long>& best,
                                        std::size_t need) {
    std::vector<std::size_t> order;
    for (std::size_t s = 0; s < best.size() && s < distance.size(); ++s)
        if (best[s] >= 0) order.push_back(s);
    const std::size_t take = std::min(need, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(take), order.end(),
                      [&](std::size_t a, std::size_t b) {
                          return distance[a] < distance[b] || (distance[a] == distance[b] && a < b);
                      });
    order.resize(take);
    return order;
}

void add_window(std::vector<ExactSum>& sums, const double* values, std::size_t start, std::size_t m,
                const WindowStats& stats) {
    const std::vector<double> match = znormalised_window(values, start, m, stats);
    for (std::size_t j = 0; j < match.size() && j < sums.size(); ++j) sums[j].add(match[j]);
}

std::vector<double> shape_from_sums(const std::vector<ExactSum>& sums, std::size_t take) {
    std::vector<double> mean(sums.size());
    for (std::size_t j = 0; j < sums.size(); ++j) mean[j] = sums[j].value();
    // The mean of z-normalised windows has mean 0; scale it to deviation 1.
    double squares = 0.0;
    for (double v : mean) squares += v * v;
    const double sd = std::sqrt(squares / static_cast<double>(mean.size()));
    if (!(sd > 1e-12 * static_cast<double>(take))) return {};
    for (double& v : mean) v /= sd;
    return mean;
}

Refiner::Refiner(SeriesViews series_, std::size_t m_, double flat_tol, const Runner& runner)
    : series(std::move(series_)), m(m_), stats(series.size()) {
    runner.run_ranges(series.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t s = first; s < last; ++s) {
            runner.check_stop();
            stats[s] = window_stats(series[s].values, series[s].size, m, flat_tol);
        }
    });
}

void Refiner::mark_flat(std::size_t s, const WindowStats& other) {
    WindowStats& own = stats[s];
    const std::size_t count = std::min(own.flat.size(), other.flat.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (other.flat[i] && !own.flat[i]) {
            own.flat[i] = 1;
            --own.usable;
        }
    }
}

std::size_t Refiner::usable_count() const {
    std::size_t count = 0;
    for (std::size_t s = 0; s < series.size(); ++s) count += usable(s);
    return count;
}

namespace {

// The best match of a shape in one usable series: its start and distance.
std::pair<long long, double> best_match(const double* shape, std::size_t m, const SeriesView& view,
                                        const WindowStats& stats, std::vector<double>& profile) {
    profile.resize(view.size - m + 1);
    distance_profile(shape, m, view.values, view.size, stats, profile.data());
    const auto closest = std::min_element(profile.begin(), profile.end());
    return {closest - profile.begin(), *closest};
}

}  // namespace

Candidate Refiner::evaluate(std::vector<double> shape, std::size_t need, const Runner& runner) const {
    Candidate c;
    c.shape = std::move(shape);
    c.best.assign(series.size(), -1);
    c.distance.assign(series.size(), kFarthest);
    runner.run_ranges(series.size(), [&](std::size_t first, std::size_t last) {
        std::vector<double> profile;
        for (std::size_t s = first; s < last; ++s) {
            runner.check_stop();
            if (usable(s))
                std::tie(c.best[s], c.distance[s]) = best_match(c.shape.data(), m, series[s], stats[s], profile);
        }
    });
    c.score = score_of(c.distance, c.best, need);
    return c;
}

Candidate Refiner::refine(std::vector<double> shape, std::size_t need, int iterations, const Runner& runner) const {
    return refine_with(*this, std::move(shape), need, iterations,
                       [&](std::vector<double> next) { return evaluate(std::move(next), need, runner); });
}

std::vector<long long> Refiner::occurrences(const std::vector<double>& shape, std::size_t s, double radius) const {
    if (!usable(s)) return {};
    const SeriesView& view = series[s];
    std::vector<double> profile(view.size - m + 1);
    distance_profile(shape.data(), m, view.values, view.size, stats[s], profile.data());
    return occurrences_in(profile, m, radius);
}

std::vector<long long> occurrences_in(const std::vector<double>& profile, std::size_t m, double radius) {
    std::vector<std::size_t> within;
    for (std::size_t i = 0; i < profile.size(); ++i)
        if (profile[i] <= radius) within.push_back(i);
    std::sort(within.begin(), within.end(), [&](std::size_t a, std::size_t b) {
        return profile[a] < profile[b] || (profile[a] == profile[b] && a < b);
    });
    // Taken windows, by start: a window overlaps one of them by more than
    // half of m when their starts are less than m / 2 apart.
    std::vector<long long> found, taken;
    const long long apart = static_cast<long long>((m + 1) / 2);
    for (std::size_t i : within) {
        const long long start = static_cast<long long>(i);
        const auto next = std::lower_bound(taken.begin(), taken.end(), start);
        if (next != taken.end() && *next - start < apart) continue;
        if (next != taken.begin() && start - *(next - 1) < apart) continue;
        taken.insert(next, start);
        found.push_back(start);
    }
    return found;
}

std::vector<std::size_t> distinct_places(const std::vector<Candidate>& ranked, std::size_t m, double share,
                                         std::size_t limit, double overlap) {
    std::vector<std::size_t> order(ranked.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    return distinct_places(ranked, order, m, share, limit, overlap);
}

std::vector<std::size_t> ranked_places(const std::vector<Candidate>& candidates, std::size_t m, double share,
                                       std::size_t limit, double overlap) {
    std::vector<double> scores;
    for (const Candidate& c : candidates) scores.push_back(c.score);
    return ranked_places(candidates, std::vector<std::size_t>(candidates.size(), m), scores, share, limit, overlap);
}

std::vector<std::size_t> ranked_places(const std::vector<Candidate>& candidates,
                                       const std::vector<std::size_t>& lengths, const std::vector<double>& keys,
                                       double share, std::size_t limit, double overlap) {
    std::vector<std::size_t> order(candidates.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<std::size_t> kept = distinct_places(candidates, lengths, order, share, limit, overlap);
    for (std::size_t& k : kept) k = order[k];
    return kept;
}

std::vector<std::size_t> distinct_places(const std::vector<Candidate>& candidates,
                                         const std::vector<std::size_t>& order, std::size_t m, double share,
                                         std::size_t limit, double overlap) {
    return distinct_places(candidates, std::vector<std::size_t>(candidates.size(), m), order, share, limit, overlap);
}

namespace {

// Whether windows of ma and mb points at a and b overlap by more than
// `overlap` times the shorter.
bool overlapping(long long a, std::size_t ma, long long b, std::size_t mb, double overlap) {
    if (ma == mb) {
        // Two windows of m points overlap by more than overlap * m when their
        // starts are less than (1 - overlap) * m apart.
        return static_cast<double>(std::llabs(a - b)) < (1.0 - overlap) * static_cast<double>(ma);
    }
    const long long shared = std::min(a + static_cast<long long>(ma), b + static_cast<long long>(mb)) - std::max(a, b);
    return static_cast<double>(shared) > overlap * static_cast<double>(std::min(ma, mb));
}

}  // namespace

std::vector<std::size_t> distinct_places(const std::vector<Candidate>& candidates,
                                         const std::vector<std::size_t>& lengths, const std::vector<std::size_t>& order,
                                         double share, std::size_t limit, double overlap) {
    std::vector<std::size_t> kept;
    for (std::size_t c = 0; c < order.size() && kept.size() < limit; ++c) {
        const Candidate& candidate = candidates[order[c]];
        const std::size_t length = lengths[order[c]];
        bool same_place = false;
        for (std::size_t k : kept) {
            const Candidate& other = candidates[order[k]];
            const std::size_t other_length = lengths[order[k]];
            std::size_t both = 0, shared = 0;
            const std::size_t n = std::min(candidate.best.size(), other.best.size());
            for (std::size_t s = 0; s < n; ++s) {
                const long long a = candidate.best[s], b = other.best[s];
                if (a < 0 || b < 0) continue;
                ++both;
                shared += overlapping(a, length, b, other_length, overlap);
            }
            if (both > 0 && static_cast<double>(shared) >= share * static_cast<double>(both)) {
                same_place = true;
                break;
            }
        }
        if (!same_place) kept.push_back(c);
    }
    return kept;
}
