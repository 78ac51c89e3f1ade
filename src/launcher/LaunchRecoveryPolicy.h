#pragma once

#include "base/InternetDateTime.h"

#include <array>
#include <cstdint>
#include <optional>

namespace quorvel {

// How long the launcher waits before it relaunches the host app: 2, 5, 15, then 60 seconds for
// every further failure in a row. A host app that ran at least five minutes since its last
// successful launch starts the table again from the top.
struct LaunchRecoveryPolicy {
    static constexpr double stableRuntime = 300.0;
    static constexpr std::array<double, 4> delays{2.0, 5.0, 15.0, 60.0};

    // Delays handed out since the last reset; never negative.
    std::int64_t consecutiveFailures = 0;
    // Start of the last launch that brought up the expected host app.
    std::optional<TimePoint> lastLaunchAt;

    bool operator==(const LaunchRecoveryPolicy&) const = default;

    void launched(TimePoint at) { lastLaunchAt = at; }
    // The delay in seconds before the next launch attempt; counts one more failure.
    double nextDelay(TimePoint afterTerminationAt);
};

} // namespace quorvel
