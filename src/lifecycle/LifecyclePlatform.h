#pragma once

#include "lifecycle/FocusHandOff.h"
#include "lifecycle/LifecycleNotificationCenter.h"
#include "lifecycle/LoginSession.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;

namespace quorvel {

// What the lifecycle monitor uses of the platform: its two notification centers and the session
// reader, with the objects that feed them.
struct LifecyclePlatform {
    std::shared_ptr<LifecycleNotificationCenter> workspaceCenter;
    std::shared_ptr<LifecycleNotificationCenter> distributedCenter;
    SessionReader session;
    // Whatever must live as long as the centers do (bus subscriptions).
    std::vector<std::shared_ptr<void>> sources;
};

// The buses the Linux platform talks to. Absent ones are a connection of the platform's own to the
// system bus and the process's shared session bus. Tests pass connections to private buses,
// because GLib keeps the process's bus connections for good once made.
struct LifecycleBuses {
    GDBusConnection* systemBus = nullptr;
    GDBusConnection* sessionBus = nullptr;
    std::optional<std::string> sessionPath;
};

// logind on the system bus for the machine, the session and the screen lock; the session bus for
// notifications between the host app's copies. Created on the main thread.
LifecyclePlatform makeSystemLifecyclePlatform(const LifecycleBuses& buses = {});

// The /proc scan and session-bus activation, and posts on the session bus. Any thread.
FocusHandOffPlatform makeSystemFocusHandOffPlatform(GDBusConnection* sessionBus = nullptr);

} // namespace quorvel
