#pragma once

#include "support/ChildProcess.h"

#include <memory>
#include <string>

namespace quorvel::test {

// A private dbus-daemon started for one test (or suite) and stopped with it. Nothing of the
// machine's own session or system bus is used.
//
// GLib caches the process's session and system bus connections on first use, so code under test
// should take its connection from the address (g_dbus_connection_new_for_address_sync) or be
// pointed at the bus before it first connects; exportAs() sets the usual environment variable for
// child processes and for code that reads it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();

    const std::string& address() const { return address_; }
    // Sets DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS (for this process) to this bus.
    void exportAsSessionBus() const;
    void exportAsSystemBus() const;

private:
    std::string address_;
    pid_t pid_ = -1;
    std::string configPath_;
};

} // namespace quorvel::test
