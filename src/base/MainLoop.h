#pragma once

#include "base/InternetDateTime.h"

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

namespace quorvel {

// A timer on the main loop. Destroying the handle invalidates the timer, so an owner that goes
// away never leaves a timer behind.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};
using TimerHandle = std::unique_ptr<Timer>;

// The main thread's run loop and clocks. All state of this system lives on the main thread;
// other threads reach it only through post() and invokeSync().
class MainLoop {
public:
    virtual ~MainLoop() = default;

    // A one-shot or repeating timer; fire runs on the main thread.
    virtual TimerHandle scheduleTimer(double intervalSeconds, bool repeats,
                                      std::function<void()> fire) = 0;
    // Runs task later on the main thread; callable from any thread, never runs it in place.
    virtual void post(std::function<void()> task) = 0;
    virtual bool isMainThread() const = 0;

    // Wall-clock time.
    virtual TimePoint now() const = 0;
    // Seconds since boot that stop while the machine sleeps (monotonic uptime).
    virtual double uptime() const = 0;
    // Seconds since boot that keep counting while the machine sleeps.
    virtual double continuousTime() const = 0;

    // Runs task on the main thread and waits for it; in place when already there.
    void invokeSync(const std::function<void()>& task);
    template <class F> auto invokeSyncResult(F&& task) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        std::optional<R> result;
        invokeSync([&] { result.emplace(task()); });
        return std::move(*result);
    }

    // The process's main loop: GLib's default main context unless a test installed another.
    static MainLoop& shared();
    static std::shared_ptr<MainLoop> sharedPointer();
    // Replaces the process-wide loop (tests only, before first use by the code under test).
    static void setShared(std::shared_ptr<MainLoop> loop);
};

// True on the process's initial thread.
bool isProcessMainThread();

} // namespace quorvel
