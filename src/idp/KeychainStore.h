#pragma once

#include "idp/CredentialsStorage.h"

#include <chrono>
#include <optional>
#include <string>

namespace quorvel::idp {

// When a stored item may be read. Carried for the macOS keychain; on Linux the Secret Service has
// no such setting (the login collection is readable while it is unlocked), so it changes nothing.
enum class KeychainAccessibility {
    whenUnlocked,
    whenUnlockedThisDeviceOnly,
    afterFirstUnlock,
    afterFirstUnlockThisDeviceOnly,
};

// The keychain wrapper used as the credential store: one data item per (service, key) in the
// user's default keyring collection, reached through the Secret Service. Items carry
// the schema "com.quorvel.GenericPassword" with the attributes "service" and "account" (the key),
// plus "access-group" when one is given. Every call is synchronous and bounded by a time limit
// (a keyring that waits on an unlock prompt longer than that fails the call).
class KeychainStore final : public CredentialsStorage {
public:
    struct Options {
        std::optional<std::string> accessGroup;
        KeychainAccessibility accessibility = KeychainAccessibility::whenUnlockedThisDeviceOnly;
        bool synchronizable = false; // never synchronised on Linux
        std::chrono::milliseconds timeout{30000};
    };

    KeychainStore(std::string service, Options options);
    explicit KeychainStore(std::string service) : KeychainStore(std::move(service), Options{}) {}

    Expected<std::optional<Bytes>, StorageError> getEntry(const std::string& key) override;
    Expected<void, StorageError> setEntry(const Bytes& data, const std::string& key) override;
    Expected<bool, StorageError> deleteEntry(const std::string& key) override;

    const std::string& service() const { return service_; }

private:
    std::string service_;
    Options options_;
};

} // namespace quorvel::idp
