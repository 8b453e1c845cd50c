#include "engine/patterns.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

// The first of the n symbols of a and b, from `from` on, in which they differ; n if none.
std::size_t first_difference(const char* a, const char* b, std::size_t from, std::size_t n) {
    std::size_t i = from;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) break;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Compares n symbols of a with n of b, each read as a signed byte as
// PatternLess reads them: negative, zero or positive.
int compare_symbols(const char* a, const char* b, std::size_t n) {
    const std::size_t i = first_difference(a, b, 0, n);
    if (i == n) return 0;
    return static_cast<signed char>(a[i]) < static_cast<signed char>(b[i]) ? -1 : 1;
}

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

std::uintptr_t address_of(const WordSet& words) { return reinterpret_cast<std::uintptr_t>(&words); }

// The occurrences below which a level is counted, or the lists of single
// symbols joined, on the calling thread.
constexpr std::size_t kParallelLevelOccurrences = std::size_t{1} << 14;

// Asks the Runner whether to stop after each run of work of about a quarter
// of a millisecond. A unit is one simple step: one symbol of one LCS word, say.
class Pacer {
public:
    explicit Pacer(const Runner& runner) : runner(runner) {}
    void spend(std::size_t units) {
        spent += units;
        if (spent < kUnitsBetweenChecks) return;
        spent = 0;
        ++checks;
        runner.check_stop();
    }
    std::size_t get_checks() const { return checks; }

private:
    static constexpr std::size_t kUnitsBetweenChecks = std::size_t{1} << 18;
    const Runner& runner;
    std::size_t spent = 0;
    std::size_t checks = 0;
};

// Room for one candidate's occurrences while extend() gathers them. Every
// element is written before it is read, so growing it writes nothing: filled
// with zeros, the rooms (each as long as the prefix's lists) cost several
// times the writes of the walk itself, which leaves each candidate a share.
class Gathering {
public:
    int* series() { return series_.get(); }
    std::size_t* ends() { return ends_.get(); }
    int* positions() { return positions_.get(); }
    void hold(std::size_t most_series, std::size_t most_positions) {
        grow(series_, series_room, most_series);
        grow(ends_, ends_room, most_series);
        grow(positions_, positions_room, most_positions);
    }

private:
    template <typename T>
    static void grow(std::unique_ptr<T[]>& room, std::size_t& size, std::size_t most) {
        if (most <= size && room) return;
        room.reset(new T[std::max<std::size_t>(most, 1)]);
        size = most;
    }
    std::unique_ptr<int[]> series_;
    std::unique_ptr<std::size_t[]> ends_;
    std::unique_ptr<int[]> positions_;
    std::size_t series_room = 0, ends_room = 0, positions_room = 0;
};

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
// are gathered in `buffers`, reused from call to call, and handed out in
// found[0..) as copies of their exact size.
//
// Without `in_table_order` the prefix's series are visited in the order its
// lists hold them instead, with no table order to find: the lists found are
// then marked in_prefix_order, for the miner to put in order if they are
// ever read (see order_like_prefix).
//
// The symbol after an occurrence decides where it goes, and that is as good
// as random: the loop has no branch on it. Each candidate's arrays, and one
// more for the symbols that start none, are as long as the prefix's lists,
// so every occurrence is written at the end of one of them without a test;
// after each series, every candidate that gained occurrences records it.
void extend(const WordSet& words, bool holds_prefix, bool in_table_order, const Pattern& prefix,
            const OccurrenceList& occurrences, const std::vector<char>& symbols, OccurrenceList* found,
            std::vector<Gathering>& buffers, Pacer& pacer) {
    const std::size_t slots = symbols.size();
    const std::size_t most_series = occurrences.series.size();
    const std::size_t most_positions = occurrences.positions.size();
    if (buffers.size() < slots + 1) buffers.resize(slots + 1);
    for (std::size_t slot = 0; slot <= slots; ++slot)
        buffers[slot].hold(slot == slots ? 0 : most_series, most_positions);
    std::array<std::uint32_t, 256> slot_of_symbol;
    slot_of_symbol.fill(static_cast<std::uint32_t>(slots));
    for (std::size_t slot = 0; slot < slots; ++slot) {
        slot_of_symbol[static_cast<unsigned char>(symbols[slot])] = static_cast<std::uint32_t>(slot);
    }
    std::vector<int*> out(slots + 1);
    for (std::size_t slot = 0; slot <= slots; ++slot) out[slot] = buffers[slot].positions();
    std::vector<std::size_t> counts(slots + 1, 0);  // positions written per slot
    std::vector<std::size_t> listed(slots, 0);      // series recorded per slot
    std::vector<std::size_t> ended(slots, 0);       // counts[slot] when its last series ended

    const std::size_t length = prefix.size() + 1;
    const int* const series_list = occurrences.series.data();
    const std::size_t* const ends = occurrences.ends.data();
    const int* const positions = occurrences.positions.data();
    const auto visit = [&](std::size_t i) {
        const int series = series_list[i];
        if (series < 0 || static_cast<std::size_t>(series) >= words.size()) return;
        const Pattern& word = words[static_cast<std::size_t>(series)];
        const char* const symbols_of_word = word.data();
        const std::size_t size = word.size();
        const std::size_t end = ends[i];
        for (std::size_t k = i == 0 ? 0 : ends[i - 1]; k < end; ++k) {
            const int position = positions[k];
            if (position < 0) continue;
            const auto start = static_cast<std::size_t>(position);
            if (start > size || length > size - start) continue;  // runs past the end
            const char* at = symbols_of_word + start;
            if (!holds_prefix && !std::equal(prefix.begin(), prefix.end(), at)) continue;
            const std::uint32_t slot = slot_of_symbol[static_cast<unsigned char>(at[length - 1])];
            out[slot][counts[slot]++] = position;
        }
        for (std::size_t slot = 0; slot < slots; ++slot) {
            const std::size_t count = counts[slot];
            buffers[slot].series()[listed[slot]] = series;
            buffers[slot].ends()[listed[slot]] = count;
            listed[slot] += count != ended[slot] ? 1 : 0;
            ended[slot] = count;
        }
    };
    // A table of one series lists it, and needs no table to tell.
    if (occurrences.support() == 1) {
        visit(0);
        pacer.spend(4 * occurrences.positions.size() + 16);
    } else {
        // The Runner is asked every few thousand series; the units spent are
        // the positions of a share of the series, about.
        constexpr std::size_t kSeriesBetweenChecks = 1024;
        constexpr std::size_t kAhead = 4;
        const std::size_t count = occurrences.support();
        const std::vector<std::size_t> order =
            in_table_order ? Motif::table_order(occurrences.series) : std::vector<std::size_t>();
        const std::size_t units = (4 * occurrences.positions.size() + 16 * count) / count + 1;
        for (std::size_t first = 0; first < count; first += kSeriesBetweenChecks) {
            const std::size_t last = std::min(count, first + kSeriesBetweenChecks);
            for (std::size_t i = first; i < last && !in_table_order; ++i) visit(i);  // the lists front to back
            for (std::size_t i = first; i < last && in_table_order; ++i) {
                // Table order visits the words all over: the positions and the
                // word of the series a few ahead are fetched meanwhile.
                if (i + kAhead < count) {
                    const std::size_t j = order[i + kAhead];
                    const int ahead = series_list[j];
                    __builtin_prefetch(positions + (j == 0 ? 0 : ends[j - 1]));
                    if (ahead >= 0 && static_cast<std::size_t>(ahead) < words.size()) {
                        const Pattern& word = words[static_cast<std::size_t>(ahead)];
                        if (!word.empty()) {
                            __builtin_prefetch(word.data());
                            __builtin_prefetch(word.data() + (word.size() - 1));
                        }
                    }
                }
                visit(order[i]);
            }
            pacer.spend(units * (last - first));
        }
    }
    for (std::size_t slot = 0; slot < slots; ++slot) {
        Gathering& buffer = buffers[slot];
        found[slot].series.assign(buffer.series(), buffer.series() + listed[slot]);
        found[slot].ends.assign(buffer.ends(), buffer.ends() + listed[slot]);
        found[slot].positions.assign(buffer.positions(), buffer.positions() + counts[slot]);
        found[slot].in_prefix_order = !in_table_order && listed[slot] > 1;
    }
}

