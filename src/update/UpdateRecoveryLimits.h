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
    // A snapshot may unpack to at most this many times the size of the bundle it replaces (or of
    // the archive itself, when that is larger): a real bundle is about as large as the one before
    // it, and an archive that inflates far beyond that is refused before it fills the disk.
    static constexpr std::uint64_t extractedSizeFactor = 10;
    // ...but never less than this, so that a small bundle counted in whole blocks still fits.
    static constexpr std::uint64_t extractedSizeFloor = 16u * 1024 * 1024;
    // Entries are counted in whole blocks of this size (folders and links as one block), so that
    // a flood of empty entries counts as well.
    static constexpr std::uint64_t extractedBlockSize = 4096;
    // A receipt is a few hundred bytes; a larger "receipt.json" is not read (it counts as none).
    static constexpr std::size_t receiptSizeLimit = 1024 * 1024;
};

} // namespace quorvel
