#pragma once

#include "login/LoginLaunchService.h"

#include <optional>

namespace quorvel {

// Replaces the platform behind the login launch C functions (tests only); nothing restores the
// production platform.
void setLoginLaunchEnvironmentForTesting(std::optional<LoginLaunchEnvironment> environment);

} // namespace quorvel
