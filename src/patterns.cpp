#include "patterns.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace {

bool symbol_less(char x, char y) { return static_cast<signed char>(x) < static_cast<signed char>(y); }

// Whether every pattern of the level has `length` symbols and the level is in
// ascending key order, as mine() always leaves it. Only then do the patterns
// that begin with one run of symbols form one contiguous range of the level.
bool is_sorted_level(const std::vector<Pattern>& patterns, std::size_t length) {
    for (const Pattern& p : patterns)
        if (p.size() != length) return false;
    return std::is_sorted(patterns.begin(), patterns.end(), PatternLess());
}

std::uintptr_t address_of(const WordSet& words) { return reinterpret_cast<std::uintptr_t>(&words); }

// The support test of prune_infrequent(): a pattern has to occur somewhere,
// whatever the threshold. With a threshold at or below zero (or NaN) this
// still ends mining, because a candidate that occurs nowhere never passes.
bool passes(std::size_t series_count, double min_count) {
    const auto support = static_cast<double>(series_count);
    return !(support < 1.0 || min_count > support);
}

// The occurrences of prefix + s for each symbol s of `symbols` (distinct), in
// that order: what find_candidate() records for each of those candidates. The
// recorded occurrences of the prefix are visited in the order of its record's
// table, each series' positions in the order recorded; an occurrence of the
// candidate starts at each of them where the word holds the prefix and goes
// on with s. With `holds_prefix` (the words are those whose scan recorded the
// prefix's occurrences) the word is known to hold the prefix there. The lists
// are gathered in `buffers`, whose capacity is reused from call to call, and
// handed out as copies of their exact size.
std::vector<OccurrenceList> extend(const WordSet& words, bool holds_prefix, const Pattern& prefix,
                                   const OccurrenceList& occurrences, const std::vector<char>& symbols,
                                   std::vector<OccurrenceList>& buffers) {
    if (buffers.size() < symbols.size()) buffers.resize(symbols.size());
    std::array<int, 256> slot_of_symbol;
    slot_of_symbol.fill(-1);
    for (std::size_t slot = 0; slot < symbols.size(); ++slot) {
        slot_of_symbol[static_cast<unsigned char>(symbols[slot])] = static_cast<int>(slot);
    }

    const std::size_t length = prefix.size() + 1;
    for (const std::size_t i : Motif::table_order(occurrences.series)) {
        const int series = occurrences.series[i];
        if (series < 0 || static_cast<std::size_t>(series) >= words.size()) continue;
        const Pattern& word = words[static_cast<std::size_t>(series)];
        for (std::size_t k = occurrences.begin_of(i); k < occurrences.ends[i]; ++k) {
            const int position = occurrences.positions[k];
            if (position < 0) continue;
            const auto start = static_cast<std::size_t>(position);
            if (start > word.size() || length > word.size() - start) continue;  // runs past the end
            const char* at = word.data() + start;
            if (!holds_prefix && !std::equal(prefix.begin(), prefix.end(), at)) continue;
            const int slot = slot_of_symbol[static_cast<unsigned char>(at[length - 1])];
            if (slot < 0) continue;
            OccurrenceList& list = buffers[static_cast<std::size_t>(slot)];
            if (list.series.empty() || list.series.back() != series) {
                list.series.push_back(series);
                list.ends.push_back(list.positions.size());
            }
            list.positions.push_back(position);
            ++list.ends.back();
        }
    }
    std::vector<OccurrenceList> found;
    found.reserve(symbols.size());
    for (std::size_t slot = 0; slot < symbols.size(); ++slot) {
        found.push_back(buffers[slot]);
        buffers[slot].series.clear();
        buffers[slot].ends.clear();
        buffers[slot].positions.clear();
    }
    return found;
}

// Longest common subsequence of a pattern of at most 64 symbols with any
// other, one machine word per step of the other (the bit-parallel algorithm of
// Crochemore et al. 2001 in the form of Hyyrö 2004). Exact: it computes the
// same length as the table of lcs().
class ShortLcs {
public:
    static constexpr std::size_t kMaxLength = 64;

