// Discovery's steps on the array of one series, for zef.discover's Python side.
#include "native/bindings.h"

#include <cstddef>
#include <vector>

#include "discovery/detrend.h"
#include "discovery/refine.h"
#include "native/arrays.h"

namespace native {

void bind_arrays(py::module_& m) {
    m.def(
        "distance_profile",
        [](const std::vector<double>& shape, const std::vector<double>& values, double flat_tol) {
            const std::size_t m = shape.size(), n = values.size();
            if (m < 2 || n < m)
                throw py::value_error("need a shape of at least 2 points and a series at least as long");
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

}  // namespace native
