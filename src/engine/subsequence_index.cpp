#include "engine/subsequence_index.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// C(n, k), or `cap` + 1 when it exceeds `cap`.
std::size_t choose_up_to(std::size_t n, std::size_t k, std::size_t cap) {
    if (k > n) return 0;
    k = std::min(k, n - k);
    std::size_t c = 1;
    for (std::size_t i = 1; i <= k; ++i) {
        // C(n - k + i, i) from C(n - k + i - 1, i - 1): exact, and never
        // smaller than the step before, so a value above cap stays above.
        const std::size_t factor = n - k + i;
        if (c > kNone / factor) return cap + 1;
        c = c * factor / i;
        if (c > cap) return cap + 1;
    }
    return c;
}

// What a visitor of each_subsequence() tells it to do next.
enum class Next { deeper, skip, stop };

// Calls visit(length, key) for the subsequences of codes[0..size) that are
// wanted or prefixes of wanted ones, each prefix before its extensions, and
// follows what visit returns; returns whether it stopped.
// next_wanted[d]: the shortest wanted length of at least d, kNone if none.
template <typename Visit>
bool each_subsequence(const std::uint8_t* codes, std::size_t size, unsigned bits, const std::size_t* next_wanted,
                      std::size_t from, std::size_t depth, std::uint64_t key, Visit& visit) {
    const Next next = visit(depth, key);
    if (next != Next::deeper) return next == Next::stop;
    const std::size_t goal = next_wanted[depth + 1];
    if (goal == kNone) return false;
    // Only positions that leave enough symbols to reach the goal.
    for (std::size_t at = from; at + (goal - depth) <= size; ++at) {
        const std::uint64_t longer = (key << bits) | codes[at];
        if (each_subsequence(codes, size, bits, next_wanted, at + 1, depth + 1, longer, visit)) return true;
    }
    return false;
}

}  // namespace

SubsequenceIndex::SubsequenceIndex(const std::vector<std::size_t>& needed,
                                   const std::vector<std::string_view>& survivors, const IndexBudget& budget)
    : needed(needed) {
    std::size_t longest = 0;
    std::vector<std::size_t> of_length;
    for (const std::string_view p : survivors) {
        if (of_length.size() <= p.size()) of_length.resize(p.size() + 1, 0);
        ++of_length[p.size()];
        longest = std::max(longest, p.size());
    }
    // Values are kept in 32 bits, below kNobody.
    if (survivors.size() >= kNobody) {
        plan(of_length, longest, IndexBudget{0, budget.lookup_cost});
        return;
    }

    // Only the patterns that list, ask or mark subsequences are encoded, so
    // only their symbols need codes. Planned with codes of one bit, the
    // smallest, the index answers for every length it will answer for with
    // the real codes, and more: the longest pattern it then encodes bounds
    // the ones whose symbols are read here. Reading every symbol of every
    // survivor would cost more than the filter itself on the hundreds of
    // thousands of long patterns of one long word.
    const std::size_t encoded_up_to = plan(of_length, longest, budget);
    bool seen[256] = {};
    for (const std::string_view p : survivors) {
        if (p.size() > encoded_up_to) continue;
        for (const char symbol : p) seen[static_cast<unsigned char>(symbol)] = true;
    }
    std::size_t symbols = 0;
    for (std::size_t c = 0; c < 256; ++c)
        if (seen[c]) code_of[c] = static_cast<std::uint8_t>(symbols++);
    while ((std::size_t{1} << bits) < symbols) ++bits;
    plan(of_length, longest, budget);
}

std::size_t SubsequenceIndex::plan(const std::vector<std::size_t>& of_length, std::size_t longest,
                                   const IndexBudget& budget) {
    answered.assign(longest + 1, false);
    pairwise_from_.resize(longest + 1);
    for (std::size_t l = 0; l <= longest; ++l) pairwise_from_[l] = l;
    add_from.clear();
    add_up_to.clear();
    std::size_t encoded_up_to = 0;
    for (std::size_t l = 1; l <= longest; ++l) {
        const std::size_t k = l < needed.size() ? needed[l] : kNone;
        if (of_length[l] == 0 || k > l || k * bits > 64) continue;
        // A kept pattern of length L follows up to C(L, k) subsequences for
        // the patterns of length l, where the pairwise filter would compare
        // it with each of them.
        const std::size_t limit = budget.lookup_cost == 0
                                      ? budget.most_per_pattern
                                      : std::min(budget.most_per_pattern, of_length[l] * (l + 8) / budget.lookup_cost);
        // Each pattern of length l lists its C(l, k) questions up front, with
        // up to k prefixes each.
        if (choose_up_to(l, k, limit) * (k + 1) > limit) continue;
        std::size_t up_to = l;
        while (up_to < longest && choose_up_to(up_to + 1, k, limit) <= limit) ++up_to;
        answered[l] = true;
        pairwise_from_[l] = up_to + 1;
        if (add_from.size() <= k) {
            add_from.resize(k + 1, kNone);
            add_up_to.resize(k + 1, 0);
        }
        add_from[k] = std::min(add_from[k], l);
        add_up_to[k] = std::max(add_up_to[k], up_to);
        encoded_up_to = std::max(encoded_up_to, up_to);
    }
    return encoded_up_to;
}