// The series of `list`, counted from its prefix front to back, in the order
// recorded: the order in which extend() meets them when it walks the table of
// a prefix whose series were recorded in the order `prefix` (their positions
// in `table`, Motif::table_order(prefix)). The series of the list are some of
// the prefix's, each once. With `lay_out`, the list itself is put in that order.
std::vector<int> order_like_prefix(OccurrenceList& list, const std::vector<int>& prefix,
                                   const std::vector<std::size_t>& table, bool lay_out) {
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    int most = -1;
    for (const int s : list.series) most = std::max(most, s);
    std::vector<std::uint32_t> place(static_cast<std::size_t>(most + 1), kNone);
    for (std::size_t i = 0; i < list.series.size(); ++i) {
        if (list.series[i] >= 0) place[static_cast<std::size_t>(list.series[i])] = static_cast<std::uint32_t>(i);
    }
    std::vector<int> recorded;
    recorded.reserve(list.series.size());
    OccurrenceList laid;
    if (lay_out) {
        laid.ends.reserve(list.series.size());
        laid.positions.reserve(list.positions.size());
    }
    for (const std::size_t k : table) {
        const int s = prefix[k];
        if (s < 0 || s > most || place[static_cast<std::size_t>(s)] == kNone) continue;
        recorded.push_back(s);
        if (!lay_out) continue;
        const std::size_t i = place[static_cast<std::size_t>(s)];
        laid.positions.insert(laid.positions.end(),
                              list.positions.begin() + static_cast<std::ptrdiff_t>(list.begin_of(i)),
                              list.positions.begin() + static_cast<std::ptrdiff_t>(list.ends[i]));
        laid.ends.push_back(laid.positions.size());
    }
    if (lay_out) {
        laid.series = recorded;
        list = std::move(laid);
    }
    return recorded;
}

// The same for a list counted from `prefix`, whose lists are in the order recorded.
void order_like_prefix(OccurrenceList& list, const OccurrenceList& prefix) {
    order_like_prefix(list, prefix.series, Motif::table_order(prefix.series), true);
}

// Longest common subsequence of one pattern with any other, bit-parallel (the
// algorithm of Crochemore et al. 2001 in the form of Hyyrö 2004): a column of
// the classic table is a row of |pattern| bits, one machine word per 64
// symbols, and each symbol of the other pattern advances it with one addition
// whose carry runs across the words. Exact: it gives the table's length.
class BitLcs {
public:
    using Bits = std::vector<std::uint64_t>;

