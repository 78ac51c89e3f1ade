// The login launch functions of the public C interface.

#include "login/LoginLaunchBridge.h"

#include "base/MainLoop.h"
#include "launcher/QuorvelLauncherLocation.h"
#include "login/XdgAutostartLoginItemService.h"
#include "quorvel_shell_bridge.h"

#include <mutex>

namespace quorvel {

namespace {

std::mutex& environmentMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<LoginLaunchEnvironment>& environmentOverride() {
    static std::optional<LoginLaunchEnvironment> environment;
    return environment;
}

// Built per call: the functions keep no state, and the environment (application-support folder,
// autostart folder) is read as it is at the moment of the call.
LoginLaunchService currentService() {
    {
        std::lock_guard lock(environmentMutex());
        if (environmentOverride())
            return LoginLaunchService(*environmentOverride());
    }
    return LoginLaunchService(LoginLaunchEnvironment::production());
}

} // namespace

LoginLaunchEnvironment LoginLaunchEnvironment::production() {
    LoginLaunchEnvironment environment;
    environment.isMainThread = [] { return MainLoop::shared().isMainThread(); };
    environment.maintenanceStopURL = [] { return quorvel::maintenanceStopURL(); };
    environment.fileSystem = makeSystemLoginLaunchFileSystem();
    environment.loginItemService = makeSystemLoginItemServiceFactory();
    return environment;
}

void setLoginLaunchEnvironmentForTesting(std::optional<LoginLaunchEnvironment> environment) {
    std::lock_guard lock(environmentMutex());
    environmentOverride() = std::move(environment);
}

} // namespace quorvel

extern "C" {

int32_t quorvel_login_launch_ensure(void) {
    return quorvel::currentService().ensure();
}

int32_t quorvel_login_launch_stop_for_maintenance(void) {
    return quorvel::currentService().stopForMaintenance();
}

int32_t quorvel_login_launch_status(void) {
    return quorvel::currentService().status();
}

void quorvel_login_items_open(void) {
    quorvel::currentService().openLoginItems();
}

} // extern "C"
