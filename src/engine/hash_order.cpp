#include "engine/hash_order.h"

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

// libstdc++'s table for unique keys, replayed: one singly linked list of
// every node, each bucket's nodes one run of it, and per bucket the node
// before its run (the list's head for the bucket whose run comes first).
// Nodes are numbered in the order they go in, and the number after the last
// one stands for the head; each node keeps its bucket, so that no code is
// divided twice. table[keys[i]] = i for each i in turn; with `distinct` no key
// is looked for before it goes in. Gives the values in the table's order.
std::vector<std::size_t> replayed_order(const std::vector<int>& keys, bool distinct) {
    constexpr std::uint32_t kEnd = UINT32_MAX;  // no next node; a bucket without nodes
    const std::size_t capacity = keys.size();
    const auto head = static_cast<std::uint32_t>(capacity);
    std::vector<std::uint32_t> next(capacity + 1, kEnd);  // per node, and for the head
    std::vector<std::uint32_t> bucket(capacity);
    std::vector<std::size_t> codes(capacity);  // per node: its key's hash code
    // Per node: the last position of its key; with distinct keys, the node's own number.
    std::vector<std::size_t> values(distinct ? 0 : capacity);
    std::vector<std::uint32_t> buckets(1, kEnd);
    BucketOf bucket_of(1);
    std::__detail::_Prime_rehash_policy policy;

    // The node goes first in its bucket's run; a bucket's first node goes
    // first in the whole list, and the bucket of the node it displaces there
    // now stands after it.
    const auto link = [&](std::uint32_t node, std::size_t b) {
        bucket[node] = static_cast<std::uint32_t>(b);
        const std::uint32_t before = buckets[b];
        if (before != kEnd) {
            next[node] = next[before];
            next[before] = node;
            return;
        }
        const std::uint32_t first = next[head];
        next[node] = first;
        next[head] = node;
        if (first != kEnd) buckets[bucket[first]] = node;
        buckets[b] = head;
    };

    std::size_t count = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::size_t code = std::hash<int>{}(keys[i]);
        if (!distinct && buckets[bucket_of(code)] != kEnd) {
            const std::size_t b = bucket_of(code);
            std::uint32_t p = next[buckets[b]];
            while (p != kEnd && bucket[p] == b && codes[p] != code) p = next[p];  // std::hash<int> is one to one
            if (p != kEnd && bucket[p] == b) {
                values[p] = i;
                continue;
            }
        }
        // The policy changes nothing, and grows nothing, until the count passes
        // its mark. Growing walks the old list in order and links each node
        // into the new buckets as above.
        if (count + 1 > policy._M_state()) {
            const auto grow = policy._M_need_rehash(bucket_of.size(), count, 1);
            if (grow.first) {
                bucket_of = BucketOf(grow.second);
                buckets.assign(grow.second, kEnd);
                std::uint32_t p = next[head];
                next[head] = kEnd;
                while (p != kEnd) {
                    const std::uint32_t following = next[p];
                    link(p, bucket_of(codes[p]));
                    p = following;
                }
            }
        }
        const auto node = static_cast<std::uint32_t>(count++);
        codes[node] = code;
        if (!distinct) values[node] = i;
        link(node, bucket_of(code));
    }

    std::vector<std::size_t> order;
    order.reserve(count);
    for (std::uint32_t p = next[head]; p != kEnd; p = next[p]) order.push_back(distinct ? p : values[p]);
    return order;
}

}  // namespace

std::vector<std::size_t> hash_table_order(const std::vector<int>& keys) {
    if (keys.size() >= static_cast<std::size_t>(UINT32_MAX)) return built_table_order(keys);
    return replayed_order(keys, false);
}

std::vector<std::size_t> distinct_table_order(const std::vector<int>& keys) {
    if (keys.size() >= static_cast<std::size_t>(UINT32_MAX)) return built_table_order(keys);
    return replayed_order(keys, true);
}

#else

std::vector<std::size_t> hash_table_order(const std::vector<int>& keys) { return built_table_order(keys); }

std::vector<std::size_t> distinct_table_order(const std::vector<int>& keys) { return built_table_order(keys); }

#endif
