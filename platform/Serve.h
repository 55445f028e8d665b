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

}  // namespace tarnwell::platform
