#pragma once

// The update receipt: the small JSON record in which the host app's updater leaves word of the last
// update it installed, and in which update recovery records what it did about it.

#include "base/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Where the install stands. The stored strings are those of the file ("rolled-back").
enum class UpdateReceiptState { installing, installed, failed, rolledBack, cleaned };

std::string_view toString(UpdateReceiptState state);
std::optional<UpdateReceiptState> updateReceiptStateFromString(std::string_view text);

struct UpdateReceipt {
    std::int64_t schema = 1;
    std::string fromVersion;
    std::string toVersion;
    std::string artifactSha256; // carried unchanged, never checked here
    std::optional<std::string> artifactPath;
    std::string snapshotPath; // "" means that there is no snapshot
    UpdateReceiptState state = UpdateReceiptState::installing;
    std::string writtenAt; // carried unchanged, never parsed
    std::optional<std::string> rolledBackAt;
    std::optional<std::string> failure;
    std::optional<std::string> rollbackReason; // any text is accepted on reading

    bool operator==(const UpdateReceipt&) const = default;

    // The only format version this system reads.
    static constexpr std::int64_t supportedSchema = 1;

    // A receipt, or nothing for anything unreadable: not a JSON object, a required key missing, a
    // value of the wrong JSON type, an unknown state or a schema other than 1. The caller treats
    // nothing exactly like a missing file. Never throws.
    static std::optional<UpdateReceipt> decode(const Bytes& data);

    // One compact JSON object with the eleven known keys in sorted order; absent optional fields
    // are left out (never written as null), and no other key is ever written.
    Bytes encode() const;
};

} // namespace quorvel
