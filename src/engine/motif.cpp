#include "engine/motif.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>

#include "engine/hash_order.h"

namespace {

// Point counts and point indexes are 32-bit ints. The product of two ints is
// formed in 64 bits, where it cannot overflow, and refused when it leaves the
// int range instead of wrapping.
int checked_product(int a, int b) {
    const long long product = static_cast<long long>(a) * static_cast<long long>(b);
    if (product < INT_MIN || product > INT_MAX) throw_too_large();
    return static_cast<int>(product);
}

const double kMissing = std::numeric_limits<double>::quiet_NaN();

// One occurrence of a motif in one series: `length` points from point `start`
// on. Its offsets [first, last) are the points that lie inside the series; the
// others are missing (NaN): past the end of the series or, for a negative
// recorded position only, before its start. Missing points are never read,
// and every sum skips them.
struct Occurrence {
    long long start;
    std::size_t first;
    std::size_t last;

    // The value at offset i of the occurrence, for first <= i < last.
    double value(const std::vector<double>& series, std::size_t i) const {
        return series[static_cast<std::size_t>(start + static_cast<long long>(i))];
    }
};

// The occurrence at symbol position `position` in a series of `size` points.
// The point index of its start is checked first, whatever the length: an
// overflowing one is refused even for an empty occurrence.
Occurrence locate(int position, int seglen, int length, std::size_t size) {
    const long long start = checked_product(position, seglen);
    if (length <= 0) return {start, 0, 0};
    const long long points = static_cast<long long>(length);
    const long long first = std::clamp(-start, 0LL, points);
    const long long last = std::clamp(static_cast<long long>(size) - start, first, points);
    return {start, static_cast<std::size_t>(first), static_cast<std::size_t>(last)};
}

// The helpers below are plain loops over separate arrays, point by point, so
// that the compiler can run several points at once: every sum still takes its
// terms in the same order. Counts are ints or doubles (whole numbers either way).

// Adds one list of values to per-point sums and counts them; a NaN value adds
// 0.0 and counts nothing. Adding 0.0 leaves a sum as skipping the value would:
// a sum that starts at +0.0 is never -0.0.
template <typename Count>
void add_values(const double* __restrict values, std::size_t points, double* __restrict sums,
                Count* __restrict counts) {
    for (std::size_t i = 0; i < points; ++i) {
        const bool missing = std::isnan(values[i]);
        sums[i] += missing ? 0.0 : values[i];
        counts[i] += missing ? Count(0) : Count(1);
    }
}

// The same for the points of an occurrence that lie inside the series.
template <typename Count>
void add_occurrence(const std::vector<double>& series, const Occurrence& occurrence, double* sums, Count* counts) {
    if (occurrence.first >= occurrence.last) return;
    const double* values = series.data() + (occurrence.start + static_cast<long long>(occurrence.first));
    add_values(values, occurrence.last - occurrence.first, sums + occurrence.first, counts + occurrence.first);
}

// Turns per-point sums into means: NaN where nothing was counted.
template <typename Count>
void to_means(double* __restrict sums, const Count* __restrict counts, std::size_t points) {
    for (std::size_t i = 0; i < points; ++i)
        sums[i] = counts[i] == 0 ? kMissing : sums[i] / static_cast<double>(counts[i]);
}

// The representative is built as m equal shares mu / m added one after
// another onto zeros, not stored as mu itself: the two can differ in the last
// bits. `mu` is left holding the share.
void add_shares(double* mu, std::size_t points, std::size_t m, double* representative) {
    for (std::size_t i = 0; i < points; ++i) mu[i] = mu[i] / static_cast<double>(m);
    for (std::size_t added = 0; added < m; ++added) {
        for (std::size_t i = 0; i < points; ++i) representative[i] = mu[i] + representative[i];
    }
}

// The squared Euclidean distance of an occurrence to the representative over
// the points inside the series; NaN points add nothing, and the sum is not
// rescaled for them.
double squared_distance(const std::vector<double>& series, const Occurrence& occurrence, const double* representative) {
    double q = 0.0;
    for (std::size_t i = occurrence.first; i < occurrence.last; ++i) {
        const double value = occurrence.value(series, i);
        const double diff = value - representative[i];
        q += std::isnan(value) ? 0.0 : diff * diff;
    }
    return q;
}

// Mapping reads occurrences from all over the input, in an order no hardware
// prefetcher can guess: the values of the series a few ahead in that order,
// or of the occurrences a few ahead, are asked for while the current ones are
// summed. Nothing is read or changed; a position that cannot be located is
// skipped here and refused where it is used.
constexpr std::size_t kSeriesAhead = 2;
constexpr std::size_t kOccurrencesAhead = 4;
constexpr std::size_t kValuesPerLine = 8;

// GCC finds that a function which only prefetches changes nothing, and drops
// every call to it; kept out of its analysis across functions, the calls stay.
#if defined(__GNUC__) && !defined(__clang__)
#define ZEF_PREFETCHES __attribute__((noipa))
#else
#define ZEF_PREFETCHES
#endif

ZEF_PREFETCHES void fetch_values(const double* values, std::size_t count) {
    for (std::size_t i = 0; i < count; i += kValuesPerLine) __builtin_prefetch(values + i);
}

ZEF_PREFETCHES void fetch_occurrences(const SeriesSet& ts, int s, const int* first, const int* last, int seglen,
                                      int length) {
    if (s < 0 || static_cast<std::size_t>(s) >= ts.size()) return;
    const std::vector<double>& series = ts[static_cast<std::size_t>(s)];
    const long long size = static_cast<long long>(series.size());
    for (const int* p = first; p != last; ++p) {
        // Where locate() would put it, found without its refusals.
        const long long start = static_cast<long long>(*p) * seglen;
        const long long from = std::clamp(-start, 0LL, static_cast<long long>(length));
        const long long to = std::clamp(size - start, from, static_cast<long long>(length));
        if (from < to) fetch_values(series.data() + (start + from), static_cast<std::size_t>(to - from));
    }
}

// The squared distances of many occurrences to one representative of
// `points` values, each as squared_distance() finds it. Each sum is a chain of
// dependent additions that a single occurrence leaves the processor waiting
// on; the occurrences that lie wholly inside their series are summed four
// side by side instead, each still in its own order.
class DistanceBatch {
public:
    void add(const std::vector<double>& series, const Occurrence& occurrence) {
        occurrences.push_back({&series, occurrence});
    }

