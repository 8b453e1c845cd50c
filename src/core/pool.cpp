#include "core/pool.h"

#include <algorithm>
#include <system_error>

namespace {

// Ranges per thread: small enough pieces that threads finishing early find
// more work when units differ in cost, large enough that handing them out
// costs nothing next to the work.
constexpr std::size_t kRangesPerThread = 16;

// Set while a thread runs a body of for_ranges: a nested call runs inline.
thread_local bool in_body = false;

class BodyScope {
public:
    BodyScope() : outer(in_body) { in_body = true; }
    ~BodyScope() { in_body = outer; }
    BodyScope(const BodyScope&) = delete;
    BodyScope& operator=(const BodyScope&) = delete;

private:
    bool outer;
};

}  // namespace

struct Pool::Job {
    const std::function<void(std::size_t, std::size_t)>* body;
    std::size_t count;
    std::size_t step;
    std::atomic<std::size_t> next{0};  // the first unit not handed out yet
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    std::exception_ptr error;  // the first exception, under error_mutex
};

// More threads than this would only wait for cores: a count beyond it is taken as it.
constexpr std::size_t kMostThreads = 1024;

Pool::Pool(std::size_t threads) : threads(std::clamp<std::size_t>(threads, 1, kMostThreads)) {}

Pool::~Pool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    wake.notify_all();
    for (std::thread& worker : workers) worker.join();
}

void Pool::start_workers() {
    workers.reserve(threads - 1);
    // A thread that cannot be started leaves the pool with the ones that did.
    try {
        while (workers.size() < threads - 1) workers.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        if (workers.empty()) throw;
    }
}

void Pool::for_ranges(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) {
    check();
    if (count == 0) return;
    if (threads == 1 || count == 1 || in_body) {
        BodyScope scope;
        body(0, count);
        return;
    }
    if (workers.empty()) start_workers();

    Job current;
    current.body = &body;
    current.count = count;
    current.step = std::max<std::size_t>(1, count / (threads * kRangesPerThread));
    {
        std::lock_guard<std::mutex> lock(mutex);
        job = &current;
        ++generation;
        busy = workers.size();
    }
    wake.notify_all();
    run(current);
    {
        // Every worker takes part in every job, if only to find it done, so
        // the job outlives all use of it.
        std::unique_lock<std::mutex> lock(mutex);
        while (!idle.wait_for(lock, waiting_every, [this] { return busy == 0; })) {
            if (!waiting) continue;
            lock.unlock();
            waiting();
            lock.lock();
        }
        job = nullptr;
    }
    if (current.error) std::rethrow_exception(current.error);
    check();
}

void Pool::run(Job& current) {
    BodyScope scope;
    while (!current.failed.load(std::memory_order_relaxed) && !stop_requested()) {
        const std::size_t first = current.next.fetch_add(current.step, std::memory_order_relaxed);
        if (first >= current.count) break;
        const std::size_t last = std::min(current.count, first + current.step);
        try {
            (*current.body)(first, last);
        } catch (...) {
            std::lock_guard<std::mutex> lock(current.error_mutex);
            if (!current.error) current.error = std::current_exception();
            current.failed.store(true, std::memory_order_relaxed);
        }
    }
}

void Pool::work() {
    std::size_t seen = 0;
    for (;;) {
        Job* current = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return closing || generation != seen; });
            if (closing) return;
            seen = generation;
            current = job;
        }
        run(*current);
        bool last = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            last = --busy == 0;
        }
        if (last) idle.notify_one();
    }
}

Runner Pool::runner() {
    Runner result;
    result.for_ranges = [this](std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) {
        for_ranges(count, body);
    };
    result.check = [this] { check(); };
    return result;
}
