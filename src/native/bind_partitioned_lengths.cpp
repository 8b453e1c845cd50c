// zef.dask.discover over a range of lengths: the flags of a partition at any
// length (zef._native.partitioned), and the client's steps that choose
// lengths and put motifs of different lengths on one scale.
#include "native/bindings.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "discovery/chance.h"
#include "discovery/discovery.h"
#include "discovery/lengths.h"
#include "discovery/refine.h"
#include "native/arrays.h"
#include "partitioned/partitioned_discovery.h"

namespace native {

namespace {

using FloatArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<long long, py::array::c_style | py::array::forcecast>;

}  // namespace

void bind_partitioned_lengths(py::module_& m) {
    m.def(
        "discovery_flags",
        [](const SeriesViews& prepared, const py::object& given, const SeriesViews& whitened, std::size_t length,
           double flat_tol) {
            if (length < 4) throw py::value_error("the motif length must be at least 4 points");
            DiscoverySettings settings;
            settings.length = length;
            settings.flat_tol = flat_tol;
            // The caster lives as long as the views: a series it had to convert (a read-only or
            // unaligned array, as a worker may receive) is held in it.
            py::detail::make_caster<SeriesViews> given_rows;
            if (!given.is_none() && !given_rows.load(given, true))
                throw py::type_error("given: a sequence of series of numbers, or None");
            const SeriesViews& given_views = given_rows;
            partitioned::PartFlags flags;
            {
                py::gil_scoped_release release;
                flags = partitioned::part_flags(prepared, given.is_none() ? nullptr : &given_views, whitened, settings);
            }
            py::list flat, white_flat;
            for (const auto& f : flags.flat) flat.append(to_array(f));
            for (const auto& f : flags.white_flat) white_flat.append(to_array(f));
            return py::make_tuple(flat, white_flat, to_array(flags.usable));
        },
        py::arg("prepared"), py::arg("given"), py::arg("whitened"), py::arg("length"), py::arg("flat_tol"),
        "The flags of each series' flat windows of `length` points (flat in the prepared series, or in the "
        "given ones when not None), of its flat whitened windows of length - 1 points (uint8 arrays), and whether "
        "it has a window that is not flat (uint8 array).");
    m.def("discovery_grid", &length_grid, py::arg("lo"), py::arg("hi"),
          "The lengths a range's search works at, from lo to hi points.");
    m.def(
        "discovery_grid_steps",
        [](const std::vector<std::size_t>& grid) { return py::make_tuple(joined_lengths(grid), chance_lengths(grid)); },
        py::arg("grid"), "The grid lengths of the joins and those chance is measured at.");
    m.def("discovery_snap", &snap_length, py::arg("grid"), py::arg("length"),
          "The grid length nearest to `length`, by ratio.");
    m.def("discovery_tries", &length_tries, py::arg("grid"), py::arg("length"),
          "The (length, anchor) tries of one step in length from `length`.");
    m.def(
        "discovery_resized",
        [](const IndexArray& starts, const IndexArray& sizes, std::size_t from, std::size_t length, int anchor) {
            if (starts.size() != sizes.size()) throw py::value_error("one size per start");
            std::vector<long long> moved(static_cast<std::size_t>(starts.size()));
            for (std::size_t i = 0; i < moved.size(); ++i)
                moved[i] = resized_start(starts.data()[i], from, length, anchor,
                                         static_cast<std::size_t>(std::max(0LL, sizes.data()[i])));
            return to_array(moved);
        },
        py::arg("starts"), py::arg("sizes"), py::arg("from_length"), py::arg("length"), py::arg("anchor"),
        "Where windows of `from_length` points at `starts` of series of `sizes` points lie at `length` points "
        "(-1: the series is shorter).");
    m.def(
        "discovery_chance_place",
        [](std::size_t unit, std::size_t j, std::size_t q, std::size_t attempt,
           const std::vector<std::size_t>& windows) {
            if (windows.empty()) throw py::value_error("no series to cut from");
            return chance_place(unit, j, q, attempt, windows);
        },
        py::arg("unit"), py::arg("j"), py::arg("q"), py::arg("attempt"), py::arg("windows"),
        "Where a chance shape is cut on one try: the position into the sample and the start.");
    m.attr("CHANCE_ATTEMPTS") = kChanceAttempts;
    m.def(
        "discovery_surrogate",
        [](const FloatArray& window, std::size_t j) {
            return to_array(surrogate(vector_of(window), chance_seed(static_cast<std::size_t>(window.size()), j)));
        },
        py::arg("window"), py::arg("j"), "The j-th chance shape of the window's length, from that window.");
    m.def(
        "discovery_chance",
        [](const std::vector<std::size_t>& lengths, const std::vector<double>& scores,
           const std::vector<std::size_t>& at) {
            if (lengths.size() != scores.size()) throw py::value_error("one length per score");
            ChanceLevels chance;
            for (std::size_t i = 0; i < scores.size(); ++i)
                if (scores[i] > 0.0) chance.add(lengths[i], scores[i]);
            std::vector<double> levels;
            for (std::size_t m : at) levels.push_back(chance.at(m));
            return levels;
        },
        py::arg("lengths"), py::arg("scores"), py::arg("at"),
        "The chance score at each of `at`, fitted to the scores measured (those not above 0 left out).");
    m.def("discovery_standing", &standing_of, py::arg("score"), py::arg("length"), py::arg("chance"),
          "How far a score lies above chance at its length: the lower, the better.");
    m.def(
        "discovery_ranked",
        [](const std::vector<double>& keys, const std::vector<IndexArray>& bests,
           const std::vector<std::size_t>& lengths, double share, std::size_t limit, double overlap) {
            if (keys.size() != bests.size() || keys.size() != lengths.size())
                throw py::value_error("one best-match array and length per candidate");
            std::vector<Candidate> candidates(keys.size());
            for (std::size_t i = 0; i < keys.size(); ++i) candidates[i].best = vector_of(bests[i]);
            return ranked_places(candidates, lengths, keys, share, limit, overlap);
        },
        py::arg("keys"), py::arg("bests"), py::arg("lengths"), py::arg("share"), py::arg("limit"), py::arg("overlap"),
        "Candidates of their own lengths ranked by `keys`, one per place: their positions, best first.");
}

}  // namespace native
