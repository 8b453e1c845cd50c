#include "discovery/lengths.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <utility>

#include "discovery/chance.h"
#include "discovery/collection.h"
#include "discovery/join.h"
#include "discovery/seeds.h"
#include "parallel/pipeline.h"

std::vector<std::size_t> length_grid(std::size_t lo, std::size_t hi) {
    std::vector<std::size_t> grid{lo};
    const double step = std::pow(2.0, 1.0 / 6.0);
    for (int i = 1;; ++i) {
        const auto m = static_cast<std::size_t>(std::lround(static_cast<double>(lo) * std::pow(step, i)));
        if (m >= hi) break;
        if (m > grid.back()) grid.push_back(m);
    }
    if (hi > grid.back()) grid.push_back(hi);
    return grid;
}

std::size_t snap_length(const std::vector<std::size_t>& grid, double m) {
    const double x = std::clamp(m, static_cast<double>(grid.front()), static_cast<double>(grid.back()));
    std::size_t best = grid.front();
    for (std::size_t g : grid)
        if (std::abs(std::log(static_cast<double>(g) / x)) < std::abs(std::log(static_cast<double>(best) / x)))
            best = g;
    return best;
}

std::vector<std::size_t> joined_lengths(const std::vector<std::size_t>& grid) {
    const double lo = static_cast<double>(grid.front()), hi = static_cast<double>(grid.back());
    std::vector<std::size_t> joined;
    for (double m : {lo * std::sqrt(2.0), std::sqrt(lo * hi), hi / std::sqrt(2.0)}) {
        const std::size_t snapped = snap_length(grid, m);
        if (joined.empty() || snapped != joined.back()) joined.push_back(snapped);
    }
    return joined;
}

std::vector<std::size_t> chance_lengths(const std::vector<std::size_t>& grid) {
    std::vector<std::size_t> measured;
    for (std::size_t i = 0; i < grid.size(); i += 3) measured.push_back(grid[i]);
    if (measured.back() != grid.back()) measured.push_back(grid.back());
    return measured;
}

std::vector<std::pair<std::size_t, int>> length_tries(const std::vector<std::size_t>& grid, std::size_t m) {
    const auto i = static_cast<long long>(std::lower_bound(grid.begin(), grid.end(), m) - grid.begin());
    std::vector<std::pair<std::size_t, int>> tries;
    for (long long d : {-2LL, -1LL, 1LL, 2LL}) {
        const long long g = i + d;
        if (g < 0 || g >= static_cast<long long>(grid.size())) continue;
        for (int anchor : {0, 1, 2}) tries.emplace_back(grid[static_cast<std::size_t>(g)], anchor);
    }
    return tries;
}

long long resized_start(long long start, std::size_t from, std::size_t m, int anchor, std::size_t size) {
    if (size < m) return -1;
    const long long grown = static_cast<long long>(m) - static_cast<long long>(from);
    const long long moved = anchor == 0 ? start : anchor == 1 ? start - grown / 2 : start - grown;
    return std::clamp(moved, 0LL, static_cast<long long>(size - m));
}

namespace {

// The two views of the collection at each length the search has used so far.
// Built between parallel steps (build), read during them (at).
class Lengths {
public:
    Lengths(Collection& collection, const DiscoverySettings& settings, const std::vector<std::size_t>& sample)
        : collection(collection),
          settings(settings),
          sample(sample),
          grid(length_grid(settings.length, settings.max_length)) {}

    void build(std::vector<std::size_t> lengths, const Runner& runner) {
        std::sort(lengths.begin(), lengths.end());
        lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
        for (std::size_t m : lengths) {
            if (built.count(m)) continue;
            add(m, collection.raw_view(m, runner), runner);
        }
    }
    void add(std::size_t m, Refiner raw, const Runner& runner) {
        At entry;
        entry.views = collection.views(std::move(raw), runner);
        const Refiner& fine = entry.views->raw;
        entry.need = fine.usable_count() ? need_of(settings.minsup, fine.usable_count()) : 0;
        for (std::size_t s : sample)
            if (fine.usable(s)) entry.sample.push_back(s);
        entry.sample_need = entry.sample.empty() ? 0 : need_of(settings.minsup, entry.sample.size());
        built.emplace(m, std::move(entry));
    }