    explicit ShortLcs(const Pattern& pattern) : length(pattern.size()) {
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            masks[static_cast<unsigned char>(pattern[i])] |= std::uint64_t{1} << i;
        }
        low = length == kMaxLength ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
    }

    int with(const Pattern& other) const {
        std::uint64_t v = ~std::uint64_t{0};
        for (char symbol : other) {
            const std::uint64_t u = v & masks[static_cast<unsigned char>(symbol)];
            v = (v + u) | (v - u);
        }
        // Each zero among the low `length` bits is one symbol of the common subsequence.
        return static_cast<int>(length) - __builtin_popcountll(v & low);
    }

private:
    std::size_t length;
    std::uint64_t low = 0;
    std::array<std::uint64_t, 256> masks{};
};

// The classic table, two rows at a time, for patterns longer than 64 symbols.
int table_lcs(const Pattern& a, const Pattern& b) {
    std::vector<int> previous(b.size() + 1, 0);
    std::vector<int> current(b.size() + 1, 0);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            current[j] = a[i - 1] == b[j - 1] ? previous[j - 1] + 1 : std::max(current[j - 1], previous[j]);
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}


// The redundancy filter of remove_redundant() on the survivor list alone:
// which survivors it erases (every copy of an erased pattern value).
std::vector<bool> redundant(const std::vector<Pattern>& survivors, double max_overlap) {
    const std::size_t count = survivors.size();

    // `removed` is a set of pattern values: equal patterns share one entry,
    // the first index at which the value appears.
    std::vector<std::size_t> value_of(count);
    {
        std::map<Pattern, std::size_t, PatternLess> first_index;
        for (std::size_t i = 0; i < count; ++i) value_of[i] = first_index.try_emplace(survivors[i], i).first->second;
    }
    std::vector<bool> removed(count, false);

    // The ratio lcs / |s| exceeds max_overlap exactly when the common
    // subsequence holds at least needed[|s|] symbols: the smallest k for which
    // k / |s| > max_overlap, in the same double division (monotonic in k), or
    // |s| + 1 when no k does (max_overlap 1.0 or above, or NaN).
    std::vector<std::size_t> needed;
    auto needed_for = [&](std::size_t length) {
        if (needed.size() <= length) needed.resize(length + 1, std::numeric_limits<std::size_t>::max());
        std::size_t& k = needed[length];
        if (k == std::numeric_limits<std::size_t>::max()) {
            k = 0;
            while (k <= length && !(static_cast<double>(k) / static_cast<double>(length) > max_overlap)) ++k;
        }
        return k;
    };

    // Survivors come longest first, so each pattern still present at its turn
    // only erases later patterns of at most its own length. Patterns before p
    // need no test: a longer one is skipped by the length test, and one of
    // p's length still present had p in view at its own turn with the same
    // ratio (lcs is symmetric and the lengths are equal) and did not erase p,
    // so the ratio does not exceed the threshold.
    for (std::size_t i = 0; i < count; ++i) {
        if (removed[value_of[i]]) continue;
        const Pattern& p = survivors[i];
        const bool short_p = p.size() <= ShortLcs::kMaxLength;
        const ShortLcs p_lcs = short_p ? ShortLcs(p) : ShortLcs(Pattern());
        for (std::size_t j = i + 1; j < count; ++j) {
            const Pattern& s = survivors[j];
            if (p.size() < s.size()) continue;
            if (value_of[j] == value_of[i]) continue;  // s equals p
            if (removed[value_of[j]]) continue;
            const std::size_t k = needed_for(s.size());
            if (k > s.size()) continue;  // the ratio cannot exceed the threshold
            const auto common = static_cast<std::size_t>(short_p ? p_lcs.with(s) : table_lcs(p, s));
            if (common < k) continue;
            removed[value_of[j]] = true;
        }
    }

    std::vector<bool> erased(count);
    for (std::size_t i = 0; i < count; ++i) erased[i] = removed[value_of[i]];
    return erased;
}

}  // namespace

