#include "shell/TrayMenuServer_linux.h"

#include "base/MainLoop.h"
#include "shell/WeakBusObject_linux.h"

#include <cstring>
#include <string>

namespace quorvel {

namespace {

constexpr const char* interfaceName = "com.canonical.dbusmenu";

constexpr const char* introspectionXml = R"XML(
<node>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/><arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/><arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/><arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/><arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/><arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/><arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/><arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/><arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/><arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/><arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated"><arg type="u" name="revision"/><arg type="i" name="parent"/></signal>
    <signal name="ItemActivationRequested"><arg type="i" name="id"/><arg type="u" name="timestamp"/></signal>
  </interface>
</node>)XML";

GDBusNodeInfo* introspection() {
    static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(introspectionXml, nullptr);
    return info;
}

bool wanted(GVariant* names, std::string_view property) {
    if (!names || g_variant_n_children(names) == 0)
        return true;
    GVariantIter iter;
    g_variant_iter_init(&iter, names);
    const char* name = nullptr;
    while (g_variant_iter_next(&iter, "&s", &name)) {
        if (property == name)
            return true;
    }
    return false;
}

} // namespace

std::shared_ptr<TrayMenuServer> TrayMenuServer::create(GDBusConnection* connection) {
    if (!connection || !introspection())
        return nullptr;
    std::shared_ptr<TrayMenuServer> server(new TrayMenuServer(connection));
    GError* error = nullptr;
    server->registration_ = g_dbus_connection_register_object(
        connection, path, g_dbus_node_info_lookup_interface(introspection(), interfaceName),
        &weakBusVTable<TrayMenuServer>(), weakBusData(server), releaseWeakBusData<TrayMenuServer>,
        &error);
    if (!server->registration_) {
        g_clear_error(&error);
        return nullptr;
    }
    return server;
}

TrayMenuServer::TrayMenuServer(GDBusConnection* connection)
    : connection_(G_DBUS_CONNECTION(g_object_ref(connection))) {}

TrayMenuServer::~TrayMenuServer() {
    withdraw();
    g_object_unref(connection_);
}

void TrayMenuServer::withdraw() {
    if (registration_)
        g_dbus_connection_unregister_object(connection_, registration_);
    registration_ = 0;
}

void TrayMenuServer::setMenu(std::shared_ptr<StatusMenu> menu) {
    menu_ = std::move(menu);
    entries_ = menu_ ? trayMenuEntries(*menu_) : std::vector<TrayMenuEntry>{};
    if (signalling_) {
        ++revision_;
        emitSignal("LayoutUpdated", g_variant_new("(ui)", revision_, 0));
    }
}

void TrayMenuServer::menuDidChange() {
    if (!menu_ || !registration_)
        return;
    auto fresh = trayMenuEntries(*menu_);
    if (!sameTrayMenuStructure(entries_, fresh)) {
        entries_ = std::move(fresh);
        ++revision_;
        if (signalling_)
            emitSignal("LayoutUpdated", g_variant_new("(ui)", revision_, 0));
        return;
    }
    auto changes = trayMenuChanges(entries_, fresh);
    entries_ = std::move(fresh);
    if (changes.empty() || !signalling_)
        return;
    GVariantBuilder updated;
    g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
    for (const auto& change : changes) {
        const TrayMenuEntry* entry = entryWithId(change.id);
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        for (auto property : change.properties) {
            // Values are sent explicitly, also when they return to the default, since some hosts
            // only update keys that are present.
            if (property == trayPropertyLabel) {
                g_variant_builder_add(&properties, "{sv}", "label",
                                      g_variant_new_string(entry->label.c_str()));
            } else if (property == trayPropertyEnabled) {
                g_variant_builder_add(&properties, "{sv}", "enabled",
                                      g_variant_new_boolean(entry->enabled));
            } else if (property == trayPropertyVisible) {
                g_variant_builder_add(&properties, "{sv}", "visible",
                                      g_variant_new_boolean(entry->visible));
            }
        }
        g_variant_builder_add(&updated, "(i@a{sv})", change.id, g_variant_builder_end(&properties));
    }
    emitSignal("ItemsPropertiesUpdated",
               g_variant_new("(@a(ia{sv})@a(ias))", g_variant_builder_end(&updated),
                             g_variant_new_array(G_VARIANT_TYPE("(ias)"), nullptr, 0)));
}

