#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

// Progress as the engine last reported it, and the stages that ended since
// the last read, with their last counts. Written by any thread through
// report(), read by the one thread that shows it.
// Stages follow one another: a stage begins once every unit of the one before
// is done, so counts of two stages are never reported at once.
class ProgressState {
public:
    struct Snapshot {
        const char* stage = nullptr;
        std::size_t done = 0;
        std::size_t total = 0;

        bool operator==(const Snapshot& other) const {
            return stage == other.stage && done == other.done && total == other.total;
        }
    };

    void report(const char* stage, std::size_t done, std::size_t total);

    // The stages that ended since the last read, in order, and the current one
    // (with no stage before the first report). A count is never above its total.
    std::pair<std::vector<Snapshot>, Snapshot> read();

private:
    void raise_done(std::size_t done);
    Snapshot latest() const;

    std::mutex mutex;  // over a change of stage, and reads
    std::vector<Snapshot> ended;
    std::atomic<const char*> current{nullptr};
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> total{0};
};
