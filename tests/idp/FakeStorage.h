#pragma once

#include "idp/CredentialsStorage.h"

#include <map>
#include <mutex>

namespace quorvel::idp::test {

// An in-memory credential store whose operations can be made to fail.
class FakeStorage final : public CredentialsStorage {
public:
    Expected<std::optional<Bytes>, StorageError> getEntry(const std::string& key) override {
        std::lock_guard lock(mutex_);
        ++reads;
        if (failReads)
            return unexpected(StorageError("read refused"));
        auto found = items.find(key);
        if (found == items.end())
            return std::optional<Bytes>();
        return std::optional<Bytes>(found->second);
    }
    Expected<void, StorageError> setEntry(const Bytes& data, const std::string& key) override {
        std::lock_guard lock(mutex_);
        if (failWrites)
            return unexpected(StorageError("write refused"));
        items[key] = data;
        return {};
    }
    Expected<bool, StorageError> deleteEntry(const std::string& key) override {
        std::lock_guard lock(mutex_);
        if (failDeletes)
            return unexpected(StorageError("delete refused"));
        return items.erase(key) > 0;
    }

    std::optional<Bytes> item(const std::string& key) {
        std::lock_guard lock(mutex_);
        auto found = items.find(key);
        return found == items.end() ? std::nullopt : std::optional<Bytes>(found->second);
    }

    std::map<std::string, Bytes> items;
    bool failReads = false;
    bool failWrites = false;
    bool failDeletes = false;
    int reads = 0;

private:
    std::mutex mutex_;
};

} // namespace quorvel::idp::test