void SubsequenceIndex::expect(std::string_view s, std::size_t& work) {
    // The subsequences with their prefixes, which guide add().
    const std::size_t k = needed[s.size()];
    encode(s);
    next_wanted.assign(k + 2, k);
    next_wanted[k + 1] = kNone;
    const auto list = [&](std::size_t length, std::uint64_t key) {
        ++work;
        Slot& slot = insert(key, length);
        slot.asked = slot.asked || length == k;
        return Next::deeper;
    };
    each_subsequence(codes.data(), codes.size(), bits, next_wanted.data(), 0, 0, 0, list);
}

void SubsequenceIndex::encode(std::string_view pattern) {
    codes.resize(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) codes[i] = code_of[static_cast<unsigned char>(pattern[i])];
}

bool SubsequenceIndex::erases(std::string_view s, std::uint32_t value, std::size_t& work) {
    const std::size_t k = needed[s.size()];
    encode(s);
    next_wanted.assign(k + 2, k);
    next_wanted[k + 1] = kNone;
    const auto held_by_another = [&](std::size_t length, std::uint64_t key) {
        if (length < k) return Next::deeper;
        ++work;
        const Slot* slot = find(key, length);
        return slot != nullptr && slot->first != kNobody && slot->first != value ? Next::stop : Next::skip;
    };
    return each_subsequence(codes.data(), codes.size(), bits, next_wanted.data(), 0, 0, 0, held_by_another);
}

void SubsequenceIndex::add(std::string_view p, std::uint32_t value, std::size_t& work) {
    // The lengths k whose subsequences p marks.
    const std::size_t length = p.size();
    const auto marks = [&](std::size_t k) { return add_from[k] <= length && length <= add_up_to[k]; };
    std::size_t longest_wanted = kNone;
    for (std::size_t k = add_from.size(); k-- > 0;) {
        if (marks(k)) {
            longest_wanted = k;
            break;
        }
    }
    if (longest_wanted == kNone) return;
    next_wanted.assign(longest_wanted + 2, kNone);
    for (std::size_t d = longest_wanted + 1; d-- > 0;) next_wanted[d] = marks(d) ? d : next_wanted[d + 1];
    encode(p);
    const auto mark = [&](std::size_t k, std::uint64_t key) {
        ++work;
        Slot* slot = find(key, k);
        if (slot == nullptr) return Next::skip;  // no subsequence asked about begins so
        if (slot->asked && slot->first == kNobody && next_wanted[k] == k) slot->first = value;
        return Next::deeper;
    };
    each_subsequence(codes.data(), codes.size(), bits, next_wanted.data(), 0, 0, 0, mark);
}

SubsequenceIndex::Slot* SubsequenceIndex::find(std::uint64_t key, std::size_t length) {
    if (slots.empty()) return nullptr;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = home(key, length);; i = (i + 1) & mask) {
        Slot& slot = slots[i];
        if (!slot.used) return nullptr;
        if (slot.key == key && slot.length == length) return &slot;
    }
}

SubsequenceIndex::Slot& SubsequenceIndex::insert(std::uint64_t key, std::size_t length) {
    if (2 * (slots_used + 1) > slots.size()) grow();
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = home(key, length);; i = (i + 1) & mask) {
        Slot& slot = slots[i];
        if (!slot.used) {
            slot.key = key;
            slot.length = static_cast<std::uint8_t>(length);
            slot.used = true;
            ++slots_used;
            return slot;
        }
        if (slot.key == key && slot.length == length) return slot;
    }
}

void SubsequenceIndex::grow() {
    std::vector<Slot> old = std::move(slots);
    const std::size_t capacity = std::max<std::size_t>(16, 2 * old.size());
    slots.assign(capacity, Slot{});
    shift = 64;
    for (std::size_t c = capacity; c > 1; c /= 2) --shift;
    const std::size_t mask = capacity - 1;
    for (const Slot& slot : old) {
        if (!slot.used) continue;
        std::size_t i = home(slot.key, slot.length);
        while (slots[i].used) i = (i + 1) & mask;
        slots[i] = slot;
    }
}
