#include "partitioned/partitioned_mining.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/candidates.h"
#include "engine/miner.h"
#include "engine/motif.h"
#include "engine/occurrences.h"
#include "engine/pacer.h"
#include "engine/patterns.h"
#include "engine/redundancy.h"
#include "engine/sax.h"

namespace partitioned {

WordSet words_of_series(const SeriesViews& series, int seglen, int alphabet) {
    const std::vector<double>& row = breakpoint_row(alphabet);
    WordSet words(series.size());
    std::vector<double> values;
    for (std::size_t i = 0; i < series.size(); ++i) {
        values.assign(series[i].values, series[i].values + series[i].size);
        znorm_series(values);
        words[i] = word_of(values.data(), values.size(), seglen, row);
    }
    return words;
}

namespace {

// The positions of local series i of `found`.
std::vector<int> positions_of(const PartOccurrences& found, std::size_t i) {
    return std::vector<int>(found.positions.begin() + static_cast<std::ptrdiff_t>(i == 0 ? 0 : found.ends[i - 1]),
                            found.positions.begin() + static_cast<std::ptrdiff_t>(found.ends[i]));
}

// Calls visit(values, i, j) for each local series j of each found[i], with
// `values` that series z-normalised; each series is normalised once.
template <typename Visit>
void each_occurring_series(const SeriesViews& series, const std::vector<PartOccurrences>& found, Visit visit) {
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> in_series(series.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].ends.size() != found[i].series.size()) throw std::invalid_argument("one end per series");
        for (std::size_t j = 0; j < found[i].series.size(); ++j) {
            const int s = found[i].series[j];
            if (s < 0 || static_cast<std::size_t>(s) >= series.size()) throw std::out_of_range("no such local series");
            in_series[static_cast<std::size_t>(s)].push_back({i, j});
        }
    }
    std::vector<double> values;
    for (std::size_t s = 0; s < series.size(); ++s) {
        if (in_series[s].empty()) continue;
        values.assign(series[s].values, series[s].values + series[s].size);
        znorm_series(values);
        for (const auto& [i, j] : in_series[s]) visit(values, i, j);
    }
}

void check_lengths(const std::vector<PartOccurrences>& found, const std::vector<int>& lengths) {
    if (lengths.size() != found.size()) throw std::invalid_argument("one length per pattern");
    for (int length : lengths)
        if (length < 0) throw std::invalid_argument("a negative length");
}

}  // namespace

std::vector<std::vector<double>> part_averages(const SeriesViews& series, const std::vector<PartOccurrences>& found,
                                               int seglen, const std::vector<int>& lengths) {
    check_lengths(found, lengths);
    std::vector<std::vector<double>> result(found.size());
    for (std::size_t i = 0; i < found.size(); ++i)
        result[i].resize(found[i].series.size() * static_cast<std::size_t>(lengths[i]));
    each_occurring_series(series, found, [&](const std::vector<double>& values, std::size_t i, std::size_t j) {
        const std::vector<double> average =
            Motif::series_average(values, positions_of(found[i], j), seglen, lengths[i]);
        std::copy(average.begin(), average.end(), result[i].begin() + static_cast<std::ptrdiff_t>(j * average.size()));
    });
    return result;
}

std::vector<PartBests> part_bests(const SeriesViews& series, const std::vector<PartOccurrences>& found, int seglen,
                                  const std::vector<int>& lengths,
                                  const std::vector<std::vector<double>>& representatives) {
    check_lengths(found, lengths);
    if (representatives.size() != found.size()) throw std::invalid_argument("one representative per pattern");
    std::vector<PartBests> result(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        result[i].distances.resize(found[i].series.size());
        result[i].points.resize(found[i].series.size());
    }
    each_occurring_series(series, found, [&](const std::vector<double>& values, std::size_t i, std::size_t j) {
        const auto best = Motif::series_best(values, positions_of(found[i], j), seglen, lengths[i], representatives[i]);
        result[i].distances[j] = best.first;
        result[i].points[j] = best.second;
    });
    return result;
}