    // q[j] for the j-th occurrence added.
    const std::vector<double>& squared(const double* representative, std::size_t points) {
        q.resize(occurrences.size());
        starts.clear();
        whole.clear();
        for (std::size_t j = 0; j < occurrences.size(); ++j) {
            const auto& [series, occurrence] = occurrences[j];
            if (occurrence.first == 0 && occurrence.last == points && points > 0) {
                whole.push_back(j);
                starts.push_back(series->data() + occurrence.start);
            } else {
                q[j] = squared_distance(*series, occurrence, representative);
            }
        }
        std::size_t w = 0;
        for (; w + 4 <= whole.size(); w += 4) {
            for (std::size_t ahead = w + 4; ahead < std::min(w + 4 + kOccurrencesAhead, whole.size()); ++ahead) {
                fetch_values(starts[ahead], points);
            }
            const double* a = starts[w];
            const double* b = starts[w + 1];
            const double* c = starts[w + 2];
            const double* d = starts[w + 3];
            double qa = 0.0, qb = 0.0, qc = 0.0, qd = 0.0;
            for (std::size_t i = 0; i < points; ++i) {
                const double r = representative[i];
                const double da = a[i] - r, db = b[i] - r, dc = c[i] - r, dd = d[i] - r;
                qa += std::isnan(a[i]) ? 0.0 : da * da;
                qb += std::isnan(b[i]) ? 0.0 : db * db;
                qc += std::isnan(c[i]) ? 0.0 : dc * dc;
                qd += std::isnan(d[i]) ? 0.0 : dd * dd;
            }
            q[whole[w]] = qa;
            q[whole[w + 1]] = qb;
            q[whole[w + 2]] = qc;
            q[whole[w + 3]] = qd;
        }
        for (; w < whole.size(); ++w) {
            const auto& [series, occurrence] = occurrences[whole[w]];
            q[whole[w]] = squared_distance(*series, occurrence, representative);
        }
        return q;
    }

private:
    std::vector<std::pair<const std::vector<double>*, Occurrence>> occurrences;
    std::vector<const double*> starts;
    std::vector<std::size_t> whole;
    std::vector<double> q;
};

}  // namespace

template <typename T>
void Motif::SeriesTable<T>::reserve(std::size_t series, std::size_t total_count) {
    keys.reserve(series);
    offsets.reserve(series);
    counts.reserve(series);
    capacities.reserve(series);
    values.reserve(total_count);
}

