#include "launcher/LauncherParentMonitor.h"

#include "platform/ApplicationSupport.h"
#include "proof/LauncherProofLeaseStore.h"

namespace quorvel {

std::string_view rawValue(LauncherParentExitSource source) {
    switch (source) {
    case LauncherParentExitSource::notification:
        return "notification";
    case LauncherParentExitSource::healthCheck:
        return "health_check";
    }
    return "";
}

std::optional<LauncherParentExitSource> launcherParentExitSourceFromRawValue(std::string_view raw) {
    for (auto source :
         {LauncherParentExitSource::notification, LauncherParentExitSource::healthCheck}) {
        if (rawValue(source) == raw)
            return source;
    }
    return std::nullopt;
}

LauncherParentMonitor::LauncherParentMonitor(std::optional<FileURL> expectedExecutableURL)
    : expectedExecutableURL_(std::move(expectedExecutableURL)) {
    if (expectedExecutableURL_)
        expectedExecutablePath_ = expectedExecutableURL_->path;
}

std::optional<LauncherApplicationFact>
LauncherParentMonitor::exactParent(const LauncherApplicationFact& fact,
                                   bool allowTrustedExecutableFallback) const {
    if (fact.bundleIdentifier != hostBundleIdentifier)
        return std::nullopt;
    if (fact.processIdentifier < 1)
        return std::nullopt;
    if (!expectedExecutableURL_ || !expectedExecutablePath_)
        return std::nullopt;
    if (fact.executableURL) {
        auto canonical = LauncherProofLeaseStore::canonicalExecutableURL(fact.executableURL);
        if (!canonical || canonical->path != *expectedExecutablePath_)
            return std::nullopt;
        return fact;
    }
    // Only the application the launcher itself just opened may lack a reported executable.
    if (!allowTrustedExecutableFallback)
        return std::nullopt;
    LauncherApplicationFact filled = fact;
    filled.executableURL = expectedExecutableURL_;
    return filled;
}

bool LauncherParentMonitor::isParent(const LauncherApplicationFact& fact) const {
    return exactParent(fact, false).has_value();
}

std::vector<LauncherApplicationFact>
LauncherParentMonitor::expectedParents(const std::vector<LauncherApplicationFact>& facts) const {
    std::vector<LauncherApplicationFact> result;
    for (const auto& fact : facts) {
        if ((liveParent && fact == *liveParent) || isParent(fact))
            result.push_back(fact);
    }
    return result;
}

void LauncherParentMonitor::observeRunning(const std::vector<LauncherApplicationFact>& facts) {
    for (const auto& fact : facts) {
        if (auto parent = exactParent(fact, false)) {
            liveParent = std::move(parent);
            return;
        }
    }
}

std::optional<LauncherApplicationFact>
LauncherParentMonitor::observeReplacement(const LauncherApplicationFact& fact) {
    auto parent = exactParent(fact, true);
    if (!parent)
        return std::nullopt;
    liveParent = parent;
    recovery = LauncherParentRecoveryState::idle();
    return parent;
}

std::optional<LauncherParentExit>
LauncherParentMonitor::observeTermination(const LauncherApplicationFact& fact,
                                          bool maintenanceRequested) {
    if (maintenanceRequested)
        return std::nullopt;
    std::optional<LauncherApplicationFact> exited;
    if (liveParent) {
        if (liveParent->bundleIdentifier != fact.bundleIdentifier ||
            liveParent->processIdentifier != fact.processIdentifier) {
            return std::nullopt;
        }
        if (liveParent->executableURL != fact.executableURL && !isParent(fact))
            return std::nullopt;
        exited = liveParent;
    } else {
        exited = exactParent(fact, false);
        if (!exited)
            return std::nullopt;
    }
    if (!recovery.isIdle())
        return std::nullopt; // a relaunch is already under way
    recovery = LauncherParentRecoveryState::scheduled(exited->processIdentifier);
    return LauncherParentExit{*exited, LauncherParentExitSource::notification};
}

std::optional<LauncherParentExit>
LauncherParentMonitor::observeHealthCheck(const std::vector<LauncherApplicationFact>& running,
                                          bool maintenanceRequested) {
    if (maintenanceRequested)
        return std::nullopt;
    if (!liveParent) {
        observeRunning(running);
        return std::nullopt;
    }
    for (const auto& parent : expectedParents(running)) {
        if (parent.processIdentifier == liveParent->processIdentifier)
            return std::nullopt;
    }
    if (!recovery.isIdle())
        return std::nullopt;
    recovery = LauncherParentRecoveryState::scheduled(liveParent->processIdentifier);
    return LauncherParentExit{*liveParent, LauncherParentExitSource::healthCheck};
}

} // namespace quorvel
