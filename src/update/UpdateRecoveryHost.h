#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/FileURL.h"
#include "update/UpdateBundleCondition.h"

#include <cstddef>
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
        corruptArchive, // the extraction tool failed, timed out or could not be started
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
    // any missing parent.
    virtual UpdateRecoveryResult<FileURL> makeScratchDirectory(const FileURL& bundle) = 0;
    // Unpacks the archive into the directory, then lists the directory's top-level entries,
    // hidden ones left out.
    virtual UpdateRecoveryResult<std::vector<FileURL>> extractArchive(const FileURL& archive,
                                                                      const FileURL& directory) = 0;
    // Renames a file or directory; the destination must not exist.
    virtual UpdateRecoveryResult<void> moveItem(const FileURL& source,
                                                const FileURL& destination) = 0;
    // Deletes a file or a directory tree; failures are swallowed.
    virtual void removeItem(const FileURL& item) = 0;
    // Creates the parent directories as needed, then replaces the file atomically.
    virtual UpdateRecoveryResult<void> write(const Bytes& bytes, const FileURL& file) = 0;
};

} // namespace quorvel
