#include "BusCall_linux.h"
#include "DoctorCheck.h"

#include <string>
#include <unistd.h>

namespace quorvel::doctor {
namespace {

constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* watcherPath = "/StatusNotifierWatcher";
constexpr const char* itemPath = "/StatusNotifierItem";

constexpr const char* itemIntrospection = R"(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
  </interface>
</node>)";

GVariant* itemProperty(GDBusConnection*, const char*, const char*, const char*,
                       const char* property, GError**, gpointer) {
    const std::string name = property;
    if (name == "Category")
        return g_variant_new_string("ApplicationStatus");
    if (name == "Id")
        return g_variant_new_string("quorvel-doctor-test-item");
    if (name == "Title")
        return g_variant_new_string("quorvel-doctor test item");
    if (name == "Status")
        return g_variant_new_string("Passive");
    return g_variant_new_string("dialog-information");
}

std::vector<std::string> registeredItems(GDBusConnection* bus) {
    std::vector<std::string> items;
    GVariant* value =
        busProperty(bus, watcherName, watcherPath, watcherName, "RegisteredStatusNotifierItems");
    if (!value)
        return items;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** strings = g_variant_get_strv(value, &count);
        items.assign(strings, strings + count);
        g_free(strings);
    }
    g_variant_unref(value);
    return items;
}

// Registers a passive item from a connection of its own, asks the watcher whether it took it,
// and closes that connection, which takes the item off every host again.
DoctorCheck testItem(DoctorCheck check) {
    check.name = "tray test item";
    std::string error;
    GError* failure = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &failure);
    GDBusConnection* own =
        address
            ? g_dbus_connection_new_for_address_sync(
                  address,
                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                  nullptr, nullptr, &failure)
            : nullptr;
    g_free(address);
    if (!own) {
        check.verdict = Verdict::warning;
        check.detail = std::string("could not open a second bus connection: ") +
                       (failure ? failure->message : "unknown");
        g_clear_error(&failure);
        return check;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(itemIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {nullptr, itemProperty, nullptr, {}};
    guint registration = g_dbus_connection_register_object(own, itemPath, node->interfaces[0],
                                                           &vtable, nullptr, nullptr, nullptr);
    const std::string unique = g_dbus_connection_get_unique_name(own);
    GVariant* reply =
        busCall(own, watcherName, watcherPath, watcherName, "RegisterStatusNotifierItem",
                g_variant_new("(s)", unique.c_str()), nullptr, &error);
    bool listed = false;
    if (reply) {
        g_variant_unref(reply);
        GDBusConnection* observer = connectBus(G_BUS_TYPE_SESSION, error);
        if (observer) {
            for (const auto& item : registeredItems(observer))
                listed = listed || item.rfind(unique, 0) == 0;
            g_object_unref(observer);
        }
    }
    if (registration)
        g_dbus_connection_unregister_object(own, registration);
    g_dbus_node_info_unref(node);
    g_dbus_connection_close_sync(own, nullptr, nullptr);
    g_object_unref(own);

    if (!reply) {
        check.verdict = Verdict::problem;
        check.detail = "the watcher refused a test item: " + error;
        check.advice = "restart the panel or the tray extension";
    } else if (!listed) {
        check.verdict = Verdict::problem;
        check.detail = "the watcher took a test item but does not list it";
        check.advice = "restart the panel or the tray extension";
    } else if (check.verdict != Verdict::ok) {
        check.detail = "the watcher listed a test item, but no host shows items";
        check.advice = "add a status-notifier area to the panel";
    } else {
        check.detail = "a test item was registered, listed and removed again";
    }
    return check;
}

} // namespace

void checkTray(DoctorChecks& out) {
    std::string error;
    GDBusConnection* bus = connectBus(G_BUS_TYPE_SESSION, error);
    if (!bus)
        return; // the session-bus line already says so
    DoctorCheck watcher{"tray watcher", Verdict::ok, "", ""};
    auto owner = nameOwner(bus, watcherName);
    if (!owner) {
        watcher.verdict = Verdict::problem;
        watcher.detail = "no StatusNotifierWatcher on the session bus: the tray icon cannot appear";
        watcher.advice = "on GNOME enable an AppIndicator/KStatusNotifierItem extension; elsewhere "
                         "add a status-notifier (system tray) area to the panel";
        out.push_back(watcher);
        g_object_unref(bus);
        return;
    }
    watcher.detail = "owned by " + ownerDescription(bus, *owner);
    out.push_back(watcher);

    DoctorCheck host{"tray host", Verdict::ok, "", ""};
    GVariant* registered =
        busProperty(bus, watcherName, watcherPath, watcherName, "IsStatusNotifierHostRegistered");
    const bool hostRegistered = registered &&
                                g_variant_is_of_type(registered, G_VARIANT_TYPE_BOOLEAN) &&
                                g_variant_get_boolean(registered);
    if (registered)
        g_variant_unref(registered);
    if (hostRegistered) {
        host.detail = "a host is registered; items are shown";
    } else {
        host.verdict = Verdict::warning;
        host.detail = "the watcher reports no host: items are kept but nothing shows them";
        host.advice = "add a status-notifier (system tray) area to the panel";
    }
    out.push_back(host);
    out.push_back(testItem({"", host.verdict, "", ""}));
    g_object_unref(bus);
}

void checkSessionBus(DoctorChecks& out) {
    std::string error;
    GDBusConnection* bus = connectBus(G_BUS_TYPE_SESSION, error);
    if (!bus) {
        out.push_back({"session bus", Verdict::problem, "not reachable: " + error,
                       "run inside the desktop session (DBUS_SESSION_BUS_ADDRESS unset or stale)"});
        return;
    }
    out.push_back({"session bus", Verdict::ok,
                   std::string("connected as ") + g_dbus_connection_get_unique_name(bus), ""});
    g_object_unref(bus);
}

} // namespace quorvel::doctor
