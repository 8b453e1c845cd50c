#include "discovery/whitened.h"

#include <algorithm>
#include <cmath>
#include <utility>

double lag_one(const double* values, std::size_t size) {
    if (size < 3) return 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < size; ++i) sum += values[i];
    const double mean = sum / static_cast<double>(size);
    double squares = 0.0, lagged = 0.0;
    for (std::size_t i = 0; i < size; ++i) squares += (values[i] - mean) * (values[i] - mean);
    for (std::size_t i = 1; i < size; ++i) lagged += (values[i] - mean) * (values[i - 1] - mean);
    if (!(squares > 0.0) || !std::isfinite(squares)) return 0.0;
    return lagged / squares;
}

double whitening_coefficient(std::vector<double> lags) {
    if (lags.empty()) return 0.0;
    std::sort(lags.begin(), lags.end());
    const std::size_t n = lags.size();
    const double median = n % 2 == 1 ? lags[n / 2] : 0.5 * (lags[n / 2 - 1] + lags[n / 2]);
    return std::clamp(median, 0.0, 0.95);
}

std::vector<double> whiten(const double* values, std::size_t size, double phi) {
    std::vector<double> out(size > 0 ? size - 1 : 0);
    for (std::size_t t = 0; t < out.size(); ++t) out[t] = values[t + 1] - phi * values[t];
    return out;
}

std::vector<double> whitened_shape(const std::vector<double>& shape, double phi) {
    std::vector<double> white = whiten(shape.data(), shape.size(), phi);
    if (white.empty()) return white;
    const WindowStats one = window_stats(white.data(), white.size(), white.size(), 0.0);
    return znormalised_window(white.data(), 0, white.size(), one);
}

void BothViews::profile(const std::vector<double>& shape, const std::vector<double>& white_shape, std::size_t s,
                        std::vector<double>& out, std::vector<double>& scratch) const {
    const SeriesView& view = raw.view(s);
    const std::size_t m = raw.length(), count = view.size - m + 1;
    out.resize(count);
    distance_profile(shape.data(), m, view.values, view.size, raw.window_stats_of(s), out.data());
    scratch.assign(count, 2.0);
    const SeriesView& other = white.view(s);
    if (!white_shape.empty() && other.size >= white.length())
        distance_profile(white_shape.data(), white.length(), other.values, other.size, white.window_stats_of(s),
                         scratch.data());
    for (std::size_t i = 0; i < count; ++i) out[i] = 0.5 * (out[i] + scratch[i]);
}

namespace {

void best_of(const BothViews& views, const std::vector<double>& shape, const std::vector<double>& white_shape,
             std::size_t s, Candidate& c, std::vector<double>& out, std::vector<double>& scratch) {
    views.profile(shape, white_shape, s, out, scratch);
    const auto closest = std::min_element(out.begin(), out.end());
    c.best[s] = closest - out.begin();
    c.distance[s] = *closest;
}

}  // namespace

Candidate BothViews::evaluate(std::vector<double> shape, std::size_t need, const Runner& runner) const {
    Candidate c;
    const std::vector<double> white_shape = whitened_shape(shape, phi);
    c.shape = std::move(shape);
    c.best.assign(raw.series_count(), -1);
    c.distance.assign(raw.series_count(), 2.0);
    runner.run_ranges(raw.series_count(), [&](std::size_t first, std::size_t last) {
        std::vector<double> out, scratch;
        for (std::size_t s = first; s < last; ++s) {
            runner.check_stop();
            if (raw.usable(s)) best_of(*this, c.shape, white_shape, s, c, out, scratch);
        }
    });
    c.score = score_of(c.distance, c.best, need);
    return c;
}

Candidate BothViews::evaluate_on(std::vector<double> shape, const std::vector<std::size_t>& subset,
                                 std::size_t need) const {
    Candidate c;
    const std::vector<double> white_shape = whitened_shape(shape, phi);
    c.shape = std::move(shape);
    c.best.assign(raw.series_count(), -1);
    c.distance.assign(raw.series_count(), 2.0);
    std::vector<double> out, scratch;
    for (std::size_t s : subset)
        if (raw.usable(s)) best_of(*this, c.shape, white_shape, s, c, out, scratch);
    c.score = score_of(c.distance, c.best, need);
    return c;
}

Candidate BothViews::refine(std::vector<double> shape, std::size_t need, int iterations, const Runner& runner) const {
    return refine_with(raw, std::move(shape), need, iterations,
                       [&](std::vector<double> next) { return evaluate(std::move(next), need, runner); });
}

std::vector<long long> BothViews::occurrences(const std::vector<double>& shape, std::size_t s, double radius) const {
    if (!raw.usable(s)) return {};
    std::vector<double> out, scratch;
    profile(shape, whitened_shape(shape, phi), s, out, scratch);
    return occurrences_in(out, raw.length(), radius);
}