    explicit BitLcs(const Pattern& pattern) : length(pattern.size()), words((pattern.size() + 63) / 64) {
        // Each symbol of the pattern gets a row of masks; row 0, all zero,
        // stands for every symbol the pattern lacks.
        row_of.fill(0);
        std::size_t rows = 1;
        for (const char symbol : pattern) {
            std::uint32_t& row = row_of[static_cast<unsigned char>(symbol)];
            if (row == 0) row = static_cast<std::uint32_t>(rows++);
        }
        masks.assign(rows * words, 0);
        symbol_counts.assign(rows, 0);
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint32_t row = row_of[static_cast<unsigned char>(pattern[i])];
            masks[row * words + i / 64] |= std::uint64_t{1} << (i % 64);
            ++symbol_counts[row];
        }
        top = length % 64 == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (length % 64)) - 1;
    }

    std::size_t get_words() const { return words; }
    std::size_t rows() const { return symbol_counts.size(); }
    std::uint32_t row(char symbol) const { return row_of[static_cast<unsigned char>(symbol)]; }
    // How often the pattern holds the symbols of a row.
    std::size_t count(std::uint32_t row) const { return symbol_counts[row]; }

    std::size_t with(const Pattern& other, Bits& bits) const {
        bits.assign(words, ~std::uint64_t{0});
        advance(bits, other.data(), other.data() + other.size());
        return common(bits);
    }

    // Whether the common subsequence has `needed` symbols or more; decided as
    // soon as the symbols of `other` read so far settle it either way (the
    // length found so far never falls, and grows by at most one a symbol).
    bool reaches(const Pattern& other, std::size_t needed, Bits& bits) const {
        if (needed == 0) return true;
        bits.assign(words, ~std::uint64_t{0});
        constexpr std::size_t kSymbolsBetweenTests = 16;
        for (std::size_t done = 0; done < other.size();) {
            const std::size_t next = std::min(other.size(), done + kSymbolsBetweenTests);
            advance(bits, other.data() + done, other.data() + next);
            done = next;
            const std::size_t found = common(bits);
            if (found >= needed) return true;
            if (found + (other.size() - done) < needed) return false;
        }
        return false;
    }

private:
    void advance(Bits& bits, const char* first, const char* last) const {
        if (words == 1) {
            std::uint64_t v = bits[0];
            for (const char* at = first; at != last; ++at) {
                const std::uint64_t u = v & masks[row(*at)];
                v = (v + u) | (v - u);
            }
            bits[0] = v;
            return;
        }
        for (const char* at = first; at != last; ++at) {
            const std::uint32_t r = row(*at);
            if (r == 0) continue;  // a symbol the pattern lacks changes nothing
            const std::uint64_t* mask = masks.data() + static_cast<std::size_t>(r) * words;
            std::uint64_t carry = 0;
            for (std::size_t w = 0; w < words; ++w) {
                const std::uint64_t v = bits[w];
                const std::uint64_t u = v & mask[w];
                const std::uint64_t partial = v + u;
                const std::uint64_t sum = partial + carry;
                carry = static_cast<std::uint64_t>(partial < v) | static_cast<std::uint64_t>(sum < partial);
                bits[w] = sum | (v - u);
            }
        }
    }

    // Each zero among the low `length` bits is one symbol of the common
    // subsequence; the bits above them take carries but never pass one down.
    std::size_t common(const Bits& bits) const {
        if (words == 0) return 0;
        std::size_t ones = 0;
        for (std::size_t w = 0; w + 1 < words; ++w) ones += static_cast<std::size_t>(__builtin_popcountll(bits[w]));
        ones += static_cast<std::size_t>(__builtin_popcountll(bits[words - 1] & top));
        return length - ones;
    }

    std::size_t length;
    std::size_t words;
    std::uint64_t top = 0;  // the bits of the last word that stand for symbols
    std::array<std::uint32_t, 256> row_of;
    std::vector<std::uint64_t> masks;  // row r, word w at r * words + w
    std::vector<std::size_t> symbol_counts;
};

// Whether patterns occur contiguously in a text: the suffix automaton of the
// text (Blumer et al. 1985), built in time linear in the text, walked by each
// pattern in time linear in the pattern.
class Substrings {
public:
    // Patterns walked side by side by contain_each().
    static constexpr std::size_t kBatch = 8;

    explicit Substrings(const Pattern& text) {
        // Letter 0 stands for every symbol the text lacks and leads nowhere.
        letter_of.fill(0);
        for (const char symbol : text) {
            std::uint32_t& letter = letter_of[static_cast<unsigned char>(symbol)];
            if (letter == 0) letter = static_cast<std::uint32_t>(++stride - 1);
        }
        length.reserve(2 * text.size() + 1);
        link.reserve(2 * text.size() + 1);
        next.reserve((2 * text.size() + 1) * stride);
        std::int32_t last = add_state(0, -1);
        for (const char symbol : text) {
            const std::size_t c = letter_of[static_cast<unsigned char>(symbol)];
            const std::int32_t current = add_state(length[index(last)] + 1, -1);
            std::int32_t p = last;
            while (p != -1 && step(p, c) == -1) {
                step(p, c) = current;
                p = link[index(p)];
            }
            if (p == -1) {
                link[index(current)] = 0;
            } else if (const std::int32_t q = step(p, c); length[index(p)] + 1 == length[index(q)]) {
                link[index(current)] = q;
            } else {
                const std::int32_t clone = add_state(length[index(p)] + 1, link[index(q)]);
                std::copy_n(next.begin() + static_cast<std::ptrdiff_t>(index(q) * stride), stride,
                            next.begin() + static_cast<std::ptrdiff_t>(index(clone) * stride));
                while (p != -1 && step(p, c) == q) {
                    step(p, c) = clone;
                    p = link[index(p)];
                }
                link[index(q)] = clone;
                link[index(current)] = clone;
            }
            last = current;
        }
    }

