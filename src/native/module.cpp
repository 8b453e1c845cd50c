// The Python face of the package's own native work: module `zef._native`.
// Discovery (zef.discover) returns numpy arrays and plain values, from which
// zef/discovery.py builds its result objects. The calls that use every core
// (zef.mine, zef.discover) run on the calling thread and threads of their own
// with the interpreter lock released; in short ticks the calling thread takes
// the lock to let signal handlers run (Ctrl-C) and to report progress. No class is
// registered here: Motif objects are those of `_zef_cpp`, which is imported
// first so that its types are known.
#include <pybind11/numpy.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "casters/casters.h"
#include "core/pool.h"
#include "core/progress.h"
#include "discovery/detrend.h"
#include "discovery/discovery.h"
#include "discovery/refine.h"
#include "engine/miner.h"
#include "engine/motif.h"
#include "parallel/pipeline.h"
#include "partitioned/partitioned_discovery.h"
#include "partitioned/partitioned_mining.h"

namespace py = pybind11;

namespace {

// How often the calling thread looks for signals and progress.
constexpr std::chrono::milliseconds kTick{10};

// Runs work(runner) on a pool of `threads` threads with the interpreter lock
// released, and returns its result. The calling thread is one of them: the
// memory the work allocates there comes from the allocator's arena of the
// calling thread, warm from earlier calls, where a thread started for each
// call would begin with a cold one and fault its pages in again. About every
// tick, at its next check for a stop or while it waits for the other
// threads, the calling thread takes the lock, runs pending signal handlers
// and calls progress(stage, done, total) when the progress has changed. An
// exception there (KeyboardInterrupt from Ctrl-C, or one raised by the
// callback) stops the work and is raised once the work has ended. The engine
// never calls into Python: only the calling thread does, here.
template <typename Work>
auto run_watched(std::size_t threads, const py::object& progress, Work work) {
    using Result = decltype(work(std::declval<const Runner&>()));
    using Clock = std::chrono::steady_clock;
    Pool pool(threads);
    ProgressState state;
    Runner runner = pool.runner();
    const bool listening = !progress.is_none();
    if (listening) {
        runner.progress = [&state](const char* stage, std::size_t done, std::size_t total) {
            state.report(stage, done, total);
        };
    }
    ProgressState::Snapshot shown;
    auto show_progress = [&] {
        const auto [ended, now] = state.read();
        // A stage seen while it ran is seen once more as it ended, with its last count.
        for (const ProgressState::Snapshot& last : ended) {
            if (last.stage != shown.stage || last == shown) continue;
            shown = last;
            progress(last.stage, last.done, last.total);
        }
        if (now.stage == nullptr || now == shown) return;
        shown = now;
        progress(now.stage, now.done, now.total);
    };

    std::exception_ptr interruption;  // raised in Python while the work ran
    const std::thread::id caller = std::this_thread::get_id();
    Clock::time_point next_look = Clock::now() + kTick;
    const auto look = [&] {
        if (std::this_thread::get_id() != caller || interruption) return;  // the state below is the caller's
        const Clock::time_point now = Clock::now();
        if (now < next_look) return;
        next_look = now + kTick;
        py::gil_scoped_acquire held;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (listening) show_progress();
        } catch (...) {
            interruption = std::current_exception();
            pool.request_stop();
        }
    };
    runner.check = [&] {
        look();
        pool.check();
    };
    pool.set_waiting(look, kTick);

