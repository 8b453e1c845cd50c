#pragma once

// Occurrence lists, the steps of mining that make them (single symbols
// counted in the words, the extension of a prefix's occurrences by one
// symbol) and the support test that judges them. PatternMiner runs them over
// its levels, the partitioned steps over one partition's words.

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "engine/motif.h"
#include "engine/pacer.h"

// The occurrences of one pattern as its Motif record holds them, in plain
// lists: the series in the order in which they were first recorded (which
// fixes the iteration order of the record's hash table, see
// Motif::table_order) and, per series, its positions in the order recorded.
struct OccurrenceList {
    std::vector<int> series;        // distinct, in the order first recorded
    std::vector<std::size_t> ends;  // the positions of series[i] end at positions[ends[i]]
    std::vector<int> positions;     // grouped by series, in the order of `series`
    // Set by PatternMiner on a list that it counted from its prefix's lists
    // front to back: its series are not in the order recorded, which the
    // prefix's table gives (the order in which walking it meets them). The
    // miner puts them in that order before the list is read or handed out.
    bool in_prefix_order = false;

    std::size_t support() const { return series.size(); }
    bool empty() const { return series.empty(); }
    std::size_t begin_of(std::size_t i) const { return i == 0 ? 0 : ends[i - 1]; }

    // What Motif::record_index would do with every occurrence of `more`, in
    // the order of `more`, after the occurrences held here.
    void append(OccurrenceList&& more);
    // The record that Motif::record_index builds from the same occurrences.
    Motif record(const Pattern& pattern) const;
};

// The occurrences below which a level is counted, or the lists of single
// symbols joined, on the calling thread.
constexpr std::size_t kParallelLevelOccurrences = std::size_t{1} << 14;

// Room for one candidate's occurrences while extend() gathers them. Every
// element is written before it is read, so growing it writes nothing: filled
// with zeros, the rooms (each as long as the prefix's lists) cost several
// times the writes of the walk itself, which leaves each candidate a share.
class Gathering {
public:
    int* series() { return series_.get(); }
    std::size_t* ends() { return ends_.get(); }
    int* positions() { return positions_.get(); }
    void hold(std::size_t most_series, std::size_t most_positions) {
        grow(series_, series_room, most_series);
        grow(ends_, ends_room, most_series);
        grow(positions_, positions_room, most_positions);
    }

private:
    template <typename T>
    static void grow(std::unique_ptr<T[]>& room, std::size_t& size, std::size_t most) {
        if (most <= size && room) return;
        room.reset(new T[std::max<std::size_t>(most, 1)]);
        size = most;
    }
    std::unique_ptr<int[]> series_;
    std::unique_ptr<std::size_t[]> ends_;
    std::unique_ptr<int[]> positions_;
    std::size_t series_room = 0, ends_room = 0, positions_room = 0;
};

// The support test of prune_infrequent(): a pattern has to occur somewhere,
// whatever the threshold. With a threshold at or below zero (or NaN) this
// still ends mining, because a candidate that occurs nowhere never passes.
inline bool passes_support(std::size_t series_count, double min_count) {
    const auto support = static_cast<double>(series_count);
    return !(support < 1.0 || min_count > support);
}

// The occurrences of each symbol (byte value) in the words: each list holds
// the series in word order, each series' positions ascending, as one scan of
// every word in turn, position by position, records them. Spread by the
// Runner and asking it whether to stop; the same lists whatever it does.
std::array<OccurrenceList, kSymbolValues> symbol_occurrences(const WordSet& words, const Runner& runner);

// The occurrences of prefix + s for each symbol s of `symbols` (distinct), in
// that order: what find_candidate() records for each of those candidates. The
// recorded occurrences of the prefix are visited in the order of its record's
// table, each series' positions in the order recorded; an occurrence of the
// candidate starts at each of them where the word holds the prefix and goes
// on with s. With `holds_prefix` (the words are those whose scan recorded the
// prefix's occurrences) the word is known to hold the prefix there. The lists
// are gathered in `buffers`, reused from call to call, and handed out in
// found[0..) as copies of their exact size.
//
// Without `in_table_order` the prefix's series are visited in the order its
// lists hold them instead, with no table order to find: the lists found are
// then marked in_prefix_order, for the miner to put in order if they are
// ever read (see order_like_prefix).
//
// The symbol after an occurrence decides where it goes, and that is as good
// as random: the loop has no branch on it. Each candidate's arrays, and one
// more for the symbols that start none, are as long as the prefix's lists,
// so every occurrence is written at the end of one of them without a test;
// after each series, every candidate that gained occurrences records it.
void extend(const WordSet& words, bool holds_prefix, bool in_table_order, const Pattern& prefix,
            const OccurrenceList& occurrences, const std::vector<char>& symbols, OccurrenceList* found,
            std::vector<Gathering>& buffers, Pacer& pacer);

// The series of `list`, counted from its prefix front to back, in the order
// recorded: the order in which extend() meets them when it walks the table of
// a prefix whose series were recorded in the order `prefix` (their positions
// in `table`, Motif::table_order(prefix)). The series of the list are some of
// the prefix's, each once. With `lay_out`, the list itself is put in that order.
std::vector<int> order_like_prefix(OccurrenceList& list, const std::vector<int>& prefix,
                                   const std::vector<std::size_t>& table, bool lay_out);

// The same for a list counted from `prefix`, whose lists are in the order recorded.
void order_like_prefix(OccurrenceList& list, const OccurrenceList& prefix);
