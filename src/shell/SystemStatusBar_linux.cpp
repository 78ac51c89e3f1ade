#include "shell/StatusBadgeGlyph.h"
#include "shell/StatusNotifierItem_linux.h"
#include "shell/SystemStatusBar.h"

#include <gio/gio.h>

namespace quorvel {

namespace {

// The desktop's status area is the tray of the session bus; its badge symbols are our own glyphs.
class SessionBusStatusBar : public StatusBar {
public:
    explicit SessionBusStatusBar(GDBusConnection* connection)
        : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr) {}
    ~SessionBusStatusBar() override {
        if (connection_)
            g_object_unref(connection_);
        if (interfaceSettings_)
            g_object_unref(interfaceSettings_);
    }

    std::shared_ptr<StatusItem> makeStatusItem() override {
        if (!connection_)
            connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        return StatusNotifierItem::create(connection_);
    }

    bool hasSymbolImage(std::string_view name) const override { return hasBadgeGlyph(name); }

    // The desktop's "animations" switch, where the desktop keeps one in GSettings; a schema that is
    // not installed would abort GLib, so it is looked up first.
    bool reducedMotion() const override {
        if (!settingsLookedUp_) {
            settingsLookedUp_ = true;
            GSettingsSchemaSource* source = g_settings_schema_source_get_default();
            GSettingsSchema* schema =
                source
                    ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE)
                    : nullptr;
            if (schema) {
                if (g_settings_schema_has_key(schema, "enable-animations")) {
                    interfaceSettings_ = g_settings_new_full(schema, nullptr, nullptr);
                }
                g_settings_schema_unref(schema);
            }
        }
        return interfaceSettings_ &&
               !g_settings_get_boolean(interfaceSettings_, "enable-animations");
    }

    // The tray reports no geometry.
    std::vector<ScreenRect> screenFrames() const override { return {}; }

private:
    GDBusConnection* connection_;
    mutable bool settingsLookedUp_ = false;
    mutable GSettings* interfaceSettings_ = nullptr;
};

} // namespace

std::shared_ptr<StatusBar> makeSystemStatusBar(GDBusConnection* connection) {
    return std::make_shared<SessionBusStatusBar>(connection);
}

} // namespace quorvel
