#pragma once

#include "base/MainLoop.h"

#include <functional>
#include <memory>

namespace quorvel {

// Seconds on a clock that keeps counting while the machine sleeps (CLOCK_BOOTTIME on Linux).
using ContinuousClock = std::function<double()>;

// A one-shot wait on the continuous clock, run by the main loop. Main-loop timers count only
// while the machine is awake, so the wait is checked in slices of at most `slice` seconds: after a
// sleep that outlasted the deadline, the wait ends within one slice of waking. `fire` runs once on
// the main thread; destroying the handle cancels the wait.
TimerHandle scheduleContinuousDeadline(const std::shared_ptr<MainLoop>& loop, ContinuousClock clock,
                                       double seconds, std::function<void()> fire,
                                       double slice = 1.0);

} // namespace quorvel
