#pragma once

#include "platform/RunningApplication.h"

namespace quorvel {

// What the platform reported of one running application at one moment: how the launcher, the
// parent monitor and the proof witness talk about processes. Equality covers all three fields.
using LauncherApplicationFact = RunningApplication;

} // namespace quorvel
