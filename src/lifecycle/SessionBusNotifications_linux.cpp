#include "lifecycle/SessionBusNotifications.h"

#include <gio/gio.h>
#include <string>

namespace quorvel {

namespace {

using WeakCenter = std::weak_ptr<LocalNotificationCenter>;

void received(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
              GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)")))
        return;
    const gchar* text = nullptr;
    g_variant_get(parameters, "(&s)", &text);
    std::string_view name(text);
    if (name == lifecycleNotification::screenIsLocked ||
        name == lifecycleNotification::screenIsUnlocked)
        return;
    if (auto center = static_cast<WeakCenter*>(data)->lock())
        center->post(name);
}

} // namespace

SessionBusNotificationPoster::SessionBusNotificationPoster(GDBusConnection* sessionBus) {
    if (sessionBus)
        bus_ = G_DBUS_CONNECTION(g_object_ref(sessionBus));
}

SessionBusNotificationPoster::~SessionBusNotificationPoster() {
    if (bus_)
        g_object_unref(bus_);
}

void SessionBusNotificationPoster::post(std::string_view name) {
    if (!bus_)
        return;
    std::string text(name);
    g_dbus_connection_emit_signal(bus_, nullptr, sessionBusNotification::path,
                                  sessionBusNotification::interface, sessionBusNotification::member,
                                  g_variant_new("(s)", text.c_str()), nullptr);
    // Delivered before the caller goes on: a second copy usually quits right after posting.
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
}

SessionBusNotificationReceiver::SessionBusNotificationReceiver(
    GDBusConnection* sessionBus, std::weak_ptr<LocalNotificationCenter> center) {
    if (!sessionBus)
        return;
    bus_ = G_DBUS_CONNECTION(g_object_ref(sessionBus));
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, nullptr, sessionBusNotification::interface, sessionBusNotification::member,
        sessionBusNotification::path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, received,
        new WeakCenter(std::move(center)),
        [](gpointer data) { delete static_cast<WeakCenter*>(data); });
}

SessionBusNotificationReceiver::~SessionBusNotificationReceiver() {
    if (!bus_)
        return;
    g_dbus_connection_signal_unsubscribe(bus_, subscription_);
    g_object_unref(bus_);
}

} // namespace quorvel
