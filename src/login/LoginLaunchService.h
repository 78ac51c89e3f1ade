#pragma once

#include "base/FileURL.h"
#include "base/Logger.h"
#include "login/LoginItemService.h"
#include "login/LoginLaunchFileSystem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quorvel {

// What the login launch functions use of the platform.
struct LoginLaunchEnvironment {
    std::function<bool()> isMainThread;
    // Where the maintenance marker lies, which the launcher reads at start, every second and
    // before every launch; absent when there is no application-support folder.
    std::function<std::optional<FileURL>()> maintenanceStopURL;
    std::shared_ptr<LoginLaunchFileSystem> fileSystem;
    LoginItemServiceFactory loginItemService;

    // The process's main loop, the user's application-support folder, the local file system and
    // the desktop's autostart entries.
    static LoginLaunchEnvironment production();
};

// Registers the launcher as the host app's login item, reports its state, shows the login-item
// settings and stops the launcher for maintenance. Every operation refuses to work off the main
// thread and keeps no state between calls.
class LoginLaunchService {
public:
    explicit LoginLaunchService(LoginLaunchEnvironment environment);

    // 1 enabled, 2 registered but switched off by the user, 0 anything else. Removes a stop
    // marker first, then registers the login item unless it is enabled or switched off.
    std::int32_t ensure() const;
    // Writes the stop marker, then unregisters the login item. 1 when the marker is written and
    // the item is (now) not registered, 0 otherwise.
    std::int32_t stopForMaintenance() const;
    // 1 enabled, 2 switched off by the user, 3 not registered, 0 not found or anything else.
    std::int32_t status() const;
    void openLoginItems() const;

    static const Logger& logger();

private:
    std::shared_ptr<LoginItemService> launcherItem() const;

    LoginLaunchEnvironment environment_;
};

} // namespace quorvel
