#pragma once

// The pieces of mining that run apart on the partitions of a collection
// (zef.dask): each partition's words and occurrence lists on its own, the
// decisions over patterns alone on the client.

#include <cstddef>
#include <map>
#include <vector>

#include "core/types.h"
#include "engine/occurrences.h"

namespace partitioned {

// The occurrences of one pattern in one partition, in the engine's lists:
// the local series where it occurs, ascending, and for series[i] its start
// positions, ascending, positions[ends[i - 1] .. ends[i]). The flag
// in_prefix_order is never set here.
using PartOccurrences = OccurrenceList;

using PartTable = std::map<Pattern, PartOccurrences, PatternLess>;

// The word of each series, z-normalised as the mining pipeline normalises it,
// one series at a time (no normalised copy of the partition is kept).
WordSet words_of_series(const SeriesViews& series, int seglen, int alphabet);

// Mapping in one partition, the series z-normalised one at a time as for
// their words. For each pattern (its occurrences `found[i]`, occurrences of
// lengths[i] points): the average occurrence of each of its local series, in
// the order of found[i].series, one row of lengths[i] values after another.
std::vector<std::vector<double>> part_averages(const SeriesViews& series, const std::vector<PartOccurrences>& found,
                                               int seglen, const std::vector<int>& lengths);

// For each pattern, the distance of each of its local series' best match to
// representatives[i] and its point index, in the order of found[i].series.
struct PartBests {
    std::vector<double> distances;
    std::vector<int> points;
};
std::vector<PartBests> part_bests(const SeriesViews& series, const std::vector<PartOccurrences>& found, int seglen,
                                  const std::vector<int>& lengths,
                                  const std::vector<std::vector<double>>& representatives);

// The steps of the miner (engine/occurrences.h, candidates.h, redundancy.h)
// on one partition's words and on the client's lists of patterns; each gives
// what the miner's own step gives on the same input.

// Every symbol of the words with its occurrences.
PartTable first_level(const WordSet& words);

// The occurrences of each candidate (one symbol longer than a pattern of
// `previous`), found at the occurrences of its prefix; candidates whose prefix
// is not in `previous`, and those that occur nowhere, are left out.
PartTable extend_level(const WordSet& words, const PartTable& previous, const std::vector<Pattern>& candidates);

// The candidates of the next level from the frequent patterns of one length
// in key order: a joined with b wherever a without its first symbol is b
// without its last; in key order.
std::vector<Pattern> join_level(const std::vector<Pattern>& frequent);

// The patterns of `supports` (each with the number of series where it
// occurs) that pass the miner's support test at `min_count` series, in key order.
std::vector<Pattern> frequent_patterns(const std::map<Pattern, std::size_t, PatternLess>& supports, double min_count);

// The patterns that the redundancy filter erases from `survivors` (longest
// first, as the length filter leaves them): a pattern still present erases
// every later one of at most its length whose longest common subsequence with
// it exceeds `max_overlap` of that later one's length. Survivors in another
// order are refused with std::invalid_argument.
std::vector<bool> redundant_patterns(const std::vector<Pattern>& survivors, double max_overlap);

// Throws the miner's TooManyPatterns when `passed` patterns passing the
// support test are more than `limit` allows (0: no limit).
void check_pattern_count(std::size_t passed, std::size_t limit);

// Indexes of `naeds` in the order of the Miner's ranking: smallest first, NaN last.
std::vector<std::size_t> rank_order(const std::vector<double>& naeds);

}  // namespace partitioned
