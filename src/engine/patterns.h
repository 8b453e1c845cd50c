#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/runner.h"
#include "core/types.h"
#include "engine/motif.h"
#include "engine/occurrences.h"
#include "engine/redundancy.h"

// Ordered table of frequent patterns, smallest pattern first (see PatternLess).
using FrequentTable = std::map<Pattern, Motif, PatternLess>;

// Frequent patterns with their occurrences, in the order of a FrequentTable.
using FrequentLists = std::vector<std::pair<Pattern, OccurrenceList>>;

// Mining refused because more patterns passed the support test than the limit
// set by PatternMiner::set_max_patterns().
class TooManyPatterns : public std::runtime_error {
public:
    explicit TooManyPatterns(std::size_t limit);
};

// Whether `passed` patterns passing the support test are more than `limit`
// allows (0: no limit), the case that TooManyPatterns refuses.
inline bool beyond_pattern_limit(std::size_t passed, std::size_t limit) { return limit != 0 && passed > limit; }

// Level-wise miner of the contiguous patterns that occur in enough words,
// followed by a length filter and a redundancy filter.
//
// mine() runs the public steps in this order, and a caller may run them by
// hand in the same order with the same outcome:
//   start(words); mine_1_patterns(words);
//   while (open_level()) {
//       for (const Pattern& c : get_candidates()) {
//           add_candidate(c); find_candidate(c, words); prune_infrequent(c);
//       }
//       close_level();
//   }
//   remove_redundant();  // calls remove_short()
// Besides, between the levels, it frees the records of a level that the
// length filter will erase once the level above has been counted from them.
//
// With a Runner, mine() counts the candidates of a level prefix by prefix over
// the Runner's ranges and splits the comparisons of the redundancy filter over
// them when there are enough; the result is the same whatever the Runner does.
// It asks the Runner to stop (Runner::check_stop) every few milliseconds of
// work and reports its progress in the stages kStageMine, then kStageFilter
// (engine/stages.h).
// An exception, the Runner's own included, leaves in the table what was found
// so far, except TooManyPatterns, which leaves the miner empty; the next
// mine() starts afresh either way.
class PatternMiner {
public:
    PatternMiner(double minsup, int min_len, int max_len, double max_overlap);

    void mine(const WordSet& words);
    void mine(const WordSet& words, const Runner& runner);

    // At most `limit` patterns may pass the support test in one run (0: no
    // limit, the default). One more throws TooManyPatterns at once, from
    // whichever step judged it.
    void set_max_patterns(std::size_t limit) { max_patterns = limit; }
    std::size_t get_max_patterns() const { return max_patterns; }

    // Forgets every earlier run and sets the support threshold for `words`.
    void start(const WordSet& words);
    void mine_1_patterns(const WordSet& words);
    // Whether mining goes on to the patterns of length get_level(): the level
    // below is not empty and max_len allows it. If so, appends that length's
    // entry to the levels.
    bool open_level();
    std::vector<Pattern> get_candidates() const;
    // Inserts an empty record for the candidate unless it is in the table.
    void add_candidate(const Pattern& candidate);
    // Records every occurrence of the candidate found at its prefix's
    // occurrences. The first candidate of a level counts every candidate of
    // the level, in one walk over the occurrences of each prefix, and the
    // others take their occurrences from that count. Given the words that
    // mine_1_patterns() scanned (equal words: each call here compares them
    // with a copy kept of the scanned ones), that count compares the last
    // symbol only, the prefix being known to start there. Given other words,
    // every symbol is compared.
    void find_candidate(const Pattern& candidate, const WordSet& words);
    void prune_infrequent(const Pattern& pattern);
    void close_level() { ++level; }

    std::vector<Pattern> remove_short();
    void remove_redundant();

    // A copy of the frequent table, each record built from its occurrences.
    FrequentTable get_frequent() const;
    // The same, leaving the miner's own table empty: for a caller that
    // discards the miner afterwards.
    FrequentTable take_frequent();
    // The frequent table in plain lists, in the same order, leaving the
    // miner's own table empty: for a caller that builds few of the records.
    FrequentLists take_frequent_lists();
    // Frees all the miner holds, leaving it as a new one, a share at a time
    // with the Runner asked to stop in between: the levels of a run over long
    // words hold hundreds of thousands of patterns.
    void release(const Runner& runner);

    // Read access to the mining state, for callers and tests that inspect a run.
    double get_min_count() const { return min_count; }
    int get_level() const { return level; }
    const std::vector<std::vector<Pattern>>& get_levels() const { return levels; }

private:
    // The table keeps each length apart, shorter first, and each length in key
    // order: a level's records form one run that grows at the end, and a
    // lookup compares symbols with patterns of the same length only.
    struct ShorterFirst {
        bool operator()(const Pattern& a, const Pattern& b) const {
            return a.size() != b.size() ? a.size() < b.size() : PatternLess()(a, b);
        }
    };
    using Table = std::map<Pattern, OccurrenceList, ShorterFirst>;

