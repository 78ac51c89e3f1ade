#pragma once

#include "lifecycle/LifecycleNotificationCenter.h"
#include "platform/RunningApplication.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quorvel {

// Finds the running copies of an application and brings one to the front. Callable from any
// thread.
class ApplicationActivator {
public:
    virtual ~ApplicationActivator() = default;
    // Every live application with this bundle identifier, in the platform's order.
    virtual std::vector<RunningApplication>
    runningApplications(std::string_view bundleIdentifier) = 0;
    // Brings the application and all its windows forward, as far as the desktop allows.
    virtual void activate(const RunningApplication& application) = 0;
};

// What the focus hand-off uses of the platform.
struct FocusHandOffPlatform {
    std::shared_ptr<ApplicationActivator> activator;
    std::shared_ptr<DistributedNotificationPoster> poster;
};

// The single-instance hand-off of a second copy of the host app: activates the first other copy
// it finds (at most one), then posts the focus notification in every case, so that every copy
// with an installed lifecycle monitor receives the focus code.
void focusExistingApplication(std::int32_t ownProcessIdentifier,
                              const FocusHandOffPlatform& platform);

} // namespace quorvel
