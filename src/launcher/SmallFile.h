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

// Reads a regular file of at most maximumSize bytes. Nothing for a missing or unreadable file, for
// anything that is not a regular file (a folder, a pipe, a device: never blocks) and for a file
// larger than the limit, so that a stray huge file cannot stall the one-second health check.
std::optional<SmallFile> readSmallRegularFile(const FileURL& url, std::size_t maximumSize);

} // namespace quorvel
