#pragma once

#include "shell/StatusMenu.h"
#include "shell/TrayMenuLayout.h"

#include <cstdint>
#include <gio/gio.h>
#include <memory>
#include <vector>

namespace quorvel {

// The status item's menu as a com.canonical.dbusmenu object (version 3, every method including the
// group variants) at /MenuBar. Hosts read the layout from it and send it their clicks; a click on
// an enabled, visible entry runs the menu's action with the entry's tag, after the reply, since the
// host app's command may take the shell down.
class TrayMenuServer : public std::enable_shared_from_this<TrayMenuServer> {
public:
    static constexpr const char* path = "/MenuBar";

    // Exported at once; nothing without a connection or when the object cannot be exported.
    static std::shared_ptr<TrayMenuServer> create(GDBusConnection* connection);
    ~TrayMenuServer();
    TrayMenuServer(const TrayMenuServer&) = delete;
    TrayMenuServer& operator=(const TrayMenuServer&) = delete;

    // Takes the object off the bus; nothing is signalled after.
    void withdraw();
    // Changes are signalled once the item has been announced to the tray; until then hosts can
    // only read the menu whole.
    void startSignalling() { signalling_ = true; }

    void setMenu(std::shared_ptr<StatusMenu> menu);
    const std::shared_ptr<StatusMenu>& menu() const { return menu_; }
    // Signals only what changed: the layout when entries came or went, else their properties.
    void menuDidChange();

    // D-Bus entry points (called by the vtable).
    GVariant* property(const char* name) const;
    void method(const char* methodName, GVariant* parameters, GDBusMethodInvocation* invocation);

private:
    explicit TrayMenuServer(GDBusConnection* connection);
    void emitSignal(const char* name, GVariant* parameters);
    GVariant* entryProperties(const TrayMenuEntry& entry, GVariant* names) const;
    GVariant* layoutOf(int id, int depth, GVariant* names) const;
    const TrayMenuEntry* entryWithId(int id) const;
    bool clicked(int id);

    GDBusConnection* connection_ = nullptr;
    guint registration_ = 0;
    bool signalling_ = false;
    std::shared_ptr<StatusMenu> menu_;
    std::vector<TrayMenuEntry> entries_;
    std::uint32_t revision_ = 1;
};

} // namespace quorvel
