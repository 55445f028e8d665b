#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace tarnwell::platform {

// Serves the window's toolkit once, on the user-interface thread, while a
// check waits there: paint and the window manager's messages are handled,
// the user's input to the window is dropped. Throws WindowClosed once the
// window was asked to close.
using Serve = std::function<void()>;

// Ends a check whose window was closed while it waited. It is no Failure, so
// no statement resumes after it: it unwinds the whole check, closing what
// the check opened, to the window's click handler.
struct WindowClosed {};

// How long the user-interface thread waits between two servings: well
// under the time after which a desktop takes a window for hung (5 s), and
// short enough for a repaint to look immediate.
inline constexpr std::chrono::milliseconds kServeSlice{40};

// Runs one blocking call that cannot be cut into slices (the system's
// resolver) on a worker thread of its own and serves the toolkit until it
// returns; gives its result or throws what it threw. Should serving throw,
// the worker is detached: it holds nothing of the caller's but what `call`
// holds, so `call` must own its arguments and reach only objects that live
// as long as the process; it ends when the call returns, or with the process.
template <class Call>
auto RunServed(const Serve& serve, Call call) -> decltype(call()) {
    auto task = std::make_shared<std::packaged_task<decltype(call())()>>(std::move(call));
    auto result = task->get_future();
    std::thread worker;
    try {
        worker = std::thread([task] { (*task)(); });
    } catch (const std::system_error&) {
        (*task)();  // no thread to be had: the call blocks the caller, unserved
        return result.get();
    }
    try {
        while (result.wait_for(kServeSlice) != std::future_status::ready) serve();
    } catch (...) {
        worker.detach();
        throw;
    }
    worker.join();
    return result.get();
}

// Runs every call at once, each on a thread of its own (the first on the
// calling thread when `firstHere`), and waits on the calling thread until
// all have returned or `giveUp` has passed; `serve`, when set, is called
// between waits of at most kServeSlice. `ended` hears of each call as it
// returns, on the calling thread, in the order they end. A call whose thread
// cannot be had (a task limit) gives `unstarted` at once; one that throws,
// or still runs at `giveUp`, gives nothing; one left running holds only
// what its function holds and the shared results, so each call must own
// its arguments and reach only objects that outlive it.
template <class Result>
std::vector<std::optional<Result>> RunAll(std::vector<std::function<Result()>> calls,
                                          std::chrono::steady_clock::time_point giveUp, const Serve& serve,
                                          bool firstHere, const Result& unstarted,
                                          const std::function<void(std::size_t, const Result&)>& ended = {}) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::optional<Result>> results;
        std::vector<bool> returned;
    };
    const std::size_t count = calls.size();
    const auto shared = std::make_shared<Shared>();
    shared->results.resize(count);
    shared->returned.resize(count);
    const auto run = [shared](std::function<Result()> call, std::size_t i) {
        std::optional<Result> result;
        try {
            result = call();
        } catch (...) {
        }
        std::lock_guard lock(shared->mutex);
        shared->results[i] = std::move(result);
        shared->returned[i] = true;
        shared->changed.notify_all();
    };
    const std::size_t first = firstHere && count > 0 ? 1 : 0;
    std::vector<std::thread> threads(count);
    // Threads not joined when serving throws (the window closed), or still
    // running at the end, are left to themselves with the shared state.
    struct Leave {
        std::vector<std::thread>& threads;
        ~Leave() {
            for (auto& t : threads)
                if (t.joinable()) t.detach();
        }
    } leave{threads};
    for (std::size_t i = first; i < count; ++i) {
        try {
            threads[i] = std::thread(run, std::move(calls[i]), i);
        } catch (const std::system_error&) {
            run([&unstarted] { return unstarted; }, i);
        }
    }
    if (first) run(std::move(calls[0]), 0);

    std::vector<std::optional<Result>> results(count);
    std::vector<bool> heard(count, false);
    std::size_t left = count;
    // A call may return while `ended` runs with the lock released: the wait
    // looks for such a one first.
    const auto unheard = [&] {
        for (std::size_t i = 0; i < count; ++i)
            if (shared->returned[i] && !heard[i]) return true;
        return false;
    };
    std::unique_lock lock(shared->mutex);
    while (left > 0) {
        for (std::size_t i = 0; i < count; ++i) {
            if (heard[i] || !shared->returned[i]) continue;
            heard[i] = true;
            --left;
            results[i] = shared->results[i];
            if (threads[i].joinable()) threads[i].join();  // it has only to return
            if (ended && results[i]) {
                lock.unlock();
                ended(i, *results[i]);
                lock.lock();
            }
        }
        if (left == 0 || std::chrono::steady_clock::now() >= giveUp) break;
        const auto until = serve ? std::min(giveUp, std::chrono::steady_clock::now() + kServeSlice) : giveUp;
        shared->changed.wait_until(lock, until, unheard);
        if (serve && std::chrono::steady_clock::now() < giveUp) {
            lock.unlock();
            serve();
            lock.lock();
        }
    }
    return results;
}

}  // namespace tarnwell::platform
