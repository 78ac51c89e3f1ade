#pragma once

#include "base/MainLoop.h"
#include "shell/StatusBar.h"
#include "shell/StatusPixmaps.h"
#include "shell/SymbolicIconFolder_linux.h"
#include "shell/TrayMenuServer_linux.h"

#include <gio/gio.h>
#include <map>
#include <memory>
#include <string>

namespace quorvel {

// The status item on a Linux desktop: a tray item (org.kde.StatusNotifierItem at
// /StatusNotifierItem) with its menu (com.canonical.dbusmenu at /MenuBar) on the session bus,
// registered with the tray's watcher; the menu is an object of its own (TrayMenuServer). It can be
// seen when a watcher owns its name, accepted our registration, has a host that draws items, and
// has not dropped our entry since.
class StatusNotifierItem : public StatusItem,
                           public std::enable_shared_from_this<StatusNotifierItem> {
public:
    static constexpr const char* itemPath = "/StatusNotifierItem";
    static constexpr const char* itemId = "com.quorvel.desktop";

    // Owns a fresh bus name and exports the two objects; without a connection, or when either
    // fails, the item has no button.
    static std::shared_ptr<StatusNotifierItem> create(GDBusConnection* connection);
    ~StatusNotifierItem() override;

    bool hasButton() const override { return exported_; }
    void setButton(const StatusButtonContent& content) override;
    void setOpacity(double opacity) override;
    void setMenu(std::shared_ptr<StatusMenu> menu) override;
    std::shared_ptr<StatusMenu> menu() const override { return menu_; }
    void menuDidChange() override;
    bool isVisible() const override;
    ObservationHandle observeVisibility(std::function<void(bool)> handler) override;
    std::optional<ScreenRect> buttonScreenFrame() const override { return std::nullopt; }
    void removeFromStatusBar() override;

    const std::string& busName() const { return busName_; }
    // The panel's shade, which decides the ink of the icon; redraws when it changes.
    void setPanelShade(PanelShade shade);

    // D-Bus entry points (called by the vtable and the watcher's callbacks).
    GVariant* property(const char* name) const;
    void method(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation);
    void watcherAppeared(const char* owner);
    void watcherVanished();
    void watcherSignal(const char* sender, const char* signal, GVariant* parameters);

private:
    explicit StatusNotifierItem(GDBusConnection* connection);
    bool exportObjects();
    void registerWithWatcherNow();
    void registerWithWatcherLater();
    void registrationFinished(bool succeeded, std::uint64_t generation);
    void readHostRegistered();
    void scheduleRetry();
    void evaluateVisibility();
    void emitItemSignal(const char* name, GVariant* parameters = nullptr);
    void rebuildPixmaps();
    void refreshSymbolicIcons();
    std::string iconThemePath() const;
    bool ownsEntry(const std::string& entry) const;
    void startWatchingWatcher();

    GDBusConnection* connection_ = nullptr;
    std::string busName_;
    bool exported_ = false;
    bool removed_ = false;
    guint itemRegistration_ = 0;
    guint watcherWatch_ = 0;
    guint watcherSignals_ = 0;
    GCancellable* cancellable_ = nullptr;

    // What the tray can see.
    bool registrationStarted_ = false;
    std::string watcherOwner_;
    bool registered_ = false;
    bool hostRegistered_ = false;
    bool dropped_ = false;
    bool lastVisible_ = false;
    std::uint64_t generation_ = 0; // answers from an earlier watcher are ignored
    int retries_ = 0;
    TimerHandle retryTimer_;
    std::map<int, std::function<void(bool)>> observers_;
    int nextObserver_ = 0;

    // What the button shows.
    StatusButtonContent content_;
    std::vector<ArgbPixmap> basePixmaps_;      // icon and badge at full opacity
    std::vector<ArgbPixmap> publishedPixmaps_; // what IconPixmap answers
    double opacity_ = 1.0;
    PanelShade panelShade_ = PanelShade::unknown;
    GVariant* pixmapVariant_ = nullptr;
    // The same icon by name, for hosts that recolour symbolic icons.
    std::unique_ptr<SymbolicIconFolder> iconFolder_;
    SymbolicStatusIconSet symbolicIcons_;
    std::string iconName_;

    // The menu, published by its own object.
    std::shared_ptr<StatusMenu> menu_;
    std::shared_ptr<TrayMenuServer> menuServer_;

    friend class VisibilityObservation;
};

} // namespace quorvel
