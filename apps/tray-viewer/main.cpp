// quorvel-tray-viewer [--bus ADDRESS] [--no-host] [--click LABEL]... [--exit-after SECONDS]
//
// Acts as the tray's watcher and host on the session bus (or, when another program already owns
// the watcher name, as a host of that watcher) and prints, one line per event, what a host sees of
// each status item:
//   watcher owned | watcher existing OWNER
//   item registered ENTRY | item unregistered ENTRY
//   icon ENTRY sizes=22x22,44x44,66x66 opacity=1.00 badge=NAME|none|other [ink=dark|light|outlined]
//   tooltip ENTRY title="..." text="..."
//   menu ENTRY revision=N  followed by  menu-entry ENTRY id=N type=standard label="..."
//   enabled=true visible=true clicked ENTRY id=N label="..."
// --click chooses the first visible entry with that label once the menu is known (repeatable;
// one click every half second). --no-host reports that no host draws items.
#include "shell/BrandedStatusIcon.h"
#include "shell/StatusPixmaps.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <gio/gio.h>
#include <glib-unix.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace quorvel;

constexpr const char* watcherXml = R"XML(
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>)XML";

struct MenuEntry {
    int id = 0;
    std::string type = "standard";
    std::string label;
    bool enabled = true;
    bool visible = true;
};

struct Item {
    std::string entry; // as the watcher lists it: "name/path"
    std::string busName;
    std::string path;
    std::string menuPath;
    guint nameWatch = 0;
    std::vector<MenuEntry> menu;
};

struct Viewer {
    GDBusConnection* connection = nullptr;
    bool ownsWatcher = false;
    bool host = true;
    std::map<std::string, Item> items; // by entry
    std::deque<std::string> clicks;
    std::vector<std::vector<ArgbPixmap>> badgeCandidates;
    std::vector<std::string> badgeNames;
    GMainLoop* loop = nullptr;
};

Viewer viewer;

void line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

GVariant* registeredItems() {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const auto& [entry, item] : viewer.items)
        g_variant_builder_add(&builder, "s", entry.c_str());
    return g_variant_builder_end(&builder);
}

void emitWatcher(const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(viewer.connection, nullptr, "/StatusNotifierWatcher",
                                  "org.kde.StatusNotifierWatcher", signal, parameters, nullptr);
}

// ---- Reading an item as a host does ----

std::string recogniseBadge(const std::vector<ArgbPixmap>& pixmaps, double opacity) {
    for (std::size_t i = 0; i < viewer.badgeCandidates.size(); ++i) {
        auto expected = withOpacity(viewer.badgeCandidates[i], opacity);
        if (expected.size() != pixmaps.size())
            continue;
        bool same = true;
        for (std::size_t p = 0; same && p < pixmaps.size(); ++p) {
            if (expected[p].argb.size() != pixmaps[p].argb.size()) {
                same = false;
                break;
            }
            for (std::size_t b = 0; b < pixmaps[p].argb.size(); ++b) {
                if (std::abs(int(expected[p].argb[b]) - int(pixmaps[p].argb[b])) > 2) {
                    same = false;
                    break;
                }
            }
        }
        if (same)
            return viewer.badgeNames[i];
    }
    return "other";
}

void readMenu(const std::string& entry);

// Reads are asynchronous, as a host's are: the item's process may itself be waiting on this one.
void itemRead(const std::string& entry, bool icon, bool toolTip, GVariant* reply);

void readItem(const std::string& entry, bool icon, bool toolTip, bool thenMenu = false) {
    auto found = viewer.items.find(entry);
    if (found == viewer.items.end())
        return;
    struct Read {
        std::string entry;
        bool icon, toolTip, thenMenu;
    };
    g_dbus_connection_call(
        viewer.connection, found->second.busName.c_str(), found->second.path.c_str(),
        "org.freedesktop.DBus.Properties", "GetAll",
        g_variant_new("(s)", "org.kde.StatusNotifierItem"), G_VARIANT_TYPE("(a{sv})"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* read = static_cast<Read*>(data);
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            if (reply) {
                itemRead(read->entry, read->icon, read->toolTip, reply);
                if (read->thenMenu)
                    readMenu(read->entry);
            }
            delete read;
        },
        new Read{entry, icon, toolTip, thenMenu});
}