    // inside[k]: whether patterns[k] occurs in the text, for k < count <= kBatch.
    // The walks advance in turn, one symbol each, so that their reads of the
    // automaton overlap in time instead of waiting on one another.
    void contain_each(const Pattern* const* patterns, std::size_t count, bool* inside) const {
        const std::int32_t* table = next.data();
        std::array<const char*, kBatch> at{}, end{};
        std::array<std::int32_t, kBatch> state{};
        std::size_t walking = 0;
        for (std::size_t k = 0; k < count; ++k) {
            at[k] = patterns[k]->data();
            end[k] = at[k] + patterns[k]->size();
            inside[k] = false;
            ++walking;
        }
        while (walking > 0) {
            for (std::size_t k = 0; k < count; ++k) {
                if (state[k] < 0) continue;
                if (at[k] == end[k]) {
                    inside[k] = true;
                    state[k] = -1;
                    --walking;
                    continue;
                }
                const std::uint32_t letter = letter_of[static_cast<unsigned char>(*at[k]++)];
                state[k] = table[index(state[k]) * stride + letter];
                if (state[k] < 0) --walking;
            }
        }
    }

private:
    static std::size_t index(std::int32_t state) { return static_cast<std::size_t>(state); }
    std::int32_t add_state(std::int32_t state_length, std::int32_t state_link) {
        length.push_back(state_length);
        link.push_back(state_link);
        next.resize(next.size() + stride, -1);
        return static_cast<std::int32_t>(length.size() - 1);
    }
    std::int32_t& step(std::int32_t state, std::size_t letter) { return next[index(state) * stride + letter]; }

    std::size_t stride = 1;  // letters, the lacking one included
    std::array<std::uint32_t, 256> letter_of;
    std::vector<std::int32_t> length;  // of the longest string that leads to each state
    std::vector<std::int32_t> link;    // suffix link of each state; -1 at the root
    std::vector<std::int32_t> next;    // state s, letter c at s * stride + c; -1: none
};

// The redundancy filter's question about one pattern p and a pattern s no
// longer than p: does their common subsequence hold `needed` symbols or more?
// When p spans several machine words, two cheaper answers come first: s
// inside p holds all of its symbols in common with p (contain_each() tells,
// for several s at once), and the common subsequence holds no more of a
// symbol than either pattern has.
class Overlap {
public:
    explicit Overlap(const Pattern& p) : bits(p) {
        if (bits.get_words() > 1) substrings = std::make_unique<Substrings>(p);
    }

    // Words of one LCS step: a measure of the cost of a comparison per symbol of s.
    std::size_t get_words() const { return std::max<std::size_t>(bits.get_words(), 1); }
    // Whether reaches() expects to be told which s lie inside p.
    const Substrings* get_substrings() const { return substrings.get(); }

    struct Scratch {
        BitLcs::Bits bits;
        std::vector<std::size_t> counts;
    };

    // `inside`: whether s occurs in p, as contain_each() found; false without substrings.
    bool reaches(const Pattern& s, std::size_t needed, bool inside, Scratch& scratch) const {
        if (needed == 0 || inside) return true;
        if (substrings) {
            scratch.counts.assign(bits.rows(), 0);
            for (const char symbol : s) ++scratch.counts[bits.row(symbol)];
            std::size_t most = 0;
            for (std::uint32_t r = 1; r < scratch.counts.size(); ++r) {
                most += std::min(scratch.counts[r], bits.count(r));
            }
            if (most < needed) return false;
        }
        return bits.reaches(s, needed, scratch.bits);
    }

private:
    BitLcs bits;
    std::unique_ptr<Substrings> substrings;
};

// The smallest common length k for which k / length exceeds max_overlap, in
// the same double division (monotonic in k), or length + 1 when no k does
// (max_overlap 1.0 or above, or NaN).
std::size_t needed_common(std::size_t length, double max_overlap) {
    const auto ratio_exceeds = [&](std::size_t k) {
        return static_cast<double>(k) / static_cast<double>(length) > max_overlap;
    };
    if (length == 0 || !(max_overlap < 1.0)) return length + 1;  // also NaN; 0 / 0 is NaN
    if (max_overlap < 0.0) return 0;
    // Start near the answer and step to it exactly.
    auto k = static_cast<std::size_t>(max_overlap * static_cast<double>(length));
    while (k > 0 && ratio_exceeds(k - 1)) --k;
    while (k <= length && !ratio_exceeds(k)) ++k;
    return k;
}

// Whether the work of one redundancy pass pays for spreading it over threads.
constexpr std::size_t kParallelPassWork = std::size_t{1} << 18;

