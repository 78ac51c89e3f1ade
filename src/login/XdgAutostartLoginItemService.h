#pragma once

#include "base/FileURL.h"
#include "login/AutostartEntry.h"
#include "login/LoginItemService.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// A login item as an XDG autostart entry of the user: "<autostart>/<identifier>.desktop", whose
// Exec runs the launcher inside the host app's bundle.
//
//  - not found: the launcher bundle has no executable launcher;
//  - not registered: there is no entry, it is not a desktop entry, or it runs another program
//    (the launcher of another copy of the host app, say); registering points it at this one;
//  - requires approval: the entry is there but the user switched it off (Hidden=true or
//    X-GNOME-Autostart-enabled=false), whatever it runs;
//  - enabled: the entry is there, switched on, and runs this launcher.
//
// Unregistering deletes the entry unless the user switched it off: that entry stays as it is, so
// the user's choice outlives a stop for maintenance and the registration that follows it.
class XdgAutostartLoginItemService : public LoginItemService {
public:
    struct Configuration {
        std::string identifier;
        // $XDG_CONFIG_HOME/autostart; absent when the user has no configuration folder.
        std::optional<FileURL> autostartDirectory;
        // <host bundle>/Contents/Library/LoginItems/QuorvelLauncher.app
        FileURL launcherBundleURL;
        // $XDG_CURRENT_DESKTOP, split at ':'.
        std::vector<std::string> currentDesktops;
    };

    explicit XdgAutostartLoginItemService(Configuration configuration);

    LoginItemStatus status() override;
    bool registerItem() override;
    bool unregisterItem() override;
    // Starts the desktop's startup-applications tool, or else opens the autostart folder in the
    // file manager.
    void openSettings() override;

    std::optional<FileURL> entryURL() const;
    // The launcher's executable: the one its Info.plist names, else Contents/MacOS/QuorvelLauncher;
    // absent when that is not an executable file.
    std::optional<FileURL> launcherExecutable() const;

    // The settings tools worth trying on these desktops, most specific first.
    static std::vector<std::vector<std::string>>
    settingsTools(const std::vector<std::string>& desktops);

private:
    // The entry as it is on disk; nothing when there is none or it is no desktop entry.
    std::optional<AutostartEntry> readEntry() const;

    Configuration configuration_;
};

// $XDG_CONFIG_HOME/autostart when $XDG_CONFIG_HOME is absolute, else $HOME/.config/autostart.
std::optional<FileURL> userAutostartDirectory();

// The login-item services of this process: autostart entries for launchers inside the bundle of
// the program that loaded this library.
LoginItemServiceFactory makeSystemLoginItemServiceFactory();

} // namespace quorvel