void itemRead(const std::string& entry, bool icon, bool toolTip, GVariant* reply) {
    auto found = viewer.items.find(entry);
    if (found == viewer.items.end()) {
        g_variant_unref(reply);
        return;
    }
    GVariant* properties = g_variant_get_child_value(reply, 0);
    if (GVariant* menu = g_variant_lookup_value(properties, "Menu", G_VARIANT_TYPE_OBJECT_PATH)) {
        found->second.menuPath = g_variant_get_string(menu, nullptr);
        g_variant_unref(menu);
    }
    if (icon) {
        std::vector<ArgbPixmap> pixmaps;
        if (GVariant* value =
                g_variant_lookup_value(properties, "IconPixmap", G_VARIANT_TYPE("a(iiay)"))) {
            GVariantIter iter;
            g_variant_iter_init(&iter, value);
            gint32 w = 0, h = 0;
            GVariant* data = nullptr;
            while (g_variant_iter_next(&iter, "(ii@ay)", &w, &h, &data)) {
                gsize size = 0;
                auto* bytes =
                    static_cast<const std::uint8_t*>(g_variant_get_fixed_array(data, &size, 1));
                pixmaps.push_back({w, h, std::vector<std::uint8_t>(bytes, bytes + size)});
                g_variant_unref(data);
            }
            g_variant_unref(value);
        }
        std::string sizes;
        int maxAlpha = 0;
        for (const auto& pixmap : pixmaps) {
            sizes += (sizes.empty() ? "" : ",") + std::to_string(pixmap.width) + "x" +
                     std::to_string(pixmap.height);
            for (std::size_t i = 0; i < pixmap.argb.size(); i += 4)
                maxAlpha = std::max(maxAlpha, int(pixmap.argb[i]));
        }
        double opacity = maxAlpha / 255.0;
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", opacity);
        line("icon " + entry + " sizes=" + sizes + " opacity=" + text +
             " badge=" + recogniseBadge(pixmaps, opacity));
    }
    if (toolTip) {
        const char* title = "";
        const char* description = "";
        GVariant* value =
            g_variant_lookup_value(properties, "ToolTip", G_VARIANT_TYPE("(sa(iiay)ss)"));
        if (value)
            g_variant_get(value, "(&s@a(iiay)&s&s)", nullptr, nullptr, &title, &description);
        line("tooltip " + entry + " title=" + quoted(title) + " text=" + quoted(description));
        if (value)
            g_variant_unref(value);
    }
    g_variant_unref(properties);
    g_variant_unref(reply);
}

void clickPending(const std::string& entry);
void menuRead(const std::string& entry, GVariant* reply);

void readMenu(const std::string& entry) {
    auto found = viewer.items.find(entry);
    if (found == viewer.items.end() || found->second.menuPath.empty())
        return;
    Item& item = found->second;
    g_dbus_connection_call(
        viewer.connection, item.busName.c_str(), item.menuPath.c_str(), "com.canonical.dbusmenu",
        "GetLayout", g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)),
        G_VARIANT_TYPE("(u(ia{sv}av))"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* read = static_cast<std::string*>(data);
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            if (reply)
                menuRead(*read, reply);
            delete read;
        },
        new std::string(entry));
}

