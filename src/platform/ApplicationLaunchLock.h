#pragma once

#include "base/FileURL.h"

#include <memory>
#include <optional>
#include <vector>

namespace quorvel {

// Serialises "open the application, or find it running" across processes: while one process
// holds the lock of a bundle, every other process asking for the same bundle waits. It is an
// exclusive lock on a file named after the bundle's path, in the per-user runtime folder
// ($XDG_RUNTIME_DIR/com.quorvel.desktop), or in the application-support folder where there is
// no usable runtime folder. The lock goes with its holder's death; the file stays.
class ApplicationLaunchLock {
public:
    // Waits (without a time limit) until the lock is free and takes it. Nothing when no lock file
    // can be opened; `error` then holds the errno value of the last attempt.
    static std::unique_ptr<ApplicationLaunchLock> acquire(const FileURL& bundleURL, int& error);

    // Where the lock of this bundle lies, in order of preference.
    static std::vector<FileURL> lockFileCandidates(const FileURL& bundleURL);

    ~ApplicationLaunchLock();
    ApplicationLaunchLock(const ApplicationLaunchLock&) = delete;
    ApplicationLaunchLock& operator=(const ApplicationLaunchLock&) = delete;

private:
    explicit ApplicationLaunchLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace quorvel
