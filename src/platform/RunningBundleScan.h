#pragma once

#include "platform/BundleInfo.h"
#include "platform/RunningApplication.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace quorvel {

// Running copies of an application bundle, from a scan of the process table: a live process whose
// executable lies at <bundle>/Contents/MacOS/<executable> of a bundle with the asked identifier,
// in pid order. Zombies are left out. Scanning has no side effects; what was learnt of each
// process and each information dictionary is kept between scans, so a scan reads in full only
// processes it has not seen before and costs little for the rest. Not thread-safe: one owner.
class RunningBundleScan {
public:
    explicit RunningBundleScan(std::string procRoot = "/proc");
    ~RunningBundleScan();
    RunningBundleScan(const RunningBundleScan&) = delete;
    RunningBundleScan& operator=(const RunningBundleScan&) = delete;

    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier);

    const std::string& procRoot() const { return procRoot_; }
    void setProcRoot(std::string root);

private:
    struct CachedBundle {
        long long modifiedNanoseconds = -1;
        std::optional<BundleInfo> info;
    };
    // One process as last seen. It stays the same process while the table lists its pid under the
    // same entry; a new entry is checked against the start time, which with the pid names one
    // process for good.
    struct KnownProcess {
        std::uint64_t entry = 0;
        std::optional<std::chrono::system_clock::time_point> startTime;
        // The executable link as read, or empty with the error that reading it gave.
        std::string link;
        int linkError = 0;
        // Kernel threads and zombies never run another executable: their link is not read again.
        bool settled = false;
        std::uint64_t seenInScan = 0;
    };
    struct Listing;

    const std::optional<BundleInfo>& bundleAt(const std::string& bundlePath);
    bool refreshLink(pid_t pid, KnownProcess& process);

    std::string procRoot_;
    std::unique_ptr<Listing> listing_;
    std::uint64_t scans_ = 0;
    std::unordered_map<pid_t, KnownProcess> processes_;
    std::unordered_map<std::string, CachedBundle> bundles_;
};

// Where the process's executable lies, read from <procRoot>/<pid>/exe. A replaced executable
// still runs from where it was; that place is reported. Nothing for kernel threads, zombies and
// other users' processes.
std::optional<std::string> readExecutableLink(const std::string& procRoot, pid_t pid);

} // namespace quorvel
