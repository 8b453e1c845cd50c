#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// When the index answers for a length rather than the pairwise comparison.
struct IndexBudget {
    // The most subsequences of one length that one pattern may list, mark
    // or look up: enough for the default threshold up to 16 symbols, and
    // few enough that the table stays a small multiple of the survivors.
    // 0 leaves every question to the pairwise comparison.
    std::size_t most_per_pattern = 1024;
    // What one hash lookup or insertion costs, in steps of the pairwise
    // comparison (one symbol of one machine word): a table of many keys
    // misses the cache on most of them. A length is answered only
    // where its lookups cost less than the comparisons they replace;
    // with 0, wherever most_per_pattern allows.
    std::size_t lookup_cost = 32;
};

// The redundancy filter's question for short patterns, answered without
// comparing pairs: does a pattern s hold `needed` symbols, in order, in common
// with some pattern kept before it? Their common subsequence holds `needed`
// symbols exactly when one of the subsequences of s of that length is also a
// subsequence of the other pattern. So the subsequences that the patterns
// will ask about are listed up front, in one hash table with their prefixes;
// each kept pattern marks those of them that are its own subsequences,
// following only prefixes that lead to one; and s looks its own up at its
// turn: C(|s|, needed) lookups instead of one comparison with every pattern
// kept so far.
//
// A pattern of length L has C(L, k) subsequences of length k, which grows
// fast with L. The index therefore answers for a length l of s only about
// the kept patterns shorter than pairwise_from(l); the filter compares s with
// the longer ones pair by pair. When the survivors come longest first, every
// pattern added before s is at least as long as s, as the filter requires.
class SubsequenceIndex {
public:
    // needed[l]: the common symbols that erase a pattern of length l
    // (l + 1 or more: nothing erases it). survivors: the symbols of every
    // pattern the filter will see.
    SubsequenceIndex(const std::vector<std::size_t>& needed, const std::vector<std::string_view>& survivors,
                     const IndexBudget& budget = {});

    // Whether a pattern of this length asks the index at its turn, with erases().
    bool answers(std::size_t length) const { return length < answered.size() && answered[length]; }
    // The shortest kept pattern that the filter compares pair by pair with
    // a pattern s of this length: |s| itself unless the index answers for s.
    std::size_t pairwise_from(std::size_t length) const {
        return length < pairwise_from_.size() ? pairwise_from_[length] : length;
    }

    // Lists the subsequences that a survivor s will look up at its turn;
    // every survivor that answers() holds for is listed before the first
    // add(). `work` grows by the hash operations made, here and below.
    void expect(std::string_view s, std::size_t& work);
    // Whether some pattern added so far, whose value is not `value`, shares
    // needed[|s|] symbols with s; s was listed by expect().
    bool erases(std::string_view s, std::uint32_t value, std::size_t& work);
    // Adds a kept pattern under its value (equal patterns share one value).
    void add(std::string_view p, std::uint32_t value, std::size_t& work);

private:
    static constexpr std::uint32_t kNobody = ~std::uint32_t{0};
    // A subsequence asked about, or a prefix of one. Its key is its symbol
    // codes, `bits` each, side by side; with its length, the key names it.
    struct Slot {
        std::uint64_t key = 0;
        // The value of the first kept pattern that holds it, kNobody if none.
        // The first is enough when the survivors come longest first: if v
        // marked it and a copy of v asks, a pattern w of another value
        // added in between is as long as v and shares with v as many
        // symbols as the copy needs, so v would have erased w.
        std::uint32_t first = kNobody;
        std::uint8_t length = 0;
        bool asked = false;  // a whole subsequence that some survivor asks about
        bool used = false;
    };

    // The slot of the subsequence, nullptr if it is not listed.
    Slot* find(std::uint64_t key, std::size_t length);
    Slot& insert(std::uint64_t key, std::size_t length);
    std::size_t home(std::uint64_t key, std::size_t length) const {
        return static_cast<std::size_t>(((key ^ (length * 0xD6E8FEB86659FD93ULL)) * 0x9E3779B97F4A7C15ULL) >> shift);
    }
    void grow();
    // Decides, with the codes' present width, which lengths the index
    // answers for and which kept patterns mark subsequences of each length;
    // returns the longest pattern that lists, asks or marks any.
    std::size_t plan(const std::vector<std::size_t>& of_length, std::size_t longest, const IndexBudget& budget);
    // The codes of a pattern's symbols, into `codes`.
    void encode(std::string_view pattern);

    unsigned bits = 1;                        // per symbol code
    std::uint8_t code_of[256] = {};           // by symbol
    std::vector<std::size_t> needed;          // as given
    std::vector<bool> answered;               // by length of s
    std::vector<std::size_t> pairwise_from_;  // by length of s
    std::vector<std::size_t> add_from;        // by k: the shortest pattern that marks subsequences of length k
    std::vector<std::size_t> add_up_to;       // by k: the longest
    std::vector<Slot> slots;                  // open addressing, linear probing
    std::size_t slots_used = 0;
    unsigned shift = 64;
    std::vector<std::uint8_t> codes;       // of the pattern at hand
    std::vector<std::size_t> next_wanted;  // by depth, see each_subsequence()
};
