#pragma once

#include "base/FileURL.h"

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvel {

// The contents of a small regular file and the identity of the file they came from.
struct SmallFile {
    std::string contents;
    dev_t device = 0;
    ino_t inode = 0;
};

// Whether a symbolic link at the path itself is read through or refused.
enum class FinalLink { follow, refuse };

// Reads a regular file of at most maximumSize bytes. Nothing for a missing or unreadable file, for
// anything that is not a regular file (a folder, a pipe, a device: never blocks) and for a file
// larger than the limit or growing past it while it is read, so that a stray huge file cannot
// stall the caller.
std::optional<SmallFile> readSmallRegularFile(const FileURL& url, std::size_t maximumSize,
                                              FinalLink link = FinalLink::follow);

} // namespace quorvel
