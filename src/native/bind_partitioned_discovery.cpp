// zef.dask.discover: a partition is held in Python as its detrended series
// (float64 arrays) and the flags of their flat windows (uint8 arrays); each
// step on it measures the windows again from these (zef._native.partitioned).
#include "native/bindings.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "discovery/discovery.h"
#include "discovery/join.h"
#include "discovery/refine.h"
#include "discovery/screening.h"
#include "discovery/whitened.h"
#include "native/arrays.h"
#include "partitioned/partitioned_discovery.h"

namespace native {

namespace {

using FlagArray = py::array_t<unsigned char, py::array::c_style | py::array::forcecast>;
using FloatArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<long long, py::array::c_style | py::array::forcecast>;

DiscoverySettings part_settings(std::size_t length, double flat_tol) {
    if (length < 2) throw py::value_error("the motif length must be at least 2 points");
    DiscoverySettings settings;
    settings.length = length;
    settings.flat_tol = flat_tol;
    return settings;
}

std::vector<std::vector<unsigned char>> flags_of(const std::vector<FlagArray>& flat) {
    std::vector<std::vector<unsigned char>> result;
    result.reserve(flat.size());
    for (const FlagArray& f : flat) result.emplace_back(f.data(), f.data() + f.size());
    return result;
}

SeriesSet rows_of(const FloatArray& shapes) {
    if (shapes.ndim() != 2) throw py::value_error("shapes are a 2-D array, one shape per row");
    SeriesSet rows(static_cast<std::size_t>(shapes.shape(0)));
    const auto width = static_cast<std::size_t>(shapes.shape(1));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].assign(shapes.data() + i * width, shapes.data() + (i + 1) * width);
    return rows;
}

}  // namespace

