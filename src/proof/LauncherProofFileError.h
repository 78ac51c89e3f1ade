#pragma once

#include <system_error>
#include <type_traits>

namespace quorvel {

// The proof files report failures in two families, both as std::error_code:
// - a POSIX error: the errno of the failed system call, in std::generic_category();
// - a file error: one of the codes below, in launcherProofFileCategory().
// Callers treat every error as a failure of the whole step; the kinds exist for tests and logs.
enum class LauncherProofFileError {
    fileReadCorruptFile = 1,                 // symbolic link, no size, above the cap, torn log
    fileReadTooLarge = 2,                    // more bytes read than the cap allows
    fileWriteOutOfSpace = 3,                 // record or resulting log above 16 MiB
    fileWriteInapplicableStringEncoding = 4, // record empty or not newline-terminated
};

const std::error_category& launcherProofFileCategory();

std::error_code make_error_code(LauncherProofFileError error);

// A POSIX error for an errno value; EIO when the value is 0 (no error code was left behind).
std::error_code posixError(int errnoValue);

} // namespace quorvel

template <> struct std::is_error_code_enum<quorvel::LauncherProofFileError> : std::true_type {};
