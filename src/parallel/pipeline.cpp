#include "parallel/pipeline.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <numeric>
#include <string>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "engine/miner.h"
#include "engine/patterns.h"
#include "engine/sax.h"

namespace {

// A motif's place in the ranking: its NAED and its place in the table.
struct Ranked {
    double naed;
    std::size_t index;
};

// What mapping a motif found beside its NAED (see NaedScratch).
struct Known {
    std::vector<double> representative;
    std::vector<int> best;
};

// The series of `list` with their positions, in the order in which the
// table `indexes` of its record lists them.
void runs_of(const OccurrenceList& list, std::vector<PositionRun>& runs) {
    runs.clear();
    for (const std::size_t i : Motif::table_order(list.series)) {
        runs.push_back(
            {list.series[i], list.positions.data() + list.begin_of(i), list.positions.data() + list.ends[i]});
    }
}

// Series are z-normalised as znorm_series() does it. Their scales are found
// four at a time (see scales_of_four), once: the words are made from them,
// and so is the normalised copy that mapping reads, in one pass over the input.
constexpr std::size_t kGroup = 4;

void scale_group(const SeriesViews& series, std::size_t g, std::vector<Scale>& scales) {
    const std::size_t first = g * kGroup;
    const std::size_t count = std::min(kGroup, series.size() - first);
    bool same = count == kGroup;
    for (std::size_t j = 1; j < count; ++j) same = same && series[first + j].size == series[first].size;
    if (same) {
        const double* const values[kGroup] = {series[first].values, series[first + 1].values, series[first + 2].values,
                                              series[first + 3].values};
        scales_of_four(values, series[first].size, scales.data() + first);
        return;
    }
    for (std::size_t j = 0; j < count; ++j)
        scales[first + j] = scale_of(series[first + j].values, series[first + j].size);
}

// The values of a series as write_scaled() writes them, read one by one. A
// vector assigned from them writes each element once; resized first, it would
// fill the copy with zeros in a pass of its own.
class ScaledValues {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = double;
    using difference_type = std::ptrdiff_t;
    using pointer = const double*;
    using reference = double;

