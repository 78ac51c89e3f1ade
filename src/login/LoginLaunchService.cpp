#include "login/LoginLaunchService.h"

#include "launcher/LauncherMaintenanceMarker.h"
#include "platform/ApplicationSupport.h"

namespace quorvel {

LoginLaunchService::LoginLaunchService(LoginLaunchEnvironment environment)
    : environment_(std::move(environment)) {}

const Logger& LoginLaunchService::logger() {
    static const Logger instance(logSubsystem, "LoginLauncher");
    return instance;
}

std::shared_ptr<LoginItemService> LoginLaunchService::launcherItem() const {
    return environment_.loginItemService(launcherLoginItemIdentifier);
}

std::int32_t LoginLaunchService::ensure() const {
    if (!environment_.isMainThread()) {
        logger().error("ensure unexpected=off_main_thread");
        return 0;
    }
    if (auto marker = environment_.maintenanceStopURL()) {
        // Usually there is none; a failure here must not keep the login item from registering.
        environment_.fileSystem->removeItem(*marker);
    }

    auto item = launcherItem();
    LoginItemStatus before = item->status();
    std::string_view beforeName = loginItemStatusLogName(before);
    if (before == LoginItemStatus::enabled || before == LoginItemStatus::requiresApproval) {
        // A switched-off item stays switched off: only the user may turn it on again.
        logger().info("ensure status=%{public}s registration=%{public}s result=%{public}s",
                      {beforeName, "not_needed", beforeName});
        return before == LoginItemStatus::enabled ? 1 : 2;
    }

    if (!item->registerItem()) {
        logger().error("ensure status=%{public}s registration=failed", {beforeName});
        return 0;
    }
    LoginItemStatus after = item->status();
    logger().info("ensure status=%{public}s registration=%{public}s result=%{public}s",
                  {beforeName, "succeeded", loginItemStatusLogName(after)});
    switch (after) {
    case LoginItemStatus::enabled:
        return 1;
    case LoginItemStatus::requiresApproval:
        return 2;
    default:
        return 0;
    }
}

std::int32_t LoginLaunchService::stopForMaintenance() const {
    if (!environment_.isMainThread()) {
        logger().error("maintenance unexpected=off_main_thread");
        return 0;
    }
    auto marker = environment_.maintenanceStopURL();
    if (!marker) {
        logger().error("maintenance marker=unavailable");
        return 0;
    }
    // The marker goes first, so a running launcher stops at its next health check whatever the
    // login-item service does afterwards.
    if (!environment_.fileSystem->createDirectory(marker->deletingLastPathComponent()) ||
        !environment_.fileSystem->writeAtomically(*marker,
                                                  LauncherMaintenanceMarker::stopContents)) {
        logger().error("maintenance marker=failed");
        return 0;
    }

    auto item = launcherItem();
    LoginItemStatus state = item->status();
    std::string_view name = loginItemStatusLogName(state);
    switch (state) {
    case LoginItemStatus::notFound:
    case LoginItemStatus::notRegistered:
        logger().info("maintenance status=%{public}s action=marker_only", {name});
        return 1;
    case LoginItemStatus::enabled:
    case LoginItemStatus::requiresApproval:
        if (item->unregisterItem()) {
            logger().info("maintenance status=%{public}s unregistration=succeeded", {name});
            return 1;
        }
        logger().error("maintenance status=%{public}s unregistration=failed", {name});
        return 0;
    }
    logger().error("maintenance status=unknown fallback=unavailable");
    return 0;
}

std::int32_t LoginLaunchService::status() const {
    if (!environment_.isMainThread())
        return 0;
    switch (launcherItem()->status()) {
    case LoginItemStatus::notRegistered:
        return 3;
    case LoginItemStatus::enabled:
        return 1;
    case LoginItemStatus::requiresApproval:
        return 2;
    case LoginItemStatus::notFound:
        return 0;
    }
    return 0;
}

void LoginLaunchService::openLoginItems() const {
    if (!environment_.isMainThread())
        return;
    launcherItem()->openSettings();
}

} // namespace quorvel
