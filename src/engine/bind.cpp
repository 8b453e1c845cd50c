// The Python face of the engine: module `_zef_cpp`. Every function here only
// forwards to the engine; the conversions of our own are in casters.h, and the
// engine knows nothing of Python.
#include <string>

#include "casters/casters.h"
#include "engine/miner.h"
#include "engine/motif.h"
#include "engine/patterns.h"
#include "engine/sax.h"

namespace py = pybind11;

namespace {

// The pattern of a motif as one string, decoded as strict UTF-8 on its way out.
std::string pattern_text(const Motif& motif) { return {motif.get_pattern().begin(), motif.get_pattern().end()}; }

void bind_motif(py::module_& m) {
    py::class_<Motif>(m, "Motif")
        .def_property_readonly("pattern", &pattern_text)
        .def_property_readonly("indexes", &Motif::get_indexes)
        .def_property_readonly("average_occurrences", &Motif::get_average_occurrences)
        .def_property_readonly("representative", &Motif::get_representative)
        .def_property_readonly("best_matches", &Motif::get_best_matches)
        .def_property_readonly("length", &Motif::get_length)
        .def_property_readonly("naed", &Motif::get_naed)
        .def("__repr__", [](const Motif& motif) { return "Motif('" + pattern_text(motif) + "')"; });
}

void bind_miner(py::module_& m) {
    py::class_<Miner>(m, "Miner")
        .def(py::init<double, int, int, int, int, double, int>(), py::arg("minsup"), py::arg("seglen"),
             py::arg("alphabet"), py::arg("min_len") = 3, py::arg("max_len") = 0, py::arg("max_overlap") = 0.9,
             py::arg("k") = 0)
        .def("mine", &Miner::mine)
        .def_property_readonly("motifs", &Miner::get_motifs);
}

void bind_pattern_miner(py::module_& m) {
    py::class_<PatternMiner>(m, "PatternMiner")
        .def(py::init<double, int, int, double>(), py::arg("minsup"), py::arg("min_len") = 3, py::arg("max_len") = 0,
             py::arg("max_overlap") = 0.9)
        .def("mine", py::overload_cast<const WordSet&>(&PatternMiner::mine))
        .def_property_readonly(
            "frequent", [](const PatternMiner& miner) { return zef_binding::FrequentPatterns{miner.get_frequent()}; });
}

// Discretisation reads the caller's buffers in place; sax() over a SeriesSet gives the same words.
void bind_sax(py::module_& m) {
    m.def(
        "sax", [](const SeriesViews& ts, int seglen, int alphabet) { return sax_views(ts, seglen, alphabet); },
        py::arg("ts"), py::arg("seglen"), py::arg("alphabet"));
}

}  // namespace

PYBIND11_MODULE(_zef_cpp, m) {
    bind_motif(m);
    bind_miner(m);
    bind_pattern_miner(m);
    bind_sax(m);
}
