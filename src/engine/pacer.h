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

private:
    static constexpr std::size_t kUnitsBetweenChecks = std::size_t{1} << 18;
    const Runner& runner;
    std::size_t spent = 0;
    std::size_t checks = 0;
};
