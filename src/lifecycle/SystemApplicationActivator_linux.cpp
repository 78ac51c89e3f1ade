#include "lifecycle/SystemApplicationActivator.h"

#include <algorithm>
#include <cstdlib>
#include <gio/gio.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr int activationTimeoutMilliseconds = 1000;

// "com.quorvel.desktop" -> "/com/quorvel/desktop", as a desktop application exports itself.
std::string objectPathForApplicationIdentifier(std::string_view identifier) {
    std::string path = "/";
    for (char c : identifier)
        path.push_back(c == '.' ? '/' : c == '-' ? '_' : c);
    return path;
}

} // namespace

SystemApplicationActivator::SystemApplicationActivator(GDBusConnection* sessionBus,
                                                       std::string procRoot)
    : scan_(std::move(procRoot)) {
    if (sessionBus)
        bus_ = G_DBUS_CONNECTION(g_object_ref(sessionBus));
}

SystemApplicationActivator::~SystemApplicationActivator() {
    if (bus_)
        g_object_unref(bus_);
}

std::vector<RunningApplication>
SystemApplicationActivator::runningApplications(std::string_view bundleIdentifier) {
    std::vector<RunningApplication> applications;
    {
        std::lock_guard lock(scanMutex_);
        applications = scan_.runningApplications(bundleIdentifier);
    }
    // The copy that holds the bus name comes first: it is the only one that can be asked to come
    // forward, and a second copy that never took the name (still starting, or stuck) would
    // otherwise be chosen by its lower pid and nothing would come forward.
    if (const auto owner = nameOwnerProcess(std::string(bundleIdentifier))) {
        std::stable_partition(applications.begin(), applications.end(),
                              [&](const RunningApplication& application) {
                                  return application.processIdentifier == *owner;
                              });
    }
    return applications;
}

std::optional<std::int32_t> SystemApplicationActivator::nameOwnerProcess(const std::string& name) {
    if (!bus_ || !g_dbus_is_name(name.c_str()))
        return std::nullopt;
    GVariant* reply = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, activationTimeoutMilliseconds, nullptr, nullptr);
    if (!reply)
        return std::nullopt;
    guint32 ownerPid = 0;
    g_variant_get(reply, "(u)", &ownerPid);
    g_variant_unref(reply);
    return static_cast<std::int32_t>(ownerPid);
}

void SystemApplicationActivator::activate(const RunningApplication& application) {
    if (!bus_ || !application.bundleIdentifier ||
        !g_dbus_is_name(application.bundleIdentifier->c_str()))
        return;
    const std::string& name = *application.bundleIdentifier;

    // Only the copy that was chosen, when it is the one holding the name.
    if (nameOwnerProcess(name) != application.processIdentifier)
        return;

    GVariantBuilder platformData;
    g_variant_builder_init(&platformData, G_VARIANT_TYPE("a{sv}"));
    if (const char* token = std::getenv("XDG_ACTIVATION_TOKEN"); token && *token) {
        g_variant_builder_add(&platformData, "{sv}", "activation-token",
                              g_variant_new_string(token));
    }
    if (const char* startup = std::getenv("DESKTOP_STARTUP_ID"); startup && *startup) {
        g_variant_builder_add(&platformData, "{sv}", "desktop-startup-id",
                              g_variant_new_string(startup));
    }
    std::string path = objectPathForApplicationIdentifier(name);
    if (!g_variant_is_object_path(path.c_str())) {
        g_variant_builder_clear(&platformData);
        return;
    }
    // No reply is awaited: whether the copy comes forward is up to it and the desktop.
    g_dbus_connection_call(bus_, name.c_str(), path.c_str(), "org.freedesktop.Application",
                           "Activate", g_variant_new("(a{sv})", &platformData), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

} // namespace quorvel
