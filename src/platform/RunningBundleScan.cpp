#include "platform/RunningBundleScan.h"

#include "platform/ProcessStat.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

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

} // namespace

std::optional<std::string> readExecutableLink(const std::string& procRoot, pid_t pid) {
    char buffer[PATH_MAX];
    std::string link = procRoot + "/" + std::to_string(pid) + "/exe";
    ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer)
        return std::nullopt;
    std::string path(buffer, static_cast<std::size_t>(length));
    static constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return path;
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

std::vector<RunningApplication>
RunningBundleScan::runningApplications(std::string_view bundleIdentifier) {
    std::vector<RunningApplication> result;
    DIR* directory = ::opendir(procRoot_.c_str());
    if (!directory)
        return result;
    while (dirent* entry = ::readdir(directory)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9')
            continue;
        char* end = nullptr;
        long pid = std::strtol(name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid > INT32_MAX)
            continue;
        auto executable = readExecutableLink(procRoot_, static_cast<pid_t>(pid));
        if (!executable)
            continue; // kernel threads, zombies, other users' processes
        std::string bundlePath;
        std::string executableName;
        if (!splitBundleExecutable(*executable, bundlePath, executableName))
            continue;
        const auto& bundle = bundleAt(bundlePath);
        if (!bundle || bundle->identifier != bundleIdentifier ||
            bundle->executableName != executableName) {
            continue;
        }
        auto stat = readProcessStat(procRoot_, static_cast<pid_t>(pid));
        if (!stat || stat->gone())
            continue;
        result.push_back(RunningApplication{bundle->identifier, static_cast<std::int32_t>(pid),
                                            FileURL{*executable}, stat->startTime});
    }
    ::closedir(directory);
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    });
    return result;
}

} // namespace quorvel