void OccurrenceList::append(OccurrenceList&& more) {
    if (more.empty()) return;
    if (empty()) {
        *this = std::move(more);
        return;
    }
    // Series recorded before keep their place and take the new positions
    // after their own; the others follow in the order of `more`.
    std::vector<std::vector<int>> lists(series.size());
    std::unordered_map<int, std::size_t> index_of;
    for (std::size_t i = 0; i < series.size(); ++i) {
        lists[i].assign(positions.begin() + static_cast<std::ptrdiff_t>(begin_of(i)),
                        positions.begin() + static_cast<std::ptrdiff_t>(ends[i]));
        index_of.emplace(series[i], i);
    }
    for (std::size_t j = 0; j < more.series.size(); ++j) {
        const auto slot = index_of.try_emplace(more.series[j], series.size());
        if (slot.second) {
            series.push_back(more.series[j]);
            lists.emplace_back();
        }
        std::vector<int>& list = lists[slot.first->second];
        list.insert(list.end(), more.positions.begin() + static_cast<std::ptrdiff_t>(more.begin_of(j)),
                    more.positions.begin() + static_cast<std::ptrdiff_t>(more.ends[j]));
    }
    positions.clear();
    ends.clear();
    for (const std::vector<int>& list : lists) {
        positions.insert(positions.end(), list.begin(), list.end());
        ends.push_back(positions.size());
    }
}

Motif OccurrenceList::record(const Pattern& pattern) const {
    Motif motif(pattern);
    for (std::size_t i = 0; i < series.size(); ++i) {
        motif.record_indexes(series[i], positions.data() + begin_of(i), positions.data() + ends[i]);
    }
    return motif;
}

PatternMiner::PatternMiner(double minsup, int min_len, int max_len, double max_overlap)
    : minsup(minsup), min_len(min_len), max_len(max_len), max_overlap(max_overlap), levels(2) {}

void PatternMiner::mine(const WordSet& words) {
    start(words);
    mine_1_patterns(words);
    while (open_level()) {
        // Inserted, counted and judged one at a time: a candidate that fails
        // is erased before the next one is inserted.
        for (const Pattern& candidate : get_candidates()) {
            add_candidate(candidate);
            find_candidate(candidate, words);
            prune_infrequent(candidate);
        }
        close_level();
    }
    remove_redundant();
}

// Every run starts from scratch, so mining twice with one object gives
// exactly what a new miner gives on the second set of words.
void PatternMiner::start(const WordSet& words) {
    frequent.clear();
    cursor = {};
    levels.assign(2, {});
    level = 2;
    min_count = static_cast<double>(words.size()) * minsup;
    counted = {};
    scanned = 0;
}

