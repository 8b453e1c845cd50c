#include "patterns.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
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

// The patterns b of `previous` that join `a`: same length, and b without its
// last symbol equals a without its first. In the order of `previous`.
void joining(const Pattern& a, const std::vector<Pattern>& previous, bool sorted, std::vector<const Pattern*>& out) {
    out.clear();
    auto first = previous.begin();
    auto last = previous.end();
    if (sorted && !previous.empty()) {
        // Every b has a.size() symbols; compare b's first a.size() - 1 with a's last a.size() - 1.
        const auto suffix_begin = a.begin() + 1;
        const auto suffix_end = a.end();
        const std::size_t n = a.size() - 1;
        first = std::lower_bound(previous.begin(), previous.end(), a, [&](const Pattern& b, const Pattern&) {
            return std::lexicographical_compare(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n), suffix_begin,
                                                suffix_end, symbol_less);
        });
        last = std::upper_bound(first, previous.end(), a, [&](const Pattern&, const Pattern& b) {
            return std::lexicographical_compare(suffix_begin, suffix_end, b.begin(),
                                                b.begin() + static_cast<std::ptrdiff_t>(n), symbol_less);
        });
    }
    for (auto it = first; it != last; ++it) {
        const Pattern& b = *it;
        if (a.size() != b.size()) continue;
        if (!std::equal(a.begin() + 1, a.end(), b.begin())) continue;
        out.push_back(&b);
    }
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

// What the record of one pattern would hold while mining, without the record:
// the occurrences in the order they were found, which is the order in which
// the record's table would have received its series.
struct Occurrences {
    std::vector<int> series;          // distinct, in the order first recorded
    std::vector<std::size_t> ends;    // the positions of series[i] end at positions[ends[i]]
    std::vector<int> positions;       // per series in ascending order
    std::vector<std::size_t> walk;    // the record's table order, once asked for

    std::size_t support() const { return series.size(); }
    std::size_t begin_of(std::size_t i) const { return i == 0 ? 0 : ends[i - 1]; }

    Occurrences copy() const { return {series, ends, positions, {}}; }
    void clear() {
        series.clear();
        ends.clear();
        positions.clear();
        walk.clear();
    }

    void add(int s, const std::vector<int>& found) {
        series.push_back(s);
        positions.insert(positions.end(), found.begin(), found.end());
        ends.push_back(positions.size());
    }

    // The order in which a walk over the record's table visits the series.
    const std::vector<std::size_t>& table_walk() {
        if (walk.size() != series.size()) walk = Motif::table_order(series);
        return walk;
    }

    // The record that record_index would have built from the same calls.
    Motif record(const Pattern& pattern) const {
        Motif motif(pattern);
        for (std::size_t i = 0; i < series.size(); ++i) {
            motif.record_indexes(series[i], positions.data() + begin_of(i), positions.data() + ends[i]);
        }
        return motif;
    }
};

// The support test of prune_infrequent(): a pattern has to occur somewhere,
// whatever the threshold. With a threshold at or below zero (or NaN) this
// still ends mining, because a candidate that occurs nowhere never passes.
bool passes(std::size_t series_count, double min_count) {
    const auto support = static_cast<double>(series_count);
    return !(support < 1.0 || min_count > support);
}

// mine_1_patterns() without records: every symbol's occurrences, judged in
// key order; the frequent ones go to `level_1` with their occurrences.
void mine_symbols(const WordSet& words, double min_count, std::vector<Pattern>& level_1,
                  std::vector<Occurrences>& found) {
    std::array<Occurrences, 256> of_symbol;
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
            of_symbol[symbol].add(static_cast<int>(i), positions[symbol]);
            positions[symbol].clear();
        }
        present.clear();
    }
    // Key order: symbols as signed bytes, 0x80..0xFF before 0x00..0x7F.
    for (int value = -128; value <= 127; ++value) {
        Occurrences& occurrences = of_symbol[static_cast<unsigned char>(static_cast<signed char>(value))];
        if (occurrences.support() == 0 || !passes(occurrences.support(), min_count)) continue;
        level_1.push_back(Pattern{static_cast<char>(value)});
        found.push_back(std::move(occurrences));
    }
}

