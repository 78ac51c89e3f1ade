// The lifecycle functions of the public C interface.

#include "lifecycle/LifecycleBridge.h"

#include "base/MainLoop.h"
#include "quorvel_shell_bridge.h"

#include <mutex>
#include <unistd.h>

namespace quorvel {

namespace {

// The installed monitor and the platform that feeds it: made by the first successful install and
// kept for the life of the process. Touched on the main thread only.
struct Installation {
    LifecyclePlatform platform;
    std::shared_ptr<SystemLifecycleMonitor> monitor;
};
Installation* installation = nullptr;

std::mutex factoriesMutex;
std::function<LifecyclePlatform()> platformFactory;
std::function<FocusHandOffPlatform()> focusFactory;

LifecyclePlatform makePlatform() {
    std::function<LifecyclePlatform()> factory;
    {
        std::lock_guard lock(factoriesMutex);
        factory = platformFactory;
    }
    return factory ? factory() : makeSystemLifecyclePlatform();
}

FocusHandOffPlatform makeFocusPlatform() {
    std::function<FocusHandOffPlatform()> factory;
    {
        std::lock_guard lock(factoriesMutex);
        factory = focusFactory;
    }
    return factory ? factory() : makeSystemFocusHandOffPlatform();
}

} // namespace

void setLifecyclePlatformFactoryForTesting(std::function<LifecyclePlatform()> factory) {
    std::lock_guard lock(factoriesMutex);
    platformFactory = std::move(factory);
}

void setFocusHandOffPlatformFactoryForTesting(std::function<FocusHandOffPlatform()> factory) {
    std::lock_guard lock(factoriesMutex);
    focusFactory = std::move(factory);
}

void resetLifecycleInstallationForTesting() {
    delete installation;
    installation = nullptr;
}

std::shared_ptr<SystemLifecycleMonitor> installedLifecycleMonitor() {
    return installation ? installation->monitor : nullptr;
}

} // namespace quorvel

extern "C" {

int32_t quorvel_lifecycle_install(quorvel_lifecycle_callback callback, void* context) {
    using namespace quorvel;
    auto mainLoop = MainLoop::sharedPointer();
    if (!mainLoop->isMainThread())
        return 0;
    if (installation)
        return 1;
    // A monitor without a callback could deliver nowhere; refusing keeps the installation open
    // for a real callback.
    if (!callback)
        return 0;

    LifecycleSink sink{callback, context};
    auto platform = makePlatform();
    auto monitor = SystemLifecycleMonitor::create(
        platform.workspaceCenter, platform.distributedCenter, platform.session,
        [sink](SystemLifecycleCode code, std::uint32_t detail) {
            sink.callback(rawValue(code), detail, sink.context);
        },
        mainLoop);
    // Installed before start(), so that a callback that installs again from inside the initial
    // delivery finds it.
    installation = new Installation{std::move(platform), monitor};
    monitor->start();
    return 1;
}

void quorvel_application_focus_existing(void) {
    quorvel::focusExistingApplication(static_cast<std::int32_t>(::getpid()),
                                      quorvel::makeFocusPlatform());
}

} // extern "C"
