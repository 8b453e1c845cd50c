#pragma once

#include <cstddef>

#include "core/runner.h"

// Asks the Runner whether to stop after each run of work of about a quarter
// of a millisecond. A unit is one simple step: one symbol of one LCS word, say.
class Pacer {
public:
    explicit Pacer(const Runner& runner) : runner(runner) {}
    void spend(std::size_t units) {
        spent += units;
        if (spent < kUnitsBetweenChecks) return;
        spent = 0;
        ++checks;
        runner.check_stop();
    }
    std::size_t get_checks() const { return checks; }

    // What the common steps cost, in units: one step on the frequent table
    // (a lookup, insertion or erasure in its tree); one pattern handled
    // outside it; each word or series begun; each symbol or position read.
    static constexpr std::size_t kTableStep = 256;
    static constexpr std::size_t kPatternStep = 64;
    static constexpr std::size_t kSeriesStep = 16;
    static constexpr std::size_t kSymbolStep = 4;

private:
    static constexpr std::size_t kUnitsBetweenChecks = std::size_t{1} << 18;
    const Runner& runner;
    std::size_t spent = 0;
    std::size_t checks = 0;
};
