// libFuzzer target for the engine: sax, PatternMiner and Miner driven with
// series, words and settings decoded from the fuzz input, including NaN,
// infinities, denormals, huge and negative seglen, every alphabet from -5 to
// 15, negative and zero minsup, and the extremes of min_len, max_len and k.
//
// Besides the sanitizers' own findings, every run checks what holds for every
// result, and that an exception is one the input explains. A violated check
// prints what failed and aborts, which libFuzzer reports as a crash.
//
// Input layout (read from the front; missing bytes read as zero), as
// tests/fuzz/make_seeds.py writes it:
//   settings: seglen, alphabet, minsup, min_len, max_len, max_overlap, k
//   series:   count byte, then per series a length byte and its values
//   words:    count byte, then per word a length byte and its symbols
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/miner.h"
#include "engine/patterns.h"
#include "engine/sax.h"

namespace {

// Sizes stay small so that one run takes milliseconds even where mining is
// at its most expensive (minsup 0 keeps every substring of every word, and the
// redundancy filter compares all of them pairwise).
constexpr std::size_t kMaxSeries = 4;
constexpr std::size_t kMaxPoints = 16;
constexpr std::size_t kMaxWords = 4;
constexpr std::size_t kMaxSymbols = 12;

// Mapping holds seglen x |pattern| points per list, however short the series;
// a one-symbol pattern with a seglen of 2^28 asks for gigabytes, beyond the
// fuzzer's allocation limit, though the engine handles it. Above this seglen
// the Miner runs with min_len of at least 2, which (the series being shorter
// than seglen, so every word one symbol long) leaves nothing to map.
constexpr int kMaxMappedSeglen = 4096;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    template <typename T>
    T raw() {
        unsigned char bytes[sizeof(T)];
        for (unsigned char& b : bytes) b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    // An int setting: one of the extremes, a small value, or any 32-bit value.
    int integer(int small_min, int small_count) {
        static const int extremes[] = {INT_MIN, INT_MIN + 1, -1000000, -2,      -1,      0,           1,
                                       2,       3,           4,        1000000, 1 << 30, INT_MAX - 1, INT_MAX};
        switch (byte() % 4) {
            case 0:
                return extremes[byte() % (sizeof(extremes) / sizeof(extremes[0]))];
            case 3:
                return raw<std::int32_t>();
            default:
                return small_min + byte() % small_count;
        }
    }

    // A double: one of the special values, a small multiple of 1/16, or any bit pattern.
    double real(double small_scale, double small_offset) {
        static const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                                          -std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          0.0,
                                          -0.0,
                                          std::numeric_limits<double>::denorm_min(),
                                          -std::numeric_limits<double>::denorm_min(),
                                          DBL_MIN / 4.0,
                                          DBL_MIN,
                                          DBL_MAX,
                                          -DBL_MAX,
                                          1e300,
                                          -1e-300,
                                          1.0,
                                          0.5};
        switch (byte() % 8) {
            case 0:
                return specials[byte() % (sizeof(specials) / sizeof(specials[0]))];
            case 7:
                return raw<double>();
            default:
                return static_cast<double>(static_cast<std::int8_t>(byte())) * small_scale + small_offset;
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_engine: check failed: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

struct Settings {
    int seglen;
    int alphabet;
    double minsup;
    int min_len;
    int max_len;
    double max_overlap;
    int k;
};

bool any_non_empty(const SeriesSet& ts) {
    for (const auto& series : ts) {
        if (!series.empty()) return true;
    }
    return false;
}

bool alphabet_in_table(int alphabet) { return alphabet >= 0 && alphabet <= 10; }

// A length error from the discretisation: some series has no word length
// (seglen 0 for any series, even an empty one; a negative seglen for one with points).
bool seglen_has_no_word(const SeriesSet& ts, int seglen) {
    return (seglen == 0 && !ts.empty()) || (seglen < 0 && any_non_empty(ts));
}

void check_words(const SeriesSet& ts, const WordSet& words, int seglen, int alphabet) {
    check(words.size() == ts.size(), "one word per series");
    const char last = static_cast<char>('a' + (alphabet < 2 ? 0 : alphabet - 1));
    for (std::size_t i = 0; i < ts.size(); ++i) {
        const std::size_t n = ts[i].size();
        const std::size_t expected =
            n == 0 ? 0
                   : (seglen > 0 ? (n + static_cast<std::size_t>(seglen) - 1) / static_cast<std::size_t>(seglen) : 0);
        check(words[i].size() == expected, "word length is ceil(points / seglen)");
        for (char symbol : words[i]) check(symbol >= 'a' && symbol <= last, "symbols come from the alphabet");
    }
}

void run_sax(const SeriesSet& ts, const Settings& s) {
    try {
        const WordSet words = sax(ts, s.seglen, s.alphabet);
        check(alphabet_in_table(s.alphabet) && !seglen_has_no_word(ts, s.seglen), "sax succeeds only when it can");
        check_words(ts, words, s.seglen, s.alphabet);
        check(sax(ts, s.seglen, s.alphabet) == words, "sax is deterministic");
        if (!ts.empty()) check(get_row(ts[0], s.seglen, s.alphabet) == words[0], "get_row agrees with sax");
    } catch (const std::invalid_argument&) {
        check(!alphabet_in_table(s.alphabet), "invalid_argument only for an alphabet outside 0..10");
    } catch (const std::length_error&) {
        check(alphabet_in_table(s.alphabet) && seglen_has_no_word(ts, s.seglen),
              "length_error only for a seglen without a word length");
    }
    SeriesSet normalised = ts;
    znorm(normalised);
    check(normalised.size() == ts.size(), "znorm keeps the series count");
    for (std::size_t i = 0; i < ts.size(); ++i) check(normalised[i].size() == ts[i].size(), "znorm keeps lengths");
}

struct Found {
    Pattern pattern;
    std::vector<std::pair<int, std::vector<int>>> indexes;
    bool operator==(const Found& other) const { return pattern == other.pattern && indexes == other.indexes; }
};

std::vector<Found> summary(const FrequentTable& frequent) {
    std::vector<Found> result;
    for (const auto& entry : frequent) {
        Found found{entry.first, {}};
        for (const auto& occurrence : entry.second.occurrences()) found.indexes.emplace_back(occurrence);
        std::sort(found.indexes.begin(), found.indexes.end());
        result.push_back(std::move(found));
    }
    return result;
}

void run_pattern_miner(const WordSet& words, const Settings& s) {
    PatternMiner miner(s.minsup, s.min_len, s.max_len, s.max_overlap);
    miner.mine(words);
    const FrequentTable frequent = miner.get_frequent();
    const double min_count = static_cast<double>(words.size()) * s.minsup;
    const Pattern* previous = nullptr;
    for (const auto& entry : frequent) {
        const Pattern& pattern = entry.first;
        const Motif& motif = entry.second;
        if (previous != nullptr) check(PatternLess()(*previous, pattern), "frequent is in ascending key order");
        previous = &pattern;
        check(motif.get_pattern() == pattern, "a record carries its own pattern");
        check(!pattern.empty(), "no empty pattern is frequent");
        check(motif.support() >= 1, "a frequent pattern occurs somewhere");
        check(!(min_count > static_cast<double>(motif.support())), "support reaches the threshold");
        if (s.max_len > 0) {
            check(pattern.size() <= static_cast<std::size_t>(s.max_len), "max_len bounds the length");
        } else if (s.max_len < 0) {
            check(pattern.size() == 1, "a negative max_len mines single symbols only");
        }
        if (s.min_len > 1) {
            check(pattern.size() >= static_cast<std::size_t>(s.min_len), "min_len bounds the length");
        }
        for (const auto& [series, positions] : motif.occurrences()) {
            check(series >= 0 && static_cast<std::size_t>(series) < words.size(), "series index in range");
            const Pattern& word = words[static_cast<std::size_t>(series)];
            int last = -1;
            for (int position : positions) {
                check(position > last, "positions ascend within a series");
                last = position;
                check(position >= 0 && static_cast<std::size_t>(position) + pattern.size() <= word.size(),
                      "an occurrence lies inside its word");
                check(std::equal(pattern.begin(), pattern.end(), word.begin() + position),
                      "an occurrence holds the pattern");
            }
        }
    }
    // A second run on the same object starts afresh.
    miner.mine(words);
    check(summary(miner.get_frequent()) == summary(frequent), "mining again gives the same table");
}

void check_motif(Motif motif, int seglen) {
    const auto indexes = motif.get_indexes();
    const auto best = motif.get_best_matches();
    const auto averages = motif.get_average_occurrences();
    const int length = motif.get_length();
    check(static_cast<long long>(length) ==
              static_cast<long long>(seglen) * static_cast<long long>(motif.get_pattern().size()),
          "length is seglen times the symbols");
    check(motif.get_representative().size() == static_cast<std::size_t>(length), "representative holds length values");
    check(best.size() == indexes.size() && averages.size() == indexes.size(), "one best match and average per series");
    for (const auto& [series, positions] : indexes) {
        check(best.count(series) == 1 && averages.count(series) == 1, "best matches and averages share the keys");
        check(averages.at(series).size() == static_cast<std::size_t>(length), "an average holds length values");
        // Point 0 also stands for "no distance below a million" (all NaN, say).
        bool recorded = best.at(series) == 0;
        for (int position : positions) {
            recorded = recorded || static_cast<long long>(position) * seglen == best.at(series);
        }
        check(recorded, "a best match is a recorded position times seglen");
    }
}

void check_ranked(const std::vector<Motif>& motifs) {
    bool nan_seen = false;
    double last = -std::numeric_limits<double>::infinity();
    for (const Motif& motif : motifs) {
        const double naed = motif.get_naed();
        if (std::isnan(naed)) {
            nan_seen = true;
            continue;
        }
        check(!nan_seen, "NaN naed goes last");
        check(naed >= last, "naed never decreases");
        last = naed;
    }
}

// Equal bit for bit (NaN included, which == would call unequal).
bool same_bits(const SeriesSet& a, const SeriesSet& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        if (!a[i].empty() && std::memcmp(a[i].data(), b[i].data(), a[i].size() * sizeof(double)) != 0) return false;
    }
    return true;
}

std::vector<Pattern> patterns_of(const std::vector<Motif>& motifs) {
    std::vector<Pattern> result;
    for (const Motif& motif : motifs) result.push_back(motif.get_pattern());
    return result;
}

// One mine call: checks the result, or that the error is one the input
// explains and what it leaves behind. Any other exception escapes: a crash.
void mine_once(Miner& miner, const SeriesSet& ts, const Settings& s) {
    const std::vector<Motif> before = miner.get_motifs();
    int max_index = -1;
    for (const Motif& motif : before) {
        for (const auto& entry : motif.occurrences()) max_index = std::max(max_index, entry.first);
    }
    SeriesSet copy = ts;
    try {
        const std::vector<Motif> result = miner.mine(copy);
        const std::vector<Motif> stored = miner.get_motifs();
        check(s.k >= 0, "a negative k never completes");
        check(result.size() == (s.k == 0 ? stored.size() : std::min(stored.size(), static_cast<std::size_t>(s.k))),
              "k cuts the ranked list");
        check(stored.size() >= before.size(), "the stored list only grows");
        check_ranked(stored);
        for (std::size_t i = 0; i < result.size(); ++i) {
            check(result[i].get_pattern() == stored[i].get_pattern(), "the result is the head of the stored list");
        }
        for (const Motif& motif : stored) check_motif(motif, s.seglen);
    } catch (const std::out_of_range&) {
        check(max_index >= 0 && static_cast<std::size_t>(max_index) >= ts.size(),
              "out_of_range only for a stored motif beyond the series");
        check(same_bits(copy, ts), "a refused call leaves the series alone");
        check(patterns_of(miner.get_motifs()) == patterns_of(before), "a refused call changes no motif");
    } catch (const std::invalid_argument&) {
        check(!alphabet_in_table(s.alphabet), "invalid_argument only for an alphabet outside 0..10");
        check(patterns_of(miner.get_motifs()) == patterns_of(before), "a bad alphabet changes no motif");
    } catch (const std::length_error&) {
        const bool explained = s.k < 0 || seglen_has_no_word(ts, s.seglen);
        check(explained, "length_error only for a negative k or a seglen without a word length");
        if (s.k < 0 && !seglen_has_no_word(ts, s.seglen)) check_ranked(miner.get_motifs());
    }
}

void run_miner(const SeriesSet& ts, const Settings& s) {
    Settings settings = s;
    if (settings.seglen > kMaxMappedSeglen) settings.min_len = std::max(settings.min_len, 2);
    Miner miner(settings.minsup, settings.seglen, settings.alphabet, settings.min_len, settings.max_len,
                settings.max_overlap, settings.k);
    mine_once(miner, ts, settings);
    // The same series again, then one series fewer: the stored motifs are
    // mapped again, or the call is refused because they refer to it.
    mine_once(miner, ts, settings);
    if (!ts.empty()) {
        const SeriesSet fewer(ts.begin(), ts.end() - 1);
        mine_once(miner, fewer, settings);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    Settings s{};
    // seglen: mostly 1 to 8, so that words have several symbols.
    s.seglen = in.integer(1, 8);
    s.alphabet = static_cast<int>(in.byte() % 21) - 5;
    s.minsup = in.real(1.0 / 64.0, 0.5);
    s.min_len = in.integer(-2, 8);
    s.max_len = in.integer(-2, 8);
    s.max_overlap = in.real(1.0 / 64.0, 0.5);
    s.k = in.integer(-1, 6);

    SeriesSet ts(in.byte() % (kMaxSeries + 1));
    for (auto& series : ts) {
        series.resize(in.byte() % (kMaxPoints + 1));
        for (double& value : series) value = in.real(1.0 / 16.0, 0.0);
    }
    WordSet words(in.byte() % (kMaxWords + 1));
    for (auto& word : words) {
        word.resize(in.byte() % (kMaxSymbols + 1));
        // Mostly four letters, so that patterns repeat; any byte at all otherwise.
        for (char& symbol : word) {
            const std::uint8_t b = in.byte();
            symbol = b < 0xC0 ? static_cast<char>('a' + b % 4) : static_cast<char>(in.byte());
        }
    }

    // ZEF_FUZZ_PRINT=1 shows what an input decodes to (to read a crash or a seed).
    if (std::getenv("ZEF_FUZZ_PRINT") != nullptr) {
        std::fprintf(stderr, "seglen %d alphabet %d minsup %g min_len %d max_len %d max_overlap %g k %d\n", s.seglen,
                     s.alphabet, s.minsup, s.min_len, s.max_len, s.max_overlap, s.k);
        for (const auto& series : ts) {
            std::fprintf(stderr, "series:");
            for (double value : series) std::fprintf(stderr, " %g", value);
            std::fprintf(stderr, "\n");
        }
        for (const auto& word : words) {
            std::fprintf(stderr, "word:");
            for (char symbol : word) std::fprintf(stderr, " %02x", static_cast<unsigned char>(symbol));
            std::fprintf(stderr, "\n");
        }
    }

    run_sax(ts, s);
    run_pattern_miner(words, s);
    run_miner(ts, s);
    return 0;
}