// One pass of the level loop of mine() without records: the candidates of
// get_candidates() in the same order, each counted as find_candidate() counts
// it and judged as prune_infrequent() judges it. The candidates of one prefix
// differ in their last symbol only and are counted in one walk over the
// prefix's occurrences, in the order of the prefix's table.
void mine_next_level(const WordSet& words, double min_count, const std::vector<Pattern>& previous,
                     std::vector<Occurrences>& previous_found, std::vector<Pattern>& next,
                     std::vector<Occurrences>& found) {
    // mine() builds every level in ascending key order from distinct
    // patterns of one length, so the partners of a prefix are one run of the
    // level and their last symbols are distinct.
    const std::size_t length = previous.empty() ? 0 : previous.front().size() + 1;
    const bool sorted = is_sorted_level(previous, length - 1);

    std::vector<const Pattern*> partners;
    std::vector<Occurrences> counted;
    std::vector<std::vector<int>> matches;
    std::array<int, 256> slot_of_symbol;
    slot_of_symbol.fill(-1);

    for (std::size_t a_index = 0; a_index < previous.size(); ++a_index) {
        const Pattern& a = previous[a_index];
        if (a.empty()) continue;
        joining(a, previous, sorted, partners);
        if (partners.empty()) continue;

        if (counted.size() < partners.size()) {
            counted.resize(partners.size());
            matches.resize(partners.size());
        }
        for (std::size_t slot = 0; slot < partners.size(); ++slot) {
            slot_of_symbol[static_cast<unsigned char>(partners[slot]->back())] = static_cast<int>(slot);
        }

        // Each recorded position of the prefix already starts the prefix; a
        // candidate occurs there when the word goes on with its last symbol.
        Occurrences& prefix = previous_found[a_index];
        for (const std::size_t i : prefix.table_walk()) {
            const int series = prefix.series[i];
            if (series < 0 || static_cast<std::size_t>(series) >= words.size()) continue;
            const Pattern& word = words[static_cast<std::size_t>(series)];
            for (std::size_t k = prefix.begin_of(i); k < prefix.ends[i]; ++k) {
                const int position = prefix.positions[k];
                if (position < 0) continue;
                const auto start = static_cast<std::size_t>(position);
                if (start > word.size() || length > word.size() - start) continue;  // runs past the end
                const int slot = slot_of_symbol[static_cast<unsigned char>(word[start + length - 1])];
                if (slot >= 0) matches[static_cast<std::size_t>(slot)].push_back(position);
            }
            for (std::size_t slot = 0; slot < partners.size(); ++slot) {
                if (matches[slot].empty()) continue;
                counted[slot].add(series, matches[slot]);
                matches[slot].clear();
            }
        }

        for (std::size_t slot = 0; slot < partners.size(); ++slot) {
            slot_of_symbol[static_cast<unsigned char>(partners[slot]->back())] = -1;
            Occurrences& occurrences = counted[slot];
            if (passes(occurrences.support(), min_count)) {
                Pattern candidate = a;
                candidate.push_back(partners[slot]->back());
                next.push_back(std::move(candidate));
                found.push_back(occurrences.copy());  // of exactly its size; the buffers are reused
            }
            occurrences.clear();
        }
    }
}

}  // namespace

PatternMiner::PatternMiner(double minsup, int min_len, int max_len, double max_overlap)
    : minsup(minsup), min_len(min_len), max_len(max_len), max_overlap(max_overlap), levels(2) {}

