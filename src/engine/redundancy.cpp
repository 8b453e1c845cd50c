#include "engine/redundancy.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <string_view>
#include <vector>

#include "engine/pacer.h"
#include "engine/stages.h"

namespace {

// Longest common subsequence of one pattern with any other, bit-parallel (the
// algorithm of Crochemore et al. 2001 in the form of Hyyrö 2004): a column of
// the classic table is a row of |pattern| bits, one machine word per 64
// symbols, and each symbol of the other pattern advances it with one addition
// whose carry runs across the words. Exact: it gives the table's length.
class BitLcs {
public:
    using Bits = std::vector<std::uint64_t>;
    static constexpr std::size_t kBitsPerWord = 64;  // symbols of the pattern per machine word

    explicit BitLcs(const Pattern& pattern)
        : length(pattern.size()), words((pattern.size() + kBitsPerWord - 1) / kBitsPerWord) {
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
            masks[row * words + i / kBitsPerWord] |= std::uint64_t{1} << (i % kBitsPerWord);
            ++symbol_counts[row];
        }
        if (words == 1) {
            for (std::size_t i = 0; i < length; ++i) {
                one_word[static_cast<unsigned char>(pattern[i])] |= std::uint64_t{1} << i;
            }
        }
        top = length % kBitsPerWord == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (length % kBitsPerWord)) - 1;
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
    bool reaches(std::string_view other, std::size_t needed, Bits& bits) const {
        if (needed == 0) return true;
        if (words == 1) {
            // The column stays in a register and each symbol finds its mask
            // in one read: the filter's inner loop on short patterns.
            std::uint64_t v = ~std::uint64_t{0};
            for (const char symbol : other) {
                const std::uint64_t u = v & one_word[static_cast<unsigned char>(symbol)];
                v = (v + u) | (v - u);
            }
            return length - static_cast<std::size_t>(__builtin_popcountll(v & top)) >= needed;
        }
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
    std::array<std::uint32_t, kSymbolValues> row_of;
    std::vector<std::uint64_t> masks;  // row r, word w at r * words + w
    std::vector<std::size_t> symbol_counts;
    std::array<std::uint64_t, kSymbolValues> one_word{};  // by symbol, for a pattern of one word
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
    void contain_each(const std::string_view* patterns, std::size_t count, bool* inside) const {
        const std::int32_t* table = next.data();
        std::array<const char*, kBatch> at{}, end{};
        std::array<std::int32_t, kBatch> state{};
        std::size_t walking = 0;
        for (std::size_t k = 0; k < count; ++k) {
            at[k] = patterns[k].data();
            end[k] = at[k] + patterns[k].size();
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
    std::array<std::uint32_t, kSymbolValues> letter_of;
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
    bool reaches(std::string_view s, std::size_t needed, bool inside, Scratch& scratch) const {
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

}  // namespace

std::vector<bool> redundant(const std::vector<const Pattern*>& survivors, double max_overlap, const Runner& runner,
                            const IndexBudget& budget) {
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
        pacer.spend(Pacer::kPatternStep + a.size() / 8);
        distinct = a.size() > b.size() || (a.size() == b.size() && PatternLess()(a, b));
    }
    if (distinct) {
        std::iota(value_of.begin(), value_of.end(), std::size_t{0});
    } else {
        std::map<Pattern, std::size_t, PatternLess> first_index;
        for (std::size_t i = 0; i < count; ++i) value_of[i] = first_index.try_emplace(*survivors[i], i).first->second;
    }
    std::vector<char> removed(count, 0);

    // The symbols of the short survivors side by side, in survivor order:
    // the passes read the later survivors over and over, and the survivors'
    // own storage, allocated while mining, lies scattered among the
    // occurrence lists, one cache miss per survivor read. A long survivor is
    // read where it lies: its symbols fill whole cache lines of their own,
    // and copying the hundreds of thousands of long patterns of one long word
    // would cost more than the misses it saves.
    constexpr std::size_t kPackedLength = 64;
    std::size_t packed_size = 0;
    for (const Pattern* s : survivors)
        if (s->size() <= kPackedLength) packed_size += s->size();
    std::vector<char> packed;
    packed.reserve(packed_size);  // no reallocation below: the views stay valid
    std::vector<std::string_view> symbols(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Pattern& s = *survivors[i];
        if (s.size() > kPackedLength) {
            symbols[i] = std::string_view(s.data(), s.size());
            continue;
        }
        pacer.spend(8 + s.size() / 8);
        const std::size_t begin = packed.size();
        packed.insert(packed.end(), s.begin(), s.end());
        symbols[i] = std::string_view(packed.data() + begin, s.size());
    }

    // The ratio lcs / |s| exceeds max_overlap exactly when the common
    // subsequence holds at least needed[|s|] symbols.
    std::size_t longest = 0;
    for (const Pattern* s : survivors) longest = std::max(longest, s->size());
    std::vector<std::size_t> needed(longest + 1);
    for (std::size_t length = 0; length <= longest; ++length) needed[length] = needed_common(length, max_overlap);

    // Short patterns ask, at their own turn, an index of the subsequences of
    // the patterns kept before them; the passes below compare the others
    // pair by pair, and the short ones with the kept patterns too long for
    // the index.
    SubsequenceIndex index(needed, symbols, budget);
    constexpr std::size_t kStepsPerLookup = IndexBudget{}.lookup_cost;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t lookups = 1;
        if (index.answers(symbols[i].size())) index.expect(symbols[i], lookups);
        pacer.spend(kStepsPerLookup * lookups);
    }

    // The survivors that some pattern may erase pair by pair, in order;
    // erased ones leave the list after each pass, and the ones that no later
    // pattern is long enough to compare with as its turn comes.
    std::vector<std::size_t> open;
    for (std::size_t j = 0; j < count; ++j) {
        pacer.spend(8);
        const std::size_t length = survivors[j]->size();
        if (needed[length] <= length && index.pairwise_from(length) <= longest) open.push_back(j);
    }
    std::size_t open_for = longest;  // the length of p for which open was last trimmed
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
    runner.report(kStageFilter, 0, count);
    std::size_t checks_reported = 0;
    std::size_t next_open = 0;  // open[next_open..] lie after i
    for (std::size_t i = 0; i < count; ++i) {
        if (pacer.get_checks() != checks_reported) {
            checks_reported = pacer.get_checks();
            runner.report(kStageFilter, i, count);
        }
        while (next_open < open.size() && open[next_open] <= i) ++next_open;
        pacer.spend(1);
        if (removed[value_of[i]]) continue;
        const Pattern& p = *survivors[i];
        const auto value = static_cast<std::uint32_t>(value_of[i]);
        std::size_t lookups = 0;
        const bool kept = !index.answers(p.size()) || !index.erases(symbols[i], value, lookups);
        if (kept) index.add(symbols[i], value, lookups);
        pacer.spend(kStepsPerLookup * lookups);
        if (!kept) {
            removed[value_of[i]] = 1;
            continue;
        }
        if (p.size() < open_for) {
            open_for = p.size();
            const auto comparable =
                std::remove_if(open.begin() + static_cast<std::ptrdiff_t>(next_open), open.end(),
                               [&](std::size_t j) { return index.pairwise_from(survivors[j]->size()) > p.size(); });
            pacer.spend(static_cast<std::size_t>(open.end() - comparable));
            open.erase(comparable, open.end());
        }
        if (next_open == open.size()) continue;  // nothing left that p could erase
        const Overlap overlap(p);
        const auto compare = [&](std::size_t first, std::size_t last, Pacer& paced) {
            Overlap::Scratch scratch;
            // In batches: first which s lie inside p, then the rest of the question.
            std::array<std::size_t, Substrings::kBatch> batch;
            std::array<std::string_view, Substrings::kBatch> batch_patterns;
            std::array<bool, Substrings::kBatch> inside{};
            for (std::size_t a = next_open + first; a < next_open + last;) {
                std::size_t size = 0;
                for (; a < next_open + last && size < batch.size(); ++a) {
                    const std::size_t j = open[a];
                    const std::string_view s = symbols[j];
                    if (p.size() < index.pairwise_from(s.size())) continue;
                    if (value_of[j] == value_of[i]) continue;  // s equals p
                    if (removed[value_of[j]]) continue;
                    batch[size] = j;
                    batch_patterns[size++] = s;
                }
                if (const Substrings* substrings = overlap.get_substrings()) {
                    substrings->contain_each(batch_patterns.data(), size, inside.data());
                }
                for (std::size_t k = 0; k < size; ++k) {
                    const std::string_view s = batch_patterns[k];
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
        if (spread) runner.report(kStageFilter, i + 1, count);
    }
    runner.report(kStageFilter, count, count);

    std::vector<bool> erased(count);
    for (std::size_t i = 0; i < count; ++i) erased[i] = removed[value_of[i]] != 0;
    return erased;
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
