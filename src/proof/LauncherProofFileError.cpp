#include "proof/LauncherProofFileError.h"

#include <cerrno>
#include <string>

namespace quorvel {

namespace {

class LauncherProofFileCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "launcher-proof-file"; }

    std::string message(int code) const override {
        switch (static_cast<LauncherProofFileError>(code)) {
        case LauncherProofFileError::fileReadCorruptFile:
            return "the file is corrupt or not a regular file within its size limit";
        case LauncherProofFileError::fileReadTooLarge:
            return "the file grew beyond its size limit while it was read";
        case LauncherProofFileError::fileWriteOutOfSpace:
            return "the record or the resulting file is larger than 16 MiB";
        case LauncherProofFileError::fileWriteInapplicableStringEncoding:
            return "the record is empty or does not end in a newline";
        }
        return "unknown proof file error";
    }
};

} // namespace

const std::error_category& launcherProofFileCategory() {
    static const LauncherProofFileCategory category;
    return category;
}

std::error_code make_error_code(LauncherProofFileError error) {
    return {static_cast<int>(error), launcherProofFileCategory()};
}

std::error_code posixError(int errnoValue) {
    return {errnoValue != 0 ? errnoValue : EIO, std::generic_category()};
}

} // namespace quorvel