// The steps of mine() are those of mine_1_patterns(), get_candidates(),
// find_candidate(), prune_infrequent() and remove_redundant(), in that order
// and with the same outcome: the same levels, and the same records in the
// frequent table at the end. Only the records are not built while mining:
// the occurrences are kept in plain lists, in the order in which a record
// would have received them, and a record is built from them for each pattern
// that is left once the filters have run, as record_index would have built it.
void PatternMiner::mine(const WordSet& words) {
    // Every run starts from scratch, so mining twice with one object gives
    // exactly what a new miner gives on the second set of words.
    frequent.clear();
    levels.assign(2, {});
    level = 2;
    min_count = static_cast<double>(words.size()) * minsup;

    // found[n][i] holds the occurrences of levels[n][i].
    std::vector<std::vector<Occurrences>> found(2);
    mine_symbols(words, min_count, levels[1], found[1]);

    // A candidate only survives where it occurs, so a level comes out empty at
    // the latest one above the longest word; the int limit is a plain guard.
    while (static_cast<std::size_t>(level - 1) < levels.size() && !levels[level - 1].empty() &&
           level < std::numeric_limits<int>::max()) {
        if (max_len != 0 && level > max_len) break;
        levels.emplace_back();  // entry `level`
        found.emplace_back();
        const auto n = static_cast<std::size_t>(level);
        mine_next_level(words, min_count, levels[n - 1], found[n - 1], levels[n], found[n]);
        // The length filter will erase the patterns of the previous level.
        if (static_cast<long long>(min_len) > static_cast<long long>(n - 1)) found[n - 1] = {};
        ++level;
    }

    // The filters, on the patterns alone: the survivor list of remove_short()
    // (which finds nothing to erase, since the table is still empty) and the
    // patterns that remove_redundant() would erase from it.
    std::vector<Pattern> survivors;
    std::vector<Occurrences*> survivor_found;
    if (level >= 2 && !levels.empty()) {
        for (std::size_t n = top_level(); n >= 1; --n) {
            if (static_cast<long long>(min_len) > static_cast<long long>(n)) continue;
            for (std::size_t i = 0; i < levels[n].size(); ++i) {
                survivors.push_back(levels[n][i]);
                survivor_found.push_back(&found[n][i]);
            }
        }
    }
    const std::vector<bool> erased = redundant(survivors, max_overlap);
    for (std::size_t i = 0; i < survivors.size(); ++i) {
        if (erased[i]) continue;
        frequent.emplace(survivors[i], survivor_found[i]->record(survivors[i]));
    }
}

void PatternMiner::mine_1_patterns(const WordSet& words) {
    // The positions of each symbol in the current word, recorded per symbol
    // and word in one step: the same calls of record_index in the same order
    // for every symbol as a scan of the word position by position.
    std::array<Motif*, 256> records{};
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
            Motif*& record = records[symbol];
            if (record == nullptr) {
                const Pattern key{static_cast<char>(symbol)};
                record = &frequent.try_emplace(key, key).first->second;
            }
            record->record_indexes(static_cast<int>(i), positions[symbol].data(),
                                   positions[symbol].data() + positions[symbol].size());
            positions[symbol].clear();
        }
        present.clear();
    }

    // Judged in key order; judging erases only the record at hand.
    for (auto it = frequent.begin(); it != frequent.end();) judge(it++);
}

FrequentTable PatternMiner::get_frequent() const { return frequent; }

FrequentTable PatternMiner::take_frequent() {
    FrequentTable table = std::move(frequent);
    frequent.clear();
    return table;
}

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
    frequent.at(pattern);  // a pattern missing from the table is a broken invariant: "map::at"
    judge(frequent.find(pattern));
}

void PatternMiner::judge(FrequentTable::iterator record) {
    const auto support = static_cast<double>(record->second.support());
    // A pattern has to occur somewhere, whatever the threshold: with a
    // threshold at or below zero (or NaN) this still ends mining, because a
    // candidate that occurs nowhere never passes.
    if (support < 1.0 || min_count > support) {
        frequent.erase(record);
    } else {
        levels.at(record->first.size()).push_back(record->first);
    }
}

// The top visited entry is level - 1: the last mined length after a stop by
// max_len, and the empty level after a stop on an empty level.
std::size_t PatternMiner::top_level() const {
    return std::min(static_cast<std::size_t>(level - 1), levels.size() - 1);
}

std::vector<Pattern> PatternMiner::remove_short() {
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
        throw std::length_error("cannot create std::vector larger than max_size()");
    }
    if (a.size() <= ShortLcs::kMaxLength) return static_cast<double>(ShortLcs(a).with(b));
    if (b.size() <= ShortLcs::kMaxLength) return static_cast<double>(ShortLcs(b).with(a));
    return static_cast<double>(table_lcs(a, b));
}

bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v) {
    return std::find(v.begin(), v.end(), p) != v.end();
}