void TrayMenuServer::emitSignal(const char* name, GVariant* parameters) {
    if (!registration_) {
        g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, path, interfaceName, name, parameters,
                                  nullptr);
}

GVariant* TrayMenuServer::property(const char* name) const {
    std::string_view property = name;
    if (property == "Version")
        return g_variant_new_uint32(3);
    if (property == "TextDirection")
        return g_variant_new_string("ltr");
    if (property == "Status")
        return g_variant_new_string("normal");
    if (property == "IconThemePath")
        return g_variant_new_strv(nullptr, 0);
    return nullptr;
}

const TrayMenuEntry* TrayMenuServer::entryWithId(int id) const {
    for (const auto& entry : entries_) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

GVariant* TrayMenuServer::entryProperties(const TrayMenuEntry& entry, GVariant* names) const {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    if (entry.separator) {
        if (wanted(names, "type"))
            g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string("separator"));
    } else {
        if (wanted(names, "label")) {
            g_variant_builder_add(&builder, "{sv}", "label",
                                  g_variant_new_string(entry.label.c_str()));
        }
        if (wanted(names, "enabled"))
            g_variant_builder_add(&builder, "{sv}", "enabled",
                                  g_variant_new_boolean(entry.enabled));
    }
    if (wanted(names, "visible"))
        g_variant_builder_add(&builder, "{sv}", "visible", g_variant_new_boolean(entry.visible));
    return g_variant_builder_end(&builder);
}

GVariant* TrayMenuServer::layoutOf(int id, int depth, GVariant* names) const {
    GVariantBuilder children;
    g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
    if (id == 0) {
        if (depth != 0) {
            for (const auto& entry : entries_) {
                g_variant_builder_add(&children, "v", layoutOf(entry.id, 0, names));
            }
        }
        GVariantBuilder root;
        g_variant_builder_init(&root, G_VARIANT_TYPE("a{sv}"));
        if (wanted(names, "children-display")) {
            g_variant_builder_add(&root, "{sv}", "children-display",
                                  g_variant_new_string("submenu"));
        }
        return g_variant_new("(i@a{sv}@av)", 0, g_variant_builder_end(&root),
                             g_variant_builder_end(&children));
    }
    const TrayMenuEntry* entry = entryWithId(id);
    return g_variant_new("(i@a{sv}@av)", id, entryProperties(*entry, names),
                         g_variant_builder_end(&children));
}

bool TrayMenuServer::clicked(int id) {
    const TrayMenuEntry* entry = entryWithId(id);
    if (!entry)
        return false;
    if (entry->clickable && entry->enabled && entry->visible && menu_ && menu_->action) {
        auto action = menu_->action;
        std::int64_t tag = menu_->items[entry->row].tag;
        // After the reply: the host app's command may well take the shell down.
        MainLoop::shared().post([action, tag] { action(tag); });
    }
    return true;
}

