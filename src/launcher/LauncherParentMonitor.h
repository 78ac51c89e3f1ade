#pragma once

#include "launcher/LauncherApplicationFact.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// How an exit of the host app was noticed.
enum class LauncherParentExitSource { notification, healthCheck };

// "notification" / "health_check", the form the log lines carry.
std::string_view rawValue(LauncherParentExitSource source);
std::optional<LauncherParentExitSource> launcherParentExitSourceFromRawValue(std::string_view raw);

// An accepted exit of the host app: the process that went away and how it was noticed.
struct LauncherParentExit {
    LauncherApplicationFact application;
    LauncherParentExitSource source = LauncherParentExitSource::notification;

    bool operator==(const LauncherParentExit&) const = default;
};

// Where a relaunch stands. The process identifier is that of the exited parent; it is 0 for idle.
struct LauncherParentRecoveryState {
    enum class Kind { idle, scheduled, opening };

    Kind kind = Kind::idle;
    std::int32_t processIdentifier = 0;

    bool operator==(const LauncherParentRecoveryState&) const = default;

    static LauncherParentRecoveryState idle() { return {}; }
    static LauncherParentRecoveryState scheduled(std::int32_t pid) {
        return {Kind::scheduled, pid};
    }
    static LauncherParentRecoveryState opening(std::int32_t pid) { return {Kind::opening, pid}; }
    bool isIdle() const { return kind == Kind::idle; }
};

// The launcher's memory of the host app: which process is the live parent, whether a reported
// process is the expected host app at all, and whether a relaunch is already under way. Its one
// promise: an exit seen by the termination notification, the health check or both yields at most
// one LauncherParentExit. Pure; the runtime feeds it observations.
class LauncherParentMonitor {
public:
    LauncherParentMonitor() = default;
    // The expected executable must already be in canonical form (the runtime passes it through
    // LauncherProofLeaseStore::canonicalExecutableURL); its path is kept beside it.
    explicit LauncherParentMonitor(std::optional<FileURL> expectedExecutableURL);

    bool operator==(const LauncherParentMonitor&) const = default;

    // The host app process being tracked; replaced by a newer process, never cleared.
    std::optional<LauncherApplicationFact> liveParent;
    LauncherParentRecoveryState recovery;

    const std::optional<FileURL>& expectedExecutableURL() const { return expectedExecutableURL_; }
    const std::optional<std::string>& expectedExecutablePath() const {
        return expectedExecutablePath_;
    }

    // Whether the fact is the expected host app with a reported executable at the expected path.
    bool isParent(const LauncherApplicationFact& fact) const;
    // The facts that are the live parent or the expected host app, in their order.
    std::vector<LauncherApplicationFact>
    expectedParents(const std::vector<LauncherApplicationFact>& facts) const;
    // Adopts the first expected host app of the list as the live parent.
    void observeRunning(const std::vector<LauncherApplicationFact>& facts);
    // The application the launcher has just opened: when it is the host app it becomes the live
    // parent (with the expected executable filled in if the platform reported none) and the
    // relaunch is over.
    std::optional<LauncherApplicationFact> observeReplacement(const LauncherApplicationFact& fact);
    std::optional<LauncherParentExit> observeTermination(const LauncherApplicationFact& fact,
                                                         bool maintenanceRequested);
    std::optional<LauncherParentExit>
    observeHealthCheck(const std::vector<LauncherApplicationFact>& running,
                       bool maintenanceRequested);

private:
    std::optional<LauncherApplicationFact> exactParent(const LauncherApplicationFact& fact,
                                                       bool allowTrustedExecutableFallback) const;

    std::optional<FileURL> expectedExecutableURL_;
    std::optional<std::string> expectedExecutablePath_;
};

} // namespace quorvel