void menuRead(const std::string& entry, GVariant* reply) {
    auto found = viewer.items.find(entry);
    if (found == viewer.items.end()) {
        g_variant_unref(reply);
        return;
    }
    Item& item = found->second;
    guint32 revision = 0;
    GVariant* root = nullptr;
    g_variant_get(reply, "(u@(ia{sv}av))", &revision, &root);
    line("menu " + entry + " revision=" + std::to_string(revision));
    item.menu.clear();
    GVariant* children = g_variant_get_child_value(root, 2);
    for (gsize i = 0; i < g_variant_n_children(children); ++i) {
        GVariant* boxed = g_variant_get_child_value(children, i);
        GVariant* child = g_variant_get_variant(boxed);
        MenuEntry menuEntry;
        GVariant* props = nullptr;
        g_variant_get(child, "(i@a{sv}@av)", &menuEntry.id, &props, nullptr);
        const char* text = nullptr;
        if (g_variant_lookup(props, "type", "&s", &text))
            menuEntry.type = text;
        if (g_variant_lookup(props, "label", "&s", &text))
            menuEntry.label = text;
        gboolean flag = TRUE;
        if (g_variant_lookup(props, "enabled", "b", &flag))
            menuEntry.enabled = flag;
        if (g_variant_lookup(props, "visible", "b", &flag))
            menuEntry.visible = flag;
        line("menu-entry " + entry + " id=" + std::to_string(menuEntry.id) +
             " type=" + menuEntry.type + " label=" + quoted(menuEntry.label) +
             " enabled=" + (menuEntry.enabled ? "true" : "false") +
             " visible=" + (menuEntry.visible ? "true" : "false"));
        item.menu.push_back(menuEntry);
        g_variant_unref(props);
        g_variant_unref(child);
        g_variant_unref(boxed);
    }
    g_variant_unref(children);
    g_variant_unref(root);
    g_variant_unref(reply);
    clickPending(entry);
}

