#pragma once

#include "base/FileURL.h"
#include "update/UpdateRollbackReason.h"

#include <optional>
#include <string>
#include <variant>

namespace quorvel {

// What the decision asks update recovery to do.
struct UpdateRecoveryAction {
    struct None {
        bool operator==(const None&) const = default;
    };
    // Roll the bundle back from the snapshot archive.
    struct Restore {
        FileURL snapshot;
        std::string failedVersion;
        UpdateRollbackReason reason = UpdateRollbackReason::bundleMissing;
        bool operator==(const Restore&) const = default;
    };
    // Delete the leftovers of a good install.
    struct Clean {
        FileURL snapshot;
        FileURL artifact;
        bool operator==(const Clean&) const = default;
    };
    // The bundle is broken and there is no usable snapshot.
    struct Unrecoverable {
        std::optional<std::string> failedVersion;
        bool operator==(const Unrecoverable&) const = default;
    };

    std::variant<None, Restore, Clean, Unrecoverable> value;

    bool operator==(const UpdateRecoveryAction&) const = default;

    static UpdateRecoveryAction none() { return {None{}}; }
    static UpdateRecoveryAction restore(FileURL snapshot, std::string failedVersion,
                                        UpdateRollbackReason reason) {
        return {Restore{std::move(snapshot), std::move(failedVersion), reason}};
    }
    static UpdateRecoveryAction clean(FileURL snapshot, FileURL artifact) {
        return {Clean{std::move(snapshot), std::move(artifact)}};
    }
    static UpdateRecoveryAction unrecoverable(std::optional<std::string> failedVersion) {
        return {Unrecoverable{std::move(failedVersion)}};
    }
};

} // namespace quorvel
