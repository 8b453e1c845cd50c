#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

#include "core/types.h"
#include "engine/motif.h"
#include "engine/patterns.h"

// The whole motif discovery: z-normalise, discretise, mine frequent patterns,
// map them onto the series, rank by NAED and return the best k. Keeps every
// motif it has found, over all calls, in ranked order.
class Miner {
public:
    Miner(double minsup, int seglen, int alphabet, int min_len, int max_len, double max_overlap, int k);

    // Z-normalises `ts` in place, adds this call's motifs to the stored list,
    // maps every stored motif onto `ts`, ranks them and returns the first k
    // (all for k 0). Throws std::out_of_range, before changing anything, when a
    // stored motif refers to a series that `ts` does not have; throws
    // std::length_error for a negative k after the ranking.
    std::vector<Motif> mine(SeriesSet& ts);

    // Refuses with std::bad_alloc, before appending anything, motifs whose
    // mapping could never fit in the machine's memory (see check_mapping_fits).
    void mine_patterns(const WordSet& words);
    void map_patterns(const SeriesSet& ts);
    // Smallest NAED first; motifs whose NAED is NaN go last.
    void sort_patterns();
    std::vector<Motif> get_motifs() const;

private:
    void check_stored_series(const SeriesSet& ts) const;
    // Throws std::bad_alloc when mapping the stored motifs and those of
    // `frequent` could never fit in the machine's memory.
    void check_mapping_fits(const FrequentTable& frequent) const;

    double minsup;
    int seglen;
    int alphabet;
    int min_len;
    int max_len;
    double max_overlap;
    int k;
    std::vector<Motif> motifs;
};

// The refusal of Miner::mine: throws std::bad_alloc when mapping the motifs
// `stored` and those of `frequent`, `seglen` points per symbol, plus the
// copies that a call returns, would need more bytes than the machine has.
void check_mapping_fits(const std::vector<Motif>& stored, const FrequentTable& frequent, int seglen);
// The same for patterns with their occurrences, and nothing stored.
void check_mapping_fits(const FrequentLists& frequent, int seglen);
// The same for patterns given by their number of symbols and their support.
void check_mapping_fits(const std::vector<std::pair<std::size_t, std::size_t>>& sizes, int seglen);

// How many of `count` ranked motifs a call returns for `k`: all for 0, at most
// k otherwise; a negative k is refused as too large (throw_too_large).
std::size_t returned_count(int k, std::size_t count);

// The ranking of Miner::sort_patterns over any list whose elements give a
// NAED: smallest first, NaN last. A plain `<` on NAED is no strict weak
// ordering once NaN appears, and std::sort with such a comparison may run
// outside the list: NaN goes last first, then the rest is sorted. The order
// that comes out (ties included) depends only on the NAEDs in list order.
template <typename Iterator, typename NaedOf>
void rank_by_naed(Iterator first, Iterator last, NaedOf naed_of) {
    using Element = typename std::iterator_traits<Iterator>::value_type;
    const auto nan_begin = std::partition(first, last, [&](const Element& e) { return !std::isnan(naed_of(e)); });
    std::sort(first, nan_begin, [&](const Element& a, const Element& b) { return naed_of(a) < naed_of(b); });
}