template <typename T>
std::size_t Motif::SeriesTable<T>::entry_of(int series, bool known_new) {
    if (!known_new) {
        if (slots.size() != keys.size()) {
            slots.clear();
            for (std::size_t i = 0; i < keys.size(); ++i) slots.emplace(keys[i], i);
        }
        const auto found = slots.try_emplace(series, keys.size());
        if (!found.second) return found.first->second;
    }
    keys.push_back(series);
    offsets.push_back(values.size());
    counts.push_back(0);
    capacities.push_back(0);
    return keys.size() - 1;
}

template <typename T>
void Motif::SeriesTable<T>::make_room(std::size_t i, std::size_t total) {
    if (total <= capacities[i]) return;
    if (offsets[i] + capacities[i] == values.size()) {  // the last block grows where it is
        values.resize(offsets[i] + total);
        capacities[i] = total;
        return;
    }
    // Any other block moves to the end, with room to grow there: the old one stays unused.
    const std::size_t capacity = std::max(total, 2 * capacities[i]);
    const std::size_t offset = values.size();
    values.resize(offset + capacity);
    std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(offsets[i]), counts[i],
                values.begin() + static_cast<std::ptrdiff_t>(offset));
    offsets[i] = offset;
    capacities[i] = capacity;
}

template <typename T>
void Motif::SeriesTable<T>::assign(int series, const T* first, std::size_t count, bool known_new) {
    const std::size_t i = entry_of(series, known_new);
    counts[i] = 0;
    make_room(i, count);
    std::copy_n(first, count, values.begin() + static_cast<std::ptrdiff_t>(offsets[i]));
    counts[i] = count;
}

template <typename T>
void Motif::SeriesTable<T>::append(int series, const T* first, std::size_t count, bool known_new) {
    const std::size_t i = entry_of(series, known_new);
    make_room(i, counts[i] + count);
    std::copy_n(first, count, values.begin() + static_cast<std::ptrdiff_t>(offsets[i] + counts[i]));
    counts[i] += count;
}

Motif::Motif(Pattern pattern) : pattern(std::move(pattern)) {}

void Motif::record_index(int series, int position) { indexes.append(series, &position, 1, false); }

void Motif::record_indexes(int series, const int* first, const int* last) {
    if (first == last) return;  // an entry exists only once a position is recorded for it
    indexes.append(series, first, static_cast<std::size_t>(last - first), false);
}

void Motif::record_new_series(int series, const int* first, const int* last) {
    if (first == last) return;
    indexes.append(series, first, static_cast<std::size_t>(last - first), true);
}

void Motif::reserve(std::size_t series, std::size_t positions) { indexes.reserve(series, positions); }

std::vector<std::size_t> Motif::table_order(const std::vector<int>& series) {
    // The tables stand for std::unordered_map<int, ...> with the default hash.
    return distinct_table_order(series);
}

int Motif::get_length() const { return length; }

double Motif::get_naed() const { return naed; }

// Filled in the order the series first went in, a map lists them in the table's order.
std::unordered_map<int, std::vector<int>> Motif::get_indexes() {
    std::unordered_map<int, std::vector<int>> table;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        table.emplace(indexes.series(i), std::vector<int>(indexes.data(i), indexes.data(i) + indexes.count(i)));
    }
    return table;
}

std::vector<std::pair<int, std::vector<int>>> Motif::occurrences() const {
    std::vector<std::pair<int, std::vector<int>>> listed;
    for (std::size_t i : indexes.order()) {
        listed.emplace_back(indexes.series(i), std::vector<int>(indexes.data(i), indexes.data(i) + indexes.count(i)));
    }
    return listed;
}

std::unordered_map<int, std::vector<double>> Motif::get_average_occurrences() {
    std::unordered_map<int, std::vector<double>> table;
    for (std::size_t i = 0; i < average_occurrences.size(); ++i) {
        const double* values = average_occurrences.data(i);
        table.emplace(average_occurrences.series(i),
                      std::vector<double>(values, values + average_occurrences.count(i)));
    }
    return table;
}

std::vector<double> Motif::get_representative() { return representative; }

std::unordered_map<int, int> Motif::get_best_matches() {
    std::unordered_map<int, int> table;
    for (std::size_t i = 0; i < best_matches.size(); ++i) table.emplace(best_matches.series(i), *best_matches.data(i));
    return table;
}

