#include "partitioned/partitioned_mining.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/miner.h"
#include "engine/motif.h"
#include "engine/patterns.h"
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
    std::array<PartOccurrences, 256> of_symbol;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Pattern& word = words[i];
        for (std::size_t j = 0; j < word.size(); ++j) {
            PartOccurrences& list = of_symbol[static_cast<unsigned char>(word[j])];
            if (list.series.empty() || list.series.back() != static_cast<int>(i)) {
                list.series.push_back(static_cast<int>(i));
                list.ends.push_back(list.positions.size());
            }
            list.positions.push_back(static_cast<int>(j));
            ++list.ends.back();
        }
    }
    PartTable table;
    for (std::size_t symbol = 0; symbol < of_symbol.size(); ++symbol) {
        if (of_symbol[symbol].series.empty()) continue;
        table.emplace(Pattern{static_cast<char>(symbol)}, std::move(of_symbol[symbol]));
    }
    return table;
}

PartTable extend_level(const WordSet& words, const PartTable& previous, const std::vector<Pattern>& candidates) {
    PartTable table;
    for (const Pattern& candidate : candidates) {
        if (candidate.empty()) continue;
        const auto prefix = previous.find(Pattern(candidate.begin(), candidate.end() - 1));
        if (prefix == previous.end()) continue;
        const PartOccurrences& of_prefix = prefix->second;
        const std::size_t length = candidate.size();
        PartOccurrences found;
        for (std::size_t i = 0; i < of_prefix.series.size(); ++i) {
            const int series = of_prefix.series[i];
            if (series < 0 || static_cast<std::size_t>(series) >= words.size()) continue;
            const Pattern& word = words[static_cast<std::size_t>(series)];
            for (std::size_t k = i == 0 ? 0 : of_prefix.ends[i - 1]; k < of_prefix.ends[i]; ++k) {
                const auto start = static_cast<std::size_t>(of_prefix.positions[k]);
                if (start > word.size() || length > word.size() - start) continue;
                if (word[start + length - 1] != candidate.back()) continue;
                if (found.series.empty() || found.series.back() != series) {
                    found.series.push_back(series);
                    found.ends.push_back(found.positions.size());
                }
                found.positions.push_back(of_prefix.positions[k]);
                ++found.ends.back();
            }
        }
        if (!found.series.empty()) table.emplace_hint(table.end(), candidate, std::move(found));
    }
    return table;
}

std::vector<Pattern> join_level(const std::vector<Pattern>& frequent) {
    // The last symbols of the patterns b, by b without its last symbol.
    std::map<Pattern, std::vector<char>, PatternLess> last_of;
    for (const Pattern& b : frequent) {
        if (!b.empty()) last_of[Pattern(b.begin(), b.end() - 1)].push_back(b.back());
    }
    std::vector<Pattern> candidates;
    for (const Pattern& a : frequent) {
        if (a.empty()) continue;
        const auto joined = last_of.find(Pattern(a.begin() + 1, a.end()));
        if (joined == last_of.end()) continue;
        for (const char symbol : joined->second) {
            Pattern& candidate = candidates.emplace_back(a);
            candidate.push_back(symbol);
        }
    }
    std::sort(candidates.begin(), candidates.end(), PatternLess());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return candidates;
}

std::vector<bool> redundant_patterns(const std::vector<Pattern>& survivors, double max_overlap) {
    const std::size_t count = survivors.size();
    // Equal patterns share one entry: the first index of the value.
    std::vector<std::size_t> value_of(count);
    {
        std::map<Pattern, std::size_t, PatternLess> first_index;
        for (std::size_t i = 0; i < count; ++i) value_of[i] = first_index.try_emplace(survivors[i], i).first->second;
    }
    std::vector<bool> removed(count, false);
    for (std::size_t i = 0; i < count; ++i) {
        if (removed[value_of[i]]) continue;
        const Pattern& p = survivors[i];
        for (std::size_t j = i + 1; j < count; ++j) {
            const Pattern& s = survivors[j];
            if (p.size() < s.size() || value_of[j] == value_of[i] || removed[value_of[j]]) continue;
            if (lcs(p, s) / static_cast<double>(s.size()) > max_overlap) removed[value_of[j]] = true;
        }
    }
    std::vector<bool> erased(count);
    for (std::size_t i = 0; i < count; ++i) erased[i] = removed[value_of[i]];
    return erased;
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
