#include "engine/miner.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/patterns.h"
#include "engine/sax.h"

namespace {

// Doubles that mapping one motif materialises: its representative and one
// average per series with occurrences, each of seglen x |pattern| points,
// however short the series are (points past their ends are NaN). A product
// beyond the int range counts nothing here: Motif::map refuses it with its
// length error.
double mapped_doubles(std::size_t symbols, std::size_t support, int seglen) {
    const double length = static_cast<double>(seglen) * static_cast<double>(symbols);
    if (!(length > 0.0) || length > static_cast<double>(INT_MAX)) return 0.0;
    return (static_cast<double>(support) + 1.0) * length;
}

double mapped_doubles(const Motif& motif, int seglen) {
    return mapped_doubles(motif.get_pattern().size(), static_cast<std::size_t>(motif.support()), seglen);
}

// The machine's physical memory in bytes; infinite when the system does not say.
double physical_memory_bytes() {
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) return static_cast<double>(pages) * static_cast<double>(page_size);
#endif
    return std::numeric_limits<double>::infinity();
}

// The refusal itself: the lists of `doubles` values, plus the copies returned.
void refuse_beyond_memory(double doubles) {
    if (2.0 * doubles * static_cast<double>(sizeof(double)) > physical_memory_bytes()) throw std::bad_alloc();
}

}  // namespace

Miner::Miner(double minsup, int seglen, int alphabet, int min_len, int max_len, double max_overlap, int k)
    : minsup(minsup),
      seglen(seglen),
      alphabet(alphabet),
      min_len(min_len),
      max_len(max_len),
      max_overlap(max_overlap),
      k(k) {}

std::vector<Motif> Miner::mine(SeriesSet& ts) {
    check_stored_series(ts);
    znorm(ts);
    const WordSet words = sax(ts, seglen, alphabet);
    mine_patterns(words);
    map_patterns(ts);
    sort_patterns();
    const std::size_t n = returned_count(k, motifs.size());
    return std::vector<Motif>(motifs.begin(), motifs.begin() + static_cast<std::ptrdiff_t>(n));
}

// Motifs stored by earlier calls keep the series indexes of the series they
// were found in; mapping them onto a set without those series is refused
// before anything, the caller's series included, is changed.
void Miner::check_stored_series(const SeriesSet& ts) const {
    for (const Motif& motif : motifs) {
        // In the table's order, so that the first refused is the one that always was.
        const std::vector<int>& recorded = motif.recorded_series();
        for (const std::size_t i : Motif::table_order(recorded)) {
            const int series = recorded[i];
            if (series < 0 || static_cast<std::size_t>(series) >= ts.size()) {
                throw std::out_of_range("a stored motif refers to series index " + std::to_string(series) +
                                        ", but only " + std::to_string(ts.size()) + " series were given");
            }
        }
    }
}

void Miner::mine_patterns(const WordSet& words) {
    PatternMiner miner(minsup, min_len, max_len, max_overlap);
    miner.mine(words);
    // The local miner is discarded, so its table is taken rather than
    // copied: its occurrences are freed as the records are built; the
    // records arrive in ascending pattern order.
    FrequentTable frequent = miner.take_frequent();
    check_mapping_fits(frequent);
    motifs.reserve(motifs.size() + frequent.size());
    for (auto& entry : frequent) motifs.push_back(std::move(entry.second));
}

// A seglen far beyond every series (2^31 - 1 with one-symbol patterns, say)
// asks the mapping for lists of billions of points that no machine holds; left
// to run, it would fill the memory until the system kills the process. Such a
// call is refused with std::bad_alloc (MemoryError in Python) before anything
// is appended: when the lists of every stored and every new motif, plus the
// copies that mine() returns, would need more bytes than the machine has.
void Miner::check_mapping_fits(const FrequentTable& frequent) const { ::check_mapping_fits(motifs, frequent, seglen); }

void check_mapping_fits(const std::vector<Motif>& stored, const FrequentTable& frequent, int seglen) {
    double doubles = 0.0;
    for (const Motif& motif : stored) doubles += mapped_doubles(motif, seglen);
    for (const auto& entry : frequent) doubles += mapped_doubles(entry.second, seglen);
    refuse_beyond_memory(doubles);
}

void check_mapping_fits(const FrequentLists& frequent, int seglen) {
    double doubles = 0.0;
    for (const auto& [pattern, list] : frequent) doubles += mapped_doubles(pattern.size(), list.support(), seglen);
    refuse_beyond_memory(doubles);
}

void check_mapping_fits(const std::vector<std::pair<std::size_t, std::size_t>>& sizes, int seglen) {
    double doubles = 0.0;
    for (const auto& [symbols, support] : sizes) doubles += mapped_doubles(symbols, support, seglen);
    refuse_beyond_memory(doubles);
}

std::size_t returned_count(int k, std::size_t count) {
    if (k < 0) throw_too_large();
    return k == 0 ? count : std::min(count, static_cast<std::size_t>(k));
}

void Miner::map_patterns(const SeriesSet& ts) {
    for (Motif& motif : motifs) motif.map(ts, seglen);
}

void Miner::sort_patterns() {
    if (motifs.size() < 2) return;
    rank_by_naed(motifs.begin(), motifs.end(), [](const Motif& m) { return m.get_naed(); });
}

std::vector<Motif> Miner::get_motifs() const { return motifs; }