void Motif::start_mapping(int seglen) {
    this->seglen = seglen;
    if (pattern.size() > static_cast<std::size_t>(INT_MAX)) throw_too_large();
    // An overflowing product is refused before it is stored: `length` keeps its value.
    length = checked_product(seglen, static_cast<int>(pattern.size()));
    // A negative seglen gives a negative length, which no list can hold; the
    // statistics of the previous mapping stay as they were.
    if (length < 0) throw_too_large();
    representative.assign(static_cast<std::size_t>(length), 0.0);
    naed = 0.0;
}

void Motif::map(const SeriesSet& ts, int seglen) {
    start_mapping(seglen);
    set_average_occurrences(ts);
    set_representative();
    set_best_matches_and_naed(ts);
}

void Motif::map_known(const SeriesSet& ts, int seglen, const std::vector<double>& known_representative,
                      const std::vector<int>& best_positions, double known_naed) {
    if (best_positions.size() != indexes.size()) throw std::invalid_argument("one best position per series");
    start_mapping(seglen);
    set_average_occurrences(ts);
    representative = known_representative;
    const bool fresh = best_matches.empty();
    std::size_t j = 0;
    for (std::size_t e : indexes.order()) {
        const int point = checked_product(best_positions[j++], seglen);
        best_matches.assign(indexes.series(e), &point, 1, fresh);
    }
    naed = known_naed;
}

std::vector<double> Motif::get_occurrence(const std::vector<double>& series, int position) const {
    // `position` is a symbol position; the occurrence starts at point position x seglen.
    const Occurrence occurrence = locate(position, seglen, length, series.size());
    if (length <= 0) return {};
    std::vector<double> points(static_cast<std::size_t>(length), kMissing);
    for (std::size_t i = occurrence.first; i < occurrence.last; ++i) points[i] = occurrence.value(series, i);
    return points;
}

// The occurrences are read in place rather than cut out with get_occurrence():
// the points outside the series are NaN there and would be skipped, so only
// the points inside are visited, in the same order.
void Motif::set_average_occurrences(const SeriesSet& ts) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    // A record mapped for the first time meets each series once, and new.
    const bool fresh = average_occurrences.empty();
    constexpr std::size_t kReservedPoints = std::size_t{1} << 20;
    if (fresh && points <= kReservedPoints) average_occurrences.reserve(indexes.size(), indexes.size() * points);
    std::vector<double> averages;
    std::vector<int> counts;
    const std::vector<std::size_t> listed = indexes.order();
    for (std::size_t k = 0; k < listed.size(); ++k) {
        if (k + kSeriesAhead < listed.size()) {
            const std::size_t ahead = listed[k + kSeriesAhead];
            const auto next = indexes.values_of(ahead);
            fetch_occurrences(ts, indexes.series(ahead), next.first, next.last, seglen, length);
        }
        const int s = indexes.series(listed[k]);
        const auto positions = indexes.values_of(listed[k]);
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(s));
        // Per point, the occurrences are summed in recording order from 0.0.
        averages.assign(points, 0.0);
        counts.assign(points, 0);
        for (int position : positions) {
            add_occurrence(series, locate(position, seglen, length, series.size()), averages.data(), counts.data());
        }
        to_means(averages.data(), counts.data(), points);
        average_occurrences.assign(s, averages.data(), points, fresh);
    }
}

void Motif::set_representative() {
    if (average_occurrences.empty() || length <= 0) return;
    const std::size_t points = static_cast<std::size_t>(length);
    const double m = static_cast<double>(average_occurrences.size());
    const std::vector<std::size_t> order = average_occurrences.order();

    // map() leaves every list with `length` values; only an interrupted
    // mapping followed by a direct call can leave them shorter, and then the
    // checked loops below report it where the plain algorithm would.
    bool complete = representative.size() >= points;
    for (std::size_t i : order) complete = complete && average_occurrences.count(i) >= points;

    // mu: the NaN-skipping mean of the per-series averages, each series
    // counting once whatever its number of occurrences. Per point, the
    // averages are added in the table's iteration order, from 0.0.
    std::vector<double> mu(points, 0.0);
    std::vector<int> counts(points, 0);
    if (complete) {
        for (std::size_t i : order) add_values(average_occurrences.data(i), points, mu.data(), counts.data());
    } else {
        std::vector<std::vector<double>> lists;
        for (std::size_t i : order) {
            lists.emplace_back(average_occurrences.data(i), average_occurrences.data(i) + average_occurrences.count(i));
        }
        for (std::size_t i = 0; i < points; ++i) {
            for (const std::vector<double>& list : lists) {
                const double value = list.at(i);
                if (std::isnan(value)) continue;
                mu[i] += value;
                ++counts[i];
            }
        }
    }
    to_means(mu.data(), counts.data(), points);

    // m equal shares added onto the zeros that map() put there.
    if (complete) {
        add_shares(mu.data(), points, average_occurrences.size(), representative.data());
        return;
    }
    std::vector<double> share(points);
    for (std::size_t i = 0; i < points; ++i) share[i] = mu[i] / m;
    for (std::size_t added = 0; added < average_occurrences.size(); ++added) {
        for (std::size_t i = 0; i < points; ++i) representative.at(i) = share[i] + representative.at(i);
    }
}

