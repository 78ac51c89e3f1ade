#include "lifecycle/SystemLifecycleCode.h"

namespace quorvel {

std::optional<SystemLifecycleCode> systemLifecycleCode(std::uint32_t rawValue) {
    if (rawValue < 1 || rawValue > 9)
        return std::nullopt;
    return static_cast<SystemLifecycleCode>(rawValue);
}

} // namespace quorvel
