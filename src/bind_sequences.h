// Loading of the list arguments of the Python face (series, words and their
// elements), hardened against hostile sequences. Included by bind.cpp only,
// after pybind11/stl.h and before any binding is declared.
//
// What is accepted and how it converts is exactly what pybind11's own list
// conversion accepts: any sequence that is neither str nor bytes, its items 0
// to len - 1 read by index, each converted by the element's own caster. Two
// things differ, each a fault of that conversion with hostile input:
//   - The length is read once and checked. An exception raised by __len__ is
//     the call's exception; it is never left pending while Python code runs
//     on (which makes CPython raise SystemError, or abort in a debug build).
//   - Room is reserved only for a list or a tuple, whose length counts items
//     that already exist. A __len__ that claims 2**40 items reserves nothing:
//     trusting it asked the allocator for terabytes (MemoryError, or an abort
//     under AddressSanitizer).
// Each item is read when its turn comes and held while it converts, so a
// sequence changed by an element's __float__ is read as it is at that moment;
// a list shrunk below the length read at the start raises IndexError.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace pybind11::detail {

template <typename Type, typename Value>
struct checked_list_caster : list_caster<Type, Value> {
    bool load(handle src, bool convert) {
        if (!isinstance<sequence>(src) || isinstance<bytes>(src) || isinstance<str>(src)) return false;
        const ssize_t size = PySequence_Size(src.ptr());
        if (size < 0) throw error_already_set();
        this->value.clear();
        if (PyList_CheckExact(src.ptr()) || PyTuple_CheckExact(src.ptr())) {
            this->value.reserve(static_cast<std::size_t>(size));
        }
        for (ssize_t i = 0; i < size; ++i) {
            const object item = reinterpret_steal<object>(PySequence_GetItem(src.ptr(), i));
            if (!item) throw error_already_set();
            make_caster<Value> conv;
            if (!conv.load(item, convert)) return false;
            this->value.push_back(cast_op<Value&&>(std::move(conv)));
        }
        return true;
    }
};

// One series and a set of series; one word and a set of words.
template <>
struct type_caster<std::vector<double>> : checked_list_caster<std::vector<double>, double> {};
template <>
struct type_caster<std::vector<std::vector<double>>>
    : checked_list_caster<std::vector<std::vector<double>>, std::vector<double>> {};
template <>
struct type_caster<std::vector<char>> : checked_list_caster<std::vector<char>, char> {};
template <>
struct type_caster<std::vector<std::vector<char>>>
    : checked_list_caster<std::vector<std::vector<char>>, std::vector<char>> {};

}  // namespace pybind11::detail
