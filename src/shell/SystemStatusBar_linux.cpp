#include "shell/DesktopSettings_linux.h"
#include "shell/StatusBadgeGlyph.h"
#include "shell/StatusNotifierItem_linux.h"
#include "shell/SystemStatusBar.h"

#include <gio/gio.h>

namespace quorvel {

namespace {

// The desktop's status area is the tray of the session bus; its badge symbols are our own glyphs.
// The desktop's settings decide the icon's ink and whether the acknowledgement moves.
class SessionBusStatusBar : public StatusBar {
public:
    explicit SessionBusStatusBar(GDBusConnection* connection)
        : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr) {}
    ~SessionBusStatusBar() override {
        settings_.reset();
        if (connection_)
            g_object_unref(connection_);
    }

    std::shared_ptr<StatusItem> makeStatusItem() override {
        if (!connection_)
            connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        auto item = StatusNotifierItem::create(connection_);
        auto& desktop = settings();
        item->setPanelShade(desktop.current().panel);
        std::weak_ptr<StatusNotifierItem> weak = item;
        desktop.onChange([weak](const DesktopAppearance& appearance) {
            if (auto shown = weak.lock())
                shown->setPanelShade(appearance.panel);
        });
        return item;
    }

    bool hasSymbolImage(std::string_view name) const override { return hasBadgeGlyph(name); }

    bool reducedMotion() const override { return settings().current().reducedMotion; }

    // The tray reports no geometry.
    std::vector<ScreenRect> screenFrames() const override { return {}; }

private:
    // Created on first use: reading the portal is a bus round trip that a bar never asked for
    // its settings does not need.
    DesktopSettings& settings() const {
        if (!connection_)
            connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (!settings_)
            settings_ = DesktopSettings::create(connection_);
        return *settings_;
    }

    mutable GDBusConnection* connection_;
    mutable std::shared_ptr<DesktopSettings> settings_;
};

} // namespace

std::shared_ptr<StatusBar> makeSystemStatusBar(GDBusConnection* connection) {
    return std::make_shared<SessionBusStatusBar>(connection);
}

} // namespace quorvel
