#include "base/Sha256.h"
#include "platform/ApplicationLaunchLock.h"
#include "platform/ApplicationSupport.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

// One file per bundle path: two copies of the host app in different places do not wait for each
// other. The path as the kernel reports it is what every launcher of one bundle shares.
std::string lockFileName(const FileURL& bundleURL) {
    return "launch-" + sha256Hex(bundleURL.standardized().path).substr(0, 32) + ".lock";
}

// Creates the folder (and, for the application-support folder, its parents) when missing.
bool ensureFolder(const std::string& path, mode_t mode) {
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('/', end + 1);
        std::string prefix = path.substr(0, end);
        if (prefix.empty() || prefix.back() == '/')
            continue;
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST)
            return false;
    }
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

std::vector<FileURL> ApplicationLaunchLock::lockFileCandidates(const FileURL& bundleURL) {
    std::vector<FileURL> candidates;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        candidates.push_back(FileURL{runtime}
                                 .standardized()
                                 .appendingPathComponent(hostBundleIdentifier)
                                 .appendingPathComponent(lockFileName(bundleURL)));
    }
    if (auto support = quorvelApplicationSupportFolder())
        candidates.push_back(support->appendingPathComponent(lockFileName(bundleURL)));
    return candidates;
}

std::unique_ptr<ApplicationLaunchLock> ApplicationLaunchLock::acquire(const FileURL& bundleURL,
                                                                      int& error) {
    error = ENOENT;
    for (const FileURL& candidate : lockFileCandidates(bundleURL)) {
        // Our folder in the runtime folder is private like the runtime folder itself.
        if (!ensureFolder(candidate.deletingLastPathComponent().path, 0700)) {
            error = errno;
            continue;
        }
        int fd;
        do {
            fd = ::open(candidate.path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            error = errno;
            continue;
        }
        int result;
        do {
            result = ::flock(fd, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            error = errno;
            ::close(fd);
            continue;
        }
        error = 0;
        return std::unique_ptr<ApplicationLaunchLock>(new ApplicationLaunchLock(fd));
    }
    return nullptr;
}

ApplicationLaunchLock::~ApplicationLaunchLock() {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

} // namespace quorvel
