#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvel::test {

// The build and source folders under test (QUORVEL_BUILD_DIR, QUORVEL_SOURCE_DIR; ctest sets both).
std::filesystem::path buildDirectory();
std::filesystem::path sourceDirectory();

// Lays out DEST/Quorvel.app (demo host, library, launcher) with scripts/make-bundle.sh and returns
// the bundle's path. Extra options go to the script (e.g. {"--name", "Other.app"}).
std::filesystem::path makeHostBundle(const std::filesystem::path& dest,
                                     const std::vector<std::string>& options = {});

// The private key whose public half the built signing tool trusts (for makeHostBundle's
// "--sign"), or nothing when this build trusts another key (a release build), so that no bundle
// signed here would be accepted.
std::optional<std::filesystem::path> trustedDevelopmentKey();

// Inside a bundle made by makeHostBundle.
inline std::filesystem::path hostExecutable(const std::filesystem::path& bundle) {
    return bundle / "Contents/MacOS/Quorvel";
}
inline std::filesystem::path launcherExecutable(const std::filesystem::path& bundle) {
    return bundle /
           "Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher";
}

// Live (non-zombie) processes of this user whose executable is exactly this file, oldest pid first.
std::vector<pid_t> processesRunning(const std::filesystem::path& executable);
// Live processes whose executable lies below this folder.
std::vector<pid_t> processesRunningBelow(const std::filesystem::path& folder);
// Ends (SIGKILL, by pid) every process running from below the folder and waits until none is
// left, for at most a few seconds. For the end of a test: the launcher's host apps live in
// sessions of their own, out of reach of a signal to the launcher's group.
void killProcessesRunningBelow(const std::filesystem::path& folder);

// Waits (polling) until the condition holds; false after the timeout. The timeout only bounds a
// failing test.
bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds = 10.0);

} // namespace quorvel::test
