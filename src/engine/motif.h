#pragma once

#include <cstddef>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/types.h"
#include "engine/series_table.h"

// The recorded positions of one series, held elsewhere: [first, last).
struct PositionRun {
    int series;
    const int* first;
    const int* last;
};

// Buffers that mapped_naed() reuses from one motif to the next.
struct NaedScratch {
    std::vector<PositionRun> runs;  // the record's series, in table order
    std::vector<int> series;        // the series of `runs`
    std::vector<double> sums;       // one series' sums, then its averages
    std::vector<double> counts;     // whole numbers, held as doubles
    std::vector<double> mean;       // the mean of the per-series averages, then one share of it
    std::vector<double> mean_counts;
    std::vector<double> representative;
    std::vector<int> best;  // per run: the symbol position of its best occurrence
};

// The result record of one symbol pattern: where the pattern occurs in the
// words (symbol positions per series) and, once mapped onto the numeric
// series, the statistics at the level of points.
//
// The three tables are keyed by series index and list their series as hash
// maps (std::unordered_map) that received them in the same order would. That
// order is the order in which series are visited and in which values are
// summed across series when the motif is mapped, so it decides the last bits
// of `representative` and `naed`; it is also the key order Python sees.
class Motif {
public:
    explicit Motif(Pattern pattern);

    // Appends a symbol position to the list of the series, creating the list on
    // the first position recorded for that series. Nothing is validated.
    void record_index(int series, int position);
    // The same as record_index for each position of [first, last) in turn.
    void record_indexes(int series, const int* first, const int* last);
    // The same for a series that has no list yet, which the caller
    // guarantees: its list is not looked for. Room for `series` lists of
    // `positions` positions in all may be made first.
    void record_new_series(int series, const int* first, const int* last);
    void reserve(std::size_t series, std::size_t positions);

    // The order in which `indexes` lists its series when they were first
    // recorded in the order given: positions into `series` (each series in it
    // once), in table order. Found without building the table, for callers
    // that need the order only.
    static std::vector<std::size_t> table_order(const std::vector<int>& series);
    // The points of one occurrence of a pattern of `symbols` symbols, `seglen`
    // points per symbol: refused as too large (throw_too_large) when negative
    // or beyond the int range.
    static int occurrence_length(std::size_t symbols, int seglen);

    int get_length() const;
    double get_naed() const;
    std::unordered_map<int, std::vector<int>> get_indexes();
    std::unordered_map<int, std::vector<double>> get_average_occurrences();
    std::vector<double> get_representative();
    std::unordered_map<int, int> get_best_matches();

    const Pattern& get_pattern() const { return pattern; }
    // Number of distinct series with at least one recorded occurrence.
    int support() const { return static_cast<int>(indexes.size()); }
    // The recorded occurrences, series by series in the table's order.
    std::vector<std::pair<int, std::vector<int>>> occurrences() const;
    // The series with recorded occurrences, in the order first recorded.
    const std::vector<int>& recorded_series() const { return indexes.all_series(); }

    // Maps the recorded occurrences onto the series, `seglen` points per symbol.
    void map(const SeriesSet& ts, int seglen);
    // The same for a record whose representative, best occurrences (symbol
    // positions, one per series in the order of `indexes`) and NAED are known,
    // as mapped_naed() leaves them: only the averages are computed.
    void map_known(const SeriesSet& ts, int seglen, const std::vector<double>& known_representative,
                   const std::vector<int>& best_positions, double known_naed);
    std::vector<double> get_occurrence(const std::vector<double>& series, int position) const;
    void set_average_occurrences(const SeriesSet& ts);
    void set_representative();
    void set_best_matches_and_naed(const SeriesSet& ts);

    // A record mapped one series at a time, where each series lives apart
    // from the others (zef.dask): the steps of map() for one series, and a
    // record restored from what they give.
    //
    // The average of one series' occurrences, as set_average_occurrences() finds it.
    static std::vector<double> series_average(const std::vector<double>& series, const std::vector<int>& positions,
                                              int seglen, int length);
    // The distance of the series' closest occurrence to `representative` and
    // its point index, as set_best_matches_and_naed() finds them.
    static std::pair<double, int> series_best(const std::vector<double>& series, const std::vector<int>& positions,
                                              int seglen, int length, const std::vector<double>& representative);
    // The record with these occurrences (`series` in the order first
    // recorded, `positions[i]` those of series[i]) mapped `seglen` points per
    // symbol as far as its representative, from the average of each series
    // (by series index); without `keep_averages` the averages are dropped
    // once the representative is built.
    static Motif restored(Pattern pattern, int seglen, const std::vector<int>& series,
                          const std::vector<std::vector<int>>& positions,
                          const std::unordered_map<int, std::vector<double>>& averages, bool keep_averages);
    // Completes a restored record with the best match of each series, as series_best() gives it.
    void set_best_matches(const std::unordered_map<int, std::pair<double, int>>& best);

    // The NAED that map(ts, seglen) would give this record, computed in
    // `scratch` without building the maps: the same sums in the same orders,
    // so the same bits. Throws the errors of map(); the record is not changed.
    double mapped_naed(const SeriesSet& ts, int seglen, NaedScratch& scratch) const;
    // The same for a record of `pattern` whose table `indexes` lists the
    // series and positions of scratch.runs in that order; `scratch.runs` is
    // left as it was, and `scratch.representative` and `scratch.best` hold
    // what map() would find.
    static double mapped_naed(const Pattern& pattern, const SeriesSet& ts, int seglen, NaedScratch& scratch);

private:
    // What map() does first: stores seglen and the length it gives, refusing
    // one that overflows or is negative, and clears the representative and NAED.
    void start_mapping(int seglen);

    Pattern pattern;
    int seglen = 0;
    // Points covered by one occurrence: seglen times the number of symbols.
    int length = 0;
    // Series index -> symbol positions at which an occurrence starts, as recorded.
    SeriesTable<int> indexes;
    // Series index -> point-wise average of that series' occurrences.
    SeriesTable<double> average_occurrences;
    std::vector<double> representative;
    // Series index -> point index (not symbol position) of the best occurrence: one value each.
    SeriesTable<int> best_matches;
    double naed = 0.0;
};
