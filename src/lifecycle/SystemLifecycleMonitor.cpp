#include "lifecycle/SystemLifecycleMonitor.h"

namespace quorvel {

std::shared_ptr<SystemLifecycleMonitor>
SystemLifecycleMonitor::create(std::shared_ptr<LifecycleNotificationCenter> workspaceCenter,
                               std::shared_ptr<LifecycleNotificationCenter> distributedCenter,
                               SessionReader session, Sink sink,
                               std::shared_ptr<MainLoop> mainLoop) {
    std::shared_ptr<SystemLifecycleMonitor> monitor(new SystemLifecycleMonitor());
    monitor->workspaceCenter_ = std::move(workspaceCenter);
    monitor->distributedCenter_ = std::move(distributedCenter);
    monitor->session_ = std::move(session);
    monitor->sink_ = std::move(sink);
    monitor->mainLoop_ = std::move(mainLoop);
    return monitor;
}

void SystemLifecycleMonitor::start() {
    if (!observations_.empty())
        return;

    std::uint32_t usability = initialUsability(session_());
    // Until the session says otherwise the screen counts as locked.
    lastLocked_ = (usability & usabilityFlag::screenUnlocked) == 0;
    sink_(SystemLifecycleCode::initial, usability);

    observe(*workspaceCenter_, lifecycleNotification::willSleep, SystemLifecycleCode::willSleep);
    std::weak_ptr<SystemLifecycleMonitor> weak = weak_from_this();
    observations_.push_back(workspaceCenter_->observe(lifecycleNotification::didWake, [weak] {
        if (auto self = weak.lock())
            self->handleDidWake();
    }));
    observe(*workspaceCenter_, lifecycleNotification::sessionDidBecomeActive,
            SystemLifecycleCode::sessionBecameActive);
    observe(*workspaceCenter_, lifecycleNotification::sessionDidResignActive,
            SystemLifecycleCode::sessionResignedActive);
    observe(*workspaceCenter_, lifecycleNotification::willPowerOff,
            SystemLifecycleCode::willPowerOff);
    observe(*distributedCenter_, lifecycleNotification::screenIsLocked,
            SystemLifecycleCode::screenLocked);
    observe(*distributedCenter_, lifecycleNotification::screenIsUnlocked,
            SystemLifecycleCode::screenUnlocked);
    observe(*distributedCenter_, lifecycleNotification::focusExisting,
            SystemLifecycleCode::focusExistingApplication);

    pollTimer_ = mainLoop_->scheduleTimer(lockPollInterval, true, [weak] {
        if (auto self = weak.lock())
            self->pollLock();
    });
}

void SystemLifecycleMonitor::observe(LifecycleNotificationCenter& center, std::string_view name,
                                     SystemLifecycleCode code) {
    std::weak_ptr<SystemLifecycleMonitor> weak = weak_from_this();
    observations_.push_back(center.observe(name, [weak, code] {
        if (auto self = weak.lock())
            self->handle(code);
    }));
}

void SystemLifecycleMonitor::handle(SystemLifecycleCode code) {
    if (code == SystemLifecycleCode::screenLocked)
        lastLocked_ = true;
    if (code == SystemLifecycleCode::screenUnlocked)
        lastLocked_ = false;
    sink_(code, 0);
}

void SystemLifecycleMonitor::handleDidWake() {
    sink_(SystemLifecycleCode::didWake, 0);
    if (auto locked = screenIsLocked(session_()))
        deliverLockState(*locked);
}

void SystemLifecycleMonitor::pollLock() {
    auto session = session_();
    if (!session)
        return;
    auto locked = screenIsLocked(session);
    if (!locked)
        return;
    if (lastLocked_ != locked)
        deliverLockState(*locked);
}

void SystemLifecycleMonitor::deliverLockState(bool locked) {
    lastLocked_ = locked;
    sink_(locked ? SystemLifecycleCode::screenLocked : SystemLifecycleCode::screenUnlocked, 0);
}

} // namespace quorvel
