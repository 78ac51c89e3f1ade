#pragma once

#include "update/UpdateRollbackReason.h"

#include <optional>
#include <string>

namespace quorvel {

// What recover(now) did. A default value is idle.
struct UpdateRecoveryOutcome {
    enum class Kind {
        idle,           // nothing needed doing
        rolledBack,     // the snapshot is in place (version, reason)
        rollbackFailed, // a rollback was attempted and did not complete (version)
        cleaned,        // leftovers of a good install were deleted
        unrecoverable,  // the bundle is broken and there is no usable snapshot
    };
    Kind kind = Kind::idle;
    // The receipt's toVersion (the version that failed) for rolledBack and rollbackFailed; else "".
    std::string version;
    // The reason of a rollback; present for rolledBack only.
    std::optional<UpdateRollbackReason> reason;

    bool operator==(const UpdateRecoveryOutcome&) const = default;

    static UpdateRecoveryOutcome idle() { return {}; }
    static UpdateRecoveryOutcome rolledBack(std::string version, UpdateRollbackReason reason) {
        return {Kind::rolledBack, std::move(version), reason};
    }
    static UpdateRecoveryOutcome rollbackFailed(std::string version) {
        return {Kind::rollbackFailed, std::move(version), std::nullopt};
    }
    static UpdateRecoveryOutcome cleaned() { return {Kind::cleaned, {}, std::nullopt}; }
    static UpdateRecoveryOutcome unrecoverable() { return {Kind::unrecoverable, {}, std::nullopt}; }

    // The textual form the launcher logs: "idle", "cleaned", "unrecoverable",
    // rolledBack(version: "2.0.1", reason: bundle_missing), rollbackFailed(version: "2.0.1").
    // The version comes from the receipt, so quotes, backslashes and control characters in it are
    // escaped: a log record stays one line whatever the updater wrote.
    std::string description() const;
};

} // namespace quorvel
