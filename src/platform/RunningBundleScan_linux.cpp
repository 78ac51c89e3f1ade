#include "platform/ProcessStat.h"
#include "platform/RunningBundleScan.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

// What the scan holds of the kernel: the process table's folder, opened once and listed again from
// its start; the table's note of the last pid handed out; watches on bundle executables.
struct RunningBundleScan::Kernel {
    DIR* directory = nullptr;
    int lastPidFile = -1;
    std::optional<long long> lastPid;
    int watcher = -1;
    std::unordered_map<std::string, int> watches; // executable path -> watch descriptor

    ~Kernel() {
        if (directory)
            ::closedir(directory);
        if (lastPidFile >= 0)
            ::close(lastPidFile);
        if (watcher >= 0)
            ::close(watcher);
    }

    // Whether a process may have been created since the last call. The last field of loadavg is
    // the last pid handed out in the reader's pid namespace: while it stays, no process (nor
    // thread) was created, so no pid was reused either. Always true where that cannot be read.
    bool processesMayHaveBeenCreated() {
        if (lastPidFile < 0)
            return true;
        char buffer[128];
        ssize_t length = ::pread(lastPidFile, buffer, sizeof buffer - 1, 0);
        if (length <= 0)
            return true;
        std::string_view line(buffer, static_cast<std::size_t>(length));
        while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
            line.remove_suffix(1);
        auto space = line.rfind(' ');
        long long pid = 0;
        if (space == std::string_view::npos ||
            std::from_chars(line.data() + space + 1, line.data() + line.size(), pid).ec !=
                std::errc()) {
            return true;
        }
        bool changed = lastPid != pid;
        lastPid = pid;
        return changed;
    }

    // Whether a watched executable was opened (an exec opens it), changed or replaced since the
    // last call; the watches are then placed again, on whatever file now lies at each path.
    bool executablesTouched() {
        if (watcher < 0)
            return false;
        bool touched = false;
        alignas(inotify_event) char buffer[4096];
        while (::read(watcher, buffer, sizeof buffer) > 0)
            touched = true;
        if (touched) {
            for (auto& [path, descriptor] : watches)
                descriptor = ::inotify_add_watch(watcher, path.c_str(), watchedEvents);
        }
        return touched;
    }

