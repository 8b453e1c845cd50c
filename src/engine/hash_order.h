#pragma once

#include <cstddef>
#include <vector>

// The order in which a std::unordered_map<int, T> lists its entries, found
// without building one. A motif's tables are such maps: their iteration order
// decides the order of the series in its results and of the sums across them
// (see Motif::table_order), and many callers need only that order.
//
// With libstdc++ the table's own steps are replayed on flat arrays: where a
// new entry goes (first in its bucket, or first in the list when its bucket
// is empty), when the table grows (the library's own rehash policy) and how
// growing relinks the list. Elsewhere a table of the same kind is built.

// Positions into `keys` (entries inserted in that order; a repeated key keeps
// its first place and takes the later position, as `table[key] = i` does), in
// the table's iteration order.
std::vector<std::size_t> hash_table_order(const std::vector<int>& keys);

// The same for keys that are all different, which the caller guarantees (a
// repeat is not detected): no key is looked for before it goes in.
std::vector<std::size_t> distinct_table_order(const std::vector<int>& keys);

// The same from a real std::unordered_map, for comparison.
std::vector<std::size_t> built_table_order(const std::vector<int>& keys);
