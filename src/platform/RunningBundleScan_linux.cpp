#include "platform/ProcessStat.h"
#include "platform/RunningBundleScan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

// The process table's folder, opened once and listed again from its start on every scan.
struct RunningBundleScan::Listing {
    DIR* directory = nullptr;
    ~Listing() {
        if (directory)
            ::closedir(directory);
    }
};

namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

// The link text without the note the kernel adds once the executable was replaced on disk.
std::string_view executablePath(std::string_view link) {
    if (link.size() > deletedSuffix.size() && link.ends_with(deletedSuffix))
        link.remove_suffix(deletedSuffix.size());
    return link;
}

// Splits ".../Name.app/Contents/MacOS/exe" into the bundle path and the executable name.
bool splitBundleExecutable(const std::string& executable, std::string& bundlePath,
                           std::string& name) {
    FileURL url{executable};
    FileURL macos = url.deletingLastPathComponent();
    FileURL contents = macos.deletingLastPathComponent();
    if (macos.lastPathComponent() != "MacOS" || contents.lastPathComponent() != "Contents")
        return false;
    bundlePath = contents.deletingLastPathComponent().path;
    name = url.lastPathComponent();
    return true;
}

// Cheap test before the split: only a path with "/Contents/MacOS/" in it can lie in a bundle.
bool mayLieInBundle(std::string_view path) {
    return path.find("/Contents/MacOS/") != std::string_view::npos;
}

} // namespace

RunningBundleScan::RunningBundleScan(std::string procRoot) : procRoot_(std::move(procRoot)) {}

RunningBundleScan::~RunningBundleScan() = default;

void RunningBundleScan::setProcRoot(std::string root) {
    procRoot_ = std::move(root);
    listing_.reset();
    processes_.clear();
}

std::optional<std::string> readExecutableLink(const std::string& procRoot, pid_t pid) {
    char buffer[PATH_MAX];
    std::string link = procRoot + "/" + std::to_string(pid) + "/exe";
    ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer)
        return std::nullopt;
    return std::string(executablePath(std::string_view(buffer, static_cast<std::size_t>(length))));
}

const std::optional<BundleInfo>& RunningBundleScan::bundleAt(const std::string& bundlePath) {
    struct stat status {};
    long long modified = -1;
    std::string plist = bundlePath + "/Contents/Info.plist";
    if (::stat(plist.c_str(), &status) == 0) {
        modified = static_cast<long long>(status.st_mtim.tv_sec) * 1'000'000'000LL +
                   status.st_mtim.tv_nsec;
    }
    auto& cached = bundles_[bundlePath];
    if (cached.modifiedNanoseconds != modified || modified < 0) {
        cached.modifiedNanoseconds = modified;
        cached.info = modified < 0 ? std::nullopt : readBundle(FileURL{bundlePath});
    }
    return cached.info;
}

// Reads the executable link again and tells whether it changed. An exec keeps the pid, the start
// time and the table entry, and changes nothing that a listing shows: the link is the one thing
// that tells, so every process that may still exec is read again on every scan. That is one
// readlinkat into a buffer on the stack and a comparison, with no allocation unless it changed.
bool RunningBundleScan::refreshLink(pid_t pid, KnownProcess& process) {
    char name[32];
    char buffer[PATH_MAX];
    std::snprintf(name, sizeof name, "%d/exe", static_cast<int>(pid));
    ssize_t length = ::readlinkat(::dirfd(listing_->directory), name, buffer, sizeof buffer);
    int error = 0;
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        error = length < 0 ? errno : ENAMETOOLONG;
        length = 0;
    }
    std::string_view link(buffer, static_cast<std::size_t>(length));
    if (error == process.linkError && link == process.link)
        return false;
    process.link.assign(link);
    process.linkError = error;
    return true;
}

std::vector<RunningApplication>
RunningBundleScan::runningApplications(std::string_view bundleIdentifier) {
    std::vector<RunningApplication> result;
    if (!listing_) {
        DIR* directory = ::opendir(procRoot_.c_str());
        if (!directory)
            return result;
        listing_ = std::make_unique<Listing>();
        listing_->directory = directory;
    } else {
        ::rewinddir(listing_->directory);
    }
    const std::uint64_t scan = ++scans_;
    while (dirent* entry = ::readdir(listing_->directory)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9')
            continue;
        char* end = nullptr;
        long number = std::strtol(name, &end, 10);
        if (*end != '\0' || number <= 0 || number > INT32_MAX)
            continue;
        const auto pid = static_cast<pid_t>(number);
        const std::uint64_t tableEntry = entry->d_ino;

        auto [found, isNew] = processes_.try_emplace(pid);
        KnownProcess& process = found->second;
        std::optional<ProcessStat> stat;
        if (isNew || process.entry != tableEntry) {
            // A pid not seen before, or listed under a new entry: a new process, unless its start
            // time says it is the one already known (the table made its entry anew).
            stat = readProcessStat(procRoot_, pid);
            if (!stat) {
                processes_.erase(found); // gone between the listing and the read
                continue;
            }
            if (isNew || !process.startTime || process.startTime != stat->startTime) {
                process = KnownProcess{};
                process.startTime = stat->startTime;
                process.linkError = -1; // never read
            }
            process.entry = tableEntry;
        }
        process.seenInScan = scan;
        if (process.settled)
            continue;
        refreshLink(pid, process);
        if (process.linkError != 0) {
            // No link: a kernel thread, a zombie, an exiting process or another user's. Only the
            // first two stay that way for good; another user's process may exec into one of ours
            // (a child of sudo), so it is read again.
            if (process.linkError == ENOENT) {
                if (!stat)
                    stat = readProcessStat(procRoot_, pid);
                process.settled = stat && (stat->kernelThread || stat->gone());
            }
            continue;
        }
        std::string_view path = executablePath(process.link);
        if (!mayLieInBundle(path))
            continue;
        std::string executable(path);
        std::string bundlePath;
        std::string executableName;
        if (!splitBundleExecutable(executable, bundlePath, executableName))
            continue;
        // The dictionary may change under a running process: checked on every scan, as before.
        const auto& bundle = bundleAt(bundlePath);
        if (!bundle || bundle->identifier != bundleIdentifier ||
            bundle->executableName != executableName) {
            continue;
        }
        // Few processes match: their state is read every time, so a zombie is never reported.
        if (!stat)
            stat = readProcessStat(procRoot_, pid);
        if (!stat || stat->gone())
            continue;
        result.push_back(RunningApplication{bundle->identifier, static_cast<std::int32_t>(pid),
                                            FileURL{std::move(executable)}, process.startTime});
    }
    std::erase_if(processes_,
                  [scan](const auto& known) { return known.second.seenInScan != scan; });
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    });
    return result;
}

} // namespace quorvel
