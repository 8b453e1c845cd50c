#include "hash_order.h"

#include <climits>
#include <cstdint>
#include <functional>
#include <memory_resource>
#include <unordered_map>
#include <utility>

std::vector<std::size_t> built_table_order(const std::vector<int>& keys) {
    // Neither the mapped type nor the allocator takes part in where an entry
    // goes: an arena that never frees until the end makes the table cheap.
    using Table = std::unordered_map<int, std::size_t, std::hash<int>, std::equal_to<int>,
                                     std::pmr::polymorphic_allocator<std::pair<const int, std::size_t>>>;
    std::pmr::monotonic_buffer_resource arena(keys.size() * 4 * sizeof(void*) + 256);
    std::vector<std::size_t> order;
    order.reserve(keys.size());
    {
        Table table(&arena);
        for (std::size_t i = 0; i < keys.size(); ++i) table[keys[i]] = i;
        for (const auto& entry : table) order.push_back(entry.second);
    }
    return order;
}

#if defined(__GLIBCXX__)

namespace {

__extension__ using Wide = unsigned __int128;

// The bucket of a hash code, code % count: for codes and counts of 32 bits by
// a multiplication (Lemire, Kaser and Kurz 2019), exact there, and by the
// division otherwise.
class BucketOf {
public:
    explicit BucketOf(std::size_t count)
        : count(count), narrow(count <= UINT32_MAX), magic(narrow ? UINT64_MAX / count + 1 : 0) {}
    std::size_t operator()(std::size_t code) const {
        if (narrow && code <= UINT32_MAX) {
            const std::uint64_t low = magic * static_cast<std::uint64_t>(code);
            return static_cast<std::size_t>((static_cast<Wide>(low) * count) >> 64);
        }
        return code % count;
    }
    std::size_t size() const { return count; }

private:
    std::size_t count;
    bool narrow;
    std::uint64_t magic;
};

// libstdc++'s table for unique keys: one singly linked list of every node,
// each bucket's nodes one run of it, and per bucket the node before its run
// (the list's head for the bucket whose run comes first).
class ReplayedTable {
public:
    explicit ReplayedTable(std::size_t capacity) {
        codes.reserve(capacity);
        values.reserve(capacity);
        next.reserve(capacity);
    }

    // table[key] = value, for the key with this hash code; a key known to be
    // new is not looked for.
    void assign(std::size_t code, std::size_t value, bool known_new = false) {
        std::size_t b = bucket_of(code);
        if (!known_new && buckets[b] != kEmpty) {
            for (int p = after(buckets[b]); p != kEnd && bucket_of(codes[p]) == b; p = next[p]) {
                if (codes[p] == code) {  // std::hash<int> is one to one
                    values[p] = value;
                    return;
                }
            }
        }
        // The policy changes nothing, and grows nothing, until the count passes its mark.
        const auto grow = codes.size() + 1 > policy._M_state()
                              ? policy._M_need_rehash(bucket_of.size(), codes.size(), 1)
                              : std::pair<bool, std::size_t>(false, 0);
        if (grow.first) {
            rehash(grow.second);
            b = bucket_of(code);
        }
        const int node = static_cast<int>(codes.size());
        codes.push_back(code);
        values.push_back(value);
        next.push_back(kEnd);
        link_first_in_bucket(node, b);
    }

    std::vector<std::size_t> listed() const {
        std::vector<std::size_t> order;
        order.reserve(values.size());
        for (int p = head; p != kEnd; p = next[static_cast<std::size_t>(p)])
            order.push_back(values[static_cast<std::size_t>(p)]);
        return order;
    }

private:
    static constexpr int kEnd = -1;         // no next node
    static constexpr int kHead = -2;        // the list's head stands before the bucket's run
    static constexpr int kEmpty = INT_MIN;  // a bucket without nodes

    int& after(int before) { return before == kHead ? head : next[static_cast<std::size_t>(before)]; }

    // The node goes first in its bucket's run; a bucket's first node goes
    // first in the whole list.
    void link_first_in_bucket(int node, std::size_t b) {
        const auto n = static_cast<std::size_t>(node);
        if (buckets[b] != kEmpty) {
            int& link = after(buckets[b]);
            next[n] = link;
            link = node;
            return;
        }
        next[n] = head;
        head = node;
        if (next[n] != kEnd) buckets[bucket_of(codes[static_cast<std::size_t>(next[n])])] = node;
        buckets[b] = kHead;
    }

    // Growing walks the old list in order and relinks each node into the new
    // buckets: first in an empty bucket (and then in the list), otherwise
    // right after the node before its bucket's run.
    void rehash(std::size_t count) {
        bucket_of = BucketOf(count);
        buckets.assign(count, kEmpty);
        int p = head;
        head = kEnd;
        std::size_t first_bucket = 0;
        while (p != kEnd) {
            const auto n = static_cast<std::size_t>(p);
            const int following = next[n];
            const std::size_t b = bucket_of(codes[n]);
            if (buckets[b] == kEmpty) {
                next[n] = head;
                head = p;
                buckets[b] = kHead;
                if (next[n] != kEnd) buckets[first_bucket] = p;
                first_bucket = b;
            } else {
                int& link = after(buckets[b]);
                next[n] = link;
                link = p;
            }
            p = following;
        }
    }

    std::__detail::_Prime_rehash_policy policy;
    BucketOf bucket_of{1};
    std::vector<int> buckets = std::vector<int>(1, kEmpty);
    int head = kEnd;
    std::vector<std::size_t> codes;  // per node: its key's hash code
    std::vector<std::size_t> values;
    std::vector<int> next;
};

}  // namespace

std::vector<std::size_t> hash_table_order(const std::vector<int>& keys) {
    if (keys.size() > static_cast<std::size_t>(INT_MAX)) return built_table_order(keys);
    ReplayedTable table(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) table.assign(std::hash<int>{}(keys[i]), i);
    return table.listed();
}

std::vector<std::size_t> distinct_table_order(const std::vector<int>& keys) {
    if (keys.size() > static_cast<std::size_t>(INT_MAX)) return built_table_order(keys);
    ReplayedTable table(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) table.assign(std::hash<int>{}(keys[i]), i, true);
    return table.listed();
}

#else

std::vector<std::size_t> hash_table_order(const std::vector<int>& keys) { return built_table_order(keys); }

std::vector<std::size_t> distinct_table_order(const std::vector<int>& keys) { return built_table_order(keys); }

#endif
