#include "lifecycle/LifecyclePlatform.h"
#include "lifecycle/LogindSessionWatch.h"
#include "lifecycle/SessionBusNotifications.h"
#include "lifecycle/SystemApplicationActivator.h"

#include <gio/gio.h>

namespace quorvel {

namespace {

// The given connection, or the process's bus of that type; nullptr when there is none.
GDBusConnection* connectionOrDefault(GDBusConnection* given, GBusType type) {
    if (given)
        return G_DBUS_CONNECTION(g_object_ref(given));
    return g_bus_get_sync(type, nullptr, nullptr);
}

// The given connection, or a connection of our own to the system bus. GLib's shared connection
// would end the whole host app (exit-on-close) should the system bus ever go away; ours just
// leaves the session unreachable.
GDBusConnection* systemConnection(GDBusConnection* given) {
    if (given)
        return G_DBUS_CONNECTION(g_object_ref(given));
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!address)
        return nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    return connection;
}

void releaseConnection(GDBusConnection* connection) {
    if (connection)
        g_object_unref(connection);
}

} // namespace

LifecyclePlatform makeSystemLifecyclePlatform(const LifecycleBuses& buses) {
    auto workspace = LocalNotificationCenter::create();
    auto distributed = LocalNotificationCenter::create();

    GDBusConnection* systemBus = systemConnection(buses.systemBus);
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
        if (auto watch = weakLogind.lock())
            return watch->sessionDictionary();
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
