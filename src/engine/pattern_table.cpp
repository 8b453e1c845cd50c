#include <algorithm>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/pacer.h"
#include "engine/patterns.h"

// PatternMiner's frequent table after the levels: the length and redundancy
// filters, the lists put in the order recorded, the table handed out, and
// what frees it.

namespace {

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
        pacer.spend(Pacer::kTableStep + p.size());
        if (i > 0 && before(*patterns[i - 1], p)) {
            while (at != frequent.end() && before(at->first, p)) ++at;
        } else {
            at = frequent.lower_bound(p);
        }
        if (at != frequent.end() && at->first == p) at = frequent.erase(at);
    }
}

void PatternMiner::release(const Runner& runner) {
    Pacer pacer(runner);
    while (!frequent.empty()) {
        pacer.spend(Pacer::kTableStep + frequent.begin()->first.size());
        frequent.erase(frequent.begin());
    }
    for (std::vector<Pattern>& patterns : levels) {
        while (!patterns.empty()) {
            pacer.spend(Pacer::kPatternStep + patterns.back().size());
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
    WordSet().swap(known.copy);
    known.copy_serial = 0;
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
        pacer.spend(Pacer::kPatternStep + length);
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