PartTable first_level(const WordSet& words) {
    std::array<OccurrenceList, kSymbolValues> of_symbol = symbol_occurrences(words, Runner());
    PartTable table;
    for (std::size_t symbol = 0; symbol < of_symbol.size(); ++symbol) {
        if (of_symbol[symbol].empty()) continue;
        table.emplace(Pattern{static_cast<char>(symbol)}, std::move(of_symbol[symbol]));
    }
    return table;
}

PartTable extend_level(const WordSet& words, const PartTable& previous, const std::vector<Pattern>& candidates) {
    const Runner here;
    Pacer pacer(here);
    std::vector<Gathering> buffers;
    std::vector<char> symbols;
    std::vector<OccurrenceList> found;
    PartTable table;
    // The candidates of one prefix that come one after another, each with a
    // last symbol of its own, are counted in one walk over the prefix's
    // occurrences, as the miner counts a level. The words are those whose
    // scan found the prefix's occurrences, so only the last symbol is compared.
    for (std::size_t first = 0, last = 0; first < candidates.size(); first = last) {
        const Pattern& candidate = candidates[first];
        last = first + 1;
        if (candidate.empty()) continue;
        std::array<bool, kSymbolValues> taken{};
        taken[static_cast<unsigned char>(candidate.back())] = true;
        const auto same_prefix = [&](const Pattern& other) {
            return other.size() == candidate.size() &&
                   std::equal(candidate.begin(), candidate.end() - 1, other.begin());
        };
        while (last < candidates.size() && same_prefix(candidates[last]) &&
               !taken[static_cast<unsigned char>(candidates[last].back())]) {
            taken[static_cast<unsigned char>(candidates[last].back())] = true;
            ++last;
        }
        const auto prefix = previous.find(Pattern(candidate.begin(), candidate.end() - 1));
        if (prefix == previous.end()) continue;
        symbols.clear();
        for (std::size_t i = first; i < last; ++i) symbols.push_back(candidates[i].back());
        found.assign(last - first, OccurrenceList());
        // Walked front to back, the lists keep the prefix's ascending series.
        extend(words, true, false, prefix->first, prefix->second, symbols, found.data(), buffers, pacer);
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i].empty()) continue;
            found[i].in_prefix_order = false;
            table.emplace_hint(table.end(), candidates[first + i], std::move(found[i]));
        }
    }
    return table;
}

std::vector<Pattern> join_level(const std::vector<Pattern>& frequent) {
    const Runner here;
    Pacer pacer(here);
    std::vector<Pattern> candidates = join_candidates(frequent, frequent.empty() ? 0 : frequent.front().size(), pacer);
    std::sort(candidates.begin(), candidates.end(), PatternLess());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return candidates;
}

std::vector<Pattern> frequent_patterns(const std::map<Pattern, std::size_t, PatternLess>& supports, double min_count) {
    std::vector<Pattern> frequent;
    for (const auto& [pattern, support] : supports)
        if (passes_support(support, min_count)) frequent.push_back(pattern);
    return frequent;
}

void check_pattern_count(std::size_t passed, std::size_t limit) {
    if (beyond_pattern_limit(passed, limit)) throw TooManyPatterns(limit);
}

std::vector<bool> redundant_patterns(const std::vector<Pattern>& survivors, double max_overlap) {
    const auto longer = [](const Pattern& a, const Pattern& b) { return a.size() > b.size(); };
    if (!std::is_sorted(survivors.begin(), survivors.end(), longer)) {
        throw std::invalid_argument("the survivors come longest first");
    }
    std::vector<const Pattern*> listed;
    listed.reserve(survivors.size());
    for (const Pattern& p : survivors) listed.push_back(&p);
    return redundant(listed, max_overlap, Runner());
}

std::vector<std::size_t> rank_order(const std::vector<double>& naeds) {
    struct Ranked {
        double naed;
        std::size_t index;
    };
    std::vector<Ranked> ranked(naeds.size());
    for (std::size_t i = 0; i < naeds.size(); ++i) ranked[i] = {naeds[i], i};
    rank_by_naed(ranked.begin(), ranked.end(), [](const Ranked& r) { return r.naed; });
    std::vector<std::size_t> order(naeds.size());
    for (std::size_t i = 0; i < ranked.size(); ++i) order[i] = ranked[i].index;
    return order;
}

}  // namespace partitioned
