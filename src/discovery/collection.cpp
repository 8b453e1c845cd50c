#include "discovery/collection.h"

#include <utility>

#include "discovery/detrend.h"
#include "discovery/discovery.h"
#include "parallel/pipeline.h"

Collection::Collection(const SeriesViews& given_series, std::size_t window, double tol, const Runner& runner)
    : given(given_series), prepared(given_series.size()), detrend_window(window), flat_tol(tol) {
    StageCount counted(runner, kStagePrepare, given.size());
    each(runner, counted, given.size(),
         [&](std::size_t s) { prepared[s] = detrend(given[s].values, given[s].size, detrend_window); });
}

Refiner Collection::raw_view(std::size_t m, const Runner& runner) const {
    Refiner raw(views_of(prepared), m, flat_tol, runner);
    if (detrend_window > 1) {
        runner.run_ranges(given.size(), [&](std::size_t first, std::size_t last) {
            for (std::size_t s = first; s < last; ++s) {
                runner.check_stop();
                raw.mark_flat(s, window_stats(given[s].values, given[s].size, m, flat_tol));
            }
        });
    }
    return raw;
}

void Collection::whiten_with(const Refiner& raw, const Runner& runner) {
    std::vector<double> lags;
    for (std::size_t s = 0; s < prepared.size(); ++s)
        if (raw.usable(s)) lags.push_back(lag_one(prepared[s].data(), prepared[s].size()));
    coefficient = whitening_coefficient(std::move(lags));
    whitened.resize(prepared.size());
    runner.run_ranges(prepared.size(), [&](std::size_t first, std::size_t last) {
        for (std::size_t s = first; s < last; ++s)
            whitened[s] = whiten(prepared[s].data(), prepared[s].size(), coefficient);
    });
}

std::unique_ptr<Collection::Views> Collection::views(Refiner raw, const Runner& runner) const {
    // A whitened window of m - 1 points is flat where its raw window is.
    Refiner white(views_of(whitened), raw.length() - 1, flat_tol, runner);
    for (std::size_t s = 0; s < prepared.size(); ++s) white.mark_flat(s, raw.window_stats_of(s));
    return std::make_unique<Views>(std::move(raw), std::move(white), coefficient);
}