void clickPending(const std::string& entry) {
    if (viewer.clicks.empty())
        return;
    auto found = viewer.items.find(entry);
    if (found == viewer.items.end())
        return;
    std::string label = viewer.clicks.front();
    for (const auto& menuEntry : found->second.menu) {
        if (menuEntry.label != label || !menuEntry.visible)
            continue;
        viewer.clicks.pop_front();
        line("clicked " + entry + " id=" + std::to_string(menuEntry.id) +
             " label=" + quoted(label));
        GVariantBuilder events;
        g_variant_builder_init(&events, G_VARIANT_TYPE("a(isvu)"));
        g_variant_builder_add(&events, "(isvu)", menuEntry.id, "clicked", g_variant_new_int32(0),
                              0u);
        g_dbus_connection_call(viewer.connection, found->second.busName.c_str(),
                               found->second.menuPath.c_str(), "com.canonical.dbusmenu",
                               "EventGroup",
                               g_variant_new("(@a(isvu))", g_variant_builder_end(&events)), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        if (!viewer.clicks.empty()) {
            auto* copy = new std::string(entry);
            g_timeout_add_full(
                G_PRIORITY_DEFAULT, 500,
                [](gpointer data) -> gboolean {
                    clickPending(*static_cast<std::string*>(data));
                    return G_SOURCE_REMOVE;
                },
                copy, [](gpointer data) { delete static_cast<std::string*>(data); });
        }
        return;
    }
}

void itemSignal(GDBusConnection*, const char* sender, const char* path, const char* interface,
                const char* signal, GVariant*, gpointer) {
    for (auto& [entry, item] : viewer.items) {
        // Signals come from the unique name that owns the item's bus name.
        GVariant* owner = g_dbus_connection_call_sync(
            viewer.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", item.busName.c_str()),
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (!owner)
            continue;
        const char* unique = nullptr;
        g_variant_get(owner, "(&s)", &unique);
        bool match = std::strcmp(unique, sender) == 0;
        g_variant_unref(owner);
        if (!match)
            continue;
        std::string name = signal;
        if (std::strcmp(interface, "com.canonical.dbusmenu") == 0 && path == item.menuPath) {
            if (name == "LayoutUpdated" || name == "ItemsPropertiesUpdated")
                readMenu(entry);
        } else if (path == item.path) {
            readItem(entry, name == "NewIcon", name == "NewToolTip");
        }
    }
}

void addItem(const std::string& busName, const std::string& path) {
    std::string entry = busName + path;
    if (viewer.items.count(entry))
        return;
    Item item;
    item.entry = entry;
    item.busName = busName;
    item.path = path;
    viewer.items[entry] = item;
    line("item registered " + entry);
    if (viewer.ownsWatcher) {
        emitWatcher("StatusNotifierItemRegistered", g_variant_new("(s)", entry.c_str()));
        // The watcher drops an item whose owner leaves the bus.
        viewer.items[entry].nameWatch = g_bus_watch_name_on_connection(
            viewer.connection, busName.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection*, const char*, gpointer data) {
                std::string gone = *static_cast<std::string*>(data);
                auto found = viewer.items.find(gone);
                if (found == viewer.items.end())
                    return;
                g_bus_unwatch_name(found->second.nameWatch);
                viewer.items.erase(found);
                line("item unregistered " + gone);
                emitWatcher("StatusNotifierItemUnregistered", g_variant_new("(s)", gone.c_str()));
            },
            new std::string(entry), [](gpointer data) { delete static_cast<std::string*>(data); });
    }
    readItem(entry, true, true, true);
}

void watcherMethod(GDBusConnection*, const char* sender, const char*, const char*,
                   const char* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                   gpointer) {
    const char* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    if (std::strcmp(method, "RegisterStatusNotifierHost") == 0) {
        g_dbus_method_invocation_return_value(invocation, nullptr);
        return;
    }
    std::string busName = service[0] == '/' ? sender : service;
    std::string path = service[0] == '/' ? service : "/StatusNotifierItem";
    if (!g_dbus_is_name(busName.c_str())) {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.InvalidArgs", "Bad service");
        return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
    addItem(busName, path);
}

GVariant* watcherProperty(GDBusConnection*, const char*, const char*, const char*, const char* name,
                          GError**, gpointer) {
    if (std::strcmp(name, "RegisteredStatusNotifierItems") == 0)
        return registeredItems();
    if (std::strcmp(name, "IsStatusNotifierHostRegistered") == 0)
        return g_variant_new_boolean(viewer.host);
    if (std::strcmp(name, "ProtocolVersion") == 0)
        return g_variant_new_int32(0);
    return nullptr;
}

const GDBusInterfaceVTable watcherVTable{watcherMethod, watcherProperty, nullptr, {}};

void hostOfExistingWatcher(const char* owner) {
    line(std::string("watcher existing ") + owner);
    std::string hostName = "org.kde.StatusNotifierHost-" + std::to_string(getpid());
    g_bus_own_name_on_connection(viewer.connection, hostName.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                 nullptr, nullptr, nullptr, nullptr);
    g_dbus_connection_call_sync(viewer.connection, "org.kde.StatusNotifierWatcher",
                                "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                "RegisterStatusNotifierHost",
                                g_variant_new("(s)", hostName.c_str()), nullptr,
                                G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    g_dbus_connection_signal_subscribe(
        viewer.connection, owner, "org.kde.StatusNotifierWatcher", nullptr,
        "/StatusNotifierWatcher", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char* signal,
           GVariant* parameters, gpointer) {
            if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)")))
                return;
            std::string entry =
                g_variant_get_string(g_variant_get_child_value(parameters, 0), nullptr);
            auto slash = entry.find('/');
            if (std::strcmp(signal, "StatusNotifierItemRegistered") == 0 &&
                slash != std::string::npos) {
                addItem(entry.substr(0, slash), entry.substr(slash));
            } else if (std::strcmp(signal, "StatusNotifierItemUnregistered") == 0 &&
                       viewer.items.erase(entry)) {
                line("item unregistered " + entry);
            }
        },
        nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        viewer.connection, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
        "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (!reply)
        return;
    GVariant* list = nullptr;
    g_variant_get(reply, "(v)", &list);
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    const char* entry = nullptr;
    while (g_variant_iter_next(&iter, "&s", &entry)) {
        std::string text = entry;
        auto slash = text.find('/');
        if (slash != std::string::npos)
            addItem(text.substr(0, slash), text.substr(slash));
    }
    g_variant_unref(list);
    g_variant_unref(reply);
}

} // namespace

int main(int argc, char** argv) {
    std::string address;
    double exitAfter = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--bus" && i + 1 < argc) {
            address = argv[++i];
        } else if (arg == "--no-host") {
            viewer.host = false;
        } else if (arg == "--click" && i + 1 < argc) {
            viewer.clicks.push_back(argv[++i]);
        } else if (arg == "--exit-after" && i + 1 < argc) {
            exitAfter = std::atof(argv[++i]);
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--bus ADDRESS] [--no-host] [--click LABEL]... [--exit-after SECONDS]\n",
                argv[0]);
            return 2;
        }
    }
    GError* error = nullptr;
    viewer.connection =
        address.empty() ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error)
                        : g_dbus_connection_new_for_address_sync(
                              address.c_str(),
                              GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                              nullptr, nullptr, &error);
    if (!viewer.connection) {
        std::fprintf(stderr, "quorvel-tray-viewer: no bus: %s\n",
                     error ? error->message : "unknown");
        return 1;
    }
    if (auto icon = BrandedStatusIcon::make()) {
        // Every badge in every ink: the item draws for the panel's shade as it reads it.
        const std::pair<PanelShade, const char*> inks[] = {{PanelShade::unknown, "outlined"},
                                                           {PanelShade::light, "dark"},
                                                           {PanelShade::dark, "light"}};
        for (const auto& [shade, ink] : inks) {
            for (const char* name :
                 {"", "ellipsis", "record.circle.fill", "exclamationmark.triangle.fill",
                  "pause.fill", "arrow.down.circle", "arrow.up.circle.fill",
                  "exclamationmark.octagon.fill", "questionmark.circle"}) {
                viewer.badgeCandidates.push_back(composeStatusPixmaps(*icon, name, shade));
                viewer.badgeNames.push_back(std::string(*name ? name : "none") + " ink=" + ink);
            }
        }
    }
    g_dbus_connection_signal_subscribe(viewer.connection, nullptr, "org.kde.StatusNotifierItem",
                                       nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       itemSignal, nullptr, nullptr);
    g_dbus_connection_signal_subscribe(viewer.connection, nullptr, "com.canonical.dbusmenu",
                                       nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                       itemSignal, nullptr, nullptr);

    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(watcherXml, nullptr);
    g_dbus_connection_register_object(viewer.connection, "/StatusNotifierWatcher",
                                      info->interfaces[0], &watcherVTable, nullptr, nullptr,
                                      nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        viewer.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    guint32 result = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    if (result == 1) {
        viewer.ownsWatcher = true;
        line(viewer.host ? "watcher owned" : "watcher owned host=none");
    } else {
        GVariant* owner = g_dbus_connection_call_sync(
            viewer.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", "GetNameOwner",
            g_variant_new("(s)", "org.kde.StatusNotifierWatcher"), G_VARIANT_TYPE("(s)"),
            G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        const char* unique = "";
        if (owner)
            g_variant_get(owner, "(&s)", &unique);
        hostOfExistingWatcher(unique);
        if (owner)
            g_variant_unref(owner);
    }

    viewer.loop = g_main_loop_new(nullptr, FALSE);
    if (exitAfter > 0) {
        g_timeout_add(
            static_cast<guint>(exitAfter * 1000),
            [](gpointer) -> gboolean {
                g_main_loop_quit(viewer.loop);
                return G_SOURCE_REMOVE;
            },
            nullptr);
    }
    for (int signal : {SIGTERM, SIGINT}) {
        g_unix_signal_add(
            signal,
            [](gpointer) -> gboolean {
                g_main_loop_quit(viewer.loop);
                return G_SOURCE_REMOVE;
            },
            nullptr);
    }
    g_main_loop_run(viewer.loop);
    g_main_loop_unref(viewer.loop);
    g_object_unref(viewer.connection);
    return 0;
}