    ScaledValues(const double* at, Scale scale) : at(at), scale(scale) {}
    double operator*() const { return scale.of(*at); }
    ScaledValues& operator++() {
        ++at;
        return *this;
    }
    ScaledValues operator++(int) {
        const ScaledValues before = *this;
        ++at;
        return before;
    }
    bool operator==(const ScaledValues& other) const { return at == other.at; }
    bool operator!=(const ScaledValues& other) const { return at != other.at; }

private:
    const double* at;
    Scale scale;
};

void write_normalised(const SeriesView& view, Scale scale, std::vector<double>& out) {
    out.assign(ScaledValues(view.values, scale), ScaledValues(view.values + view.size, scale));
}

// Mining leaves the heap full of freed lists. The normalised copy, made next,
// reuses most of that memory, which then costs no page faults; what it leaves
// unused (allocated in other sizes and on other threads) is handed back to
// the system then, so that it does not add to the peak when mapping builds
// the results. Small inputs skip it: their copy is small, and a loop of small
// calls would pay for it each time.
//
// Free memory beyond a quarter of the copy is not this call's leftovers but
// what earlier work (a larger call, say) left with the allocator: the
// process's peak holds it already, and handing it back would only have this
// call and the next ones fault it in again.
void give_back_freed_memory(const SeriesViews& series) {
#if defined(__GLIBC__)
    std::size_t points = 0;
    for (const SeriesView& view : series) points += view.size;
    if (points < (std::size_t{1} << 20)) return;
#if __GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33)
    if (mallinfo2().fordblks > points * sizeof(double) / 4) return;
#endif
    malloc_trim(0);
#else
    (void)series;
#endif
}

// Motifs differ in work by orders of magnitude, and a thread left alone
// with a large one at the end of a stage keeps the others waiting. Positions
// into `motifs` (places in `frequent`), the motifs with the most points to
// read first.
std::vector<std::size_t> largest_first(const FrequentLists& frequent, const std::vector<std::size_t>& motifs) {
    std::vector<std::pair<std::size_t, std::size_t>> work(motifs.size());
    for (std::size_t j = 0; j < motifs.size(); ++j) {
        const auto& [pattern, list] = frequent[motifs[j]];
        work[j] = {list.positions.size() * pattern.size(), j};
    }
    std::sort(work.begin(), work.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::size_t> order(motifs.size());
    for (std::size_t j = 0; j < motifs.size(); ++j) order[j] = work[j].second;
    return order;
}

}  // namespace

std::vector<Motif> mine_motifs(const SeriesViews& series, const MinerSettings& settings, std::size_t max_patterns,
                               const Runner& runner) {
    // Discretisation, series by series: each series is z-normalised into a
    // reused buffer and turned into its word. The normalised copy that
    // mapping reads is made once mining is over, so that it never sits in
    // memory beside mining's occurrences.
    const std::vector<double>& row = breakpoint_row(settings.alphabet);
    const std::size_t groups = (series.size() + kGroup - 1) / kGroup;
    WordSet words(series.size());
    std::vector<Scale> scales(series.size());
    {
        StageCount counted(runner, kStageDiscretise, series.size());
        runner.run_ranges(groups, [&](std::size_t first, std::size_t last) {
            std::vector<double> buffer;
            for (std::size_t g = first; g < last; ++g) {
                runner.check_stop();
                scale_group(series, g, scales);
                for (std::size_t i = g * kGroup; i < std::min(series.size(), (g + 1) * kGroup); ++i) {
                    write_normalised(series[i], scales[i], buffer);
                    words[i] = word_of(buffer.data(), buffer.size(), settings.seglen, row);
                    counted.add_one();
                }
            }
        });
    }

    // Mining reads the words all over: one compact copy of them, made in series
    // order, serves it far better than words scattered between the series.
    WordSet(words).swap(words);

    runner.report(kStageMine, 0, 0);
    FrequentLists frequent;
    {
        PatternMiner miner(settings.minsup, settings.min_len, settings.max_len, settings.max_overlap);
        miner.set_max_patterns(max_patterns);
        miner.mine(words, runner);
        frequent = miner.take_frequent_lists();
        miner.release(runner);
    }
    WordSet().swap(words);
    runner.check_stop();
    check_mapping_fits(frequent, settings.seglen);

    const std::size_t count = frequent.size();
    const std::size_t n = returned_count(settings.k, count);
    const bool every = n == count;
    SeriesSet normalised(series.size());
    std::vector<Ranked> ranked(count);
    // With every motif returned, each record is built and mapped in full at
    // once; otherwise only the NAED of each is found, from its occurrences,
    // and the representative and best occurrences it came from are kept: the
    // motifs returned then need only their averages.
    std::vector<Motif> records(every ? count : 0, Motif(Pattern{}));
    std::vector<Known> known(every ? 0 : count);
    {
        StageCount counted(runner, kStageMap, count);
        runner.run_ranges(groups, [&](std::size_t first, std::size_t last) {
            for (std::size_t g = first; g < last; ++g) {
                runner.check_stop();
                for (std::size_t i = g * kGroup; i < std::min(series.size(), (g + 1) * kGroup); ++i) {
                    write_normalised(series[i], scales[i], normalised[i]);
                }
            }
        });
        give_back_freed_memory(series);
        std::vector<std::size_t> every_motif(count);
        std::iota(every_motif.begin(), every_motif.end(), std::size_t{0});
        const std::vector<std::size_t> order = largest_first(frequent, every_motif);
        runner.run_ranges(count, [&](std::size_t first, std::size_t last) {
            NaedScratch scratch;
            for (std::size_t j = first; j < last; ++j) {
                runner.check_stop();
                const std::size_t i = order[j];
                auto& [pattern, list] = frequent[i];
                if (every) {
                    records[i] = list.record(pattern);
                    list = {};
                    records[i].map(normalised, settings.seglen);
                    ranked[i] = {records[i].get_naed(), i};
                } else {
                    runs_of(list, scratch.runs);
                    ranked[i] = {Motif::mapped_naed(pattern, normalised, settings.seglen, scratch), i};
                    known[i] = {scratch.representative, scratch.best};
                }
                counted.add_one();
            }
        });
    }
    // The ranking of Miner::sort_patterns on the motifs in table order.
    rank_by_naed(ranked.begin(), ranked.end(), [](const Ranked& r) { return r.naed; });

    // The motifs returned, mapped in full.
    std::vector<Motif> result;
    result.reserve(n);
    if (every) {
        for (const Ranked& r : ranked) result.push_back(std::move(records[r.index]));
        runner.report(kStageCollect, n, n);
        return result;
    }
    for (std::size_t j = n; j < count; ++j) {
        frequent[ranked[j].index].second = {};
        known[ranked[j].index] = {};
    }
    for (std::size_t j = 0; j < n; ++j) result.emplace_back(Pattern{});
    std::vector<std::size_t> returned(n);
    for (std::size_t j = 0; j < n; ++j) returned[j] = ranked[j].index;
    const std::vector<std::size_t> order = largest_first(frequent, returned);
    StageCount counted(runner, kStageCollect, n);
    each(runner, counted, n, [&](std::size_t k) {
        const std::size_t j = order[k];
        auto& [pattern, list] = frequent[ranked[j].index];
        result[j] = list.record(pattern);
        list = {};
        const Known& found = known[ranked[j].index];
        result[j].map_known(normalised, settings.seglen, found.representative, found.best, ranked[j].naed);
    });
    return result;
}