    struct At {
        std::unique_ptr<Collection::Views> views;
        std::size_t need = 0;             // 0: no series has a window of this length
        std::vector<std::size_t> sample;  // the sample's series with such a window
        std::size_t sample_need = 0;
        const BothViews& both() const { return views->both; }
    };
    const At& at(std::size_t m) const { return built.at(m); }

    std::size_t snap(double m) const { return snap_length(grid, m); }
    const std::vector<std::size_t>& lengths() const { return grid; }

private:
    Collection& collection;
    const DiscoverySettings& settings;
    const std::vector<std::size_t>& sample;
    std::vector<std::size_t> grid;
    std::map<std::size_t, At> built;
};

// A candidate at its own length, and what ranks it (standing_of).
struct Sized {
    Candidate candidate;
    std::size_t length = 0;
    double relative = 0.0;
    std::string pattern;
};

double relative_of(const Candidate& candidate, std::size_t m, const ChanceLevels& chance) {
    return standing_of(candidate.score, m, chance.at(m));
}

// Positions into `sized` ranked by relative score (equal ones keep their
// order), one per place, at most `limit`.
std::vector<std::size_t> ranked_sized(const std::vector<Sized>& sized, double share, std::size_t limit,
                                      double overlap) {
    std::vector<Candidate> candidates;
    std::vector<std::size_t> lengths;
    std::vector<double> relative;
    for (const Sized& s : sized) {
        candidates.push_back(s.candidate);
        lengths.push_back(s.length);
        relative.push_back(s.relative);
    }
    return ranked_places(candidates, lengths, relative, share, limit, overlap);
}

// Candidate shapes from the engine's motifs on one view: each at the grid
// length nearest its pattern's span. With `white`, the engine ran on the
// whitened view, and each seed becomes the raw window at its place.
void engine_seeds(const EngineInput& input, bool white, Lengths& lengths, const DiscoverySettings& settings,
                  int alphabet, const Runner& runner, std::vector<Seed>& seeds) {
    std::vector<Motif> motifs = engine_motifs(input, settings, alphabet, runner);
    std::vector<std::size_t> length_of;
    for (Motif& motif : motifs) length_of.push_back(lengths.snap(static_cast<double>(motif.get_length())));
    lengths.build(length_of, runner);
    std::vector<std::vector<Seed>> found(motifs.size());
    StageCount counted(runner, kStageCandidates, motifs.size());
    each(runner, counted, motifs.size(), [&](std::size_t i) {
        const Collection::Views& views = *lengths.at(length_of[i]).views;
        found[i] = seeds_of(motifs[i], input, white ? views.white : views.raw, settings);
        if (white) {
            for (Seed& seed : found[i]) seed.shape = raw_window(views.raw, seed.place);
        }
    });
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (Seed& seed : found[i]) {
            if (seed.shape.empty()) continue;
            seed.rank = i;
            seeds.push_back(std::move(seed));
        }
    }
}

// The chance score at lengths half an octave apart (the range's ends
// included): shapes of no recurring form, each compared with every series.
ChanceLevels chance_levels(Lengths& lengths, const DiscoverySettings& settings, const Runner& runner) {
    const std::vector<std::size_t> measured = chance_lengths(lengths.lengths());
    lengths.build(measured, runner);
    const std::size_t q = std::max<std::size_t>(settings.chance_shapes, 1);
    // The shapes cut first, then each compared with every series.
    std::vector<std::vector<double>> shapes(measured.size() * q);
    for (std::size_t unit = 0; unit < shapes.size(); ++unit) {
        const std::size_t m = measured[unit / q], j = unit % q;
        const Lengths::At& at = lengths.at(m);
        if (at.sample.empty()) continue;
        const Refiner& raw = at.views->raw;
        std::vector<std::size_t> windows;
        for (std::size_t s : at.sample) windows.push_back(raw.view(s).size - m + 1);
        for (std::size_t attempt = 0; attempt < kChanceAttempts && shapes[unit].empty(); ++attempt) {
            const auto [position, start] = chance_place(unit, j, q, attempt, windows);
            const std::vector<double> window = raw_window(raw, {at.sample[position], static_cast<long long>(start)});
            if (!window.empty()) shapes[unit] = surrogate(window, chance_seed(m, j));
        }
    }
    std::vector<double> scores(shapes.size(), -1.0);
    StageCount counted(runner, kStageScreen, scores.size());
    each(runner, counted, shapes.size(), [&](std::size_t unit) {
        if (shapes[unit].empty()) return;
        const Lengths::At& at = lengths.at(measured[unit / q]);
        scores[unit] = at.both().evaluate(shapes[unit], at.need).score;
    });
    ChanceLevels chance;
    for (std::size_t unit = 0; unit < scores.size(); ++unit)
        if (scores[unit] > 0.0) chance.add(measured[unit / q], scores[unit]);
    return chance;
}

