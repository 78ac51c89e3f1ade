#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace quorvel {

// The state of the launcher's login item as the login-item service reports it. The numbering is
// the service's own; a value outside the four named cases is possible and is logged as "unknown".
enum class LoginItemStatus : int {
    notRegistered = 0,
    enabled = 1,
    requiresApproval = 2, // registered, but the user has switched it off
    notFound = 3,         // the launcher is missing from the host app's bundle
};

// The name a state carries in log lines: "not_registered", "enabled", "requires_approval",
// "not_found", or "unknown" for any other value.
std::string_view loginItemStatusLogName(LoginItemStatus status);

// The login-item service for one login item: whether it starts at login, and changing that.
// Called on the main thread only.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;

    virtual LoginItemStatus status() = 0;
    // Registers the item so that it starts at every login; false when that failed.
    virtual bool registerItem() = 0;
    // Removes the registration; false when that failed.
    virtual bool unregisterItem() = 0;
    // Shows the user where login items are managed.
    virtual void openSettings() = 0;
};

// Gives the service for a login item identifier.
using LoginItemServiceFactory =
    std::function<std::shared_ptr<LoginItemService>(std::string_view identifier)>;

inline constexpr std::string_view launcherLoginItemIdentifier = "com.quorvel.desktop.launcher";

} // namespace quorvel