// The redundancy filter of remove_redundant() on the survivor list alone:
// which survivors it erases (every copy of an erased pattern value).
std::vector<bool> redundant(const std::vector<const Pattern*>& survivors, double max_overlap, const Runner& runner) {
    const std::size_t count = survivors.size();

    // `removed` is a set of pattern values: equal patterns share one entry,
    // the first index at which the value appears. Survivors as mine() leaves
    // them are distinct: each length one run in ascending order.
    Pacer pacer(runner);
    std::vector<std::size_t> value_of(count);
    bool distinct = true;
    for (std::size_t i = 1; i < count && distinct; ++i) {
        const Pattern& a = *survivors[i - 1];
        const Pattern& b = *survivors[i];
        pacer.spend(64 + a.size() / 8);
        distinct = a.size() > b.size() || (a.size() == b.size() && PatternLess()(a, b));
    }
    if (distinct) {
        std::iota(value_of.begin(), value_of.end(), std::size_t{0});
    } else {
        std::map<Pattern, std::size_t, PatternLess> first_index;
        for (std::size_t i = 0; i < count; ++i) value_of[i] = first_index.try_emplace(*survivors[i], i).first->second;
    }
    std::vector<char> removed(count, 0);

    // The ratio lcs / |s| exceeds max_overlap exactly when the common
    // subsequence holds at least needed[|s|] symbols.
    std::size_t longest = 0;
    for (const Pattern* s : survivors) longest = std::max(longest, s->size());
    std::vector<std::size_t> needed(longest + 1);
    for (std::size_t length = 0; length <= longest; ++length) needed[length] = needed_common(length, max_overlap);

    // The survivors that some pattern may erase, in order; erased ones leave
    // the list after each pass.
    std::vector<std::size_t> open;
    for (std::size_t j = 0; j < count; ++j) {
        pacer.spend(8);
        if (needed[survivors[j]->size()] <= survivors[j]->size()) open.push_back(j);
    }
    std::vector<char> hit(count, 0);

    // Survivors come longest first, so each pattern still present at its turn
    // only erases later patterns of at most its own length. Patterns before p
    // need no test: a longer one is skipped by the length test, and one of
    // p's length still present had p in view at its own turn with the same
    // ratio (lcs is symmetric and the lengths are equal) and did not erase p,
    // so the ratio does not exceed the threshold.
    //
    // Within one pass, whether p erases s depends on p, s and what earlier
    // passes erased, never on the other s of the pass: the comparisons of a
    // pass may run in any order, on any thread, and their hits are applied
    // after it.
    runner.report("filter", 0, count);
    std::size_t checks_reported = 0;
    std::size_t next_open = 0;  // open[next_open..] lie after i
    for (std::size_t i = 0; i < count; ++i) {
        while (next_open < open.size() && open[next_open] <= i) ++next_open;
        if (next_open == open.size()) break;  // nothing left that could be erased
        pacer.spend(1);
        if (removed[value_of[i]]) continue;
        const Pattern& p = *survivors[i];
        const Overlap overlap(p);
        const auto compare = [&](std::size_t first, std::size_t last, Pacer& paced) {
            Overlap::Scratch scratch;
            // In batches: first which s lie inside p, then the rest of the question.
            std::array<std::size_t, Substrings::kBatch> batch;
            std::array<const Pattern*, Substrings::kBatch> batch_patterns;
            std::array<bool, Substrings::kBatch> inside{};
            for (std::size_t a = next_open + first; a < next_open + last;) {
                std::size_t size = 0;
                for (; a < next_open + last && size < batch.size(); ++a) {
                    const std::size_t j = open[a];
                    const Pattern& s = *survivors[j];
                    if (p.size() < s.size()) continue;
                    if (value_of[j] == value_of[i]) continue;  // s equals p
                    if (removed[value_of[j]]) continue;
                    batch[size] = j;
                    batch_patterns[size++] = &s;
                }
                if (const Substrings* substrings = overlap.get_substrings()) {
                    substrings->contain_each(batch_patterns.data(), size, inside.data());
                }
                for (std::size_t k = 0; k < size; ++k) {
                    const Pattern& s = *batch_patterns[k];
                    paced.spend((inside[k] ? 1 : overlap.get_words()) * s.size() + 8);
                    if (overlap.reaches(s, needed[s.size()], inside[k], scratch)) hit[batch[k]] = 1;
                }
            }
        };
        const std::size_t in_view = open.size() - next_open;
        const bool spread = in_view * overlap.get_words() * p.size() >= kParallelPassWork;
        if (spread) {
            runner.run_ranges(in_view, [&](std::size_t first, std::size_t last) {
                Pacer paced(runner);
                compare(first, last, paced);
            });
            runner.check_stop();
        } else {
            compare(0, in_view, pacer);
        }

        bool erased_any = false;
        for (std::size_t a = next_open; a < open.size(); ++a) {
            const std::size_t j = open[a];
            pacer.spend(8);
            if (!hit[j]) continue;
            hit[j] = 0;
            removed[value_of[j]] = 1;
            erased_any = true;
        }
        if (erased_any) {
            const auto still_open = std::remove_if(open.begin() + static_cast<std::ptrdiff_t>(next_open), open.end(),
                                                   [&](std::size_t j) { return removed[value_of[j]] != 0; });
            open.erase(still_open, open.end());
        }
        if (spread || pacer.get_checks() != checks_reported) {
            checks_reported = pacer.get_checks();
            runner.report("filter", i + 1, count);
        }
    }
    runner.report("filter", count, count);

    std::vector<bool> erased(count);
    for (std::size_t i = 0; i < count; ++i) erased[i] = removed[value_of[i]] != 0;
    return erased;
}

