#pragma once

#include "base/MainLoop.h"

#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel::test {

// A main loop driven by hand: time moves only when the test advances it, timers fire in due
// order, and posted tasks run when the test drains them. The thread that created it counts as the
// main thread.
class ManualMainLoop : public MainLoop {
public:
    ManualMainLoop();

    TimerHandle scheduleTimer(double intervalSeconds, bool repeats,
                              std::function<void()> fire) override;
    void post(std::function<void()> task) override;
    bool isMainThread() const override;
    TimePoint now() const override;
    double uptime() const override;
    double continuousTime() const override;

    // Moves every clock forward, firing due timers (each at its own due time) and running posted
    // tasks as it goes.
    void advance(double seconds);
    // Runs posted tasks (also those posted while running) until none is left; returns how many ran.
    std::size_t drain();
    // Sets the wall clock alone (a clock set back or forward); timers are not affected.
    void setWallClock(TimePoint time);
    // Lets a test pretend that the current thread is not the main thread.
    void setMainThreadOverride(std::optional<bool> isMain);

    std::size_t activeTimerCount() const;
    std::size_t pendingTaskCount() const;

private:
    struct Entry;
    std::vector<std::shared_ptr<Entry>> timers_;
    mutable std::mutex tasksMutex_;
    std::deque<std::function<void()>> tasks_;
    std::thread::id mainThread_;
    std::optional<bool> mainOverride_;
    TimePoint wall_;
    double uptime_ = 1000.0;
    double continuous_ = 1000.0;
    std::uint64_t nextOrder_ = 0;
};

} // namespace quorvel::test
