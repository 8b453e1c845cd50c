// The Python face of the engine: module `_zef_cpp`. Every function here only
// forwards to the engine or converts a value; the engine knows nothing of Python.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>

#include "motif.h"
#include "sax.h"

namespace py = pybind11;

namespace {

// The pattern of a motif as one string, decoded as strict UTF-8 on its way out.
std::string pattern_text(const Motif& motif) { return {motif.get_pattern().begin(), motif.get_pattern().end()}; }

}  // namespace

namespace {

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

}  // namespace

PYBIND11_MODULE(_zef_cpp, m) {
    bind_motif(m);
    m.def("sax", &sax, py::arg("ts"), py::arg("seglen"), py::arg("alphabet"));
}