// The mean of the z-normalised windows of m points that `starts` (windows of
// `from` points) of series `series` become, each kept at its `anchor` and
// within its series. Empty when no window fits or the mean is flat.
std::vector<double> resized(const Refiner& raw, const std::vector<std::size_t>& series,
                            const std::vector<long long>& starts, std::size_t from, int anchor) {
    const std::size_t m = raw.length();
    std::vector<ExactSum> sums(m);
    std::size_t taken = 0;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const long long start = resized_start(starts[i], from, m, anchor, raw.view(series[i]).size);
        if (start < 0) continue;
        add_window(sums, raw.view(series[i]).values, static_cast<std::size_t>(start), m,
                   raw.window_stats_of(series[i]));
        ++taken;
    }
    return taken ? shape_from_sums(sums, taken) : std::vector<double>{};
}

// A pool candidate stepping in length: each step tries the grid lengths one
// and two steps shorter and longer, each grown or shrunk at the start, the
// middle or the end: the shape is the mean of its closest series' best
// matches so resized. The tries are compared with the sample, the best of
// them with every series; the candidate moves to it while that ranks better,
// and its closest series and their best matches become that shape's.
struct Walk {
    std::size_t length = 0;
    std::vector<double> shape;
    std::vector<std::size_t> series;  // the closest series
    std::vector<long long> starts;    // their windows at `length`
    double relative = 0.0;            // with every series
    bool done = false;
};

void walk_lengths(std::vector<Walk>& walks, Lengths& lengths, const ChanceLevels& chance,
                  const DiscoverySettings& settings, const Runner& runner) {
    const std::vector<std::size_t>& grid = lengths.lengths();
    for (std::size_t step = 0; step < settings.length_steps; ++step) {
        // The tries of every walk still going, built first, then judged in parallel.
        struct Try {
            std::size_t walk, length;
            int anchor;
        };
        std::vector<Try> tries;
        for (std::size_t w = 0; w < walks.size(); ++w) {
            if (walks[w].done) continue;
            for (const auto& [m, anchor] : length_tries(grid, walks[w].length)) tries.push_back({w, m, anchor});
        }
        if (tries.empty()) break;
        std::vector<std::size_t> needed;
        for (const Try& t : tries) needed.push_back(t.length);
        lengths.build(needed, runner);
        // Each try judged on the sample; the best of each walk's then with every series.
        std::vector<Walk> tried(tries.size());
        StageCount counted(runner, kStageRefine, tries.size());
        each(runner, counted, tries.size(), [&](std::size_t t) {
            const Walk& from = walks[tries[t].walk];
            const std::size_t m = tries[t].length;
            const Lengths::At& at = lengths.at(m);
            Walk& to = tried[t];
            to.length = m;
            to.relative = INFINITY;
            if (at.sample.empty()) return;
            to.shape = resized(at.views->raw, from.series, from.starts, from.length, tries[t].anchor);
            if (to.shape.empty()) return;
            to.relative = relative_of(at.both().evaluate_on(to.shape, at.sample, at.sample_need), m, chance);
        });
        std::vector<std::size_t> chosen(walks.size(), tries.size());
        for (std::size_t t = 0; t < tries.size(); ++t) {
            std::size_t& best = chosen[tries[t].walk];
            if (tried[t].relative < INFINITY && (best == tries.size() || tried[t].relative < tried[best].relative))
                best = t;
        }
        StageCount compared(runner, kStageRefine, walks.size());
        each(runner, compared, walks.size(), [&](std::size_t w) {
            if (walks[w].done) return;
            if (chosen[w] == tries.size()) {
                walks[w].done = true;
                return;
            }
            Walk& to = tried[chosen[w]];
            const Lengths::At& at = lengths.at(to.length);
            const Candidate c = at.both().evaluate(to.shape, at.need);
            to.relative = relative_of(c, to.length, chance);
            if (!(to.relative < walks[w].relative)) {
                walks[w].done = true;
                return;
            }
            to.series = closest_series(c.distance, c.best, at.need);
            for (std::size_t s : to.series) to.starts.push_back(c.best[s]);
            walks[w] = std::move(to);
        });
    }
}

}  // namespace

