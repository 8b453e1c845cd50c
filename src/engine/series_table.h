#pragma once

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "engine/hash_order.h"

// A table keyed by series index, held flat: it lists its series as a
// std::unordered_map<int, std::vector<T>> that received them in the same
// order would (see distinct_table_order), and keeps the values of every series in
// one block, so that a record holds a few allocations, not a few per series.
template <typename T>
class SeriesTable {
public:
    std::size_t size() const { return keys.size(); }
    bool empty() const { return keys.empty(); }
    void clear() { *this = SeriesTable(); }
    void reserve(std::size_t series, std::size_t total_count);
    // table[series] = [first, first + count), or its values followed by
    // them: a new series goes in after the others, a known one keeps its
    // place. With `known_new` the caller vouches that the series is not in
    // the table yet. `first` does not point into the table.
    void assign(int series, const T* first, std::size_t count, bool known_new);
    void append(int series, const T* first, std::size_t count, bool known_new);
    // Entry i, in the order the series first went in.
    int series(std::size_t i) const { return keys[i]; }
    const std::vector<int>& all_series() const { return keys; }
    const T* data(std::size_t i) const { return values.data() + offsets[i]; }
    std::size_t count(std::size_t i) const { return counts[i]; }
    struct View {
        const T* first;
        const T* last;
        const T* begin() const { return first; }
        const T* end() const { return last; }
    };
    View values_of(std::size_t i) const { return {data(i), data(i) + counts[i]}; }
    // The entries in the table's iteration order.
    std::vector<std::size_t> order() const { return distinct_table_order(keys); }

private:
    std::size_t entry_of(int series, bool known_new);
    // Entry i's block holds `total` values, its first counts[i] kept.
    void make_room(std::size_t i, std::size_t total);

    std::vector<int> keys;
    std::vector<std::size_t> offsets;  // into `values`
    std::vector<std::size_t> counts;
    std::vector<std::size_t> capacities;
    std::vector<T> values;
    // Series -> entry, made when a series may come again, and kept up to date from then on.
    std::unordered_map<int, std::size_t> slots;
};

template <typename T>
inline void SeriesTable<T>::reserve(std::size_t series, std::size_t total_count) {
    keys.reserve(series);
    offsets.reserve(series);
    counts.reserve(series);
    capacities.reserve(series);
    values.reserve(total_count);
}

template <typename T>
inline std::size_t SeriesTable<T>::entry_of(int series, bool known_new) {
    if (!known_new) {
        if (slots.size() != keys.size()) {
            slots.clear();
            for (std::size_t i = 0; i < keys.size(); ++i) slots.emplace(keys[i], i);
        }
        const auto found = slots.try_emplace(series, keys.size());
        if (!found.second) return found.first->second;
    }
    keys.push_back(series);
    offsets.push_back(values.size());
    counts.push_back(0);
    capacities.push_back(0);
    return keys.size() - 1;
}

template <typename T>
inline void SeriesTable<T>::make_room(std::size_t i, std::size_t total) {
    if (total <= capacities[i]) return;
    if (offsets[i] + capacities[i] == values.size()) {  // the last block grows where it is
        values.resize(offsets[i] + total);
        capacities[i] = total;
        return;
    }
    // Any other block moves to the end, with room to grow there: the old one stays unused.
    const std::size_t capacity = std::max(total, 2 * capacities[i]);
    const std::size_t offset = values.size();
    values.resize(offset + capacity);
    std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(offsets[i]), counts[i],
                values.begin() + static_cast<std::ptrdiff_t>(offset));
    offsets[i] = offset;
    capacities[i] = capacity;
}

template <typename T>
inline void SeriesTable<T>::assign(int series, const T* first, std::size_t count, bool known_new) {
    const std::size_t i = entry_of(series, known_new);
    counts[i] = 0;
    make_room(i, count);
    std::copy_n(first, count, values.begin() + static_cast<std::ptrdiff_t>(offsets[i]));
    counts[i] = count;
}

template <typename T>
inline void SeriesTable<T>::append(int series, const T* first, std::size_t count, bool known_new) {
    const std::size_t i = entry_of(series, known_new);
    make_room(i, counts[i] + count);
    std::copy_n(first, count, values.begin() + static_cast<std::ptrdiff_t>(offsets[i] + counts[i]));
    counts[i] += count;
}
