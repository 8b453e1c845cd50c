// zef.mine: the engine's mining on every core, watched (watched_call.h).
#include "native/bindings.h"

#include <cstddef>
#include <optional>

#include "engine/patterns.h"
#include "native/watched_call.h"
#include "parallel/pipeline.h"

namespace native {

void bind_mining(py::module_& m) {
    py::register_exception<TooManyPatterns>(m, "TooManyPatterns", PyExc_RuntimeError);
    m.def(
        "mine",
        [](const SeriesViews& series, double minsup, int seglen, int alphabet, int min_len, int max_len,
           double max_overlap, int k, long long threads, const py::object& progress,
           std::optional<std::size_t> max_patterns) {
            const MinerSettings settings{minsup, seglen, alphabet, min_len, max_len, max_overlap, k};
            const std::size_t limit = max_patterns.value_or(kNoPatternLimit);
            return run_watched(thread_count(threads), progress,
                               [&](const Runner& runner) { return mine_motifs(series, settings, limit, runner); });
        },
        py::arg("series"), py::arg("minsup"), py::arg("seglen"), py::arg("alphabet"), py::arg("min_len"),
        py::arg("max_len"), py::arg("max_overlap"), py::arg("k"), py::arg("threads"), py::arg("progress"),
        py::arg("max_patterns"));
}

}  // namespace native
