#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/FileURL.h"
#include "update/UpdateBundleCondition.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace quorvel {

// Why a host operation failed. Recovery reduces every error to a failed step; the detail is for
// tests and diagnostics only.
struct UpdateRecoveryHostError {
    enum class Kind {
        fileSystem,     // a file-system call failed; code holds its errno
        corruptArchive, // the extraction tool failed, timed out or could not be started, or the
                        // archive would unpack to more than the size limit or the free space
        unsupported,    // the file system cannot do this (an atomic exchange, for one)
    };
    Kind kind = Kind::fileSystem;
    std::error_code code;
    std::string detail;

    bool operator==(const UpdateRecoveryHostError&) const = default;

    static UpdateRecoveryHostError fileSystem(int error, std::string detail) {
        return {Kind::fileSystem, std::error_code(error, std::generic_category()),
                std::move(detail)};
    }
};

template <class T> using UpdateRecoveryResult = Expected<T, UpdateRecoveryHostError>;

// The operations update recovery performs on the machine. The production set is
// SystemUpdateRecoveryHost; tests replace it as a whole.
class UpdateRecoveryHost {
public:
    virtual ~UpdateRecoveryHost() = default;

    // The file's bytes; nothing when it cannot be read or is larger than the limit.
    virtual std::optional<Bytes> readFile(const FileURL& file, std::size_t limit) = 0;
    // missing when nothing exists at the path; else verified when the signature check passes,
    // else unverified. Never fails.
    virtual UpdateBundleCondition condition(const FileURL& bundle) = 0;
    // Creates ".<bundle name>.restore.<UUID>" in the bundle's parent directory, without creating
    // any missing parent, and holds it for this recovery until it is removed.
    virtual UpdateRecoveryResult<FileURL> makeScratchDirectory(const FileURL& bundle) = 0;
    // Unpacks the archive into the directory, then lists the directory's top-level entries,
    // hidden ones left out. Refuses (corruptArchive), before anything is written, an archive whose
    // entries add up to more than `sizeLimit` bytes or more than the directory's free space.
    virtual UpdateRecoveryResult<std::vector<FileURL>>
    extractArchive(const FileURL& archive, const FileURL& directory, std::uint64_t sizeLimit) = 0;
    // The room a file or a directory tree takes, counted as extractArchive counts entries; 0 when
    // nothing is there.
    virtual std::uint64_t diskUsage(const FileURL& item) = 0;
    // Renames a file or directory; the destination must not exist.
    virtual UpdateRecoveryResult<void> moveItem(const FileURL& source,
                                                const FileURL& destination) = 0;
    // Swaps two existing items in one atomic step: at no instant is either path empty. Fails with
    // `unsupported` where the file system has no such step.
    virtual UpdateRecoveryResult<void> exchangeItems(const FileURL& first,
                                                     const FileURL& second) = 0;
    // Removes the scratch and set-aside siblings of the bundle (".<name>.restore.<UUID>",
    // ".<name>.failed.<UUID>") that no running recovery holds, and answers what it removed.
    virtual std::vector<FileURL> removeStaleSiblings(const FileURL& bundle) = 0;
    // Deletes a file or a directory tree; failures are swallowed.
    virtual void removeItem(const FileURL& item) = 0;
    // Creates the parent directories as needed, then replaces the file atomically.
    virtual UpdateRecoveryResult<void> write(const Bytes& bytes, const FileURL& file) = 0;
};

} // namespace quorvel