    // Looks a pattern up that must be present: "map::at" otherwise.
    Table::iterator checked(const Pattern& pattern);
    // The same, where the cursor saves the lookup when it points at the pattern.
    Table::iterator located(const Pattern& pattern);
    // The support test of prune_infrequent on a record already looked up.
    void judge(Table::iterator record);
    // Empties the table and the levels, as start() does.
    void forget();
    // The Runner of the mine() call in progress, or one that runs everything here.
    const Runner& runner() const;
    // Erases the records of level n.
    void release_level(std::size_t n);
    // Erases the records of these patterns, where present.
    void erase_all(const std::vector<const Pattern*>& patterns);
    // remove_short(), the survivors pointing into the levels.
    std::vector<const Pattern*> filter_short();
    // Erases a record, dropping the level's counts when it was a prefix of
    // them; the cursor moves to the next record.
    void erase(Table::iterator record);
    // Whether the candidates of the current level are counted in the order
    // of their prefixes' lists, and put in the order recorded only if they
    // are read: when their prefixes stay until the end of mining.
    bool counts_in_prefix_order() const;
    // The records whose lists are in their prefix's order, in the table's order.
    std::vector<Table::iterator> records_in_prefix_order();
    // Puts the lists of these records in the order recorded, with those of
    // their prefixes that need it, shorter ones first, over the Runner.
    void put_in_order(const std::vector<Table::iterator>& records);
    // The highest level that the length filter visits.
    std::size_t top_level() const;
    // Counts every candidate of the current level (`candidates`, as
    // get_candidates() gives them), prefix by prefix.
    void count_level(const WordSet& words, std::shared_ptr<const std::vector<Pattern>> candidates);
    // Whether the level's counts hold `candidate` next; if so, moves its occurrences to `found`.
    bool take_counted(const Pattern& candidate, const WordSet& words, OccurrenceList& found);
    // Whether every recorded position of every record starts its pattern in `words`.
    bool scanned_from(const WordSet& words);

    double minsup;
    int min_len;
    int max_len;  // 0: no limit
    double max_overlap;
    std::size_t max_patterns = 0;  // 0: no limit
    std::size_t passed = 0;        // patterns that passed the support test since start()
    // The frequent table: each pattern with the occurrences of its record.
    Table frequent;
    // The record of the last candidate inserted, or after an erasure the
    // record after it: the steps on one candidate look it up once, and the
    // next candidate in key order is inserted near it. A copy of the miner,
    // whose table is another, starts without a cursor.
    struct Cursor {
        Table::iterator at{};
        bool valid = false;
        Cursor() = default;
        Cursor(const Cursor&) {}
        Cursor& operator=(const Cursor&) {
            valid = false;
            return *this;
        }
    };
    Cursor cursor;
    // Set while mine() runs: its Runner and its words; a copy of the miner
    // starts without.
    struct Borrowed {
        const Runner* runner = nullptr;
        const WordSet* words = nullptr;
        Borrowed() = default;
        Borrowed(const Borrowed&) {}
        Borrowed& operator=(const Borrowed&) {
            runner = nullptr;
            words = nullptr;
            return *this;
        }
    };
    Borrowed borrowed;
    // Which words occurrences were found in, as a serial number (0: none)
    // rather than an address, which other words may take once the first are
    // freed. The words lent to mine() keep one serial for the call: they
    // cannot change while it runs. Words given to the steps one at a time are
    // kept as a copy and compared by value; other words take a new serial.
    struct KnownWords {
        std::uint64_t last_serial = 0;  // the serial handed out last
        std::uint64_t lent_serial = 0;  // of borrowed.words
        WordSet copy;                   // the words last given outside mine()
        std::uint64_t copy_serial = 0;  // 0: no copy held
    };
    KnownWords known;
    // The serial of these words (see KnownWords).
    std::uint64_t serial_of(const WordSet& words);
    double min_count = 0.0;  // absolute support threshold, set by start()
    int level = 2;           // length of the candidates being mined
    // Entry n: patterns of length n that passed the support test, in the order they passed.
    std::vector<std::vector<Pattern>> levels;
    // The serial of the words whose occurrences every record holds: set by
    // mine_1_patterns() on an empty table; 0 once a record holds occurrences
    // found in other words.
    std::uint64_t scanned = 0;
    // Whether a record may hold its list in its prefix's order (see
    // OccurrenceList::in_prefix_order); false: none does.
    bool out_of_order = false;

    // The occurrences of the candidates of one level (in key order, as
    // get_candidates() gives them), counted from the records one symbol
    // shorter and from the words of serial `words`, until each is taken by
    // find_candidate(); `next` follows the one taken last. Level 0: no counts
    // held; no candidates: the level was not in key order, so nothing was counted.
    struct LevelCounts {
        int level = 0;
        std::uint64_t words = 0;
        std::shared_ptr<const std::vector<Pattern>> candidates;
        std::vector<OccurrenceList> found;  // of candidates[i] while held[i]
        std::vector<bool> held;
        bool complete = false;  // every candidate was counted
        std::size_t next = 0;
    };
    LevelCounts counted;
};

// Whether some element of v equals p.
bool is_p_in_vec(const Pattern& p, const std::vector<Pattern>& v);
