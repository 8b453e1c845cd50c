#include "core/progress.h"

namespace {

ProgressState::Snapshot clamped(ProgressState::Snapshot snapshot) {
    if (snapshot.total != 0 && snapshot.done > snapshot.total) snapshot.done = snapshot.total;
    return snapshot;
}

}  // namespace

void ProgressState::report(const char* stage, std::size_t done, std::size_t total) {
    if (current.load(std::memory_order_acquire) == stage) {
        raise_done(done);
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (current.load(std::memory_order_relaxed) == stage) {  // begun meanwhile by another thread
        raise_done(done);
        return;
    }
    if (current.load(std::memory_order_relaxed) != nullptr) ended.push_back(clamped(latest()));
    this->total.store(total, std::memory_order_relaxed);
    this->done.store(done, std::memory_order_relaxed);
    current.store(stage, std::memory_order_release);
}

std::pair<std::vector<ProgressState::Snapshot>, ProgressState::Snapshot> ProgressState::read() {
    const std::lock_guard<std::mutex> lock(mutex);
    std::vector<Snapshot> taken;
    taken.swap(ended);
    return {std::move(taken), clamped(latest())};
}

// Threads finish units in any order: the largest count wins.
void ProgressState::raise_done(std::size_t count) {
    std::size_t seen = done.load(std::memory_order_relaxed);
    while (seen < count && !done.compare_exchange_weak(seen, count, std::memory_order_relaxed)) {
    }
}

ProgressState::Snapshot ProgressState::latest() const {
    Snapshot now;
    now.stage = current.load(std::memory_order_acquire);
    now.total = total.load(std::memory_order_relaxed);
    now.done = done.load(std::memory_order_relaxed);
    return now;
}