void Motif::set_best_matches_and_naed(const SeriesSet& ts) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    const bool fresh = best_matches.empty();
    // map() gives `representative` its `length` values before this runs: then
    // every distance is found first, in a batch. A direct call without them
    // takes the checked access, occurrence by occurrence.
    const bool complete = representative.size() >= points;
    const std::vector<std::size_t> listed = indexes.order();
    DistanceBatch batch;
    if (complete) {
        for (std::size_t e : listed) {
            const std::vector<double>& series = ts.at(static_cast<std::size_t>(indexes.series(e)));
            for (int position : indexes.values_of(e))
                batch.add(series, locate(position, seglen, length, series.size()));
        }
    }
    const std::vector<double>* batched = complete ? &batch.squared(representative.data(), points) : nullptr;
    std::size_t j = 0;
    for (std::size_t e : listed) {
        const int s = indexes.series(e);
        const auto positions = indexes.values_of(e);
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(s));
        double best = 1000000.0;
        int best_position = 0;
        for (int position : positions) {
            // Missing points add nothing and the sum is not rescaled for them.
            double q = 0.0;
            if (batched != nullptr) {
                q = (*batched)[j++];
            } else {
                const Occurrence occurrence = locate(position, seglen, length, series.size());
                for (std::size_t i = occurrence.first; i < occurrence.last; ++i) {
                    const double value = occurrence.value(series, i);
                    if (std::isnan(value)) continue;
                    const double diff = value - representative.at(i);
                    q += diff * diff;
                }
            }
            const double d = std::sqrt(q);
            // Strictly smaller: a tie keeps the earlier position, NaN never wins.
            if (d < best) {
                best = d;
                best_position = position;
            }
        }
        naed += best;
        // A point index, not a symbol position.
        const int point = checked_product(best_position, seglen);
        best_matches.assign(s, &point, 1, fresh);
    }
    naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}

double Motif::mapped_naed(const SeriesSet& ts, int seglen, NaedScratch& scratch) const {
    scratch.runs.clear();
    for (std::size_t e : indexes.order()) {
        const auto positions = indexes.values_of(e);
        scratch.runs.push_back({indexes.series(e), positions.first, positions.last});
    }
    return mapped_naed(pattern, ts, seglen, scratch);
}