Discovery discover_lengths(const SeriesViews& series, const DiscoverySettings& settings, const Runner& runner) {
    const std::size_t lo = settings.length;
    Discovery result;
    Collection collection(series, settings.detrend_window, settings.flat_tol, runner);
    Refiner shortest = collection.raw_view(lo, runner);
    for (std::size_t s = 0; s < series.size(); ++s)
        if (series[s].size >= lo && !shortest.usable(s)) result.flat_series.push_back(s);
    if (shortest.usable_count() == 0 || settings.k == 0) return result;
    collection.whiten_with(shortest, runner);
    const Sample sample = sample_of(shortest, settings);
    Lengths lengths(collection, settings, sample.series);
    lengths.add(lo, std::move(shortest), runner);
    const Collection::Views& base = *lengths.at(lo).views;

    // Candidates: the engine's runs on the two views, at the lengths of their
    // patterns; the joins at three lengths across the range.
    std::vector<Seed> seeds;
    {
        const EngineInput input = engine_input(base.raw, base.raw, runner);
        for (int alphabet : settings.alphabets) engine_seeds(input, false, lengths, settings, alphabet, runner, seeds);
    }
    {
        const EngineInput input = engine_input(base.white, base.raw, runner);
        for (int alphabet : settings.alphabets) engine_seeds(input, true, lengths, settings, alphabet, runner, seeds);
    }
    const std::vector<std::size_t> joined = joined_lengths(lengths.lengths());
    lengths.build(joined, runner);
    for (std::size_t m : joined) {
        const Lengths::At& at = lengths.at(m);
        join_seeds(at.both(), at.sample, settings, runner, seeds);
    }
    std::stable_sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.rank < b.rank; });
    result.candidates = seeds.size();

    const ChanceLevels chance = chance_levels(lengths, settings, runner);

    // Seeds from one place at one length merged; the engines' best first.
    std::vector<std::size_t> merged;
    {
        std::map<std::size_t, std::vector<std::size_t>> by_length;
        for (std::size_t i = 0; i < seeds.size(); ++i) by_length[seeds[i].shape.size()].push_back(i);
        for (const auto& [m, members] : by_length) {
            std::vector<SeedPlace> places;
            for (std::size_t i : members) places.push_back(seeds[i].place);
            for (std::size_t kept : merge_places(places, merge_distance(settings.merge_apart, m)))
                merged.push_back(members[kept]);
        }
        std::sort(merged.begin(), merged.end());
        if (settings.most_candidates > 0 && merged.size() > settings.most_candidates)
            merged.resize(settings.most_candidates);
    }
    result.screened = merged.size();

    // Screening: on the sample first when the candidates are many, then the
    // best of them at distinct places (and the joins') with every series.
    std::vector<Sized> first(merged.size());
    for (std::size_t i = 0; i < merged.size(); ++i) {
        first[i].candidate.shape = seeds[merged[i]].shape;
        first[i].length = seeds[merged[i]].shape.size();
        first[i].pattern = seeds[merged[i]].pattern;
    }
    std::vector<std::size_t> compared(merged.size());
    std::iota(compared.begin(), compared.end(), std::size_t{0});
    if (sample.series.size() < sample.usable.size() && merged.size() > settings.survivors) {
        StageCount counted(runner, kStageScreen, merged.size());
        each(runner, counted, merged.size(), [&](std::size_t i) {
            const Lengths::At& at = lengths.at(first[i].length);
            if (at.sample.empty()) {
                first[i].relative = INFINITY;
                return;
            }
            first[i].candidate = screened_on_sample(at.both(), first[i].candidate.shape, at.sample, at.sample_need);
            first[i].relative = relative_of(first[i].candidate, first[i].length, chance);
        });
        compared = ranked_sized(first, settings.same_place, settings.survivors, 0.5);
        for (std::size_t i = 0; i < merged.size(); ++i)
            if (seeds[merged[i]].joined && std::find(compared.begin(), compared.end(), i) == compared.end())
                compared.push_back(i);
    }
    std::vector<Sized> screened;
    for (std::size_t i : compared) screened.push_back(std::move(first[i]));
    {
        StageCount counted(runner, kStageScreen, screened.size());
        for (Sized& c : screened) {
            const Lengths::At& at = lengths.at(c.length);
            c.candidate = at.both().evaluate(std::move(c.candidate.shape), at.need, runner);
            c.relative = relative_of(c.candidate, c.length, chance);
            counted.add_one();
        }
    }
    std::vector<Sized> pool;
    for (std::size_t i : ranked_sized(screened, settings.same_place, settings.pool, 0.5))
        pool.push_back(std::move(screened[i]));

    // Each of the pool refined at its length, then stepping in length.
    {
        StageCount counted(runner, kStageRefine, pool.size());
        for (Sized& c : pool) {
            runner.check_stop();
            const Lengths::At& at = lengths.at(c.length);
            c.candidate = at.both().refine(std::move(c.candidate.shape), at.need, settings.iterations, runner);
            c.relative = relative_of(c.candidate, c.length, chance);
            counted.add_one();
        }
    }
    // Only the candidates that rank among the k best at their first lengths
    // step: the others seldom come up that far, and stepping costs more than
    // anything else here.
    std::vector<Walk> walks(pool.size());
    std::vector<std::size_t> leading(pool.size());
    std::iota(leading.begin(), leading.end(), std::size_t{0});
    std::stable_sort(leading.begin(), leading.end(),
                     [&](std::size_t a, std::size_t b) { return pool[a].relative < pool[b].relative; });
    leading.resize(std::min(leading.size(), settings.k));
    for (std::size_t w = 0; w < pool.size(); ++w) {
        const Lengths::At& at = lengths.at(pool[w].length);
        walks[w].length = pool[w].length;
        walks[w].shape = pool[w].candidate.shape;
        walks[w].series = closest_series(pool[w].candidate.distance, pool[w].candidate.best, at.need);
        for (std::size_t s : walks[w].series) walks[w].starts.push_back(pool[w].candidate.best[s]);
        walks[w].relative = pool[w].relative;
        walks[w].done = std::find(leading.begin(), leading.end(), w) == leading.end();
    }
    walk_lengths(walks, lengths, chance, settings, runner);
    {
        StageCount counted(runner, kStageRefine, pool.size());
        for (std::size_t w = 0; w < pool.size(); ++w) {
            runner.check_stop();
            counted.add_one();
            if (walks[w].length == pool[w].length) continue;
            const Lengths::At& at = lengths.at(walks[w].length);
            Candidate moved = at.both().refine(std::move(walks[w].shape), at.need, settings.iterations, runner);
            const double relative = relative_of(moved, walks[w].length, chance);
            if (relative < pool[w].relative) {
                pool[w].candidate = std::move(moved);
                pool[w].length = walks[w].length;
                pool[w].relative = relative;
            }
        }
    }
    const std::vector<std::size_t> kept = ranked_sized(pool, settings.same_place, settings.k, settings.place_overlap);

    std::vector<Kept> returned;
    for (std::size_t i : kept)
        returned.push_back({std::move(pool[i].candidate), pool[i].length, chance.at(pool[i].length), pool[i].pattern});
    result.motifs = returned_motifs(
        std::move(returned), series.size(),
        [&](const Kept& motif, std::size_t s) {
            return lengths.at(motif.length).both().occurrences(motif.candidate.shape, s, settings.radius);
        },
        runner);
    return result;
}
