#pragma once

// The pieces of mining that run apart on the partitions of a collection
// (zef.dask): each partition's words and occurrence lists on its own, the
// decisions over patterns alone on the client.

#include <cstddef>
#include <map>
#include <vector>

#include "types.h"

namespace zef_dask {

// The occurrences of one pattern in one partition: the local series where it
// occurs, ascending, and for series[i] its start positions, ascending,
// positions[ends[i - 1] .. ends[i]).
struct PartOccurrences {
    std::vector<int> series;
    std::vector<std::size_t> ends;
    std::vector<int> positions;
};

using PartTable = std::map<Pattern, PartOccurrences, PatternLess>;

// Each series z-normalised (in place) and its word, as the mining pipeline makes them.
WordSet normalise_and_discretise(SeriesSet& series, int seglen, int alphabet);

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

// The patterns that the redundancy filter erases from `survivors` (longest
// first, as the length filter leaves them): a pattern still present erases
// every later one of at most its length whose longest common subsequence with
// it exceeds `max_overlap` of that later one's length.
std::vector<bool> redundant_patterns(const std::vector<Pattern>& survivors, double max_overlap);

// Indexes of `naeds` in the order of the Miner's ranking: smallest first, NaN last.
std::vector<std::size_t> rank_order(const std::vector<double>& naeds);

}  // namespace zef_dask
