#include "pipeline.h"

#include <algorithm>
#include <string>
#include <utility>

#include "miner.h"
#include "patterns.h"
#include "sax.h"

namespace {

// A motif's place in the ranking: its NAED and its place in the table.
struct Ranked {
    double naed;
    std::size_t index;
};

}  // namespace

std::vector<Motif> mine_motifs(const SeriesViews& series, const MinerSettings& settings, std::size_t max_patterns,
                               const Runner& runner) {
    // Z-normalisation and discretisation, series by series.
    const std::vector<double>& row = breakpoint_row(settings.alphabet);
    SeriesSet normalised(series.size());
    WordSet words(series.size());
    {
        StageCount counted(runner, kStageDiscretise, series.size());
        each(runner, counted, series.size(), [&](std::size_t i) {
            std::vector<double>& values = normalised[i];
            values.assign(series[i].values, series[i].values + series[i].size);
            znorm_series(values);
            words[i] = word_of(values.data(), values.size(), settings.seglen, row);
        });
    }

    // Mining reads the words all over: one compact copy of them, made in series
    // order, serves it far better than words scattered between the series.
    WordSet(words).swap(words);

    runner.report(kStageMine, 0, 0);
    FrequentTable frequent;
    {
        PatternMiner miner(settings.minsup, settings.min_len, settings.max_len, settings.max_overlap);
        miner.set_max_patterns(max_patterns);
        miner.mine(words, runner);
        frequent = miner.take_frequent();
    }
    WordSet().swap(words);
    runner.check_stop();
    check_mapping_fits({}, frequent, settings.seglen);
    if (settings.k < 0) throw std::length_error("cannot create std::vector larger than max_size()");

    // Every motif's NAED, then the ranking of Miner::sort_patterns on the
    // motifs in table order. When every motif is returned, each is mapped in
    // full at once; otherwise only its NAED is found first.
    std::vector<Motif*> records;
    records.reserve(frequent.size());
    for (auto& entry : frequent) records.push_back(&entry.second);
    const std::size_t n =
        settings.k == 0 ? records.size() : std::min(records.size(), static_cast<std::size_t>(settings.k));
    const bool every = n == records.size();
    std::vector<Ranked> ranked(records.size());
    {
        StageCount counted(runner, kStageMap, records.size());
        runner.run_ranges(records.size(), [&](std::size_t first, std::size_t last) {
            NaedScratch scratch;
            for (std::size_t i = first; i < last; ++i) {
                runner.check_stop();
                if (every) {
                    records[i]->map(normalised, settings.seglen);
                    ranked[i] = {records[i]->get_naed(), i};
                } else {
                    ranked[i] = {records[i]->mapped_naed(normalised, settings.seglen, scratch), i};
                }
                counted.add_one();
            }
        });
    }
    rank_by_naed(ranked.begin(), ranked.end(), [](const Ranked& r) { return r.naed; });

    // The motifs returned, mapped in full.
    std::vector<Motif> result;
    result.reserve(n);
    for (std::size_t j = 0; j < n; ++j) result.push_back(std::move(*records[ranked[j].index]));
    StageCount counted(runner, kStageCollect, n);
    each(runner, counted, every ? 0 : n, [&](std::size_t j) { result[j].map(normalised, settings.seglen); });
    if (every) runner.report(kStageCollect, n, n);
    return result;
}
