#include "DemoProofLease.h"

#include "base/FileURL.h"
#include "base/InternetDateTime.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "proof/LauncherProofLeaseStore.h"
#include "proof/SystemLauncherProofFileSystem.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <glib-unix.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

using namespace quorvel;

constexpr const char* logVariable = "QUORVEL_DEMO_PROOF_LOG";
// Well inside the launcher's longest accepted lifetime (360 s), long enough for a slow harness.
constexpr std::chrono::seconds leaseLifetime{300};

struct LeaseRequest {
    std::string attestationLog;
    std::string snapshotLog;
};

// The launcher refuses a lease whose log paths are not absolute, standard and ".jsonl"; saying so
// at start is clearer than a lease that is silently deleted later.
std::optional<LeaseRequest> requestFor(const std::string& log, std::string& reason) {
    if (log.empty() || log.front() != '/') {
        reason = std::string(logVariable) + " is not an absolute path";
        return std::nullopt;
    }
    if (standardizePath(log) != log) {
        reason = std::string(logVariable) + " is not in standard form (no ., .., // or trailing /)";
        return std::nullopt;
    }
    if (FileURL{log}.pathExtension() != "jsonl") {
        reason = std::string(logVariable) + " does not end in .jsonl";
        return std::nullopt;
    }
    std::string snapshot = log.substr(0, log.size() - 6) + "-snapshots.jsonl";
    if (snapshot.size() > LauncherProofLeaseStore::longestLogPath) {
        reason = std::string(logVariable) + " is too long";
        return std::nullopt;
    }
    return LeaseRequest{log, snapshot};
}

std::string writeLease(const LeaseRequest& request, std::string& runId, std::string& leasePath) {
    // The same store and file operations the launcher claims the lease with, so that both sides
    // agree on its place, its lock and its atomic replacement.
    auto store = LauncherProofLeaseStore::production();
    if (!store)
        return "no application-support folder (neither XDG_DATA_HOME nor HOME is absolute)";
    leasePath = store->leaseURL.path;

    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "cannot read /proc/self/exe: " + error.message();

    auto issuedAt = std::chrono::floor<std::chrono::seconds>(Clock::now());
    runId = "demo-" + randomUuidString();
    Json lease = {
        {"schemaVersion", LauncherProofLeaseStore::schemaVersion},
        {"proofRunId", runId},
        {"attestationLogPath", request.attestationLog},
        {"snapshotLogPath", request.snapshotLog},
        {"executablePath", executable.string()},
        {"appPid", static_cast<std::int64_t>(::getpid())},
        {"issuedAt", formatInternetDateTime(issuedAt)},
        {"expiresAt", formatInternetDateTime(issuedAt + leaseLifetime)},
    };

    SystemLauncherProofFileSystem files;
    auto written = files.withExclusiveLeaseLock(store->leaseURL, [&] {
        return files.replaceAtomicallyUnderLock(bytesOf(dumpCompact(lease) + "\n"),
                                                store->leaseURL);
    });
    return written ? std::string() : written.error().message();
}

gboolean leaseRequested(gpointer data) {
    const auto& request = *static_cast<const LeaseRequest*>(data);
    std::string runId, leasePath;
    std::string failure = writeLease(request, runId, leasePath);
    if (failure.empty()) {
        std::printf("proof-lease written pid=%ld run=%s lease=%s\n", static_cast<long>(::getpid()),
                    runId.c_str(), leasePath.c_str());
    } else {
        std::printf("proof-lease failed pid=%ld reason=%s\n", static_cast<long>(::getpid()),
                    failure.c_str());
    }
    std::fflush(stdout);
    return G_SOURCE_CONTINUE;
}

} // namespace

void startDemoProofLease() {
    const char* log = std::getenv(logVariable);
    if (!log)
        return;
    std::string reason;
    auto request = requestFor(log, reason);
    if (!request) {
        std::printf("proof-lease disabled reason=%s\n", reason.c_str());
        std::fflush(stdout);
        return;
    }
    // The handler is in place once this returns, so a harness that waits for the "armed" line
    // (or the host's start line after it) can signal at once.
    static std::optional<LeaseRequest> armed;
    armed = std::move(request);
    g_unix_signal_add(SIGUSR1, leaseRequested, &*armed);
    std::printf("proof-lease armed pid=%ld log=%s\n", static_cast<long>(::getpid()), log);
    std::fflush(stdout);
}
