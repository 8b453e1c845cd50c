#pragma once

// Every conversion at the Python boundary that needs code of its own, in one
// header that includes pybind11 itself: a binding translation unit includes
// this header for pybind11 and nothing else, so that every one of them sees
// the same specialisations, declared before any binding. Nothing here belongs
// to one module: a caster names the Python classes of the engine through
// pybind11's registry, wherever they are registered. The engine knows nothing
// of Python.
//
// How a SeriesSet argument crosses the Python boundary. A C-contiguous array
// of native float64 values (any object with the buffer protocol, numpy's
// included), or a sequence whose rows are such 1-D arrays, is read straight
// from its buffer; everything else goes through pybind11's ordinary
// conversion of a sequence of sequences of floats, row by row. Both give the
// same values, the ordinary conversion keeps its errors, and the descriptor
// stays "List[List[float]]". A WordSet result is built as the list caster
// builds it, only faster. The frequent table of a PatternMiner goes out as a
// dict (FrequentPatterns below).

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/types.h"
#include "engine/motif.h"
#include "engine/patterns.h"

namespace pybind11::detail {

// Loading of the list arguments of the Python face (series, words and their
// elements), hardened against hostile sequences.
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

// One series and one word: loaded by the checked list conversion. Sets of
// series and of words have casters of their own below, built on the same.
template <>
struct type_caster<std::vector<double>> : checked_list_caster<std::vector<double>, double> {};
template <>
struct type_caster<std::vector<char>> : checked_list_caster<std::vector<char>, char> {};

}  // namespace pybind11::detail

namespace zef_binding {

namespace py = pybind11;

// A caller's buffer held for the duration of one call, when it holds
// C-contiguous native float64 values in the expected number of dimensions.
class Float64Buffer {
public:
    // Never copied or moved: an exporter may point the view's shape into the
    // view itself (PyBuffer_FillInfo does).
    Float64Buffer() = default;
    Float64Buffer(const Float64Buffer&) = delete;
    Float64Buffer& operator=(const Float64Buffer&) = delete;
    ~Float64Buffer() {
        if (held) PyBuffer_Release(&view);
    }

    // Takes the buffer of `source` if it has this form; otherwise holds
    // nothing and leaves no Python error behind.
    bool acquire(py::handle source, int ndim) {
        if (!PyObject_CheckBuffer(source.ptr())) return false;
        if (PyObject_GetBuffer(source.ptr(), &view, PyBUF_RECORDS_RO) != 0) {
            PyErr_Clear();
            return false;
        }
        held = true;
        if (view.ndim == ndim && view.itemsize == static_cast<Py_ssize_t>(sizeof(double)) && is_float64(view.format) &&
            PyBuffer_IsContiguous(&view, 'C')) {
            return true;
        }
        PyBuffer_Release(&view);
        held = false;
        return false;
    }

    std::size_t extent(int dimension) const { return static_cast<std::size_t>(view.shape[dimension]); }
    const char* bytes() const { return static_cast<const char*>(view.buf); }
    bool aligned() const { return reinterpret_cast<std::uintptr_t>(view.buf) % alignof(double) == 0; }

private:
    // Native float64 in the struct module's notation.
    static bool is_float64(const char* format) {
        if (format == nullptr) return false;
        if (format[0] == '@' || format[0] == '=' || format[0] == (PY_LITTLE_ENDIAN ? '<' : '>')) ++format;
        return format[0] == 'd' && format[1] == '\0';
    }

    Py_buffer view{};
    bool held = false;
};

// A SeriesSet argument as the caller gave it: rows viewed in the caller's
// buffers where they can be, rows converted the ordinary way elsewhere.
class SeriesInput {
public:
    // The conversion: false when the argument does not convert (the binding
    // layer then raises its TypeError); Python errors raised while reading a
    // sequence propagate as they do in the ordinary conversion.
    bool load(py::handle source, bool convert) {
        auto table = std::make_unique<Float64Buffer>();
        if (table->acquire(source, 2)) {
            const std::size_t count = table->extent(0);
            const std::size_t size = table->extent(1);
            rows.reserve(count);
            for (std::size_t i = 0; i < count; ++i) add_buffer_row(*table, i * size * sizeof(double), size);
            buffers.push_back(std::move(table));
            return true;
        }

        // pybind11's list caster, with each row first offered to the buffer path.
        if (!py::isinstance<py::sequence>(source) || py::isinstance<py::bytes>(source) ||
            py::isinstance<py::str>(source)) {
            return false;
        }
        const Py_ssize_t count = PySequence_Size(source.ptr());
        if (count < 0) throw py::error_already_set();
        if (PyList_CheckExact(source.ptr()) || PyTuple_CheckExact(source.ptr())) {
            rows.reserve(static_cast<std::size_t>(count));
        }
        for (Py_ssize_t i = 0; i < count; ++i) {
            const auto row = py::reinterpret_steal<py::object>(PySequence_GetItem(source.ptr(), i));
            if (!row) throw py::error_already_set();
            auto buffer = std::make_unique<Float64Buffer>();
            if (buffer->acquire(row, 1)) {
                add_buffer_row(*buffer, 0, buffer->extent(0));
                buffers.push_back(std::move(buffer));
                continue;
            }
            py::detail::make_caster<std::vector<double>> ordinary;
            if (!ordinary.load(row, convert)) return false;
            owned.push_back(py::detail::cast_op<std::vector<double>&&>(std::move(ordinary)));
            rows.push_back({owned.size() - 1, nullptr, 0});
        }
        return true;
    }

