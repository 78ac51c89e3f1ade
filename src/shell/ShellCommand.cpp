#include "shell/ShellCommand.h"

namespace quorvel {

std::optional<ShellCommand> shellCommandFromRaw(std::uint32_t raw) {
    switch (raw) {
    case 3:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
        return static_cast<ShellCommand>(raw);
    default:
        return std::nullopt;
    }
}

std::optional<ShellCommand> shellCommandFromTag(std::int64_t tag) {
    if (tag < 0 || tag > 0xFFFFFFFF)
        return std::nullopt;
    return shellCommandFromRaw(static_cast<std::uint32_t>(tag));
}

} // namespace quorvel
