#include "engine/patterns.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/candidates.h"
#include "engine/pacer.h"
#include "engine/stages.h"
#include "engine/symbol_runs.h"

PatternMiner::PatternMiner(double minsup, int min_len, int max_len, double max_overlap)
    : minsup(minsup), min_len(min_len), max_len(max_len), max_overlap(max_overlap), levels(2) {}

TooManyPatterns::TooManyPatterns(std::size_t limit)
    : std::runtime_error("mining found more than " + std::to_string(limit) +
                         " frequent patterns; raise minsup, set max_len, or raise max_patterns") {}

void PatternMiner::mine(const WordSet& words) { mine(words, Runner()); }

void PatternMiner::mine(const WordSet& words, const Runner& runner) {
    // The Runner and the words are lent for this call only, whatever way the call ends.
    struct Lend {
        Borrowed& borrowed;
        Lend(Borrowed& borrowed, const Runner& runner, const WordSet& words) : borrowed(borrowed) {
            borrowed.runner = &runner;
            borrowed.words = &words;
        }
        ~Lend() { borrowed = {}; }
        Lend(const Lend&) = delete;
        Lend& operator=(const Lend&) = delete;
    } lend(borrowed, runner, words);
    known.lent_serial = ++known.last_serial;

    start(words);
    mine_1_patterns(words);
    runner.report(kStageMine, 1, 0);
    Pacer pacer(runner);
    while (open_level()) {
        const auto candidates = std::make_shared<const std::vector<Pattern>>(get_candidates());
        count_level(words, candidates);
        // Counted in full, the level below has served its purpose; when the
        // length filter will erase it, its records go now.
        if (counted.complete && static_cast<long long>(min_len) > level - 1) {
            release_level(static_cast<std::size_t>(level - 1));
        }
        // Inserted, counted and judged one at a time: a candidate that fails
        // is erased before the next one is inserted.
        for (const Pattern& candidate : *candidates) {
            pacer.spend(Pacer::kPatternStep + candidate.size());
            add_candidate(candidate);
            find_candidate(candidate, words);
            prune_infrequent(candidate);
        }
        close_level();
        runner.report(kStageMine, static_cast<std::size_t>(level - 1), 0);
    }
    remove_redundant();
}

const Runner& PatternMiner::runner() const {
    static const Runner here;
    return borrowed.runner != nullptr ? *borrowed.runner : here;
}

// Every run starts from scratch, so mining twice with one object gives
// exactly what a new miner gives on the second set of words.
void PatternMiner::start(const WordSet& words) {
    forget();
    min_count = static_cast<double>(words.size()) * minsup;
}

void PatternMiner::mine_1_patterns(const WordSet& words) {
    counted = {};
    scanned = frequent.empty() || scanned_from(words) ? serial_of(words) : 0;
    std::array<OccurrenceList, kSymbolValues> of_symbol = symbol_occurrences(words, runner());
    for (std::size_t symbol = 0; symbol < of_symbol.size(); ++symbol) {
        if (of_symbol[symbol].empty()) continue;
        frequent[Pattern{static_cast<char>(symbol)}].append(std::move(of_symbol[symbol]));
    }

    // Judged in key order; judging erases only the record at hand.
    for (auto it = frequent.begin(); it != frequent.end();) judge(it++);
}

bool PatternMiner::open_level() {
    // A candidate only survives where it occurs, so a level comes out empty at
    // the latest one above the longest word; the int limit is a plain guard.
    if (level < 1 || static_cast<std::size_t>(level - 1) >= levels.size() || levels[level - 1].empty() ||
        level == std::numeric_limits<int>::max()) {
        return false;
    }
    if (max_len != 0 && level > max_len) return false;
    levels.emplace_back();  // entry `level`
    return true;
}

std::vector<Pattern> PatternMiner::get_candidates() const {
    if (level < 1 || static_cast<std::size_t>(level - 1) >= levels.size()) return {};
    Pacer pacer(runner());
    return join_candidates(levels[level - 1], static_cast<std::size_t>(level - 1), pacer);
}