    // Views of every row in series order, valid while this input lives.
    SeriesViews views() const {
        SeriesViews result;
        result.reserve(rows.size());
        for (const Row& row : rows) {
            if (row.values != nullptr) {
                result.push_back({row.values, row.size});
            } else {
                result.push_back({owned[row.owned].data(), owned[row.owned].size()});
            }
        }
        return result;
    }

    // An owned SeriesSet: rows read from buffers are copied, converted rows moved.
    SeriesSet take_series() {
        SeriesSet result;
        result.reserve(rows.size());
        for (const Row& row : rows) {
            if (row.values != nullptr) {
                result.emplace_back(row.values, row.values + row.size);
            } else {
                result.push_back(std::move(owned[row.owned]));
            }
        }
        return result;
    }

private:
    // A row in a buffer (values set) or in `owned` (values null).
    struct Row {
        std::size_t owned;
        const double* values;
        std::size_t size;
    };

    void add_buffer_row(const Float64Buffer& buffer, std::size_t offset, std::size_t size) {
        if (buffer.aligned()) {
            rows.push_back({0, reinterpret_cast<const double*>(buffer.bytes() + offset), size});
        } else {
            // An unaligned buffer is copied out byte for byte rather than read in place.
            std::vector<double> copy(size);
            if (size != 0) std::memcpy(copy.data(), buffer.bytes() + offset, size * sizeof(double));
            owned.push_back(std::move(copy));
            rows.push_back({owned.size() - 1, nullptr, 0});
        }
    }

    std::vector<std::unique_ptr<Float64Buffer>> buffers;
    std::vector<std::vector<double>> owned;
    std::vector<Row> rows;
};

// The frequent table as Python sees it: a dict in ascending pattern order whose
// keys are tuples of one-character strings (byte b as code point b) and whose
// values are new Motif objects. A tuple, because a list cannot be a dict key.
struct FrequentPatterns {
    FrequentTable table;
};

}  // namespace zef_binding

namespace pybind11::detail {

// SeriesSet (a vector of vectors of double): read as above into a fresh set,
// which the engine may rewrite (Miner::mine normalises it in place). Results
// of this type would still be cast by the ordinary list caster.
template <>
struct type_caster<SeriesSet> : list_caster<SeriesSet, std::vector<double>> {
    bool load(handle source, bool convert) {
        zef_binding::SeriesInput input;
        if (!input.load(source, convert)) return false;
        value = input.take_series();
        return true;
    }
};

// Read-only views of a SeriesSet argument: the caller's buffers are read in
// place for the duration of the call, without a copy.
template <>
struct type_caster<SeriesViews> {
public:
    PYBIND11_TYPE_CASTER(SeriesViews, make_caster<SeriesSet>::name);

    bool load(handle source, bool convert) {
        if (!input.load(source, convert)) return false;
        value = input.views();
        return true;
    }

private:
    zef_binding::SeriesInput input;
};

// WordSet results (the words of sax): a list of lists of one-character
// strings, byte b as the character of code point b, which is what the list
// and char casters give (Latin-1 decoding, each string made by
// PyUnicode_DecodeLatin1), with each string made once per call and byte value.
// WordSet arguments are loaded by the checked list conversion.
template <>
struct type_caster<WordSet> : checked_list_caster<WordSet, Pattern> {
    static handle cast(const WordSet& words, return_value_policy, handle) {
        std::array<object, 256> symbols;
        list result(words.size());
        for (std::size_t i = 0; i < words.size(); ++i) {
            const Pattern& word = words[i];
            auto symbols_of_word = reinterpret_steal<list>(PyList_New(static_cast<Py_ssize_t>(word.size())));
            if (!symbols_of_word) throw error_already_set();
            for (std::size_t j = 0; j < word.size(); ++j) {
                object& symbol = symbols[static_cast<unsigned char>(word[j])];
                if (!symbol) {
                    symbol = reinterpret_steal<object>(PyUnicode_DecodeLatin1(&word[j], 1, nullptr));
                    if (!symbol) throw error_already_set();
                }
                PyList_SET_ITEM(symbols_of_word.ptr(), static_cast<Py_ssize_t>(j), symbol.inc_ref().ptr());
            }
            PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), symbols_of_word.release().ptr());
        }
        return result.release();
    }
};

}  // namespace pybind11::detail

namespace pybind11::detail {

// FrequentPatterns results only; the Motif values take the class registered for Motif.
template <>
struct type_caster<zef_binding::FrequentPatterns> {
    PYBIND11_TYPE_CASTER(zef_binding::FrequentPatterns,
                         const_name("Dict[Tuple[str, ...], ") + make_caster<Motif>::name + const_name("]"));

    bool load(handle, bool) { return false; }

    static handle cast(zef_binding::FrequentPatterns frequent, return_value_policy, handle) {
        dict result;
        for (auto& entry : frequent.table) {
            tuple key(entry.first.size());
            for (std::size_t i = 0; i < entry.first.size(); ++i) key[i] = pybind11::cast(entry.first[i]);
            result[std::move(key)] = pybind11::cast(std::move(entry.second), return_value_policy::move);
        }
        return result.release();
    }
};

}  // namespace pybind11::detail
