#pragma once

#include <chrono>
#include <functional>

namespace quorvel::test {

// Iterates GLib's default main context on the calling (main) thread until the condition holds or
// the timeout passes; returns whether the condition held. For integration tests against real
// buses and processes, where waiting is unavoidable; the timeout only bounds a failing test.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Iterates the default context for a while, dispatching whatever arrives.
void pumpFor(std::chrono::milliseconds duration);

} // namespace quorvel::test