void PatternMiner::mine_1_patterns(const WordSet& words) {
    counted = {};
    scanned = frequent.empty() || scanned_from(words) ? address_of(words) : 0;
    // The positions of each symbol in the current word, recorded per symbol
    // and word in one step: the same occurrences in the same order for every
    // symbol as a scan of the word position by position.
    std::array<OccurrenceList, 256> of_symbol;
    std::array<std::vector<int>, 256> positions;
    std::vector<unsigned char> present;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Pattern& word = words[i];
        for (std::size_t j = 0; j < word.size(); ++j) {
            const auto symbol = static_cast<unsigned char>(word[j]);
            if (positions[symbol].empty()) present.push_back(symbol);
            positions[symbol].push_back(static_cast<int>(j));
        }
        for (const unsigned char symbol : present) {
            OccurrenceList& list = of_symbol[symbol];
            list.series.push_back(static_cast<int>(i));
            list.positions.insert(list.positions.end(), positions[symbol].begin(), positions[symbol].end());
            list.ends.push_back(list.positions.size());
            positions[symbol].clear();
        }
        present.clear();
    }
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
    std::vector<Pattern> candidates;
    if (level < 1 || static_cast<std::size_t>(level - 1) >= levels.size()) return candidates;

    // Joining a with b needs a's suffix (a without its first symbol) to equal
    // b's prefix (b without its last symbol); the join is a plus b's last
    // symbol. In a level of patterns of one length in key order, the b that
    // join one a form one range, found by binary search.
    const std::vector<Pattern>& previous = levels[level - 1];
    const bool sorted = is_sorted_level(previous, static_cast<std::size_t>(level - 1));
    for (const Pattern& a : previous) {
        if (a.empty()) continue;
        auto first = previous.begin();
        auto last = previous.end();
        if (sorted) {
            const auto suffix_begin = a.begin() + 1;
            const auto suffix_end = a.end();
            const auto n = static_cast<std::ptrdiff_t>(a.size() - 1);
            first = std::lower_bound(previous.begin(), previous.end(), a, [&](const Pattern& b, const Pattern&) {
                return std::lexicographical_compare(b.begin(), b.begin() + n, suffix_begin, suffix_end, symbol_less);
            });
            last = std::upper_bound(first, previous.end(), a, [&](const Pattern&, const Pattern& b) {
                return std::lexicographical_compare(suffix_begin, suffix_end, b.begin(), b.begin() + n, symbol_less);
            });
        }
        for (auto b = first; b != last; ++b) {
            if (a.size() != b->size()) continue;
            if (!std::equal(a.begin() + 1, a.end(), b->begin())) continue;
            Pattern& candidate = candidates.emplace_back();
            candidate.reserve(a.size() + 1);
            candidate.assign(a.begin(), a.end());
            candidate.push_back(b->back());
        }
    }
    return candidates;
}

void PatternMiner::add_candidate(const Pattern& candidate) {
    cursor.at = cursor.valid ? frequent.try_emplace(cursor.at, candidate) : frequent.try_emplace(candidate).first;
    cursor.valid = true;
}

void PatternMiner::find_candidate(const Pattern& candidate, const WordSet& words) {
    if (candidate.empty()) return;  // no prefix, so no occurrence to extend
    OccurrenceList found;
    if (!take_counted(candidate, words, found)) {
        // Counted on its own, every symbol compared.
        const Pattern prefix(candidate.begin(), candidate.end() - 1);
        const OccurrenceList& of_prefix = checked(prefix)->second;
        std::vector<OccurrenceList> buffers;
        found = std::move(extend(words, false, prefix, of_prefix, {candidate.back()}, buffers).front());
    }
    if (found.empty()) return;  // the candidate's record is looked up only to record into it
    located(candidate)->second.append(std::move(found));
    if (!scanned_from(words)) scanned = 0;
    if (candidate.size() + 1 == static_cast<std::size_t>(counted.level)) counted = {};
}

bool PatternMiner::scanned_from(const WordSet& words) const { return scanned != 0 && scanned == address_of(words); }

bool PatternMiner::take_counted(const Pattern& candidate, const WordSet& words, OccurrenceList& found) {
    if (candidate.size() != static_cast<std::size_t>(level)) return false;
    if (counted.level != level || counted.words != address_of(words)) count_level(words);
    // Candidates come in order, each after the one taken last; any other is searched for.
    std::size_t i = counted.next;
    if (i >= counted.candidates.size() || counted.candidates[i] != candidate) {
        const auto it = std::lower_bound(counted.candidates.begin(), counted.candidates.end(), candidate, PatternLess());
        if (it == counted.candidates.end() || *it != candidate) return false;
        i = static_cast<std::size_t>(it - counted.candidates.begin());
    }
    if (counted.taken[i]) return false;  // a second call counts again
    counted.taken[i] = true;
    counted.next = i + 1;
    found = std::move(counted.found[i]);
    return true;
}

