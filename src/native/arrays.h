#pragma once

// numpy arrays in and out of the module zef._native.

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "casters/casters.h"

#include <pybind11/numpy.h>

namespace native {

namespace py = pybind11;

// A 1-D array of the values. Strides are given explicitly: pybind11 2.11
// reads the item size from numpy 1's descriptor layout, which numpy 2 changed.
template <typename T>
py::array_t<T> to_array(const std::vector<T>& values) {
    py::array_t<T> out({static_cast<py::ssize_t>(values.size())}, {static_cast<py::ssize_t>(sizeof(T))});
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

template <typename T>
std::vector<T> vector_of(const py::array_t<T, py::array::c_style | py::array::forcecast>& a) {
    return std::vector<T>(a.data(), a.data() + a.size());
}

// A rows x width array of rows that must all have `width` values.
template <typename T>
py::array_t<T> to_matrix(const std::vector<std::vector<T>>& rows, std::size_t width) {
    py::array_t<T> out({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(width)},
                       {static_cast<py::ssize_t>(width * sizeof(T)), static_cast<py::ssize_t>(sizeof(T))});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].size() != width) throw std::logic_error("rows of one width");
        std::copy(rows[i].begin(), rows[i].end(), out.mutable_data() + i * width);
    }
    return out;
}

}  // namespace native
