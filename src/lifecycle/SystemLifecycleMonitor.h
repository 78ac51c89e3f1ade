#pragma once

#include "base/MainLoop.h"
#include "lifecycle/LifecycleNotificationCenter.h"
#include "lifecycle/LoginSession.h"
#include "lifecycle/SystemLifecycleCode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quorvel {

// The receiver the host app registered: called with the code's raw value, the detail and the
// context given at installation, which is never dereferenced.
struct LifecycleSink {
    void (*callback)(std::uint32_t code, std::uint32_t detail, void* context) = nullptr;
    void* context = nullptr;

    bool operator==(const LifecycleSink&) const = default;
};

// Turns sleep, wake, session, power-off and screen-lock notifications, and a poll of the login
// session every five seconds, into codes for the host app. Lives on the main thread; notification
// handlers and the poll timer hold it weakly.
class SystemLifecycleMonitor : public std::enable_shared_from_this<SystemLifecycleMonitor> {
public:
    using Sink = std::function<void(SystemLifecycleCode code, std::uint32_t detail)>;

    static constexpr double lockPollInterval = 5.0;

    static std::shared_ptr<SystemLifecycleMonitor>
    create(std::shared_ptr<LifecycleNotificationCenter> workspaceCenter,
           std::shared_ptr<LifecycleNotificationCenter> distributedCenter, SessionReader session,
           Sink sink, std::shared_ptr<MainLoop> mainLoop);

    // Delivers the initial code, subscribes and starts the poll; only the first call does anything.
    void start();
    // Delivers a lock change that no notification announced.
    void pollLock();

    std::optional<bool> lastLocked() const { return lastLocked_; }
    bool started() const { return !observations_.empty(); }

private:
    SystemLifecycleMonitor() = default;

    void observe(LifecycleNotificationCenter& center, std::string_view name,
                 SystemLifecycleCode code);
    void handle(SystemLifecycleCode code);
    void handleDidWake();
    void deliverLockState(bool locked);

    std::shared_ptr<LifecycleNotificationCenter> workspaceCenter_;
    std::shared_ptr<LifecycleNotificationCenter> distributedCenter_;
    SessionReader session_;
    Sink sink_;
    std::shared_ptr<MainLoop> mainLoop_;
    std::vector<ObservationHandle> observations_;
    TimerHandle pollTimer_;
    std::optional<bool> lastLocked_;
};

} // namespace quorvel
