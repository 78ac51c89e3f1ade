#pragma once

#include "base/FileURL.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// What the platform reports of one running application at one moment.
struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::int32_t processIdentifier = 0;
    std::optional<FileURL> executableURL;

    bool operator==(const RunningApplication&) const = default;
};

} // namespace quorvel