void TrayMenuServer::method(const char* methodName, GVariant* parameters,
                            GDBusMethodInvocation* invocation) {
    std::string_view name = methodName;
    auto unknownId = [&](int id) {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.InvalidArgs",
            ("Unknown menu item id " + std::to_string(id)).c_str());
    };
    if (name == "GetLayout") {
        gint32 parent = 0, depth = 0;
        GVariant* names = nullptr;
        g_variant_get(parameters, "(ii@as)", &parent, &depth, &names);
        if (parent != 0 && !entryWithId(parent)) {
            g_variant_unref(names);
            unknownId(parent);
            return;
        }
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u@(ia{sv}av))", revision_, layoutOf(parent, depth, names)));
        g_variant_unref(names);
    } else if (name == "GetGroupProperties") {
        GVariant* ids = nullptr;
        GVariant* names = nullptr;
        g_variant_get(parameters, "(@ai@as)", &ids, &names);
        GVariantBuilder result;
        g_variant_builder_init(&result, G_VARIANT_TYPE("a(ia{sv})"));
        if (g_variant_n_children(ids) == 0) {
            for (const auto& entry : entries_) {
                g_variant_builder_add(&result, "(i@a{sv})", entry.id,
                                      entryProperties(entry, names));
            }
        } else {
            gsize count = 0;
            const gint32* list =
                static_cast<const gint32*>(g_variant_get_fixed_array(ids, &count, sizeof(gint32)));
            for (gsize i = 0; i < count; ++i) {
                if (list[i] == 0) {
                    GVariantBuilder root;
                    g_variant_builder_init(&root, G_VARIANT_TYPE("a{sv}"));
                    if (wanted(names, "children-display")) {
                        g_variant_builder_add(&root, "{sv}", "children-display",
                                              g_variant_new_string("submenu"));
                    }
                    g_variant_builder_add(&result, "(i@a{sv})", 0, g_variant_builder_end(&root));
                } else if (const TrayMenuEntry* entry = entryWithId(list[i])) {
                    g_variant_builder_add(&result, "(i@a{sv})", entry->id,
                                          entryProperties(*entry, names));
                }
            }
        }
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&result)));
        g_variant_unref(ids);
        g_variant_unref(names);
    } else if (name == "GetProperty") {
        gint32 id = 0;
        const char* property = nullptr;
        g_variant_get(parameters, "(i&s)", &id, &property);
        const TrayMenuEntry* entry = entryWithId(id);
        if (!entry) {
            unknownId(id);
            return;
        }
        GVariant* all = entryProperties(*entry, nullptr);
        g_variant_ref_sink(all);
        GVariant* value = g_variant_lookup_value(all, property, nullptr);
        g_variant_unref(all);
        if (!value) {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.DBus.Error.InvalidArgs", "No such property");
            return;
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
        g_variant_unref(value);
    } else if (name == "Event") {
        gint32 id = 0;
        const char* eventId = nullptr;
        GVariant* data = nullptr;
        guint32 timestamp = 0;
        g_variant_get(parameters, "(i&svu)", &id, &eventId, &data, &timestamp);
        g_variant_unref(data);
        bool known = id == 0 || entryWithId(id);
        if (!known) {
            unknownId(id);
            return;
        }
        std::string event = eventId;
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (event == "clicked")
            clicked(id);
    } else if (name == "EventGroup") {
        GVariantIter* events = nullptr;
        g_variant_get(parameters, "(a(isvu))", &events);
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        std::vector<int> clicks;
        gsize total = 0, failed = 0;
        gint32 id = 0;
        const char* eventId = nullptr;
        GVariant* data = nullptr;
        guint32 timestamp = 0;
        while (g_variant_iter_next(events, "(i&svu)", &id, &eventId, &data, &timestamp)) {
            ++total;
            g_variant_unref(data);
            if (id != 0 && !entryWithId(id)) {
                ++failed;
                g_variant_builder_add(&errors, "i", id);
            } else if (std::strcmp(eventId, "clicked") == 0) {
                clicks.push_back(id);
            }
        }
        g_variant_iter_free(events);
        if (total > 0 && failed == total) {
            g_variant_builder_clear(&errors);
            g_dbus_method_invocation_return_dbus_error(invocation,
                                                       "org.freedesktop.DBus.Error.InvalidArgs",
                                                       "None of the menu item ids exist");
            return;
        }
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(@ai)", g_variant_builder_end(&errors)));
        for (int clickedId : clicks)
            clicked(clickedId);
    } else if (name == "AboutToShow") {
        gint32 id = 0;
        g_variant_get(parameters, "(i)", &id);
        if (id != 0 && !entryWithId(id)) {
            unknownId(id);
            return;
        }
        // The menu is always complete; nothing is filled in on opening.
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
    } else if (name == "AboutToShowGroup") {
        GVariant* ids = nullptr;
        g_variant_get(parameters, "(@ai)", &ids);
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        gsize count = 0;
        const gint32* list =
            static_cast<const gint32*>(g_variant_get_fixed_array(ids, &count, sizeof(gint32)));
        for (gsize i = 0; i < count; ++i) {
            if (list[i] != 0 && !entryWithId(list[i]))
                g_variant_builder_add(&errors, "i", list[i]);
        }
        g_variant_unref(ids);
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(@ai@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                          g_variant_builder_end(&errors)));
    } else {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.UnknownMethod", methodName);
    }
}

} // namespace quorvel
