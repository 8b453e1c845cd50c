// The Python face of discovery: module `zef._native`. It only converts
// arguments and results; zef/discover.py builds the result objects. Its
// results are numpy arrays and plain Python values: no class is registered
// here, so nothing can clash with the types of `_zef_cpp`.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <utility>
#include <vector>

#include "casters.h"
#include "detrend.h"
#include "discovery.h"
#include "refine.h"

namespace py = pybind11;

namespace {

// A 1-D array of the values. Strides are given explicitly: pybind11 2.11
// reads the item size from numpy 1's descriptor layout, which numpy 2 changed.
template <typename T>
py::array_t<T> to_array(const std::vector<T>& values) {
    py::array_t<T> out({static_cast<py::ssize_t>(values.size())}, {static_cast<py::ssize_t>(sizeof(T))});
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

py::dict to_python(const Discovery& found) {
    py::list motifs;
    for (const DiscoveredMotif& motif : found.motifs) {
        py::list occurrences;
        for (const auto& starts : motif.occurrences) occurrences.append(to_array(starts));
        py::dict entry;
        entry["shape"] = to_array(motif.shape);
        entry["best"] = to_array(motif.best);
        entry["distance"] = to_array(motif.distance);
        entry["occurrences"] = std::move(occurrences);
        entry["score"] = motif.score;
        entry["pattern"] = py::bytes(motif.pattern);
        motifs.append(std::move(entry));
    }
    py::dict result;
    result["motifs"] = std::move(motifs);
    result["flat_series"] = found.flat_series;
    result["candidates"] = found.candidates;
    return result;
}

}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "Native discovery for zef.discover: candidates from the engine, refined at point resolution.";
    m.def(
        "discover",
        [](const SeriesViews& series, std::size_t length, double minsup, double engine_minsup, int seglen, std::vector<int> alphabets, int min_len,
           int max_len, double max_overlap, std::size_t detrend_window, double flat_tol, double radius,
           int iterations, std::size_t seeds_per_motif, std::size_t pool, std::size_t coarse, double same_place, double place_overlap,
           std::size_t k) {
            DiscoverySettings settings;
            settings.length = length;
            settings.minsup = minsup;
            settings.seglen = seglen;
            settings.engine_minsup = engine_minsup;
            settings.alphabets = std::move(alphabets);
            settings.min_len = min_len;
            settings.max_len = max_len;
            settings.max_overlap = max_overlap;
            settings.detrend_window = detrend_window;
            settings.flat_tol = flat_tol;
            settings.radius = radius;
            settings.iterations = iterations;
            settings.seeds_per_motif = seeds_per_motif;
            settings.pool = pool;
            settings.coarse = coarse;
            settings.same_place = same_place;
            settings.place_overlap = place_overlap;
            settings.k = k;
            Discovery found;
            {
                py::gil_scoped_release release;
                found = discover(series, settings);
            }
            return to_python(found);
        },
        py::arg("series"), py::arg("length"), py::arg("minsup"), py::arg("engine_minsup"), py::arg("seglen"),
        py::arg("alphabets"),
        py::arg("min_len"), py::arg("max_len"), py::arg("max_overlap"), py::arg("detrend_window"),
        py::arg("flat_tol"), py::arg("radius"), py::arg("iterations"), py::arg("seeds_per_motif"), py::arg("pool"),
        py::arg("coarse"), py::arg("same_place"), py::arg("place_overlap"),
        py::arg("k"),
        "Motifs of `length` points in `series` (float64 arrays), best first: a dict of numpy arrays.");
    m.def(
        "distance_profile",
        [](const std::vector<double>& shape, const std::vector<double>& values, double flat_tol) {
            const std::size_t m = shape.size(), n = values.size();
            if (m < 2 || n < m) throw py::value_error("need a shape of at least 2 points and a series at least as long");
            std::vector<double> out(n - m + 1);
            {
                py::gil_scoped_release release;
                const WindowStats stats = window_stats(values.data(), n, m, flat_tol);
                distance_profile(shape.data(), m, values.data(), n, stats, out.data());
            }
            return to_array(out);
        },
        py::arg("shape"), py::arg("values"), py::arg("flat_tol"),
        "Distance of a z-normalised shape to every window of a series (2 for a flat window).");
    m.def(
        "detrend",
        [](const std::vector<double>& values, std::size_t window) {
            return to_array(detrend(values.data(), values.size(), window));
        },
        py::arg("values"), py::arg("window"), "The series less its moving average over `window` points.");
}
