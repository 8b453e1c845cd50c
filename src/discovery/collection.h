#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "discovery/refine.h"
#include "discovery/whitened.h"

// A collection as discovery compares it: each series detrended, then seen in
// two views (whitened.h), at whatever window lengths the search asks for.
class Collection {
public:
    // Detrends every series over `detrend_window` points (reported as the
    // "prepare" stage).
    Collection(const SeriesViews& given, std::size_t detrend_window, double flat_tol, const Runner& runner);

    // The raw view's windows of m points: flat where the detrended window is,
    // and (when detrended) where the window as given is too, since detrending
    // turns the edge of a constant stretch into a smooth curve that every such
    // series shares.
    Refiner raw_view(std::size_t m, const Runner& runner) const;

    // The whitened view, with the coefficient from the series that `raw` (the
    // raw view at some length) finds usable. Call once, before views().
    void whiten_with(const Refiner& raw, const Runner& runner);
    double phi() const { return coefficient; }

    // Both views at m points, from the raw view at m points.
    struct Views {
        Refiner raw, white;
        BothViews both;
        Views(Refiner raw_view, Refiner white_view, double phi)
            : raw(std::move(raw_view)), white(std::move(white_view)), both{raw, white, phi} {}
        Views(const Views&) = delete;
        Views& operator=(const Views&) = delete;
    };
    std::unique_ptr<Views> views(Refiner raw, const Runner& runner) const;

    std::size_t series_count() const { return prepared.size(); }

private:
    const SeriesViews& given;
    SeriesSet prepared, whitened;
    std::size_t detrend_window;
    double flat_tol;
    double coefficient = 0.0;
};
