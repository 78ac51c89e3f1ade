#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/FileURL.h"
#include "proof/LauncherProofFileClaim.h"
#include "proof/LauncherProofFileError.h"

#include <cstdint>
#include <system_error>

namespace quorvel {

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
};

} // namespace quorvel