    std::optional<Result> result;
    std::exception_ptr failure;  // thrown by the work
    {
        py::gil_scoped_release released;
        try {
            result.emplace(work(static_cast<const Runner&>(runner)));
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (interruption) std::rethrow_exception(interruption);
    if (failure) std::rethrow_exception(failure);
    if (listening) show_progress();  // the final count
    return std::move(*result);
}

std::size_t thread_count(long long threads) {
    if (threads < 1) throw py::value_error("threads must be 1 or more, not " + std::to_string(threads));
    return static_cast<std::size_t>(threads);
}

void bind_mine(py::module_& m) {
    py::register_exception<TooManyPatterns>(m, "TooManyPatterns", PyExc_RuntimeError);
    m.def(
        "mine",
        [](const SeriesViews& series, double minsup, int seglen, int alphabet, int min_len, int max_len,
           double max_overlap, int k, long long threads, const py::object& progress,
           std::optional<std::size_t> max_patterns) {
            const MinerSettings settings{minsup, seglen, alphabet, min_len, max_len, max_overlap, k};
            const std::size_t limit = max_patterns.value_or(kNoPatternLimit);
            return run_watched(thread_count(threads), progress,
                               [&](const Runner& runner) { return mine_motifs(series, settings, limit, runner); });
        },
        py::arg("series"), py::arg("minsup"), py::arg("seglen"), py::arg("alphabet"), py::arg("min_len"),
        py::arg("max_len"), py::arg("max_overlap"), py::arg("k"), py::arg("threads"), py::arg("progress"),
        py::arg("max_patterns"));
}

// A 1-D array of the values. Strides are given explicitly: pybind11 2.11
// reads the item size from numpy 1's descriptor layout, which numpy 2 changed.
template <typename T>
py::array_t<T> to_array(const std::vector<T>& values) {
    py::array_t<T> out({static_cast<py::ssize_t>(values.size())}, {static_cast<py::ssize_t>(sizeof(T))});
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

py::dict to_python(const Discovery& found) {
    py::list motifs;
    for (const DiscoveredMotif& motif : found.motifs) {
        py::list occurrences;
        for (const auto& starts : motif.occurrences) occurrences.append(to_array(starts));
        py::dict entry;
        entry["shape"] = to_array(motif.shape);
        entry["best"] = to_array(motif.best);
        entry["distance"] = to_array(motif.distance);
        entry["occurrences"] = std::move(occurrences);
        entry["score"] = motif.score;
        entry["pattern"] = py::bytes(motif.pattern);
        motifs.append(std::move(entry));
    }
    py::dict result;
    result["motifs"] = std::move(motifs);
    result["flat_series"] = found.flat_series;
    result["candidates"] = found.candidates;
    return result;
}

void bind_discover(py::module_& m) {
    m.def(
        "discover",
        [](const SeriesViews& series, std::size_t length, double minsup, double engine_minsup, int seglen,
           std::vector<int> alphabets, int min_len, int max_len, double max_overlap, std::size_t detrend_window,
           double flat_tol, double radius, int iterations, std::size_t seeds_per_motif, std::size_t pool,
           std::size_t coarse, double same_place, double place_overlap, std::size_t k, long long threads,
           const py::object& progress, std::optional<std::size_t> max_patterns) {
            DiscoverySettings settings;
            settings.length = length;
            settings.minsup = minsup;
            settings.seglen = seglen;
            settings.engine_minsup = engine_minsup;
            settings.alphabets = std::move(alphabets);
            settings.min_len = min_len;
            settings.max_len = max_len;
            settings.max_overlap = max_overlap;
            settings.detrend_window = detrend_window;
            settings.flat_tol = flat_tol;
            settings.radius = radius;
            settings.iterations = iterations;
            settings.seeds_per_motif = seeds_per_motif;
            settings.pool = pool;
            settings.coarse = coarse;
            settings.same_place = same_place;
            settings.place_overlap = place_overlap;
            settings.k = k;
            settings.max_patterns = max_patterns.value_or(kNoPatternLimit);
            const Discovery found = run_watched(thread_count(threads), progress, [&](const Runner& runner) {
                return discover(series, settings, runner);
            });
            return to_python(found);
        },
        py::arg("series"), py::arg("length"), py::arg("minsup"), py::arg("engine_minsup"), py::arg("seglen"),
        py::arg("alphabets"), py::arg("min_len"), py::arg("max_len"), py::arg("max_overlap"), py::arg("detrend_window"),
        py::arg("flat_tol"), py::arg("radius"), py::arg("iterations"), py::arg("seeds_per_motif"), py::arg("pool"),
        py::arg("coarse"), py::arg("same_place"), py::arg("place_overlap"), py::arg("k"), py::arg("threads"),
        py::arg("progress"), py::arg("max_patterns"),
        "Motifs of `length` points in `series` (float64 arrays), best first: a dict of numpy arrays.");
    m.def(
        "distance_profile",
        [](const std::vector<double>& shape, const std::vector<double>& values, double flat_tol) {
            const std::size_t m = shape.size(), n = values.size();
            if (m < 2 || n < m)
                throw py::value_error("need a shape of at least 2 points and a series at least as long");
            std::vector<double> out(n - m + 1);
            {
                py::gil_scoped_release release;
                const WindowStats stats = window_stats(values.data(), n, m, flat_tol);
                distance_profile(shape.data(), m, values.data(), n, stats, out.data());
            }
            return to_array(out);
        },
        py::arg("shape"), py::arg("values"), py::arg("flat_tol"),
        "Distance of a z-normalised shape to every window of a series (2 for a flat window).");
    m.def(
        "detrend",
        [](const std::vector<double>& values, std::size_t window) {
            return to_array(detrend(values.data(), values.size(), window));
        },
        py::arg("values"), py::arg("window"), "The series less its moving average over `window` points.");
}

// zef.dask: the steps that run on the partitions of a collection and those
// that the client runs over patterns and per-series values.
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

void bind_dask(py::module_& m) {
    m.def(
        "dask_first_level",
        [](const py::list& words) { return table_to_python(partitioned::first_level(words_of(words))); },
        py::arg("words"), "Every symbol of the words with its occurrences (series, ends, positions).");
    m.def(
        "dask_extend",
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
        "dask_join",
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
        "dask_redundant",
        [](const std::vector<py::bytes>& survivors, double max_overlap) {
            std::vector<Pattern> patterns;
            for (const py::bytes& p : survivors) patterns.push_back(pattern_of(p));
            const std::vector<bool> erased = partitioned::redundant_patterns(patterns, max_overlap);
            return std::vector<bool>(erased.begin(), erased.end());
        },
        py::arg("survivors"), py::arg("max_overlap"),
        "Which survivors of the length filter the redundancy filter erases.");
    m.def(
        "dask_table_order", [](const std::vector<int>& series) { return Motif::table_order(series); },
        py::arg("series"), "Positions into `series` in the order in which a Motif's table lists them.");
    m.def(
        "dask_rank", [](const std::vector<double>& naeds) { return partitioned::rank_order(naeds); }, py::arg("naeds"),
        "Indexes of `naeds` in the order of the Miner's ranking.");
    m.def(
        "dask_words",
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
        "dask_averages",
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
        "dask_bests",
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
        "dask_restore",
        [](const py::bytes& pattern, int seglen, const IntArray& series, const IntArray& rows, const EndArray& ends,
           const IntArray& positions, const py::array_t<double, py::array::c_style | py::array::forcecast>& averages,
           bool keep_averages) {
            if (series.size() != rows.size()) throw py::value_error("one row per series");
            if (averages.ndim() != 2 || averages.shape(0) != ends.size())
                throw py::value_error("one row of averages per end of positions");
            const auto width = static_cast<std::size_t>(averages.shape(1));
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
                const double* row = averages.data() + static_cast<std::size_t>(r) * width;
                by_series[order[k]].assign(row, row + width);
            }
            return Motif::restored(pattern_of(pattern), seglen, order, listed, by_series, keep_averages);
        },
        py::arg("pattern"), py::arg("seglen"), py::arg("series"), py::arg("rows"), py::arg("ends"),
        py::arg("positions"), py::arg("averages"), py::arg("keep_averages"),
        "A Motif mapped as far as its representative: `series` in the order first recorded, each with its row of "
        "`averages` and of the positions (positions[ends[row - 1]:ends[row]]).");
    m.def(
        "dask_finish",
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

// zef.dask.discover: a partition is held in Python as its detrended series
// (float64 arrays) and the flags of their flat windows (uint8 arrays); each
// step on it measures the windows again from these.
using FlagArray = py::array_t<unsigned char, py::array::c_style | py::array::forcecast>;
using FloatArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<long long, py::array::c_style | py::array::forcecast>;

DiscoverySettings part_settings(std::size_t length, double flat_tol) {
    if (length < 2) throw py::value_error("the motif length must be at least 2 points");
    DiscoverySettings settings;
    settings.length = length;
    settings.flat_tol = flat_tol;
    return settings;
}

std::vector<std::vector<unsigned char>> flags_of(const std::vector<FlagArray>& flat) {
    std::vector<std::vector<unsigned char>> result;
    result.reserve(flat.size());
    for (const FlagArray& f : flat) result.emplace_back(f.data(), f.data() + f.size());
    return result;
}

template <typename T>
std::vector<T> vector_of(const py::array_t<T, py::array::c_style | py::array::forcecast>& a) {
    return std::vector<T>(a.data(), a.data() + a.size());
}

SeriesSet rows_of(const FloatArray& shapes) {
    if (shapes.ndim() != 2) throw py::value_error("shapes are a 2-D array, one shape per row");
    SeriesSet rows(static_cast<std::size_t>(shapes.shape(0)));
    const auto width = static_cast<std::size_t>(shapes.shape(1));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].assign(shapes.data() + i * width, shapes.data() + (i + 1) * width);
    return rows;
}

template <typename T>
py::array_t<T> to_matrix(const std::vector<std::vector<T>>& rows, std::size_t width) {
    py::array_t<T> out({static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(width)},
                       {static_cast<py::ssize_t>(width * sizeof(T)), static_cast<py::ssize_t>(sizeof(T))});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].size() != width) throw std::logic_error("rows of one width");
        std::copy(rows[i].begin(), rows[i].end(), out.mutable_data() + i * width);
    }
    return out;
}