void bind_partitioned_discovery(py::module_& m) {
    m.def(
        "discovery_prepare",
        [](const SeriesViews& rows, std::size_t length, std::size_t detrend_window, double flat_tol) {
            DiscoverySettings settings = part_settings(length, flat_tol);
            settings.detrend_window = detrend_window;
            partitioned::PreparedPart part;
            {
                py::gil_scoped_release release;
                part = partitioned::prepare_part(rows, settings);
            }
            // Each series' values are released once in their array: the partition is not held twice.
            py::list prepared, flat;
            for (auto& values : part.prepared) {
                prepared.append(to_array(values));
                std::vector<double>().swap(values);
            }
            for (auto& flags : part.flat) {
                flat.append(to_array(flags));
                std::vector<unsigned char>().swap(flags);
            }
            return py::make_tuple(prepared, flat, to_array(part.usable), to_array(part.lag));
        },
        py::arg("rows"), py::arg("length"), py::arg("detrend_window"), py::arg("flat_tol"),
        "Each series detrended (float64 arrays), the flags of its flat windows (uint8 arrays), whether it "
        "has a window that is not flat (uint8 array), and its lag-one autocorrelation (float64 array).");
    m.def(
        "discovery_seeds",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           std::size_t seeds_per_motif, const std::vector<py::tuple>& motifs) {
            DiscoverySettings settings = part_settings(length, flat_tol);
            settings.seeds_per_motif = seeds_per_motif;
            std::vector<partitioned::MotifMatches> matches;
            for (const py::tuple& motif : motifs) {
                if (motif.size() != 4) throw py::value_error("a motif is (series, points, representative, span)");
                matches.push_back({vector_of(motif[0].cast<IndexArray>()), vector_of(motif[1].cast<IndexArray>()),
                                   vector_of(motif[2].cast<FloatArray>()), motif[3].cast<long long>()});
            }
            const auto flags = flags_of(flat);
            std::vector<partitioned::PartSeeds> found;
            {
                py::gil_scoped_release release;
                found =
                    partitioned::part_seeds(partitioned::part_refiner(prepared, flags, settings), matches, settings);
            }
            py::list result;
            for (const auto& seeds : found)
                result.append(py::make_tuple(to_array(seeds.gap), to_array(seeds.series), to_array(seeds.point),
                                             to_matrix(seeds.shapes, length), to_array(seeds.start)));
            return result;
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("seeds_per_motif"),
        py::arg("motifs"),
        "For each engine motif (local series, points, representative, span): the gaps, local series, points, "
        "shapes and window starts of the partition's candidate shapes.");
    m.def(
        "discovery_evaluate",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, const SeriesViews& whitened,
           const std::vector<FlagArray>& white_flat, double phi, std::size_t length, double flat_tol,
           const FloatArray& shapes, const py::object& only) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            const SeriesSet rows = rows_of(shapes);
            const auto flags = flags_of(flat);
            const auto white_flags = flags_of(white_flat);
            std::vector<long long> subset;
            if (!only.is_none()) subset = vector_of(only.cast<IndexArray>());
            std::vector<Candidate> found;
            {
                py::gil_scoped_release release;
                const Refiner raw = partitioned::part_refiner(prepared, flags, settings);
                const Refiner white =
                    partitioned::part_refiner(whitened, white_flags, part_settings(length - 1, flat_tol));
                found = partitioned::part_evaluate(BothViews{raw, white, phi}, rows, only.is_none() ? nullptr : &subset,
                                                   settings);
            }
            std::vector<std::vector<double>> distances;
            std::vector<std::vector<long long>> bests;
            for (Candidate& c : found) {
                distances.push_back(std::move(c.distance));
                bests.push_back(std::move(c.best));
            }
            return py::make_tuple(to_matrix(distances, prepared.size()), to_matrix(bests, prepared.size()));
        },
        py::arg("prepared"), py::arg("flat"), py::arg("whitened"), py::arg("white_flat"), py::arg("phi"),
        py::arg("length"), py::arg("flat_tol"), py::arg("shapes"), py::arg("only") = py::none(),
        "Distances (both views) and starts of each shape's best match in each series, or in the local series `only` "
        "when given (shapes x series arrays; -1: none or not compared).");
    m.def(
        "discovery_sums",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           const std::vector<IndexArray>& series, const std::vector<IndexArray>& starts) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            std::vector<std::vector<long long>> which, where;
            for (const auto& s : series) which.push_back(vector_of(s));
            for (const auto& s : starts) where.push_back(vector_of(s));
            const auto flags = flags_of(flat);
            std::vector<std::vector<ExactSum>> sums;
            {
                py::gil_scoped_release release;
                sums = partitioned::part_sums(partitioned::part_refiner(prepared, flags, settings), which, where);
            }
            py::list result;
            for (const auto& one : sums) {
                std::vector<double> parts;
                std::vector<std::int64_t> ends;
                for (const ExactSum& sum : one) {
                    parts.insert(parts.end(), sum.parts().begin(), sum.parts().end());
                    ends.push_back(static_cast<std::int64_t>(parts.size()));
                }
                result.append(py::make_tuple(to_array(parts), to_array(ends)));
            }
            return result;
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("series"),
        py::arg("starts"),
        "For each shape, the exact sums of the z-normalised windows at starts[i] of local series series[i]: "
        "their partials, and the end of each point's partials.");
    m.def(
        "discovery_occurrences",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, const SeriesViews& whitened,
           const std::vector<FlagArray>& white_flat, double phi, std::size_t length, double flat_tol,
           const FloatArray& shapes, double radius) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            const SeriesSet rows = rows_of(shapes);
            const auto flags = flags_of(flat);
            const auto white_flags = flags_of(white_flat);
            std::vector<std::vector<std::vector<long long>>> found(rows.size());
            {
                py::gil_scoped_release release;
                const Refiner raw = partitioned::part_refiner(prepared, flags, settings);
                const Refiner white =
                    partitioned::part_refiner(whitened, white_flags, part_settings(length - 1, flat_tol));
                const BothViews views{raw, white, phi};
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    if (rows[i].size() != length) throw std::invalid_argument("a shape of another length");
                    for (std::size_t s = 0; s < prepared.size(); ++s)
                        found[i].push_back(views.occurrences(rows[i], s, radius));
                }
            }
            py::list result;
            for (const auto& of_shape : found) {
                py::list per_series;
                for (const auto& starts : of_shape) per_series.append(to_array(starts));
                result.append(std::move(per_series));
            }
            return result;
        },
        py::arg("prepared"), py::arg("flat"), py::arg("whitened"), py::arg("white_flat"), py::arg("phi"),
        py::arg("length"), py::arg("flat_tol"), py::arg("shapes"), py::arg("radius"),
        "For each shape, the starts of its occurrences (both views' distance) in each series (int64 arrays).");
    m.def(
        "discovery_whiten",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           double phi) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            const auto flags = flags_of(flat);
            partitioned::WhitenedPart part;
            {
                py::gil_scoped_release release;
                part = partitioned::whiten_part(prepared, flags, phi, settings);
            }
            py::list whitened, white_flat;
            for (const auto& values : part.whitened) whitened.append(to_array(values));
            for (const auto& flags_of_series : part.flat) white_flat.append(to_array(flags_of_series));
            return py::make_tuple(whitened, white_flat);
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("phi"),
        "Each series whitened with `phi` (float64 arrays) and the flags of its flat windows of length - 1 points.");
    m.def("discovery_whitening", &whitening_coefficient, py::arg("lags"),
          "The collection's whitening coefficient from the lags of its usable series.");
    m.def("discovery_need", &need_of, py::arg("minsup"), py::arg("usable"),
          "How many of the usable series a score is taken over.");
    m.def(
        "discovery_sample",
        [](const std::vector<std::size_t>& lengths, std::size_t points, std::size_t fewest) {
            return screening_sample(lengths, points, fewest);
        },
        py::arg("lengths"), py::arg("points"), py::arg("fewest"),
        "The series the first screening compares every candidate with: positions into the usable series, given "
        "their lengths.");
    m.def(
        "discovery_join_pairs",
        [](const std::vector<std::size_t>& windows, std::size_t pairs, std::size_t cells) {
            return join_pairs(windows, pairs, cells);
        },
        py::arg("windows"), py::arg("pairs"), py::arg("cells"),
        "The pairs of the sample's series that are joined, given the windows of each: positions into the sample.");
    m.def(
        "discovery_join",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, const SeriesViews& whitened,
           const std::vector<FlagArray>& white_flat, double phi, std::size_t length, double flat_tol,
           const std::vector<std::pair<std::size_t, std::size_t>>& pairs, std::size_t count) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            const auto flags = flags_of(flat);
            const auto white_flags = flags_of(white_flat);
            for (const auto& [a, b] : pairs)
                if (a >= prepared.size() || b >= prepared.size()) throw py::index_error("a pair of no such series");
            std::vector<long long> series, starts;
            {
                py::gil_scoped_release release;
                const Refiner raw = partitioned::part_refiner(prepared, flags, settings);
                const Refiner white =
                    partitioned::part_refiner(whitened, white_flags, part_settings(length - 1, flat_tol));
                const BothViews views{raw, white, phi};
                for (const auto& [a, b] : pairs) {
                    for (const SeedPlace& place : joined_places(views, a, b, count)) {
                        series.push_back(static_cast<long long>(place.series));
                        starts.push_back(place.start);
                    }
                }
            }
            return py::make_tuple(to_array(series), to_array(starts));
        },
        py::arg("prepared"), py::arg("flat"), py::arg("whitened"), py::arg("white_flat"), py::arg("phi"),
        py::arg("length"), py::arg("flat_tol"), py::arg("pairs"), py::arg("count"),
        "The places (series, starts) of the closest pairs of windows of each pair of series, pair by pair.");
    m.def(
        "discovery_merge",
        [](const std::vector<std::size_t>& series, const std::vector<long long>& starts, std::size_t length,
           double share) {
            if (series.size() != starts.size()) throw py::value_error("one start per series");
            std::vector<SeedPlace> places;
            for (std::size_t i = 0; i < series.size(); ++i) places.push_back({series[i], starts[i]});
            return merge_places(places, merge_distance(share, length));
        },
        py::arg("series"), py::arg("starts"), py::arg("length"), py::arg("share"),
        "The positions of the candidates kept when those cut from one place (same series, starts less than "
        "share * length apart) are merged.");
    m.def(
        "discovery_score",
        [](const FloatArray& distance, const IndexArray& best, std::size_t need) {
            return score_of(vector_of(distance), vector_of(best), need);
        },
        py::arg("distance"), py::arg("best"), py::arg("need"),
        "The mean distance over the `need` closest series with a match.");
    m.def(
        "discovery_closest",
        [](const FloatArray& distance, const IndexArray& best, std::size_t need) {
            const std::vector<std::size_t> closest = closest_series(vector_of(distance), vector_of(best), need);
            return to_array(std::vector<long long>(closest.begin(), closest.end()));
        },
        py::arg("distance"), py::arg("best"), py::arg("need"),
        "The series whose best matches a refinement round averages.");
    m.def(
        "discovery_shape",
        [](const std::vector<py::tuple>& parts, std::size_t length, std::size_t take) {
            std::vector<ExactSum> sums(length);
            for (const py::tuple& part : parts) {
                if (part.size() != 2) throw py::value_error("a partition's sums are (partials, ends)");
                const auto values = part[0].cast<FloatArray>();
                const auto ends = part[1].cast<IndexArray>();
                if (static_cast<std::size_t>(ends.size()) != length)
                    throw py::value_error("one end of partials per point");
                long long begin = 0;
                for (std::size_t j = 0; j < length; ++j) {
                    const long long end = ends.data()[j];
                    if (end < begin || end > values.size())
                        throw py::value_error("the ends of the partials are out of order");
                    for (long long i = begin; i < end; ++i) sums[j].add(values.data()[i]);
                    begin = end;
                }
            }
            return to_array(shape_from_sums(sums, take));
        },
        py::arg("parts"), py::arg("length"), py::arg("take"),
        "The refined shape from the partitions' sums of `take` windows; empty when it has no deviation.");
    m.def(
        "discovery_places",
        [](const std::vector<double>& scores, const std::vector<IndexArray>& bests, std::size_t length, double share,
           std::size_t limit, double overlap) {
            if (scores.size() != bests.size()) throw py::value_error("one score per candidate");
            std::vector<Candidate> candidates(scores.size());
            for (std::size_t i = 0; i < scores.size(); ++i) {
                candidates[i].score = scores[i];
                candidates[i].best = vector_of(bests[i]);
            }
            return ranked_places(candidates, length, share, limit, overlap);
        },
        py::arg("scores"), py::arg("bests"), py::arg("length"), py::arg("share"), py::arg("limit"), py::arg("overlap"),
        "The candidates ranked by score, one per place: their positions, best first.");
}

}  // namespace native
