#pragma once

#include "lifecycle/FocusHandOff.h"
#include "lifecycle/LifecyclePlatform.h"
#include "lifecycle/SystemLifecycleMonitor.h"

#include <functional>
#include <memory>

namespace quorvel {

// Replace the platform behind the lifecycle C functions (tests only, before the call that uses
// it); an empty function restores the system platform.
void setLifecyclePlatformFactoryForTesting(std::function<LifecyclePlatform()> factory);
void setFocusHandOffPlatformFactoryForTesting(std::function<FocusHandOffPlatform()> factory);
// Forgets the installed monitor, so that one test program can install more than once (tests only,
// main thread).
void resetLifecycleInstallationForTesting();
// The installed monitor, if any (main thread).
std::shared_ptr<SystemLifecycleMonitor> installedLifecycleMonitor();

} // namespace quorvel
