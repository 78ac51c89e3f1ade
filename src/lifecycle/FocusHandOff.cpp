#include "lifecycle/FocusHandOff.h"

#include "platform/ApplicationSupport.h"

namespace quorvel {

void focusExistingApplication(std::int32_t ownProcessIdentifier,
                              const FocusHandOffPlatform& platform) {
    if (platform.activator) {
        for (const auto& application :
             platform.activator->runningApplications(hostBundleIdentifier)) {
            if (application.processIdentifier != ownProcessIdentifier) {
                platform.activator->activate(application);
                break;
            }
        }
    }
    if (platform.poster)
        platform.poster->post(lifecycleNotification::focusExisting);
}

} // namespace quorvel
