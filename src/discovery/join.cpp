#include "discovery/join.h"

#include <algorithm>
#include <cmath>

#include "discovery/refine.h"
#include "discovery/sliding_dot.h"

namespace {

// One view of one series as the join reads it: centred on the series' mean
// and scaled by its deviation, so that products neither overflow nor lose
// precision whatever the data's scale, with its windows' means and inverse
// deviations in the same units, and 1 for a flat window (0 otherwise).
struct Scaled {
    std::vector<double> values;
    std::vector<double> mean, inverse_sd, flat;
};

Scaled scaled(const SeriesView& view, const WindowStats& stats) {
    Scaled out;
    double centre = 0.0;
    for (std::size_t i = 0; i < view.size; ++i) centre += view.values[i];
    centre /= static_cast<double>(view.size);
    double squares = 0.0;
    for (std::size_t i = 0; i < view.size; ++i) squares += (view.values[i] - centre) * (view.values[i] - centre);
    const double spread = std::sqrt(squares / static_cast<double>(view.size));
    const double scale = spread > 0.0 && std::isfinite(spread) ? 1.0 / spread : 1.0;
    out.values.resize(view.size);
    for (std::size_t i = 0; i < view.size; ++i) out.values[i] = (view.values[i] - centre) * scale;
    const std::size_t count = stats.mean.size();
    out.mean.resize(count);
    out.inverse_sd.resize(count);
    out.flat.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        out.mean[i] = (stats.mean[i] - centre) * scale;
        out.flat[i] = stats.flat[i] ? 1.0 : 0.0;
        out.inverse_sd[i] = stats.flat[i] ? 0.0 : 1.0 / (stats.sd[i] * scale);
    }
    return out;
}

// The dot products of window i of `x` with every window of `y` (m points),
// row by row.
class Rows {
public:
    Rows(const Scaled& x, const Scaled& y, std::size_t m)
        : x(x), y(y), m(m), dots(y.mean.size()), next(y.mean.size()) {}

    // Moves to row i (rows are taken in order from 0).
    void to(std::size_t i) {
        if (i % (4 * m) == 0) {
            sliding_dot(x.values.data() + i, m, y.values.data(), y.values.size(), dots.data());
            return;
        }
        const double leaving = x.values[i - 1], entering = x.values[i + m - 1];
        const double* before = dots.data();
        const double* ys = y.values.data();
        double* after = next.data();
        double first = 0.0;
        for (std::size_t k = 0; k < m; ++k) first += x.values[i + k] * ys[k];
        after[0] = first;
        for (std::size_t j = 1; j < dots.size(); ++j)
            after[j] = before[j - 1] - leaving * ys[j - 1] + entering * ys[j + m - 1];
        dots.swap(next);
    }

    // Adds half of the distance of window i to every window of y in this
    // view to out: the farthest, 2, for a flat window on either side.
    void add_half_distances(std::size_t i, double* out) const {
        const std::size_t count = dots.size();
        if (x.flat[i] != 0.0) {
            for (std::size_t j = 0; j < count; ++j) out[j] += 1.0;
            return;
        }
        const double inv_m = 1.0 / static_cast<double>(m), mean = x.mean[i], inverse = x.inverse_sd[i];
        const double* d = dots.data();
        const double* means = y.mean.data();
        const double* inverses = y.inverse_sd.data();
        const double* flat = y.flat.data();
        for (std::size_t j = 0; j < count; ++j) {
            const double r = (d[j] * inv_m - mean * means[j]) * inverse * inverses[j] * (1.0 - flat[j]) - flat[j];
            double twice = 2.0 - 2.0 * r;
            twice = twice > 0.0 ? twice : 0.0;
            twice = twice < 4.0 ? twice : 4.0;
            out[j] += 0.5 * std::sqrt(twice);
        }
    }

private:
    const Scaled& x;
    const Scaled& y;
    std::size_t m;
    std::vector<double> dots, next;
};

}  // namespace

std::vector<SeedPlace> joined_places(const BothViews& views, std::size_t a, std::size_t b, std::size_t count) {
    const Refiner& raw = views.raw;
    const Refiner& white = views.white;
    if (count == 0 || !raw.usable(a) || !raw.usable(b)) return {};
    const std::size_t m = raw.length();
    const Scaled raw_a = scaled(raw.view(a), raw.window_stats_of(a));
    const Scaled raw_b = scaled(raw.view(b), raw.window_stats_of(b));
    const std::size_t na = raw_a.mean.size(), nb = raw_b.mean.size();
    // A whitened window of m - 1 points stands for the raw window at its start:
    // each series has as many of one as of the other.
    const bool whitened =
        white.length() >= 1 && white.window_stats_of(a).mean.size() == na && white.window_stats_of(b).mean.size() == nb;
    Scaled white_a, white_b;
    if (whitened) {
        white_a = scaled(white.view(a), white.window_stats_of(a));
        white_b = scaled(white.view(b), white.window_stats_of(b));
    }
    Rows raw_rows(raw_a, raw_b, m);
    Rows white_rows(white_a, white_b, whitened ? white.length() : 1);

    std::vector<double> nearest(na, 2.0);
    std::vector<long long> partner(na, -1);
    std::vector<double> row(nb);
    for (std::size_t i = 0; i < na; ++i) {
        raw_rows.to(i);
        if (whitened) white_rows.to(i);
        if (raw_a.flat[i] != 0.0) continue;
        std::fill(row.begin(), row.end(), whitened ? 0.0 : 1.0);
        raw_rows.add_half_distances(i, row.data());
        if (whitened) white_rows.add_half_distances(i, row.data());
        const auto closest = std::min_element(row.begin(), row.end());
        nearest[i] = *closest;
        partner[i] = closest - row.begin();
    }
    std::vector<SeedPlace> places;
    for (long long i : occurrences_in(nearest, m, 4.0)) {
        if (places.size() == 2 * count) break;
        const long long j = partner[static_cast<std::size_t>(i)];
        if (j < 0) continue;
        places.push_back({a, i});
        places.push_back({b, j});
    }
    return places;
}

std::vector<std::pair<std::size_t, std::size_t>> join_pairs(const std::vector<std::size_t>& windows, std::size_t pairs,
                                                            std::size_t cells) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    std::size_t used = 0;
    for (std::size_t i = 0; i + 1 < windows.size() && out.size() < pairs; i += 2) {
        const std::size_t these = windows[i] * windows[i + 1];
        if (windows[i] != 0 && these / windows[i] != windows[i + 1]) break;  // overflow: far beyond any budget
        if (these > cells - used) break;
        used += these;
        out.push_back({i, i + 1});
    }
    return out;
}
