#pragma once

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "engine/motif.h"
#include "engine/stages.h"

// The settings of a Miner, with the same names and meanings.
struct MinerSettings {
    double minsup;
    int seglen;
    int alphabet;
    int min_len;
    int max_len;
    double max_overlap;
    int k;
};

// No limit on the number of frequent patterns (see PatternMiner::set_max_patterns).
inline constexpr std::size_t kNoPatternLimit = 0;

// Stages of mine_motifs, in the order in which they report progress, with
// what they count: series discretised; then the engine's kStageMine and
// kStageFilter (engine/stages.h); motifs whose NAED is known; returned motifs
// mapped in full.
inline constexpr const char* kStageDiscretise = "discretise";
inline constexpr const char* kStageMap = "map";
inline constexpr const char* kStageCollect = "collect";

// What Miner(settings).mine(series) returns on a new Miner, bit for bit, with
// the same errors, leaving `series` unchanged; the work is spread by `runner`.
//
// Each series is z-normalised and discretised; the words are mined; once
// mining has freed its occurrences, the series are z-normalised into one copy
// of the input; every frequent pattern's NAED is found from its occurrences,
// without building its record when not every motif is returned; the patterns
// are ranked as Miner ranks them, and the first k (all for k 0) are mapped in
// full. Throws TooManyPatterns (patterns.h) as soon as more than
// `max_patterns` patterns pass the support test, before anything is mapped.
std::vector<Motif> mine_motifs(const SeriesViews& series, const MinerSettings& settings, std::size_t max_patterns,
                               const Runner& runner);
