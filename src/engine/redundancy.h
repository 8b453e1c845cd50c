#pragma once

// The redundancy filter: of the patterns that pass the length filter, those
// too like a longer (or equally long, earlier) one are erased; "like" is a
// longest common subsequence above a share of the shorter pattern's length.

#include <cstddef>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "engine/subsequence_index.h"

// Which of `survivors` the filter erases (every copy of an erased pattern
// value). The survivors come longest first, as the length filter leaves
// them: a pattern still present at its turn erases every later one of at
// most its length whose common subsequence with it exceeds `max_overlap` of
// that later one's length. The comparisons are spread over the Runner when
// there are enough, which asks whether to stop and hears the stage
// kStageFilter (engine/stages.h); the result is the same whatever it does.
// The budget decides which patterns the subsequence index answers for and
// which are compared pair by pair, never the result.
std::vector<bool> redundant(const std::vector<const Pattern*>& survivors, double max_overlap, const Runner& runner,
                            const IndexBudget& budget = {});

// Length of the longest common subsequence (gaps allowed) of two patterns.
double lcs(const Pattern& a, const Pattern& b);
