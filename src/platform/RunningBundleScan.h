#pragma once

#include "platform/BundleInfo.h"
#include "platform/RunningApplication.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace quorvel {

// Running copies of an application bundle, from a scan of the process table: a live process whose
// executable lies at <bundle>/Contents/MacOS/<executable> of a bundle with the asked identifier,
// oldest process first (the closest thing to a launch order that /proc offers). Zombies are left
// out. Scanning has no side effects; the information dictionaries read are kept between scans
// until they change on disk. Not thread-safe: one owner.
class RunningBundleScan {
public:
    explicit RunningBundleScan(std::string procRoot = "/proc") : procRoot_(std::move(procRoot)) {}

    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier);

    const std::string& procRoot() const { return procRoot_; }
    void setProcRoot(std::string root) { procRoot_ = std::move(root); }

private:
    struct CachedBundle {
        long long modifiedNanoseconds = -1;
        std::optional<BundleInfo> info;
    };
    const std::optional<BundleInfo>& bundleAt(const std::string& bundlePath);

    std::string procRoot_;
    std::unordered_map<std::string, CachedBundle> bundles_;
};

// Where the process's executable lies, read from <procRoot>/<pid>/exe. A replaced executable
// still runs from where it was; that place is reported. Nothing for kernel threads, zombies and
// other users' processes.
std::optional<std::string> readExecutableLink(const std::string& procRoot, pid_t pid);

} // namespace quorvel
