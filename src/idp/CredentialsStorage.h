#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "idp/Error.h"

#include <optional>
#include <string>

namespace quorvel::idp {

// Why the credential store could not do what was asked.
class StorageError final : public Error {
public:
    StorageError() = default;
    explicit StorageError(std::string text) : text_(std::move(text)) {}
    std::string message() const override { return text_; }

private:
    std::string text_;
};

// Where the credentials manager keeps data items by key. Implementations are safe to call from
// any thread, and calls may block (they reach a keyring service), so callers keep them off the
// main thread where they can.
class CredentialsStorage {
public:
    virtual ~CredentialsStorage() = default;
    // The item's data, nothing when there is no item, or the error that prevented the read.
    virtual Expected<std::optional<Bytes>, StorageError> getEntry(const std::string& key) = 0;
    // Creates the item or replaces its data.
    virtual Expected<void, StorageError> setEntry(const Bytes& data, const std::string& key) = 0;
    // Removes the item; true when one was removed, false when there was none.
    virtual Expected<bool, StorageError> deleteEntry(const std::string& key) = 0;
};

} // namespace quorvel::idp
