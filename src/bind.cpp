// The Python face of the engine: module `_zef_cpp`. Every function here only
// forwards to the engine or converts a value; the engine knows nothing of Python.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "sax.h"

namespace py = pybind11;

PYBIND11_MODULE(_zef_cpp, m) {
    m.def("sax", &sax, py::arg("ts"), py::arg("seglen"), py::arg("alphabet"));
}
