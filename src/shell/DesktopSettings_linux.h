#pragma once

#include "shell/DesktopAppearance.h"

#include <functional>
#include <gio/gio.h>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

// The desktop's appearance settings, read from the Settings portal (when one runs on the session
// bus), GNOME's GSettings, KDE's kdeglobals or Xfce's xfconf files, whichever belong to the
// desktop that runs, and watched for changes. Main thread only.
class DesktopSettings : public std::enable_shared_from_this<DesktopSettings> {
public:
    static std::shared_ptr<DesktopSettings> create(GDBusConnection* connection);
    ~DesktopSettings();
    DesktopSettings(const DesktopSettings&) = delete;
    DesktopSettings& operator=(const DesktopSettings&) = delete;

    DesktopAppearance current() const { return current_; }
    // Called on the main thread after the appearance changed.
    void onChange(std::function<void(const DesktopAppearance&)> handler) {
        handler_ = std::move(handler);
    }

    // Reads every source again; called by the watches.
    void refresh();
    void portalSettingChanged(const char* group, const char* key, GVariant* value);

private:
    explicit DesktopSettings(GDBusConnection* connection);
    void start();
    void readPortal();
    void readGnome();
    void watchFile(const std::string& path);

    GDBusConnection* connection_ = nullptr;
    guint portalSignal_ = 0;
    GSettings* gnome_ = nullptr;
    std::vector<GFileMonitor*> monitors_;
    DesktopAppearanceSources sources_;
    DesktopAppearance current_;
    std::function<void(const DesktopAppearance&)> handler_;
};

} // namespace quorvel