void bind_dask_discovery(py::module_& m) {
    m.def(
        "dask_discovery_prepare",
        [](const SeriesViews& rows, std::size_t length, std::size_t detrend_window, double flat_tol) {
            DiscoverySettings settings = part_settings(length, flat_tol);
            settings.detrend_window = detrend_window;
            partitioned::PreparedPart part;
            {
                py::gil_scoped_release release;
                part = partitioned::prepare_part(rows, settings);
            }
            // Each series' values are released once in their array: the partition is not held twice.
            py::list prepared, flat;
            for (auto& values : part.prepared) {
                prepared.append(to_array(values));
                std::vector<double>().swap(values);
            }
            for (auto& flags : part.flat) {
                flat.append(to_array(flags));
                std::vector<unsigned char>().swap(flags);
            }
            return py::make_tuple(prepared, flat, to_array(part.usable));
        },
        py::arg("rows"), py::arg("length"), py::arg("detrend_window"), py::arg("flat_tol"),
        "Each series detrended (float64 arrays), the flags of its flat windows (uint8 arrays), and whether it "
        "has a window that is not flat (uint8 array).");
    m.def(
        "dask_discovery_seeds",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           std::size_t seeds_per_motif, const std::vector<py::tuple>& motifs) {
            DiscoverySettings settings = part_settings(length, flat_tol);
            settings.seeds_per_motif = seeds_per_motif;
            std::vector<partitioned::MotifMatches> matches;
            for (const py::tuple& motif : motifs) {
                if (motif.size() != 4) throw py::value_error("a motif is (series, points, representative, span)");
                matches.push_back({vector_of(motif[0].cast<IndexArray>()), vector_of(motif[1].cast<IndexArray>()),
                                   vector_of(motif[2].cast<FloatArray>()), motif[3].cast<long long>()});
            }
            const auto flags = flags_of(flat);
            std::vector<partitioned::PartSeeds> found;
            {
                py::gil_scoped_release release;
                found =
                    partitioned::part_seeds(partitioned::part_refiner(prepared, flags, settings), matches, settings);
            }
            py::list result;
            for (const auto& seeds : found)
                result.append(py::make_tuple(to_array(seeds.gap), to_array(seeds.series), to_array(seeds.point),
                                             to_matrix(seeds.shapes, length)));
            return result;
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("seeds_per_motif"),
        py::arg("motifs"),
        "For each engine motif (local series, points, representative, span): the gaps, local series, points and "
        "shapes of the partition's candidate shapes.");
    m.def(
        "dask_discovery_evaluate",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           const FloatArray& shapes, std::size_t factor) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            const SeriesSet rows = rows_of(shapes);
            const auto flags = flags_of(flat);
            std::vector<Candidate> found;
            {
                py::gil_scoped_release release;
                found = partitioned::part_evaluate(partitioned::part_refiner(prepared, flags, settings), rows, factor,
                                                   settings);
            }
            std::vector<std::vector<double>> distances;
            std::vector<std::vector<long long>> bests;
            for (Candidate& c : found) {
                distances.push_back(std::move(c.distance));
                bests.push_back(std::move(c.best));
            }
            return py::make_tuple(to_matrix(distances, prepared.size()), to_matrix(bests, prepared.size()));
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("shapes"),
        py::arg("factor"),
        "Distances and starts of each shape's best match in each series (shapes x series arrays; -1: none).");
    m.def(
        "dask_discovery_sums",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           const std::vector<IndexArray>& series, const std::vector<IndexArray>& starts) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            std::vector<std::vector<long long>> which, where;
            for (const auto& s : series) which.push_back(vector_of(s));
            for (const auto& s : starts) where.push_back(vector_of(s));
            const auto flags = flags_of(flat);
            std::vector<std::vector<ExactSum>> sums;
            {
                py::gil_scoped_release release;
                sums = partitioned::part_sums(partitioned::part_refiner(prepared, flags, settings), which, where);
            }
            py::list result;
            for (const auto& one : sums) {
                std::vector<double> parts;
                std::vector<std::int64_t> ends;
                for (const ExactSum& sum : one) {
                    parts.insert(parts.end(), sum.parts().begin(), sum.parts().end());
                    ends.push_back(static_cast<std::int64_t>(parts.size()));
                }
                result.append(py::make_tuple(to_array(parts), to_array(ends)));
            }
            return result;
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("series"),
        py::arg("starts"),
        "For each shape, the exact sums of the z-normalised windows at starts[i] of local series series[i]: "
        "their partials, and the end of each point's partials.");
    m.def(
        "dask_discovery_occurrences",
        [](const SeriesViews& prepared, const std::vector<FlagArray>& flat, std::size_t length, double flat_tol,
           const FloatArray& shapes, double radius) {
            const DiscoverySettings settings = part_settings(length, flat_tol);
            const SeriesSet rows = rows_of(shapes);
            const auto flags = flags_of(flat);
            std::vector<std::vector<std::vector<long long>>> found(rows.size());
            {
                py::gil_scoped_release release;
                const Refiner fine = partitioned::part_refiner(prepared, flags, settings);
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    if (rows[i].size() != length) throw std::invalid_argument("a shape of another length");
                    for (std::size_t s = 0; s < prepared.size(); ++s)
                        found[i].push_back(fine.occurrences(rows[i], s, radius));
                }
            }
            py::list result;
            for (const auto& of_shape : found) {
                py::list per_series;
                for (const auto& starts : of_shape) per_series.append(to_array(starts));
                result.append(std::move(per_series));
            }
            return result;
        },
        py::arg("prepared"), py::arg("flat"), py::arg("length"), py::arg("flat_tol"), py::arg("shapes"),
        py::arg("radius"), "For each shape, the starts of its occurrences in each series (int64 arrays).");
    m.def("dask_discovery_need", &need_of, py::arg("minsup"), py::arg("usable"),
          "How many of the usable series a score is taken over.");
    m.def(
        "dask_discovery_coarse_shape",
        [](const std::vector<double>& shape, std::size_t factor) {
            if (factor < 1) throw py::value_error("factor must be 1 or more");
            return to_array(coarse_shape(shape, factor));
        },
        py::arg("shape"), py::arg("factor"), "A shape as the coarse screening compares it; empty when flat.");
    m.def(
        "dask_discovery_score",
        [](const FloatArray& distance, const IndexArray& best, std::size_t need) {
            return score_of(vector_of(distance), vector_of(best), need);
        },
        py::arg("distance"), py::arg("best"), py::arg("need"),
        "The mean distance over the `need` closest series with a match.");
    m.def(
        "dask_discovery_closest",
        [](const FloatArray& distance, const IndexArray& best, std::size_t need) {
            const std::vector<std::size_t> closest = closest_series(vector_of(distance), vector_of(best), need);
            return to_array(std::vector<long long>(closest.begin(), closest.end()));
        },
        py::arg("distance"), py::arg("best"), py::arg("need"),
        "The series whose best matches a refinement round averages.");
    m.def(
        "dask_discovery_shape",
        [](const std::vector<py::tuple>& parts, std::size_t length, std::size_t take) {
            std::vector<ExactSum> sums(length);
            for (const py::tuple& part : parts) {
                if (part.size() != 2) throw py::value_error("a partition's sums are (partials, ends)");
                const auto values = part[0].cast<FloatArray>();
                const auto ends = part[1].cast<IndexArray>();
                if (static_cast<std::size_t>(ends.size()) != length)
                    throw py::value_error("one end of partials per point");
                long long begin = 0;
                for (std::size_t j = 0; j < length; ++j) {
                    const long long end = ends.data()[j];
                    if (end < begin || end > values.size())
                        throw py::value_error("the ends of the partials are out of order");
                    for (long long i = begin; i < end; ++i) sums[j].add(values.data()[i]);
                    begin = end;
                }
            }
            return to_array(shape_from_sums(sums, take));
        },
        py::arg("parts"), py::arg("length"), py::arg("take"),
        "The refined shape from the partitions' sums of `take` windows; empty when it has no deviation.");
    m.def(
        "dask_discovery_places",
        [](const std::vector<double>& scores, const std::vector<IndexArray>& bests, std::size_t length, double share,
           std::size_t limit, double overlap) {
            if (scores.size() != bests.size()) throw py::value_error("one score per candidate");
            std::vector<Candidate> candidates(scores.size());
            for (std::size_t i = 0; i < scores.size(); ++i) {
                candidates[i].score = scores[i];
                candidates[i].best = vector_of(bests[i]);
            }
            return ranked_places(candidates, length, share, limit, overlap);
        },
        py::arg("scores"), py::arg("bests"), py::arg("length"), py::arg("share"), py::arg("limit"), py::arg("overlap"),
        "The candidates ranked by score, one per place: their positions, best first.");
}
}  // namespace

PYBIND11_MODULE(_native, m) {
    m.doc() = "Native code of the package zef: discovery's refinement and the engine's calls on every core.";
    // Motif is registered by _zef_cpp; results come back as its objects.
    py::module_::import("_zef_cpp");
    bind_mine(m);
    bind_discover(m);
    bind_dask(m);
    bind_dask_discovery(m);
}
