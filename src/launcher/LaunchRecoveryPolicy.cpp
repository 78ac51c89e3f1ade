#include "launcher/LaunchRecoveryPolicy.h"

#include <algorithm>

namespace quorvel {

double LaunchRecoveryPolicy::nextDelay(TimePoint afterTerminationAt) {
    // A clock set back gives a negative difference, which never counts as a stable run.
    if (lastLaunchAt &&
        afterTerminationAt - *lastLaunchAt >= std::chrono::duration<double>(stableRuntime)) {
        consecutiveFailures = 0;
    }
    auto index = static_cast<std::size_t>(
        std::min<std::int64_t>(consecutiveFailures, static_cast<std::int64_t>(delays.size()) - 1));
    if (consecutiveFailures < INT64_MAX)
        ++consecutiveFailures;
    return delays[index];
}

} // namespace quorvel