double Motif::mapped_naed(const Pattern& pattern, const SeriesSet& ts, int seglen, NaedScratch& scratch) {
    // The length as map() finds it, with the same refusals.
    if (pattern.size() > static_cast<std::size_t>(INT_MAX)) throw_too_large();
    const int length = checked_product(seglen, static_cast<int>(pattern.size()));
    if (length < 0) throw_too_large();
    const std::size_t points = static_cast<std::size_t>(length);

    // map() visits the series in the order of `indexes`, and stores their
    // averages in a table that receives them in that order; the mean of the
    // averages follows that table's own order. Each series' average is taken
    // when its turn in that order comes and added at once, so no average is kept.
    const std::vector<PositionRun>& runs = scratch.runs;
    scratch.series.clear();
    for (const PositionRun& run : runs) scratch.series.push_back(run.series);
    scratch.mean.assign(points, 0.0);
    scratch.mean_counts.assign(points, 0);
    const std::vector<std::size_t> order = table_order(scratch.series);
    for (std::size_t o = 0; o < order.size(); ++o) {
        const std::size_t k = order[o];
        if (o + kSeriesAhead < order.size()) {
            const PositionRun& ahead = runs[order[o + kSeriesAhead]];
            fetch_occurrences(ts, ahead.series, ahead.first, ahead.last, seglen, length);
        }
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(runs[k].series));
        scratch.sums.assign(points, 0.0);
        scratch.counts.assign(points, 0);
        for (const int* p = runs[k].first; p != runs[k].last; ++p) {
            add_occurrence(series, locate(*p, seglen, length, series.size()), scratch.sums.data(),
                           scratch.counts.data());
        }
        to_means(scratch.sums.data(), scratch.counts.data(), points);
        add_values(scratch.sums.data(), points, scratch.mean.data(), scratch.mean_counts.data());
    }
    scratch.representative.assign(points, 0.0);
    if (!runs.empty() && points > 0) {
        to_means(scratch.mean.data(), scratch.mean_counts.data(), points);
        add_shares(scratch.mean.data(), points, runs.size(), scratch.representative.data());
    }

    // The best match of each series, in the order of `indexes`.
    DistanceBatch batch;
    for (const PositionRun& run : runs) {
        const std::vector<double>& series = ts.at(static_cast<std::size_t>(run.series));
        for (const int* p = run.first; p != run.last; ++p) batch.add(series, locate(*p, seglen, length, series.size()));
    }
    const std::vector<double>& q = batch.squared(scratch.representative.data(), points);
    double naed = 0.0;
    std::size_t j = 0;
    scratch.best.clear();
    for (const PositionRun& run : runs) {
        double best = 1000000.0;
        int best_position = 0;
        for (const int* p = run.first; p != run.last; ++p) {
            const double d = std::sqrt(q[j++]);
            if (d < best) {
                best = d;
                best_position = *p;
            }
        }
        naed += best;
        scratch.best.push_back(best_position);
    }
    return naed / (static_cast<double>(runs.size()) * static_cast<double>(length));
}

std::vector<double> Motif::series_average(const std::vector<double>& series, const std::vector<int>& positions,
                                          int seglen, int length) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    std::vector<double> averages(points, 0.0);
    std::vector<int> counts(points, 0);
    for (int position : positions) {
        add_occurrence(series, locate(position, seglen, length, series.size()), averages.data(), counts.data());
    }
    to_means(averages.data(), counts.data(), points);
    return averages;
}

std::pair<double, int> Motif::series_best(const std::vector<double>& series, const std::vector<int>& positions,
                                          int seglen, int length, const std::vector<double>& representative) {
    const std::size_t points = length > 0 ? static_cast<std::size_t>(length) : 0;
    if (representative.size() < points) throw std::invalid_argument("the representative is shorter than the motif");
    double best = 1000000.0;
    int best_position = 0;
    for (int position : positions) {
        const double d =
            std::sqrt(squared_distance(series, locate(position, seglen, length, series.size()), representative.data()));
        if (d < best) {
            best = d;
            best_position = position;
        }
    }
    return {best, checked_product(best_position, seglen)};
}

Motif Motif::restored(Pattern pattern, int seglen, const std::vector<int>& series,
                      const std::vector<std::vector<int>>& positions,
                      const std::unordered_map<int, std::vector<double>>& averages, bool keep_averages) {
    Motif motif(std::move(pattern));
    motif.seglen = seglen;
    if (motif.pattern.size() > static_cast<std::size_t>(INT_MAX)) throw_too_large();
    motif.length = checked_product(seglen, static_cast<int>(motif.pattern.size()));
    if (motif.length < 0) throw_too_large();
    if (positions.size() != series.size()) throw std::invalid_argument("one list of positions per series");
    for (std::size_t i = 0; i < series.size(); ++i) {
        motif.record_indexes(series[i], positions[i].data(), positions[i].data() + positions[i].size());
    }
    const std::size_t points = static_cast<std::size_t>(motif.length);
    // The averages enter their table in the order of `indexes`, as in map().
    for (std::size_t e : motif.indexes.order()) {
        const std::vector<double>& average = averages.at(motif.indexes.series(e));
        if (average.size() != points) throw std::invalid_argument("an average of another length than the motif");
        motif.average_occurrences.assign(motif.indexes.series(e), average.data(), average.size(), true);
    }
    motif.representative.assign(points, 0.0);
    motif.set_representative();
    if (!keep_averages) motif.average_occurrences.clear();
    return motif;
}

void Motif::set_best_matches(const std::unordered_map<int, std::pair<double, int>>& best) {
    naed = 0.0;
    best_matches.clear();
    for (std::size_t e : indexes.order()) {
        const std::pair<double, int>& found = best.at(indexes.series(e));
        naed += found.first;
        best_matches.assign(indexes.series(e), &found.second, 1, true);
    }
    naed /= static_cast<double>(indexes.size()) * static_cast<double>(length);
}
