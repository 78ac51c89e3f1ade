#pragma once

#include "update/UpdateReceipt.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quorvel {

// The fixed limits of update recovery.
struct UpdateRecoveryLimits {
    // Every command that recovery runs (signature check, archive extraction) is ended after this.
    static constexpr std::chrono::seconds commandTimeLimit{120};
    // The only receipt format honoured.
    static constexpr std::int64_t receiptSchema = UpdateReceipt::supportedSchema;
    // A snapshot archive must unpack to exactly this many visible top-level entries.
    static constexpr std::size_t snapshotTopLevelEntries = 1;
    // A receipt is a few hundred bytes; a larger "receipt.json" is not read (it counts as none).
    static constexpr std::size_t receiptSizeLimit = 1024 * 1024;
};

} // namespace quorvel
