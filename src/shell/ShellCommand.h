#pragma once

#include <cstdint>
#include <optional>

namespace quorvel {

// Commands sent to the host app; the raw values are the codes of the C interface. 4 and 5 are
// unassigned.
enum class ShellCommand : std::uint32_t {
    showWindow = 3,
    openOutput = 6,
    statusUnavailable = 7,
    checkForUpdates = 8,
    restartToUpdate = 9,
    quit = 10,
};

// Exactly 3, 6, 7, 8, 9 and 10 make a command.
std::optional<ShellCommand> shellCommandFromRaw(std::uint32_t raw);
// Menu tags are signed; a negative tag is no command.
std::optional<ShellCommand> shellCommandFromTag(std::int64_t tag);

inline std::uint32_t rawValue(ShellCommand command) {
    return static_cast<std::uint32_t>(command);
}

} // namespace quorvel
