// zef.discover: discovery on every core, watched; its result as a dict of numpy arrays.
#include "native/bindings.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "discovery/discovery.h"
#include "native/arrays.h"
#include "native/watched_call.h"
#include "parallel/pipeline.h"

namespace native {

namespace {

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
        entry["length"] = motif.length;
        entry["score"] = motif.score;
        entry["chance"] = motif.chance;
        entry["pattern"] = py::bytes(motif.pattern);
        motifs.append(std::move(entry));
    }
    py::dict result;
    result["motifs"] = std::move(motifs);
    result["flat_series"] = found.flat_series;
    result["candidates"] = found.candidates;
    result["screened"] = found.screened;
    return result;
}

}  // namespace

void bind_discovery(py::module_& m) {
    m.def(
        "discover",
        [](const SeriesViews& series, std::size_t length, std::size_t max_length, double minsup, double engine_minsup,
           int seglen, std::vector<int> alphabets, int min_len, int max_len, double max_overlap,
           std::size_t detrend_window, double flat_tol, double radius, int iterations, std::size_t seeds_per_motif,
           std::size_t pool, double merge_apart, std::size_t most_candidates, std::size_t sample_points,
           std::size_t sample_fewest, std::size_t survivors, std::size_t join_pairs, std::size_t join_count,
           std::size_t join_cells, double same_place, double place_overlap, std::size_t k, long long threads,
           const py::object& progress, std::optional<std::size_t> max_patterns, std::size_t chance_shapes,
           std::size_t length_steps) {
            DiscoverySettings settings;
            settings.length = length;
            settings.max_length = max_length;
            settings.chance_shapes = chance_shapes;
            settings.length_steps = length_steps;
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
            settings.merge_apart = merge_apart;
            settings.most_candidates = most_candidates;
            settings.sample_points = sample_points;
            settings.sample_fewest = sample_fewest;
            settings.survivors = survivors;
            settings.join_pairs = join_pairs;
            settings.join_count = join_count;
            settings.join_cells = join_cells;
            settings.same_place = same_place;
            settings.place_overlap = place_overlap;
            settings.k = k;
            settings.max_patterns = max_patterns.value_or(kNoPatternLimit);
            const Discovery found = run_watched(thread_count(threads), progress, [&](const Runner& runner) {
                return discover(series, settings, runner);
            });
            return to_python(found);
        },
        py::arg("series"), py::arg("length"), py::arg("max_length"), py::arg("minsup"), py::arg("engine_minsup"),
        py::arg("seglen"), py::arg("alphabets"), py::arg("min_len"), py::arg("max_len"), py::arg("max_overlap"),
        py::arg("detrend_window"), py::arg("flat_tol"), py::arg("radius"), py::arg("iterations"),
        py::arg("seeds_per_motif"), py::arg("pool"), py::arg("merge_apart"), py::arg("most_candidates"),
        py::arg("sample_points"), py::arg("sample_fewest"), py::arg("survivors"), py::arg("join_pairs"),
        py::arg("join_count"), py::arg("join_cells"), py::arg("same_place"), py::arg("place_overlap"), py::arg("k"),
        py::arg("threads"), py::arg("progress"), py::arg("max_patterns"), py::arg("chance_shapes"),
        py::arg("length_steps"),
        "Motifs of `length` points (or of `length` to `max_length` points, each at its own) in `series` (float64 "
        "arrays), best first: a dict of numpy arrays.");
}

}  // namespace native
