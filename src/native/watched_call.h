#pragma once

// The watched call: engine work run on a pool of threads with the
// interpreter lock released, while the calling thread answers Ctrl-C and
// reports progress.

#include <chrono>
#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "casters/casters.h"
#include "core/pool.h"
#include "core/progress.h"
#include "core/runner.h"

namespace native {

namespace py = pybind11;

// How often the calling thread looks for signals and progress.
constexpr std::chrono::milliseconds kTick{10};

// Runs work(runner) on a pool of `threads` threads with the interpreter lock
// released, and returns its result. The calling thread is one of them: the
// memory the work allocates there comes from the allocator's arena of the
// calling thread, warm from earlier calls, where a thread started for each
// call would begin with a cold one and fault its pages in again. About every
// tick, at its next check for a stop or while it waits for the other
// threads, the calling thread takes the lock, runs pending signal handlers
// and calls progress(stage, done, total) when the progress has changed. An
// exception there (KeyboardInterrupt from Ctrl-C, or one raised by the
// callback) stops the work and is raised once the work has ended. The engine
// never calls into Python: only the calling thread does, here.
template <typename Work>
auto run_watched(std::size_t threads, const py::object& progress, Work work) {
    using Result = decltype(work(std::declval<const Runner&>()));
    using Clock = std::chrono::steady_clock;
    Pool pool(threads);
    ProgressState state;
    Runner runner = pool.runner();
    const bool listening = !progress.is_none();
    if (listening) {
        runner.progress = [&state](const char* stage, std::size_t done, std::size_t total) {
            state.report(stage, done, total);
        };
    }
    ProgressState::Snapshot shown;
    auto show_progress = [&] {
        const auto [ended, now] = state.read();
        // A stage seen while it ran is seen once more as it ended, with its last count.
        for (const ProgressState::Snapshot& last : ended) {
            if (last.stage != shown.stage || last == shown) continue;
            shown = last;
            progress(last.stage, last.done, last.total);
        }
        if (now.stage == nullptr || now == shown) return;
        shown = now;
        progress(now.stage, now.done, now.total);
    };

    std::exception_ptr interruption;  // raised in Python while the work ran
    const std::thread::id caller = std::this_thread::get_id();
    Clock::time_point next_look = Clock::now() + kTick;
    const auto look = [&] {
        if (std::this_thread::get_id() != caller || interruption) return;  // the state below is the caller's
        const Clock::time_point now = Clock::now();
        if (now < next_look) return;
        next_look = now + kTick;
        py::gil_scoped_acquire held;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (listening) show_progress();
        } catch (...) {
            interruption = std::current_exception();
            pool.request_stop();
        }
    };
    runner.check = [&] {
        look();
        pool.check();
    };
    pool.set_waiting(look, kTick);

    std::optional<Result> result;
    std::exception_ptr failure;  // thrown by the work
    {
        py::gil_scoped_release released;
        try {
            result.emplace(work(static_cast<const Runner&>(runner)));
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (interruption) std::rethrow_exception(interruption);
    if (failure) std::rethrow_exception(failure);
    if (listening) show_progress();  // the final count
    return std::move(*result);
}

inline std::size_t thread_count(long long threads) {
    if (threads < 1) throw py::value_error("threads must be 1 or more, not " + std::to_string(threads));
    return static_cast<std::size_t>(threads);
}

}  // namespace native
