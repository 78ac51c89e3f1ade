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
// in pid order. Zombies are left out. Scanning has no side effects.
//
// What was learnt of each process and each information dictionary is kept between scans, so that
// a scan costs what changed, not what runs: a process is read in full once, when it is new, and
// the table is listed again only when a process was created since the last scan. A known process
// can still exec into a bundle's executable; that is seen
//   - at the next scan for the executable of every bundle the scan knows with a matching
//     identifier (bundles it found running, or was told of with knowBundle): their files are
//     watched, and an exec opens the file;
//   - at the next scan for a process in its first seconds (the window between fork and exec);
//   - within `sweep` for any other bundle, as every known process is read again that often.
// Not thread-safe: one owner.
class RunningBundleScan {
public:
    struct Timing {
        std::chrono::steady_clock::duration young = std::chrono::seconds(3);
        std::chrono::steady_clock::duration sweep = std::chrono::seconds(30);
    };

    explicit RunningBundleScan(std::string procRoot = "/proc");
    RunningBundleScan(std::string procRoot, Timing timing);
    ~RunningBundleScan();
    RunningBundleScan(const RunningBundleScan&) = delete;
    RunningBundleScan& operator=(const RunningBundleScan&) = delete;

    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier);

    // Watches the bundle's executable from now on, before any process runs it.
    void knowBundle(const FileURL& bundleURL);

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
        std::chrono::steady_clock::time_point firstSeen;
        std::chrono::steady_clock::time_point linkReadAt;
        // The executable link as read, or empty with the error that reading it gave.
        std::string link;
        int linkError = -1;
        // Kernel threads and zombies never run another executable: their link is not read again.
        bool settled = false;
        bool bundleShaped = false;
        std::uint64_t seenInListing = 0;
    };
    struct Kernel;

    const std::optional<BundleInfo>& bundleAt(const std::string& bundlePath);
    void watchExecutable(const std::string& path);
    bool openKernel();
    void listProcesses();
    void readLink(pid_t pid, KnownProcess& process, std::chrono::steady_clock::time_point now);

    std::string procRoot_;
    Timing timing_;
    std::unique_ptr<Kernel> kernel_;
    std::uint64_t listings_ = 0;
    std::unordered_map<pid_t, KnownProcess> processes_;
    std::unordered_map<std::string, CachedBundle> bundles_;
};

// Where the process's executable lies, read from <procRoot>/<pid>/exe. A replaced executable
// still runs from where it was; that place is reported. Nothing for kernel threads, zombies and
// other users' processes.
std::optional<std::string> readExecutableLink(const std::string& procRoot, pid_t pid);

} // namespace quorvel
