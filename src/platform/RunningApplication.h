#pragma once

#include "base/FileURL.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// What the platform reports of one running application at one moment.
struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::int32_t processIdentifier = 0;
    std::optional<FileURL> executableURL;
    // When the process started, where the platform tells: a later process with the same pid is
    // another application.
    std::optional<std::chrono::system_clock::time_point> startTime = std::nullopt;

    bool operator==(const RunningApplication&) const = default;
};

} // namespace quorvel