// The records of the miner's table in key order (PatternLess), for the copies
// handed out: each length is one run in key order already, and sorting merges
// the runs.
template <typename Iterator>
std::vector<Iterator> in_key_order(Iterator first, Iterator last) {
    std::vector<Iterator> order;
    for (Iterator it = first; it != last; ++it) order.push_back(it);
    std::sort(order.begin(), order.end(), [](Iterator a, Iterator b) { return PatternLess()(a->first, b->first); });
    return order;
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
    // Each series is listed once.
    motif.reserve(series.size(), positions.size());
    for (std::size_t i = 0; i < series.size(); ++i) {
        motif.record_new_series(series[i], positions.data() + begin_of(i), positions.data() + ends[i]);
    }
    return motif;
}

PatternMiner::PatternMiner(double minsup, int min_len, int max_len, double max_overlap)
    : minsup(minsup), min_len(min_len), max_len(max_len), max_overlap(max_overlap), levels(2) {}

TooManyPatterns::TooManyPatterns(std::size_t limit)
    : std::runtime_error("mining found more than " + std::to_string(limit) +
                         " frequent patterns; raise minsup, set max_len, or raise max_patterns") {}

void PatternMiner::mine(const WordSet& words) { mine(words, Runner()); }

void PatternMiner::mine(const WordSet& words, const Runner& runner) {
    // The Runner is lent for this call only, whatever way the call ends.
    struct Lend {
        Borrowed& borrowed;
        Lend(Borrowed& borrowed, const Runner& runner) : borrowed(borrowed) { borrowed.runner = &runner; }
        ~Lend() { borrowed.runner = nullptr; }
        Lend(const Lend&) = delete;
        Lend& operator=(const Lend&) = delete;
    } lend(borrowed, runner);

    start(words);
    mine_1_patterns(words);
    runner.report("mine", 1, 0);
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
            pacer.spend(64 + candidate.size());
            add_candidate(candidate);
            find_candidate(candidate, words);
            prune_infrequent(candidate);
        }
        close_level();
        runner.report("mine", static_cast<std::size_t>(level - 1), 0);
    }
    remove_redundant();
}

const Runner& PatternMiner::runner() const {
    static const Runner here;
    return borrowed.runner != nullptr ? *borrowed.runner : here;
}

void PatternMiner::release_level(std::size_t n) {
    std::vector<const Pattern*> level_n;
    for (const Pattern& p : levels.at(n)) level_n.push_back(&p);
    erase_all(level_n);
}

// A list that ascends in the table's order, as a level does, is found in one
// walk over the table; the walk starts afresh wherever the list does not ascend.
void PatternMiner::erase_all(const std::vector<const Pattern*>& patterns) {
    cursor = {};
    const ShorterFirst before;
    auto at = frequent.end();
    Pacer pacer(runner());
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const Pattern& p = *patterns[i];
        pacer.spend(256 + p.size());
        if (i > 0 && before(*patterns[i - 1], p)) {
            while (at != frequent.end() && before(at->first, p)) ++at;
        } else {
            at = frequent.lower_bound(p);
        }
        if (at != frequent.end() && at->first == p) at = frequent.erase(at);
    }
}

// Every run starts from scratch, so mining twice with one object gives
// exactly what a new miner gives on the second set of words.
void PatternMiner::start(const WordSet& words) {
    forget();
    min_count = static_cast<double>(words.size()) * minsup;
}

void PatternMiner::release(const Runner& runner) {
    Pacer pacer(runner);
    while (!frequent.empty()) {
        pacer.spend(256 + frequent.begin()->first.size());
        frequent.erase(frequent.begin());
    }
    for (std::vector<Pattern>& patterns : levels) {
        while (!patterns.empty()) {
            pacer.spend(64 + patterns.back().size());
            patterns.pop_back();
        }
    }
    forget();
}

void PatternMiner::forget() {
    frequent.clear();
    out_of_order = false;
    cursor = {};
    levels.assign(2, {});
    level = 2;
    passed = 0;
    counted = {};
    scanned = 0;
}

