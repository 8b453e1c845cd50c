#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/runner.h"

// Thrown by Pool::check once a stop has been requested: the work was abandoned
// on purpose, and whoever asked for the stop knows why.
struct PoolStopped : std::exception {
    const char* what() const noexcept override { return "the work was stopped"; }
};

// The threads of one call. A pool of n threads (1 to 1024) runs work on the
// thread that calls for_ranges and on n - 1 threads of its own, started when
// work first needs them and joined by the destructor, so that no thread
// outlives the pool. One pool serves one call at a time: for_ranges is not
// called from two threads at once (a call from inside a body runs on the
// calling thread).
class Pool {
public:
    explicit Pool(std::size_t threads);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    std::size_t size() const { return threads; }

    // Calls body(first, last) over consecutive ranges that together cover
    // [0, count), handed out one at a time to whichever thread is free, and
    // returns when every range handed out is done. Once a range throws, or a
    // stop is requested, no further range is handed out; the first exception
    // thrown is rethrown here (PoolStopped when the work was stopped without
    // one). With one thread, or one unit of work, the body runs here once.
    void for_ranges(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body);

    // Called now and then (about every `every`) by the thread that called
    // for_ranges while it waits for the other threads to finish a job; it
    // must not throw.
    void set_waiting(std::function<void()> hook, std::chrono::milliseconds every) {
        waiting = std::move(hook);
        waiting_every = every;
    }

    // Asks the work to end early; from any thread, at any time.
    void request_stop() noexcept { stop.store(true, std::memory_order_relaxed); }
    bool stop_requested() const noexcept { return stop.load(std::memory_order_relaxed); }
    // Throws PoolStopped once a stop has been requested.
    void check() const {
        if (stop_requested()) throw PoolStopped();
    }

    // A Runner that spreads work over this pool and stops when it is asked
    // to; it reports no progress until the caller sets `progress`.
    Runner runner();

private:
    struct Job;
    void start_workers();
    void work();
    void run(Job& job);

    std::size_t threads;
    std::atomic<bool> stop{false};
    std::function<void()> waiting;
    std::chrono::milliseconds waiting_every{10};
    std::vector<std::thread> workers;

    std::mutex mutex;
    std::condition_variable wake;  // workers wait here for a job or the end
    std::condition_variable idle;  // for_ranges waits here for the workers
    Job* job = nullptr;            // the job being handed out, under `mutex`
    std::size_t generation = 0;    // counts the jobs posted, under `mutex`
    std::size_t busy = 0;          // workers still on the current job, under `mutex`
    bool closing = false;          // under `mutex`
};
