#include "support/HostBundle.h"

#include "support/ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace quorvel::test {

namespace {

std::filesystem::path fromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::filesystem::path(value && *value ? value : fallback);
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool isZombie(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char buffer[512];
    ssize_t length = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (length <= 0)
        return true;
    std::string_view stat(buffer, static_cast<std::size_t>(length));
    auto close = stat.rfind(')');
    if (close == std::string_view::npos || close + 2 >= stat.size())
        return true;
    return stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

template <class Match> std::vector<pid_t> scan(Match match) {
    std::vector<pid_t> result;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return result;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        std::error_code error;
        auto exe =
            std::filesystem::read_symlink("/proc/" + std::string(entry->d_name) + "/exe", error);
        if (error)
            continue;
        std::string path = exe.string();
        if (path.ends_with(" (deleted)"))
            path.resize(path.size() - 10);
        if (!match(path) || isZombie(static_cast<pid_t>(pid)))
            continue;
        result.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace

std::filesystem::path buildDirectory() {
    return fromEnvironment("QUORVEL_BUILD_DIR", "build");
}
std::filesystem::path sourceDirectory() {
    return fromEnvironment("QUORVEL_SOURCE_DIR", ".");
}

std::filesystem::path makeHostBundle(const std::filesystem::path& dest,
                                     const std::vector<std::string>& options) {
    std::vector<std::string> argv{(sourceDirectory() / "scripts/make-bundle.sh").string(),
                                  "--build", buildDirectory().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(dest.string());
    auto result = runCommand(argv);
    if (result.status != 0)
        throw std::runtime_error("make-bundle.sh failed: " + result.output);
    std::string path = result.output;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    return std::filesystem::path(path);
}

std::optional<std::filesystem::path> trustedDevelopmentKey() {
    std::filesystem::path key = buildDirectory() / "codesign/development-signing-key.pem";
    if (!std::filesystem::exists(key))
        return std::nullopt;
    auto derived = runCommand({"openssl", "pkey", "-in", key.string(), "-pubout"});
    auto trusted =
        runCommand({(buildDirectory() / "bin/quorvel-codesign").string(), "print-trusted-key"});
    if (derived.status != 0 || trusted.status != 0 ||
        trimmed(derived.output) != trimmed(trusted.output))
        return std::nullopt;
    return key;
}

std::vector<pid_t> processesRunning(const std::filesystem::path& executable) {
    std::string wanted = std::filesystem::weakly_canonical(executable).string();
    return scan([&](const std::string& path) { return path == wanted; });
}

std::vector<pid_t> processesRunningBelow(const std::filesystem::path& folder) {
    std::string prefix = std::filesystem::weakly_canonical(folder).string();
    if (!prefix.ends_with('/'))
        prefix += '/';
    return scan([&](const std::string& path) { return path.starts_with(prefix); });
}

void killProcessesRunningBelow(const std::filesystem::path& folder) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        auto pids = processesRunningBelow(folder);
        if (pids.empty() || std::chrono::steady_clock::now() > deadline)
            return;
        for (pid_t pid : pids)
            ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace quorvel::test