    static constexpr std::uint32_t watchedEvents =
        IN_OPEN | IN_ATTRIB | IN_MODIFY | IN_MOVE_SELF | IN_DELETE_SELF;
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

RunningBundleScan::RunningBundleScan(std::string procRoot)
    : RunningBundleScan(std::move(procRoot), Timing{}) {}

RunningBundleScan::RunningBundleScan(std::string procRoot, Timing timing)
    : procRoot_(std::move(procRoot)), timing_(timing) {}

RunningBundleScan::~RunningBundleScan() = default;

void RunningBundleScan::setProcRoot(std::string root) {
    procRoot_ = std::move(root);
    kernel_.reset();
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

void RunningBundleScan::watchExecutable(const std::string& path) {
    if (!kernel_ || kernel_->watcher < 0 || kernel_->watches.contains(path))
        return;
    kernel_->watches[path] =
        ::inotify_add_watch(kernel_->watcher, path.c_str(), Kernel::watchedEvents);
}

bool RunningBundleScan::openKernel() {
    if (kernel_)
        return true;
    DIR* directory = ::opendir(procRoot_.c_str());
    if (!directory)
        return false;
    kernel_ = std::make_unique<Kernel>();
    kernel_->directory = directory;
    kernel_->watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The last-pid note speaks of this process's pid namespace: it is used only where the table
    // is that namespace's own (its "self" is this process).
    char self[32] = {};
    std::string selfLink = procRoot_ + "/self";
    if (::readlink(selfLink.c_str(), self, sizeof self - 1) > 0 &&
        std::string_view(self) == std::to_string(::getpid())) {
        kernel_->lastPidFile = ::open((procRoot_ + "/loadavg").c_str(), O_RDONLY | O_CLOEXEC);
    }
    return true;
}

void RunningBundleScan::knowBundle(const FileURL& bundleURL) {
    if (!openKernel())
        return;
    const auto& bundle = bundleAt(bundleURL.path);
    if (bundle && bundle->executableURL())
        watchExecutable(bundle->executableURL()->path);
}

// Lists the table: a pid not seen before, or listed under a new entry, is a new process unless
// its start time says it is the one already known (the kernel made its entry anew). Known
// processes that are no longer listed are forgotten.
void RunningBundleScan::listProcesses() {
    ::rewinddir(kernel_->directory);
    const std::uint64_t listing = ++listings_;
    const auto now = std::chrono::steady_clock::now();
    while (dirent* entry = ::readdir(kernel_->directory)) {
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
        if (isNew || process.entry != tableEntry) {
            auto stat = readProcessStat(procRoot_, pid);
            if (!stat) {
                processes_.erase(found); // gone between the listing and the read
                continue;
            }
            if (isNew || !process.startTime || process.startTime != stat->startTime) {
                process = KnownProcess{};
                process.startTime = stat->startTime;
                process.firstSeen = now;
            }
            process.entry = tableEntry;
        }
        process.seenInListing = listing;
    }
    std::erase_if(processes_,
                  [listing](const auto& known) { return known.second.seenInListing != listing; });
}

// Reads the executable link into a buffer on the stack; the kept text changes only when the link
// did (an exec, or the process went away).
void RunningBundleScan::readLink(pid_t pid, KnownProcess& process,
                                 std::chrono::steady_clock::time_point now) {
    char name[32];
    char buffer[PATH_MAX];
    std::snprintf(name, sizeof name, "%d/exe", static_cast<int>(pid));
    ssize_t length = ::readlinkat(::dirfd(kernel_->directory), name, buffer, sizeof buffer);
    int error = 0;
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        error = length < 0 ? errno : ENAMETOOLONG;
        length = 0;
    }
    // Known processes are swept in turn, not all in the same scan: the first reading counts as
    // made up to a sweep earlier, spread by pid.
    process.linkReadAt = process.linkError == -1 ? now - timing_.sweep * (pid % 16) / 16 : now;
    std::string_view link(buffer, static_cast<std::size_t>(length));
    if (error == process.linkError && link == process.link)
        return;
    process.link.assign(link);
    process.linkError = error;
    process.bundleShaped = error == 0 && mayLieInBundle(executablePath(link));
}

std::vector<RunningApplication>
RunningBundleScan::runningApplications(std::string_view bundleIdentifier) {
    std::vector<RunningApplication> result;
    if (!openKernel())
        return result;
    const auto now = std::chrono::steady_clock::now();
    const bool touched = kernel_->executablesTouched();
    if (kernel_->processesMayHaveBeenCreated())
        listProcesses();

    for (auto known = processes_.begin(); known != processes_.end();) {
        const pid_t pid = known->first;
        KnownProcess& process = known->second;
        if (process.settled) {
            ++known;
            continue;
        }
        // An exec keeps the pid, the start time and the table entry, and shows in no listing:
        // the link tells. It is read again for a process not read yet, when a watched executable
        // was opened, for a process in its first seconds or with an executable in a bundle, and
        // for every process in turn once per sweep.
        bool due = process.linkError == -1 || touched || process.bundleShaped ||
                   now - process.firstSeen < timing_.young ||
                   now - process.linkReadAt >= timing_.sweep;
        if (due)
            readLink(pid, process, now);
        std::optional<ProcessStat> stat;
        if (process.linkError == ENOENT && due) {
            // No link: a kernel thread, a zombie, an exiting or ended process. Only the first two
            // stay that way for good. (Another user's process, EACCES, may exec into one of ours
            // as a child of sudo, so it is read again like any other.)
            stat = readProcessStat(procRoot_, pid);
            if (!stat) {
                known = processes_.erase(known);
                continue;
            }
            process.settled = stat->kernelThread || stat->gone();
        }
        if (process.linkError != 0 || !process.bundleShaped) {
            ++known;
            continue;
        }
        std::string executable(executablePath(process.link));
        std::string bundlePath;
        std::string executableName;
        if (!splitBundleExecutable(executable, bundlePath, executableName)) {
            ++known;
            continue;
        }
        // The dictionary may change under a running process: checked on every scan.
        const auto& bundle = bundleAt(bundlePath);
        if (!bundle || bundle->identifier != bundleIdentifier) {
            ++known;
            continue;
        }
        if (auto bundleExecutable = bundle->executableURL())
            watchExecutable(bundleExecutable->path);
        if (bundle->executableName != executableName) {
            ++known;
            continue;
        }
        // Few processes match: their state is read every time, so a zombie is never reported.
        stat = readProcessStat(procRoot_, pid);
        if (!stat) {
            known = processes_.erase(known);
            continue;
        }
        if (!stat->gone()) {
            result.push_back(RunningApplication{bundle->identifier, static_cast<std::int32_t>(pid),
                                                FileURL{std::move(executable)}, process.startTime});
        }
        ++known;
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    });
    return result;
}

} // namespace quorvel