void PatternMiner::mine_1_patterns(const WordSet& words) {
    counted = {};
    scanned = frequent.empty() || scanned_from(words) ? address_of(words) : 0;
    // The words are scanned in chunks of series, each chunk into lists of its
    // own, spread by the Runner. Within a word the positions of each symbol are
    // recorded per symbol in one step. Joined in chunk order, the lists hold
    // the same occurrences in the same order as one scan of every word in
    // turn, position by position.
    constexpr std::size_t kSeriesPerChunk = 256;
    const std::size_t chunks = (words.size() + kSeriesPerChunk - 1) / kSeriesPerChunk;
    std::vector<std::vector<std::pair<unsigned char, OccurrenceList>>> found(chunks);
    runner().run_ranges(chunks, [&](std::size_t first_chunk, std::size_t last_chunk) {
        std::array<OccurrenceList, 256> of_symbol;
        std::array<std::vector<int>, 256> positions;
        std::vector<unsigned char> present;
        std::array<bool, 256> in_chunk{};
        Pacer pacer(runner());
        for (std::size_t c = first_chunk; c < last_chunk; ++c) {
            std::vector<unsigned char> chunk_symbols;
            for (std::size_t i = c * kSeriesPerChunk; i < std::min(words.size(), (c + 1) * kSeriesPerChunk); ++i) {
                const Pattern& word = words[i];
                pacer.spend(4 * word.size() + 16);
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
                    if (!in_chunk[symbol]) chunk_symbols.push_back(symbol);
                    in_chunk[symbol] = true;
                }
                present.clear();
            }
            std::sort(chunk_symbols.begin(), chunk_symbols.end());
            for (const unsigned char symbol : chunk_symbols) {
                found[c].emplace_back(symbol, std::move(of_symbol[symbol]));
                of_symbol[symbol] = {};
                in_chunk[symbol] = false;
            }
        }
    });
    // Each symbol's lists are joined at once at their full size, the symbols
    // spread by the Runner when there are enough occurrences to pay for it.
    std::array<OccurrenceList, 256> of_symbol;
    std::array<std::size_t, 256> series_of{}, positions_of{};
    std::vector<unsigned char> symbols_found;
    std::size_t occurrences = 0;
    for (const auto& chunk : found) {
        for (const auto& [symbol, list] : chunk) {
            if (series_of[symbol] == 0) symbols_found.push_back(symbol);
            series_of[symbol] += list.series.size();
            positions_of[symbol] += list.positions.size();
            occurrences += list.positions.size();
        }
    }
    const auto join = [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            const unsigned char symbol = symbols_found[k];
            OccurrenceList& all = of_symbol[symbol];
            all.series.reserve(series_of[symbol]);
            all.ends.reserve(series_of[symbol]);
            all.positions.reserve(positions_of[symbol]);
            for (auto& chunk : found) {
                for (auto& [chunk_symbol, list] : chunk) {
                    if (chunk_symbol != symbol) continue;
                    const std::size_t offset = all.positions.size();
                    all.series.insert(all.series.end(), list.series.begin(), list.series.end());
                    all.positions.insert(all.positions.end(), list.positions.begin(), list.positions.end());
                    for (const std::size_t end : list.ends) all.ends.push_back(offset + end);
                    list = {};
                }
            }
        }
    };
    if (occurrences >= kParallelLevelOccurrences) {
        runner().run_ranges(symbols_found.size(), join);
    } else {
        join(0, symbols_found.size());
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
    // join one a form one range, which starts where a binary search finds it.
    const std::vector<Pattern>& previous = levels[level - 1];
    const bool sorted = is_sorted_level(previous, static_cast<std::size_t>(level - 1));
    Pacer pacer(runner());
    for (const Pattern& a : previous) {
        pacer.spend(64 + 2 * a.size());
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

bool PatternMiner::scanned_from(const WordSet& words) const { return scanned != 0 && scanned == address_of(words); }

bool PatternMiner::take_counted(const Pattern& candidate, const WordSet& words, OccurrenceList& found) {
    if (candidate.size() != static_cast<std::size_t>(level)) return false;
    if (counted.level != level || counted.words != address_of(words)) {
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
    counted.words = address_of(words);
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
    if (passes(record->second.support(), min_count)) {
        if (max_patterns != 0 && passed == max_patterns) {
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

FrequentTable PatternMiner::get_frequent() const {
    // Lists still in their prefix's order are read from copies put in order,
    // shorter patterns first (the table's own order), so that each prefix is
    // in order before the patterns that extend it.
    std::map<const Pattern*, OccurrenceList> ordered;
    for (auto it = frequent.begin(); out_of_order && it != frequent.end(); ++it) {
        if (!it->second.in_prefix_order) continue;
        const auto prefix = frequent.find(Pattern(it->first.begin(), it->first.end() - 1));
        if (prefix == frequent.end()) throw std::out_of_range("map::at");
        const auto in_order = ordered.find(&prefix->first);
        OccurrenceList copy = it->second;
        order_like_prefix(copy, in_order != ordered.end() ? in_order->second : prefix->second);
        ordered.emplace(&it->first, std::move(copy));
    }
    FrequentTable table;
    for (const auto it : in_key_order(frequent.begin(), frequent.end())) {
        const auto in_order = ordered.find(&it->first);
        const OccurrenceList& list = in_order != ordered.end() ? in_order->second : it->second;
        table.emplace_hint(table.end(), it->first, list.record(it->first));
    }
    return table;
}

FrequentTable PatternMiner::take_frequent() {
    FrequentTable table;
    for (auto& [pattern, list] : take_frequent_lists()) {
        Motif record = list.record(pattern);
        list = {};
        table.emplace_hint(table.end(), std::move(pattern), std::move(record));
    }
    return table;
}

FrequentLists PatternMiner::take_frequent_lists() {
    put_in_order(records_in_prefix_order());
    out_of_order = false;
    cursor = {};
    FrequentLists lists;
    lists.reserve(frequent.size());
    for (const auto it : in_key_order(frequent.begin(), frequent.end())) {
        auto entry = frequent.extract(it);
        lists.emplace_back(std::move(entry.key()), std::move(entry.mapped()));
    }
    counted = {};
    scanned = 0;
    return lists;
}

// The top visited entry is level - 1: the last mined length after a stop by
// max_len, and the empty level after a stop on an empty level.
std::size_t PatternMiner::top_level() const { return std::min(static_cast<std::size_t>(level - 1), levels.size() - 1); }

std::vector<Pattern> PatternMiner::remove_short() {
    std::vector<Pattern> survivors;
    for (const Pattern* p : filter_short()) survivors.push_back(*p);
    return survivors;
}

std::vector<const Pattern*> PatternMiner::filter_short() {
    counted = {};
    cursor = {};
    std::vector<const Pattern*> survivors;
    if (level < 2 || levels.empty()) return survivors;
    Pacer pacer(runner());
    for (std::size_t n = top_level(); n >= 1; --n) {
        if (static_cast<long long>(min_len) > static_cast<long long>(n)) {
            release_level(n);
        } else {
            for (const Pattern& p : levels[n]) survivors.push_back(&p);
            pacer.spend(16 * levels[n].size());
        }
    }
    return survivors;
}

void PatternMiner::remove_redundant() {
    const std::vector<const Pattern*> survivors = filter_short();
    const std::vector<bool> erased = redundant(survivors, max_overlap, runner());
    std::vector<const Pattern*> redundant_ones;
    Pacer pacer(runner());
    for (std::size_t i = 0; i < survivors.size(); ++i) {
        pacer.spend(8);
        if (erased[i]) redundant_ones.push_back(survivors[i]);
    }
    // The lists that stay go in the order recorded while their prefixes,
    // some of them erased next, are still here.
    std::vector<Table::iterator> kept = records_in_prefix_order();
    if (!kept.empty()) {
        const auto view = [](const Pattern& p) { return std::string_view(p.data(), p.size()); };
        std::unordered_set<std::string_view> gone;
        for (const Pattern* p : redundant_ones) {
            pacer.spend(16 + p->size() / 8);
            gone.insert(view(*p));
        }
        kept.erase(std::remove_if(kept.begin(), kept.end(),
                                  [&](Table::iterator it) { return gone.count(view(it->first)) != 0; }),
                   kept.end());
        put_in_order(kept);
    }
    erase_all(redundant_ones);
    out_of_order = false;
}

std::vector<PatternMiner::Table::iterator> PatternMiner::records_in_prefix_order() {
    std::vector<Table::iterator> records;
    for (auto it = frequent.begin(); out_of_order && it != frequent.end(); ++it)
        if (it->second.in_prefix_order) records.push_back(it);
    return records;
}

bool PatternMiner::counts_in_prefix_order() const {
    // mine() frees the records of a level shorter than min_len once the
    // level above is counted, and their lists with them.
    return static_cast<long long>(min_len) <= static_cast<long long>(level) - 1;
}

void PatternMiner::put_in_order(const std::vector<Table::iterator>& records) {
    // The records to put in order and the prefixes they need, by length and
    // then by prefix: one table order of a prefix serves every record that
    // extends it. Of a prefix that is not itself to be put in order only the
    // order of its series is found, for the records that extend it.
    struct Node {
        Table::iterator record;
        bool lay_out = false;
        std::vector<int> recorded;  // its series in the order recorded, while records that extend it need them
    };
    std::map<const OccurrenceList*, Node> nodes;
    struct Group {
        Table::iterator prefix;
        std::vector<Node*> extending;
    };
    std::vector<std::map<const Pattern*, Group>> by_length;
    std::vector<std::pair<Table::iterator, bool>> pending;
    for (const Table::iterator it : records) pending.emplace_back(it, true);
    Pacer pacer(runner());
    while (!pending.empty()) {
        const auto [it, lay_out] = pending.back();
        pending.pop_back();
        if (!it->second.in_prefix_order || it->first.empty()) continue;
        const auto [node, added] = nodes.try_emplace(&it->second);
        node->second.lay_out = node->second.lay_out || lay_out;
        if (!added) continue;
        node->second.record = it;
        const Table::iterator prefix = checked(Pattern(it->first.begin(), it->first.end() - 1));
        const std::size_t length = it->first.size();
        if (by_length.size() <= length) by_length.resize(length + 1);
        Group& group = by_length[length][&prefix->first];
        group.prefix = prefix;
        group.extending.push_back(&node->second);
        pacer.spend(64 + length);
        if (prefix->second.in_prefix_order) pending.emplace_back(prefix, false);
    }
    for (std::size_t length = 0; length < by_length.size(); ++length) {
        std::vector<Group*> wave;
        for (auto& entry : by_length[length]) wave.push_back(&entry.second);
        runner().run_ranges(wave.size(), [&](std::size_t first, std::size_t last) {
            Pacer paced(runner());
            for (std::size_t k = first; k < last; ++k) {
                const OccurrenceList& of_prefix = wave[k]->prefix->second;
                const auto known = nodes.find(&of_prefix);
                const std::vector<int>& prefix = known != nodes.end() ? known->second.recorded : of_prefix.series;
                const std::vector<std::size_t> table = Motif::table_order(prefix);
                for (Node* node : wave[k]->extending) {
                    node->recorded = order_like_prefix(node->record->second, prefix, table, node->lay_out);
                }
                paced.spend((16 + 8 * wave[k]->extending.size()) * prefix.size() + 64);
            }
        });
        // The prefixes of this wave have served.
        if (length > 0) {
            for (auto& entry : by_length[length - 1])
                for (Node* node : entry.second.extending) std::vector<int>().swap(node->recorded);
        }
    }
}

double lcs(const Pattern& a, const Pattern& b) {
    // The table of the longest common subsequence has (|a| + 1) x (|b| + 1)
    // cells; an impossible size fails with the standard length error.
    if (a.size() >= std::vector<std::vector<int>>().max_size() || b.size() >= std::vector<int>().max_size()) {
        throw_too_large();
    }
    // The bits go to the shorter pattern: fewer words per step.
    BitLcs::Bits bits;
    if (a.size() <= b.size()) return static_cast<double>(BitLcs(a).with(b, bits));
    return static_cast<double>(BitLcs(b).with(a, bits));
}

bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v) {
    return std::find(v.begin(), v.end(), p) != v.end();
}
