#pragma once

#include "support/ChildProcess.h"
#include "support/PrivateBus.h"
#include "support/TemporaryDirectory.h"

#include <memory>
#include <string>

namespace quorvel::test {

// A Secret Service of its own for one test: a private session bus and a gnome-keyring-daemon
// (secrets component only) in a fresh HOME, its login keyring created and unlocked with a fixed
// password, the headless way (password on standard input, daemon started before any client).
// The constructor exports DBUS_SESSION_BUS_ADDRESS for this process, so libsecret must not have
// been used in the process before; the destructor ends the daemon and the bus.
class PrivateKeyring {
public:
    PrivateKeyring();
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    const std::string& busAddress() const { return bus_.address(); }

    // Locks the login keyring (its items stay, unreadable and undeletable until it is unlocked)
    // and unlocks it again with its password, without any prompt. True when the daemon did it.
    bool lockLoginCollection();
    bool unlockLoginCollection();
    const std::filesystem::path& home() const { return home_.path(); }

private:
    TemporaryDirectory home_;
    PrivateBus bus_;
    std::unique_ptr<ChildProcess> daemon_;
};

} // namespace quorvel::test
