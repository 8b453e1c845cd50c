// zef.dask.mine: the steps that run on the partitions of a collection and those
// that the client runs over patterns and per-series values (zef._native.partitioned).
#include "native/bindings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/miner.h"
#include "engine/motif.h"
#include "native/arrays.h"
#include "parallel/pipeline.h"
#include "partitioned/partitioned_mining.h"

namespace native {

namespace {

Pattern pattern_of(const py::bytes& text) {
    const std::string_view view(text);
    return Pattern(view.begin(), view.end());
}

py::bytes bytes_of(const Pattern& pattern) { return py::bytes(pattern.data(), pattern.size()); }

WordSet words_of(const py::list& words) {
    WordSet result;
    result.reserve(words.size());
    for (const py::handle word : words) result.push_back(pattern_of(py::reinterpret_borrow<py::bytes>(word)));
    return result;
}

using IntArray = py::array_t<int, py::array::c_style | py::array::forcecast>;
using EndArray = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

py::tuple occurrences_to_python(const partitioned::PartOccurrences& found) {
    std::vector<std::int64_t> ends(found.ends.begin(), found.ends.end());
    return py::make_tuple(to_array(found.series), to_array(ends), to_array(found.positions));
}

partitioned::PartOccurrences occurrences_from_python(const py::handle& entry) {
    const auto parts = py::reinterpret_borrow<py::tuple>(entry);
    if (parts.size() != 3) throw py::value_error("occurrences are a tuple (series, ends, positions)");
    const auto series = parts[0].cast<IntArray>();
    const auto ends = parts[1].cast<EndArray>();
    const auto positions = parts[2].cast<IntArray>();
    if (series.size() != ends.size()) throw py::value_error("one end per series");
    partitioned::PartOccurrences found;
    found.series.assign(series.data(), series.data() + series.size());
    found.positions.assign(positions.data(), positions.data() + positions.size());
    std::size_t previous = 0;
    for (py::ssize_t i = 0; i < ends.size(); ++i) {
        const std::int64_t end = ends.data()[i];
        if (end < static_cast<std::int64_t>(previous) || end > positions.size()) {
            throw py::value_error("the ends of the occurrences are out of order");
        }
        previous = static_cast<std::size_t>(end);
        found.ends.push_back(previous);
    }
    return found;
}

py::dict table_to_python(const partitioned::PartTable& table) {
    py::dict result;
    for (const auto& entry : table) result[bytes_of(entry.first)] = occurrences_to_python(entry.second);
    return result;
}

}  // namespace

void bind_partitioned_mining(py::module_& m) {
    m.def(
        "first_level", [](const py::list& words) { return table_to_python(partitioned::first_level(words_of(words))); },
        py::arg("words"), "Every symbol of the words with its occurrences (series, ends, positions).");
    m.def(
        "extend",
        [](const py::list& words, const py::dict& previous, const std::vector<py::bytes>& candidates) {
            partitioned::PartTable table;
            std::vector<Pattern> wanted;
            for (const py::bytes& candidate : candidates) {
                wanted.push_back(pattern_of(candidate));
                if (wanted.back().empty()) continue;
                const py::bytes prefix = bytes_of(Pattern(wanted.back().begin(), wanted.back().end() - 1));
                if (previous.contains(prefix) && table.find(pattern_of(prefix)) == table.end()) {
                    table.emplace(pattern_of(prefix), occurrences_from_python(previous[prefix]));
                }
            }
            std::sort(wanted.begin(), wanted.end(), PatternLess());
            return table_to_python(partitioned::extend_level(words_of(words), table, wanted));
        },
        py::arg("words"), py::arg("previous"), py::arg("candidates"),
        "The occurrences of the candidates found at those of their prefixes in `previous`.");
    m.def(
        "join",
        [](const std::vector<py::bytes>& frequent) {
            std::vector<Pattern> patterns;
            for (const py::bytes& p : frequent) patterns.push_back(pattern_of(p));
            std::sort(patterns.begin(), patterns.end(), PatternLess());
            py::list result;
            for (const Pattern& p : partitioned::join_level(patterns)) result.append(bytes_of(p));
            return result;
        },
        py::arg("frequent"), "The candidates one symbol longer, in key order.");
    m.def(
        "frequent",
        [](const py::dict& supports, double min_count) {
            std::map<Pattern, std::size_t, PatternLess> counted;
            for (const auto& [pattern, support] : supports)
                counted.emplace(pattern_of(py::reinterpret_borrow<py::bytes>(pattern)), support.cast<std::size_t>());
            py::list result;
            for (const Pattern& p : partitioned::frequent_patterns(counted, min_count)) result.append(bytes_of(p));
            return result;
        },
        py::arg("supports"), py::arg("min_count"),
        "The patterns (with the number of series where each occurs) that pass the miner's support test, in key "
        "order.");
    m.def(
        "check_pattern_count",
        [](std::size_t passed, std::optional<std::size_t> limit) {
            partitioned::check_pattern_count(passed, limit.value_or(kNoPatternLimit));
        },
        py::arg("passed"), py::arg("limit"),
        "Raises the miner's TooManyPatterns when `passed` frequent patterns are more than `limit` (None: no "
        "limit) allows.");
    m.def(
        "check_mapping_fits",
        [](const std::vector<std::pair<std::size_t, std::size_t>>& sizes, int seglen) {
            ::check_mapping_fits(sizes, seglen);
        },
        py::arg("sizes"), py::arg("seglen"),
        "The miner's refusal (MemoryError) of motifs, given as (symbols, support) each, whose mapping could never "
        "fit in the machine's memory.");
    m.def(
        "returned_count", [](int k, std::size_t count) { return ::returned_count(k, count); }, py::arg("k"),
        py::arg("count"), "How many of `count` ranked motifs the miner returns for `k`; ValueError for a negative k.");
    m.def(
        "occurrence_length", [](std::size_t symbols, int seglen) { return Motif::occurrence_length(symbols, seglen); },
        py::arg("symbols"), py::arg("seglen"),
        "The points of one occurrence of a pattern of `symbols` symbols; ValueError when no list holds them.");
    m.def(
        "redundant",
        [](const std::vector<py::bytes>& survivors, double max_overlap) {
            std::vector<Pattern> patterns;
            for (const py::bytes& p : survivors) patterns.push_back(pattern_of(p));
            const std::vector<bool> erased = partitioned::redundant_patterns(patterns, max_overlap);
            return std::vector<bool>(erased.begin(), erased.end());
        },
        py::arg("survivors"), py::arg("max_overlap"),
        "Which survivors of the length filter the redundancy filter erases.");
    m.def(
        "table_order", [](const std::vector<int>& series) { return Motif::table_order(series); }, py::arg("series"),
        "Positions into `series` in the order in which a Motif's table lists them.");
    m.def(
        "rank", [](const std::vector<double>& naeds) { return partitioned::rank_order(naeds); }, py::arg("naeds"),
        "Indexes of `naeds` in the order of the Miner's ranking.");
    m.def(
        "words",
        [](const SeriesViews& rows, int seglen, int alphabet) {
            WordSet words;
            {
                py::gil_scoped_release release;
                words = partitioned::words_of_series(rows, seglen, alphabet);
            }
            py::list texts;
            for (const auto& word : words) texts.append(bytes_of(word));
            return texts;
        },
        py::arg("rows"), py::arg("seglen"), py::arg("alphabet"),
        "The word (bytes) of each series, z-normalised one at a time as zef.mine normalises it.");
    m.def(
        "averages",
        [](const SeriesViews& series, const std::vector<py::tuple>& occurrences, int seglen,
           const std::vector<int>& lengths) {
            std::vector<partitioned::PartOccurrences> found;
            for (const py::tuple& entry : occurrences) found.push_back(occurrences_from_python(entry));
            std::vector<std::vector<double>> averages;
            {
                py::gil_scoped_release release;
                averages = partitioned::part_averages(series, found, seglen, lengths);
            }
            py::list result;
            for (std::size_t i = 0; i < averages.size(); ++i) {
                const auto width = static_cast<py::ssize_t>(lengths[i]);
                py::array_t<double> rows(
                    {static_cast<py::ssize_t>(found[i].series.size()), width},
                    {static_cast<py::ssize_t>(sizeof(double)) * width, static_cast<py::ssize_t>(sizeof(double))});
                std::copy(averages[i].begin(), averages[i].end(), rows.mutable_data());
                std::vector<double>().swap(averages[i]);  // one pattern's values held twice at a time, not all
                result.append(std::move(rows));
            }
            return result;
        },
        py::arg("series"), py::arg("occurrences"), py::arg("seglen"), py::arg("lengths"),
        "For each pattern's occurrences (of lengths[i] points), the average occurrence of each of its local "
        "series: a series x points array.");
    m.def(
        "bests",
        [](const SeriesViews& series, const std::vector<py::tuple>& occurrences, int seglen,
           const std::vector<int>& lengths, const std::vector<std::vector<double>>& representatives) {
            std::vector<partitioned::PartOccurrences> found;
            for (const py::tuple& entry : occurrences) found.push_back(occurrences_from_python(entry));
            std::vector<partitioned::PartBests> bests;
            {
                py::gil_scoped_release release;
                bests = partitioned::part_bests(series, found, seglen, lengths, representatives);
            }
            py::list result;
            for (const auto& best : bests)
                result.append(py::make_tuple(to_array(best.distances), to_array(best.points)));
            return result;
        },
        py::arg("series"), py::arg("occurrences"), py::arg("seglen"), py::arg("lengths"), py::arg("representatives"),
        "For each pattern, the distance and point index of each of its local series' best match.");
    m.def(
        "restore",
        [](const py::bytes& pattern, int seglen, const IntArray& series, const IntArray& rows, const EndArray& ends,
           const IntArray& positions,
           const std::vector<py::array_t<double, py::array::c_style | py::array::forcecast>>& averages,
           bool keep_averages) {
            if (series.size() != rows.size()) throw py::value_error("one row per series");
            // The rows of averages are those of the blocks one after another,
            // as each partition sent them: no joined copy is made.
            std::vector<const double*> row_of;
            py::ssize_t width = -1;
            for (const auto& block : averages) {
                if (block.ndim() != 2 || (width >= 0 && block.shape(1) != width))
                    throw py::value_error("blocks of averages are 2-D and of one width");
                width = block.shape(1);
                for (py::ssize_t r = 0; r < block.shape(0); ++r) row_of.push_back(block.data() + r * width);
            }
            if (static_cast<py::ssize_t>(row_of.size()) != ends.size())
                throw py::value_error("one row of averages per end of positions");
            std::vector<int> order(series.data(), series.data() + series.size());
            std::vector<std::vector<int>> listed(order.size());
            std::unordered_map<int, std::vector<double>> by_series;
            for (std::size_t k = 0; k < order.size(); ++k) {
                const int r = rows.data()[k];
                if (r < 0 || r >= ends.size()) throw py::index_error("no such row");
                const std::int64_t begin = r == 0 ? 0 : ends.data()[r - 1], end = ends.data()[r];
                if (begin > end || end > positions.size())
                    throw py::value_error("the ends of the positions are out of order");
                listed[k].assign(positions.data() + begin, positions.data() + end);
                const double* row = row_of[static_cast<std::size_t>(r)];
                by_series[order[k]].assign(row, row + width);
            }
            return Motif::restored(pattern_of(pattern), seglen, order, listed, by_series, keep_averages);
        },
        py::arg("pattern"), py::arg("seglen"), py::arg("series"), py::arg("rows"), py::arg("ends"),
        py::arg("positions"), py::arg("averages"), py::arg("keep_averages"),
        "A Motif mapped as far as its representative: `series` in the order first recorded, each with its row of "
        "`averages` (the rows of its blocks one after another) and of the positions "
        "(positions[ends[row - 1]:ends[row]]).");
    m.def(
        "finish",
        [](Motif& motif, const IntArray& series,
           const py::array_t<double, py::array::c_style | py::array::forcecast>& distances, const IntArray& points) {
            if (series.size() != distances.size() || series.size() != points.size())
                throw py::value_error("one distance and one point per series");
            std::unordered_map<int, std::pair<double, int>> best;
            for (py::ssize_t i = 0; i < series.size(); ++i)
                best[series.data()[i]] = {distances.data()[i], points.data()[i]};
            motif.set_best_matches(best);
        },
        py::arg("motif"), py::arg("series"), py::arg("distances"), py::arg("points"),
        "Completes a restored Motif with each series' best match: its distance and point.");
}

}  // namespace native
