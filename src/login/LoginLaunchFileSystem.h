#pragma once

#include "base/FileURL.h"

#include <memory>
#include <string_view>

namespace quorvel {

// The file operations of the login launch functions on the maintenance marker.
class LoginLaunchFileSystem {
public:
    virtual ~LoginLaunchFileSystem() = default;

    // Creates the directory and any missing parent; true when it exists afterwards.
    virtual bool createDirectory(const FileURL& directory) = 0;
    // Replaces the file's contents as a whole: the bytes are written aside and moved into place,
    // so a reader sees the old file or the new one, never a part.
    virtual bool writeAtomically(const FileURL& file, std::string_view bytes) = 0;
    // Removes the file; false when it is still there (or never was).
    virtual bool removeItem(const FileURL& file) = 0;
};

// The local file system.
std::shared_ptr<LoginLaunchFileSystem> makeSystemLoginLaunchFileSystem();

} // namespace quorvel