void PatternMiner::add_candidate(const Pattern& candidate) {
    cursor.at = cursor.valid ? frequent.try_emplace(cursor.at, candidate) : frequent.try_emplace(candidate).first;
    cursor.valid = true;
}

void PatternMiner::find_candidate(const Pattern& candidate, const WordSet& words) {
    if (candidate.empty()) return;  // no prefix, so no occurrence to extend
    OccurrenceList found;
    const auto prefix = [&] { return Pattern(candidate.begin(), candidate.end() - 1); };
    if (!take_counted(candidate, words, found)) {
        // Counted on its own, every symbol compared.
        const auto of_prefix = checked(prefix());
        put_in_order({of_prefix});
        std::vector<Gathering> buffers;
        Pacer pacer(runner());
        extend(words, false, true, of_prefix->first, of_prefix->second, {candidate.back()}, &found, buffers, pacer);
    }
    if (found.empty()) return;  // the candidate's record is looked up only to record into it
    const auto record = located(candidate);
    if (!record->second.empty() && (found.in_prefix_order || record->second.in_prefix_order)) {
        // Both go in the order recorded first.
        const auto of_prefix = checked(prefix());
        put_in_order({of_prefix, record});
        if (found.in_prefix_order) order_like_prefix(found, of_prefix->second);
    }
    record->second.append(std::move(found));
    if (!scanned_from(words)) scanned = 0;
    if (candidate.size() + 1 == static_cast<std::size_t>(counted.level)) counted = {};
}

bool PatternMiner::scanned_from(const WordSet& words) { return scanned != 0 && scanned == serial_of(words); }

std::uint64_t PatternMiner::serial_of(const WordSet& words) {
    if (&words == borrowed.words) return known.lent_serial;
    if (known.copy_serial == 0 || known.copy != words) {
        known.copy = words;
        known.copy_serial = ++known.last_serial;
    }
    return known.copy_serial;
}

bool PatternMiner::take_counted(const Pattern& candidate, const WordSet& words, OccurrenceList& found) {
    if (candidate.size() != static_cast<std::size_t>(level)) return false;
    if (counted.level != level || counted.words != serial_of(words)) {
        count_level(words, std::make_shared<const std::vector<Pattern>>(get_candidates()));
    }
    if (!counted.candidates) return false;
    // Candidates come in order, each after the one taken last; any other is searched for.
    const std::vector<Pattern>& candidates = *counted.candidates;
    std::size_t i = counted.next;
    if (i >= candidates.size() || candidates[i] != candidate) {
        const auto it = std::lower_bound(candidates.begin(), candidates.end(), candidate, PatternLess());
        if (it == candidates.end() || *it != candidate) return false;
        i = static_cast<std::size_t>(it - candidates.begin());
    }
    if (!counted.held[i]) return false;  // a second call counts again
    counted.held[i] = false;
    counted.next = i + 1;
    found = std::move(counted.found[i]);
    return true;
}

