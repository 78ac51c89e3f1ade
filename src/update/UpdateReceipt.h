#pragma once

// The update receipt as the launcher runtime reads it. Decoding is filled in behind this
// interface.

#include "base/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

enum class UpdateReceiptState { installing, installed, failed, rolledBack, cleaned };

std::string_view toString(UpdateReceiptState state);
std::optional<UpdateReceiptState> updateReceiptStateFromString(std::string_view text);

struct UpdateReceipt {
    UpdateReceiptState state = UpdateReceiptState::installing;

    bool operator==(const UpdateReceipt&) const = default;

    // A receipt, or nothing for anything unreadable (treated exactly like a missing file).
    static std::optional<UpdateReceipt> decode(const Bytes& data);
};

} // namespace quorvel
