#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

// How a step of the engine runs its work: spread over threads or not, with a
// way to abandon it early, and with a report of how far it has come. A
// default Runner does everything on the calling thread, never stops early and
// reports nothing; that is how the module `_zef_cpp` runs every step.
//
// A step that takes a Runner gives exactly the same result whatever the
// Runner does: work is split into units whose results land in slots of their
// own and are combined in one fixed order afterwards.
struct Runner {
    // Calls body(first, last) over disjoint ranges that together cover
    // [0, count), possibly several at once on other threads; returns when
    // every range is done, and rethrows the first exception a range threw.
    std::function<void(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body)> for_ranges;
    // Throws to abandon the work. Called between units of work, from any thread.
    std::function<void()> check;
    // Reports that `done` units of `total` of the named stage are complete.
    // Called from any thread; must be cheap.
    std::function<void(const char* stage, std::size_t done, std::size_t total)> progress;

    void run_ranges(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) const {
        if (count == 0) return;
        if (for_ranges) {
            for_ranges(count, body);
        } else {
            body(0, count);
        }
    }
    void check_stop() const {
        if (check) check();
    }
    void report(const char* stage, std::size_t done, std::size_t total) const {
        if (progress) progress(stage, done, total);
    }
};

// Counts the units of one stage as threads finish them and reports the count.
// Nothing is counted when nobody listens.
class StageCount {
public:
    StageCount(const Runner& runner, const char* stage, std::size_t total)
        : runner(runner), stage(stage), total(total), listening(static_cast<bool>(runner.progress)) {
        if (listening) runner.report(stage, 0, total);
    }

    void add_one() {
        if (!listening) return;
        runner.report(stage, done.fetch_add(1, std::memory_order_relaxed) + 1, total);
    }

private:
    const Runner& runner;
    const char* stage;
    std::size_t total;
    bool listening;
    std::atomic<std::size_t> done{0};
};

// Calls unit(i) for every i of [0, count), spread by the runner, checking for
// a stop before each unit and counting each one done.
template <typename Unit>
void each(const Runner& runner, StageCount& counted, std::size_t count, Unit unit) {
    runner.run_ranges(count, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            runner.check_stop();
            unit(i);
            counted.add_one();
        }
    });
}
