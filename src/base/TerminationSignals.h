#pragma once

#include <functional>
#include <memory>

namespace quorvel {

// SIGTERM and SIGINT handed to the main loop without a helper thread of GLib's: both signals are
// blocked in every thread and read from a descriptor that the default main context watches.
// Threads inherit the blocked mask, so watch() must come before any thread is started; programs
// this process starts reset their mask and handlers before exec.
class TerminationSignals {
public:
    virtual ~TerminationSignals() = default;

    // onSignal runs on the main thread, once for each signal that arrives (signals of the same
    // kind that arrive together count once).
    static std::unique_ptr<TerminationSignals> watch(std::function<void()> onSignal);
};

} // namespace quorvel