// The candidates of get_candidates() that share a prefix are counted in one
// walk over the prefix's occurrences (extend()). The counts of a prefix
// depend on the words and that prefix's occurrences alone and go to a slot of
// its own; the slots are concatenated in the order of the candidates, so the
// order in which the prefixes are counted, and the thread, do not change the result.
void PatternMiner::count_level(const WordSet& words, std::shared_ptr<const std::vector<Pattern>> list) {
    counted = {};
    counted.level = level;
    counted.words = serial_of(words);
    const std::vector<Pattern>& candidates = *list;
    // Distinct and in key order, as mine() leaves every level: then the
    // candidates of one prefix are one run and differ in their last symbol.
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        if (!PatternLess()(candidates[i - 1], candidates[i])) return;
    }

    struct Run {
        std::size_t first, last;
        Table::const_iterator prefix;
    };
    std::vector<Run> runs;
    // The prefixes of the runs ascend, and the records of their length form
    // one run of the table in the same order: one walk finds them all.
    auto prefix = frequent.cend();
    std::size_t runs_cover = 0;
    for (std::size_t first = 0, last = 0; first < candidates.size(); first = last) {
        const Pattern& c = candidates[first];
        const std::size_t n = c.size() - 1;
        last = first + 1;
        while (last < candidates.size() && compare_symbols(c.data(), candidates[last].data(), n) == 0) ++last;
        if (first == 0) prefix = frequent.lower_bound(Pattern(c.begin(), c.end() - 1));
        // Negative while the record lies before c's prefix, zero at it.
        const auto order = [&] {
            return prefix->first.size() == n ? compare_symbols(prefix->first.data(), c.data(), n) : 1;
        };
        while (prefix != frequent.cend() && order() < 0) ++prefix;
        if (prefix == frequent.cend() || order() != 0) continue;  // left to find_candidate, which reports it
        runs.push_back({first, last, prefix});
        runs_cover += last - first;
    }

    counted.found.resize(candidates.size());
    const bool known = scanned_from(words);
    const bool in_table_order = !counts_in_prefix_order();
    const Runner& run = runner();
    const auto count_runs = [&](std::size_t first, std::size_t last) {
        std::vector<Gathering> buffers;
        std::vector<char> symbols;
        Pacer pacer(run);
        for (std::size_t r = first; r < last; ++r) {
            symbols.clear();
            for (std::size_t i = runs[r].first; i < runs[r].last; ++i) symbols.push_back(candidates[i].back());
            extend(words, known, in_table_order, runs[r].prefix->first, runs[r].prefix->second, symbols,
                   counted.found.data() + runs[r].first, buffers, pacer);
        }
    };
    // A level of few occurrences is counted here: threads would cost more.
    std::size_t occurrences = 0;
    for (const Run& r : runs) occurrences += r.prefix->second.positions.size();
    if (occurrences >= kParallelLevelOccurrences) {
        // The largest prefixes are handed out first: in key order the two
        // largest of a level are often its first and last (runs of the lowest
        // and of the highest symbol), and the thread that takes the last one
        // would finish long after the others.
        std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
            return a.prefix->second.positions.size() > b.prefix->second.positions.size();
        });
        run.run_ranges(runs.size(), count_runs);
    } else {
        count_runs(0, runs.size());
    }

    for (const OccurrenceList& list : counted.found) out_of_order = out_of_order || list.in_prefix_order;
    counted.held.assign(candidates.size(), false);
    for (const Run& r : runs)
        std::fill(counted.held.begin() + static_cast<std::ptrdiff_t>(r.first),
                  counted.held.begin() + static_cast<std::ptrdiff_t>(r.last), true);
    counted.complete = runs_cover == candidates.size();
    counted.candidates = std::move(list);
}

void PatternMiner::prune_infrequent(const Pattern& pattern) { judge(located(pattern)); }

PatternMiner::Table::iterator PatternMiner::checked(const Pattern& pattern) {
    const auto it = frequent.find(pattern);
    if (it == frequent.end()) throw std::out_of_range("map::at");
    return it;
}

PatternMiner::Table::iterator PatternMiner::located(const Pattern& pattern) {
    if (cursor.valid && cursor.at != frequent.end() && cursor.at->first == pattern) return cursor.at;
    return checked(pattern);
}

void PatternMiner::judge(Table::iterator record) {
    if (passes_support(record->second.support(), min_count)) {
        if (beyond_pattern_limit(passed + 1, max_patterns)) {
            forget();
            throw TooManyPatterns(max_patterns);
        }
        ++passed;
        levels.at(record->first.size()).push_back(record->first);
        cursor.at = std::next(record);
        cursor.valid = true;
    } else {
        erase(record);
    }
}

void PatternMiner::erase(Table::iterator record) {
    if (record->first.size() + 1 == static_cast<std::size_t>(counted.level)) counted = {};
    cursor.at = frequent.erase(record);
    cursor.valid = true;
}

bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v) {
    return std::find(v.begin(), v.end(), p) != v.end();
}