// The candidates of get_candidates() that share a prefix are counted in one
// walk over the prefix's occurrences (extend()). The counts of a prefix
// depend on the words and that prefix's occurrences alone and go to a slot of
// its own; the slots are concatenated in the order of the candidates, so the
// order in which the prefixes are counted does not change the result.
void PatternMiner::count_level(const WordSet& words) {
    counted = {};
    counted.level = level;
    counted.words = address_of(words);
    std::vector<Pattern> candidates = get_candidates();
    // Distinct and in key order, as mine() leaves every level: then the
    // candidates of one prefix are one run and differ in their last symbol.
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        if (!PatternLess()(candidates[i - 1], candidates[i])) return;
    }

    struct Run {
        std::size_t first, last;
        Table::const_iterator prefix;
        std::vector<char> symbols;
    };
    std::vector<Run> runs;
    for (std::size_t first = 0, last = 0; first < candidates.size(); first = last) {
        const Pattern& c = candidates[first];
        last = first + 1;
        while (last < candidates.size() && std::equal(c.begin(), c.end() - 1, candidates[last].begin())) ++last;
        const auto prefix = frequent.find(Pattern(c.begin(), c.end() - 1));
        if (prefix == frequent.end()) continue;  // left to find_candidate, which reports it
        Run run{first, last, prefix, {}};
        for (std::size_t i = first; i < last; ++i) run.symbols.push_back(candidates[i].back());
        runs.push_back(std::move(run));
    }

    const bool known = scanned_from(words);
    std::vector<std::vector<OccurrenceList>> slots(runs.size());
    std::vector<OccurrenceList> buffers;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        slots[r] = extend(words, known, runs[r].prefix->first, runs[r].prefix->second, runs[r].symbols, buffers);
    }

    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (std::size_t i = runs[r].first; i < runs[r].last; ++i) {
            counted.candidates.push_back(std::move(candidates[i]));
            counted.found.push_back(std::move(slots[r][i - runs[r].first]));
        }
    }
    counted.taken.assign(counted.candidates.size(), false);
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
    if (passes(record->second.support(), min_count)) {
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

FrequentTable PatternMiner::get_frequent() const {
    FrequentTable table;
    for (const auto& entry : frequent) table.emplace_hint(table.end(), entry.first, entry.second.record(entry.first));
    return table;
}

FrequentTable PatternMiner::take_frequent() {
    cursor = {};
    FrequentTable table;
    while (!frequent.empty()) {
        auto entry = frequent.extract(frequent.begin());
        Motif record = entry.mapped().record(entry.key());
        table.emplace_hint(table.end(), std::move(entry.key()), std::move(record));
    }
    counted = {};
    scanned = 0;
    return table;
}

// The top visited entry is level - 1: the last mined length after a stop by
// max_len, and the empty level after a stop on an empty level.
std::size_t PatternMiner::top_level() const {
    return std::min(static_cast<std::size_t>(level - 1), levels.size() - 1);
}

std::vector<Pattern> PatternMiner::remove_short() {
    counted = {};
    cursor = {};
    std::vector<Pattern> survivors;
    if (level < 2 || levels.empty()) return survivors;
    for (std::size_t n = top_level(); n >= 1; --n) {
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
    const std::vector<bool> erased = redundant(survivors, max_overlap);
    for (std::size_t i = 0; i < survivors.size(); ++i) {
        if (erased[i]) frequent.erase(survivors[i]);
    }
}

double lcs(const Pattern& a, const Pattern& b) {
    // The table of the longest common subsequence has (|a| + 1) x (|b| + 1)
    // cells; an impossible size fails with the standard length error.
    if (a.size() >= std::vector<std::vector<int>>().max_size() || b.size() >= std::vector<int>().max_size()) {
        throw_too_large();
    }
    if (a.size() <= ShortLcs::kMaxLength) return static_cast<double>(ShortLcs(a).with(b));
    if (b.size() <= ShortLcs::kMaxLength) return static_cast<double>(ShortLcs(b).with(a));
    return static_cast<double>(table_lcs(a, b));
}

bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v) {
    return std::find(v.begin(), v.end(), p) != v.end();
}
