#include "engine/occurrences.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

std::array<OccurrenceList, kSymbolValues> symbol_occurrences(const WordSet& words, const Runner& runner) {
    // The words are scanned in chunks of series, each chunk into lists of its
    // own, spread by the Runner. Within a word the positions of each symbol are
    // recorded per symbol in one step. Joined in chunk order, the lists hold
    // the same occurrences in the same order as one scan of every word in
    // turn, position by position.
    constexpr std::size_t kSeriesPerChunk = 256;
    const std::size_t chunks = (words.size() + kSeriesPerChunk - 1) / kSeriesPerChunk;
    std::vector<std::vector<std::pair<unsigned char, OccurrenceList>>> found(chunks);
    runner.run_ranges(chunks, [&](std::size_t first_chunk, std::size_t last_chunk) {
        std::array<OccurrenceList, kSymbolValues> of_symbol;
        std::array<std::vector<int>, kSymbolValues> positions;
        std::vector<unsigned char> present;
        std::array<bool, kSymbolValues> in_chunk{};
        Pacer pacer(runner);
        for (std::size_t c = first_chunk; c < last_chunk; ++c) {
            std::vector<unsigned char> chunk_symbols;
            for (std::size_t i = c * kSeriesPerChunk; i < std::min(words.size(), (c + 1) * kSeriesPerChunk); ++i) {
                const Pattern& word = words[i];
                pacer.spend(Pacer::kSymbolStep * word.size() + Pacer::kSeriesStep);
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
    std::array<OccurrenceList, kSymbolValues> of_symbol;
    std::array<std::size_t, kSymbolValues> series_of{}, positions_of{};
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
        runner.run_ranges(symbols_found.size(), join);
    } else {
        join(0, symbols_found.size());
    }
    return of_symbol;
}

void extend(const WordSet& words, bool holds_prefix, bool in_table_order, const Pattern& prefix,
            const OccurrenceList& occurrences, const std::vector<char>& symbols, OccurrenceList* found,
            std::vector<Gathering>& buffers, Pacer& pacer) {
    const std::size_t slots = symbols.size();
    const std::size_t most_series = occurrences.series.size();
    const std::size_t most_positions = occurrences.positions.size();
    if (buffers.size() < slots + 1) buffers.resize(slots + 1);
    for (std::size_t slot = 0; slot <= slots; ++slot)
        buffers[slot].hold(slot == slots ? 0 : most_series, most_positions);
    std::array<std::uint32_t, kSymbolValues> slot_of_symbol;
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
        pacer.spend(Pacer::kSymbolStep * occurrences.positions.size() + Pacer::kSeriesStep);
    } else {
        // The Runner is asked every few thousand series; the units spent are
        // the positions of a share of the series, about.
        constexpr std::size_t kSeriesBetweenChecks = 1024;
        constexpr std::size_t kAhead = 4;
        const std::size_t count = occurrences.support();
        const std::vector<std::size_t> order =
            in_table_order ? Motif::table_order(occurrences.series) : std::vector<std::size_t>();
        const std::size_t units =
            (Pacer::kSymbolStep * occurrences.positions.size() + Pacer::kSeriesStep * count) / count + 1;
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
