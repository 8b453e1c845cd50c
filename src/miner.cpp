#include "miner.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "patterns.h"
#include "sax.h"

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
    if (k < 0) throw std::length_error("cannot create std::vector larger than max_size()");
    const std::size_t n = k == 0 ? motifs.size() : std::min(motifs.size(), static_cast<std::size_t>(k));
    return std::vector<Motif>(motifs.begin(), motifs.begin() + static_cast<std::ptrdiff_t>(n));
}

// Motifs stored by earlier calls keep the series indexes of the series they
// were found in; mapping them onto a set without those series is refused
// before anything, the caller's series included, is changed.
void Miner::check_stored_series(const SeriesSet& ts) const {
    for (const Motif& motif : motifs) {
        for (const auto& entry : motif.occurrences()) {
            const int series = entry.first;
            if (series < 0 || static_cast<std::size_t>(series) >= ts.size()) {
                throw std::out_of_range("a stored motif refers to series index " + std::to_string(series) + ", but only " +
                                        std::to_string(ts.size()) + " series were given");
            }
        }
    }
}

void Miner::mine_patterns(const WordSet& words) {
    PatternMiner miner(minsup, min_len, max_len, max_overlap);
    miner.mine(words);
    // The local miner is discarded, so its table is moved out rather than
    // copied (no copy that anyone could observe); the records arrive in
    // ascending pattern order.
    FrequentTable frequent = miner.take_frequent();
    motifs.reserve(motifs.size() + frequent.size());
    for (auto& entry : frequent) motifs.push_back(std::move(entry.second));
}

void Miner::map_patterns(const SeriesSet& ts) {
    for (Motif& motif : motifs) motif.map(ts, seglen);
}

void Miner::sort_patterns() {
    if (motifs.size() < 2) return;
    // A plain `<` on NAED is no strict weak ordering once NaN appears, and
    // std::sort with such a comparison may run outside the list: NaN goes last
    // first, then the rest is sorted.
    const auto nan_begin =
        std::partition(motifs.begin(), motifs.end(), [](const Motif& m) { return !std::isnan(m.get_naed()); });
    std::sort(motifs.begin(), nan_begin, [](const Motif& a, const Motif& b) { return a.get_naed() < b.get_naed(); });
}

std::vector<Motif> Miner::get_motifs() const { return motifs; }
