#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/FileURL.h"
#include "proof/LauncherProofFileClaim.h"
#include "proof/LauncherProofFileError.h"

#include <cstdint>
#include <functional>
#include <system_error>
#include <vector>

namespace quorvel {

// A claimed file whose claimant is gone (a launcher killed while it held the claim), as the
// file system found it; held while its fate is decided.
struct LauncherProofAbandonedClaim {
    LauncherProofFileClaim claim; // data is empty when the file could not be read
    bool readable = false;        // a regular file within the size cap, read whole
    bool targetFree = false;      // nothing lies at the claimed file's original path

    bool operator==(const LauncherProofAbandonedClaim&) const = default;
};

enum class LauncherProofAbandonedClaimFate { putBack, remove };

// What became of one abandoned claim: put back at its original path, or removed.
struct LauncherProofRecoveredClaim {
    FileURL claimedURL;
    bool putBack = false;

    bool operator==(const LauncherProofRecoveredClaim&) const = default;
};

// The operations on proof files (the lease and the attestation log), which other processes touch
// at the same time. The lease store, the witness and the launcher runtime hold the file system
// only through this set, so that it can be replaced as a whole. Errors are std::error_code values
// of the two families in LauncherProofFileError.h.
class LauncherProofFileSystem {
public:
    using VoidResult = Expected<void, std::error_code>;

    virtual ~LauncherProofFileSystem() = default;

    // Creates the directory and every missing parent; an existing directory is success.
    virtual VoidResult createDirectory(const FileURL& at) const = 0;
    // Reads a regular file of at most maxBytes bytes; a symbolic link is refused.
    virtual Expected<Bytes, std::error_code> readData(const FileURL& at,
                                                      std::int64_t maxBytes) const = 0;
    // Appends one newline-terminated record to the file, atomically and under the file's lock.
    virtual VoidResult append(const Bytes& data, const FileURL& to) const = 0;
    // Moves the file to a private hidden name under its lock and reads it; exactly one claimant
    // gets a given file. ENOENT when there is nothing to claim.
    virtual Expected<LauncherProofFileClaim, std::error_code>
    claimItem(const FileURL& at, std::int64_t maxBytes) const = 0;
    // Puts a claimed file back at `to`, unless something newer lies there; never fails.
    virtual void restoreClaim(const LauncherProofFileClaim& claim, const FileURL& to) const = 0;
    // Deletes a claimed file; never fails.
    virtual void consumeClaim(const LauncherProofFileClaim& claim) const = 0;
    // Under the target's lock, decides the fate of each claimed file beside the target whose
    // claimant is gone, and puts it back at the target (only if nothing lies there) or removes it.
    // A claim that a live claimant holds, in this process or another, is left alone. Never fails:
    // what cannot be looked at stays for a later call.
    using AbandonedClaimDecision =
        std::function<LauncherProofAbandonedClaimFate(const LauncherProofAbandonedClaim&)>;
    virtual std::vector<LauncherProofRecoveredClaim>
    recoverAbandonedClaims(const FileURL& target, std::int64_t maxBytes,
                           const AbandonedClaimDecision& decide) const = 0;
};

} // namespace quorvel
