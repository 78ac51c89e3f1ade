#pragma once

#include <cstdint>
#include <optional>

namespace quorvel {

// The codes the host app receives from the lifecycle monitor.
enum class SystemLifecycleCode : std::uint32_t {
    initial = 1, // detail: usability flags
    willSleep = 2,
    didWake = 3,
    screenLocked = 4,
    screenUnlocked = 5,
    sessionBecameActive = 6,      // this user's session took the console
    sessionResignedActive = 7,    // another session took the console
    willPowerOff = 8,             // logout, restart or shutdown
    focusExistingApplication = 9, // another copy of the host app asked this one to come forward
};

// Exactly 1 to 9 name a code.
std::optional<SystemLifecycleCode> systemLifecycleCode(std::uint32_t rawValue);

constexpr std::uint32_t rawValue(SystemLifecycleCode code) {
    return static_cast<std::uint32_t>(code);
}

} // namespace quorvel
