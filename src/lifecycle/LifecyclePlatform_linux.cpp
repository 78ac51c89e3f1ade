#include "lifecycle/LifecyclePlatform.h"

#include "lifecycle/LogindSessionWatch.h"
#include "lifecycle/SessionBusNotifications.h"
#include "lifecycle/SystemApplicationActivator.h"

#include <gio/gio.h>

namespace quorvel {

namespace {

// The given connection, or the process's bus of that type; nullptr when there is none.
GDBusConnection* connectionOrDefault(GDBusConnection* given, GBusType type) {
    if (given) return G_DBUS_CONNECTION(g_object_ref(given));
    return g_bus_get_sync(type, nullptr, nullptr);
}

void releaseConnection(GDBusConnection* connection) {
    if (connection) g_object_unref(connection);
}

} // namespace

LifecyclePlatform makeSystemLifecyclePlatform(const LifecycleBuses& buses) {
    auto workspace = LocalNotificationCenter::create();
    auto distributed = LocalNotificationCenter::create();

    GDBusConnection* systemBus = connectionOrDefault(buses.systemBus, G_BUS_TYPE_SYSTEM);
    LogindSessionWatch::Options options;
    options.systemBus = systemBus;
    options.sessionPath = buses.sessionPath;
    auto logind = LogindSessionWatch::start(options, workspace, distributed);
    releaseConnection(systemBus);

    GDBusConnection* sessionBus = connectionOrDefault(buses.sessionBus, G_BUS_TYPE_SESSION);
    auto receiver = std::make_shared<SessionBusNotificationReceiver>(sessionBus, distributed);
    releaseConnection(sessionBus);

    LifecyclePlatform platform;
    platform.workspaceCenter = workspace;
    platform.distributedCenter = distributed;
    std::weak_ptr<LogindSessionWatch> weakLogind = logind;
    platform.session = [weakLogind]() -> std::optional<SessionDictionary> {
        if (auto watch = weakLogind.lock()) return watch->sessionDictionary();
        return std::nullopt;
    };
    platform.sources = {logind, receiver};
    return platform;
}

FocusHandOffPlatform makeSystemFocusHandOffPlatform(GDBusConnection* sessionBus) {
    GDBusConnection* bus = connectionOrDefault(sessionBus, G_BUS_TYPE_SESSION);
    FocusHandOffPlatform platform;
    platform.activator = std::make_shared<SystemApplicationActivator>(bus);
    platform.poster = std::make_shared<SessionBusNotificationPoster>(bus);
    releaseConnection(bus);
    return platform;
}

} // namespace quorvel
