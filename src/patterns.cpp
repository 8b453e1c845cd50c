#include "patterns.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

PatternMiner::PatternMiner(double minsup, int min_len, int max_len, double max_overlap)
    : minsup(minsup), min_len(min_len), max_len(max_len), max_overlap(max_overlap), levels(2) {}

void PatternMiner::mine(const WordSet& words) {
    // Every run starts from scratch, so mining twice with one object gives
    // exactly what a new miner gives on the second set of words.
    frequent.clear();
    levels.assign(2, {});
    level = 2;
    min_count = static_cast<double>(words.size()) * minsup;

    mine_1_patterns(words);

    // A candidate only survives where it occurs, so a level comes out empty at
    // the latest one above the longest word; the int limit is a plain guard.
    while (static_cast<std::size_t>(level - 1) < levels.size() && !levels[level - 1].empty() &&
           level < std::numeric_limits<int>::max()) {
        if (max_len != 0 && level > max_len) break;
        levels.emplace_back();  // entry `level`
        for (const Pattern& candidate : get_candidates()) {
            // Inserted, counted and judged one at a time: at most one failing
            // record is held at any moment.
            frequent.try_emplace(candidate, candidate);
            find_candidate(candidate, words);
            prune_infrequent(candidate);
        }
        ++level;
    }

    remove_redundant();
}

void PatternMiner::mine_1_patterns(const WordSet& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Pattern& word = words[i];
        for (std::size_t j = 0; j < word.size(); ++j) {
            Pattern key{word[j]};
            auto it = frequent.try_emplace(key, key).first;
            it->second.record_index(static_cast<int>(i), static_cast<int>(j));
        }
    }

    std::vector<Pattern> keys;
    keys.reserve(frequent.size());
    for (const auto& entry : frequent) keys.push_back(entry.first);
    for (const Pattern& key : keys) prune_infrequent(key);
}

FrequentTable PatternMiner::get_frequent() const { return frequent; }

std::vector<Pattern> PatternMiner::get_candidates() const {
    std::vector<Pattern> candidates;
    if (level < 1 || static_cast<std::size_t>(level - 1) >= levels.size()) return candidates;

    // Joining a with b needs a's suffix (a without its first symbol) to equal
    // b's prefix (b without its last symbol); the join is a plus b's last symbol.
    const std::vector<Pattern>& previous = levels[level - 1];
    for (const Pattern& a : previous) {
        if (a.empty()) continue;
        for (const Pattern& b : previous) {
            if (a.size() != b.size()) continue;
            if (!std::equal(a.begin() + 1, a.end(), b.begin())) continue;
            Pattern candidate = a;
            candidate.push_back(b.back());
            candidates.push_back(std::move(candidate));
        }
    }
    return candidates;
}

void PatternMiner::find_candidate(const Pattern& candidate, const WordSet& words) {
    if (candidate.empty()) return;  // no prefix, so no occurrence to extend
    const Pattern prefix(candidate.begin(), candidate.end() - 1);
    const Motif& prefix_record = frequent.at(prefix);

    // The candidate can only start where its prefix starts; the prefix's
    // positions are ascending per series, so the candidate's are as well.
    // Occurrences are recorded into a different record of the same map, which
    // leaves the prefix's table untouched while it is walked.
    const std::size_t len = candidate.size();
    Motif* record = nullptr;
    for (const auto& entry : prefix_record.occurrences()) {
        const int series = entry.first;
        if (series < 0 || static_cast<std::size_t>(series) >= words.size()) continue;
        const Pattern& word = words[static_cast<std::size_t>(series)];
        for (const int position : entry.second) {
            if (position < 0) continue;
            const auto start = static_cast<std::size_t>(position);
            if (start > word.size() || len > word.size() - start) continue;  // runs past the end
            if (!std::equal(candidate.begin(), candidate.end(), word.begin() + static_cast<std::ptrdiff_t>(start)))
                continue;
            if (record == nullptr) record = &frequent.at(candidate);
            record->record_index(series, position);
        }
    }
}

void PatternMiner::prune_infrequent(const Pattern& pattern) {
    const auto support = static_cast<double>(frequent.at(pattern).support());
    // A pattern has to occur somewhere, whatever the threshold: with a
    // threshold at or below zero (or NaN) this still ends mining, because a
    // candidate that occurs nowhere never passes.
    if (support < 1.0 || min_count > support) {
        frequent.erase(pattern);
    } else {
        levels.at(pattern.size()).push_back(pattern);
    }
}

std::vector<Pattern> PatternMiner::remove_short() {
    std::vector<Pattern> survivors;
    // The top visited entry is level - 1: the last mined length after a stop by
    // max_len, and the empty level after a stop on an empty level.
    if (level < 2 || levels.empty()) return survivors;
    const std::size_t top = std::min(static_cast<std::size_t>(level - 1), levels.size() - 1);
    for (std::size_t n = top; n >= 1; --n) {
        for (const Pattern& p : levels[n]) {
            if (static_cast<long long>(min_len) > static_cast<long long>(n)) {
                frequent.erase(p);
            } else {
                survivors.push_back(p);
            }
        }
    }
    return survivors;
}

void PatternMiner::remove_redundant() {
    const std::vector<Pattern> survivors = remove_short();
    std::vector<Pattern> removed;

    // Survivors come longest first, so each pattern still present at its turn
    // only erases later patterns of at most its own length.
    for (const Pattern& p : survivors) {
        if (is_p_in_vec(p, removed)) continue;
        for (const Pattern& s : survivors) {
            if (p.size() < s.size()) continue;
            if (s == p) continue;
            if (is_p_in_vec(s, removed)) continue;
            const double ratio = lcs(p, s) / static_cast<double>(s.size());
            if (ratio > max_overlap) {
                frequent.erase(s);
                removed.push_back(s);
            }
        }
    }
}

double lcs(const Pattern& a, const Pattern& b) {
    // One row per symbol of a (plus the empty prefix): each row is allocated on
    // its own, so an impossible size fails inside std::vector with its
    // standard length error instead of wrapping a product.
    std::vector<std::vector<int>> table(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            if (a[i - 1] == b[j - 1]) {
                table[i][j] = table[i - 1][j - 1] + 1;
            } else {
                table[i][j] = std::max(table[i][j - 1], table[i - 1][j]);
            }
        }
    }
    return static_cast<double>(table[a.size()][b.size()]);
}

bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v) {
    return std::find(v.begin(), v.end(), p) != v.end();
}
