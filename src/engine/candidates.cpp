#include "engine/candidates.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "engine/symbol_runs.h"

namespace {

// The first pattern of `sorted` (patterns of at least n symbols, in key order)
// whose first n symbols are not below key[0..n). A binary search that skips
// the symbols that the key shares with both ends of the range, and so with
// every pattern between them: patterns that share long runs compare in time
// about n plus the number of steps, not n times it.
std::vector<Pattern>::const_iterator lower_bound_of(const std::vector<Pattern>& sorted, const char* key,
                                                    std::size_t n) {
    std::size_t low = 0, high = sorted.size();
    std::size_t low_common = 0, high_common = 0;  // symbols shared with sorted[low - 1] and sorted[high]
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const char* at = sorted[middle].data();
        const std::size_t i = first_difference(at, key, std::min(low_common, high_common), n);
        if (i < n && static_cast<signed char>(at[i]) < static_cast<signed char>(key[i])) {
            low = middle + 1;
            low_common = i;
        } else {
            high = middle;
            high_common = i;
        }
    }
    return sorted.begin() + static_cast<std::ptrdiff_t>(low);
}

// Whether every pattern of the level has `length` symbols and the level is in
// ascending key order, as mine() always leaves it. Only then do the patterns
// that begin with one run of symbols form one contiguous range of the level.
bool is_sorted_level(const std::vector<Pattern>& patterns, std::size_t length) {
    for (const Pattern& p : patterns)
        if (p.size() != length) return false;
    return std::is_sorted(patterns.begin(), patterns.end(), PatternLess());
}

}  // namespace

std::vector<Pattern> join_candidates(const std::vector<Pattern>& previous, std::size_t length, Pacer& pacer) {
    std::vector<Pattern> candidates;

    // Joining a with b needs a's suffix (a without its first symbol) to equal
    // b's prefix (b without its last symbol); the join is a plus b's last
    // symbol. In a level of patterns of one length in key order, the b that
    // join one a form one range, which starts where a binary search finds it.
    const bool sorted = is_sorted_level(previous, length);
    for (const Pattern& a : previous) {
        pacer.spend(Pacer::kPatternStep + 2 * a.size());
        if (a.empty()) continue;
        const char* suffix = a.data() + 1;
        const std::size_t n = a.size() - 1;
        for (auto b = sorted ? lower_bound_of(previous, suffix, n) : previous.begin(); b != previous.end(); ++b) {
            const bool joins = a.size() == b->size() && first_difference(b->data(), suffix, 0, n) == n;
            if (!joins && sorted) break;
            if (!joins) continue;
            Pattern& candidate = candidates.emplace_back();
            candidate.reserve(a.size() + 1);
            candidate.assign(a.begin(), a.end());
            candidate.push_back(b->back());
        }
    }
    return candidates;
}
