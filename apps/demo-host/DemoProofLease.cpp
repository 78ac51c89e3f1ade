#include "DemoProofLease.h"

#include "base/AtomicFile.h"
#include "base/FileURL.h"
#include "base/InternetDateTime.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "platform/ApplicationSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <glib-unix.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace quorvel;

constexpr const char* logVariable = "QUORVEL_DEMO_PROOF_LOG";
constexpr const char* leaseFileName = "launcher-proof-lease.json";
// Well inside the launcher's longest accepted lifetime (360 s), long enough for a slow harness.
constexpr std::chrono::seconds leaseLifetime{300};
constexpr std::size_t longestLogPath = 4096;

struct LeaseRequest {
    std::string attestationLog;
    std::string snapshotLog;
};

std::string errnoText(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

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
    if (snapshot.size() > longestLogPath) {
        reason = std::string(logVariable) + " is too long";
        return std::nullopt;
    }
    return LeaseRequest{log, snapshot};
}

// The lock on the lease, held for the life of the object.
class LeaseLock {
public:
    explicit LeaseLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) {
        if (fd_ < 0) {
            error_ = errnoText("open lock");
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errnoText("flock");
                return;
            }
        }
    }
    ~LeaseLock() {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }
    LeaseLock(const LeaseLock&) = delete;
    LeaseLock& operator=(const LeaseLock&) = delete;

    const std::string& error() const { return error_; }

private:
    int fd_;
    std::string error_;
};

// Stages the bytes beside the target and renames them over it. Empty on success; on failure the
// staged file is gone and the target untouched.
std::string replaceAtomically(const std::string& target, const std::string& bytes) {
    // The folder is not synced: a lease names a live process and expires within minutes, so it
    // has no use after a power loss.
    auto replaced = replaceFileAtomically(FileURL{target}, bytes,
                                          {.mode = 0600, .exactMode = true, .syncFolder = false});
    if (replaced)
        return {};
    const char* step = "rename";
    switch (replaced.error().step) {
    case AtomicFileError::Step::create:
        step = "open staged lease";
        break;
    case AtomicFileError::Step::write:
        step = "write";
        break;
    case AtomicFileError::Step::chmod:
        step = "fchmod";
        break;
    case AtomicFileError::Step::sync:
        step = "fsync";
        break;
    case AtomicFileError::Step::close:
        step = "close";
        break;
    case AtomicFileError::Step::rename:
        break;
    }
    return std::string(step) + ": " + std::strerror(replaced.error().code);
}

std::string writeLease(const LeaseRequest& request, std::string& runId, std::string& leasePath) {
    auto folder = quorvelApplicationSupportFolder();
    if (!folder)
        return "no application-support folder (neither XDG_DATA_HOME nor HOME is absolute)";
    leasePath = folder->appendingPathComponent(leaseFileName).path;

    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "cannot read /proc/self/exe: " + error.message();

    std::filesystem::create_directories(folder->path, error);
    if (error)
        return "cannot create " + folder->path + ": " + error.message();

    auto issuedAt = std::chrono::floor<std::chrono::seconds>(Clock::now());
    runId = "demo-" + randomUuidString();
    Json lease = {
        {"schemaVersion", 3},
        {"proofRunId", runId},
        {"attestationLogPath", request.attestationLog},
        {"snapshotLogPath", request.snapshotLog},
        {"executablePath", executable.string()},
        {"appPid", static_cast<std::int64_t>(::getpid())},
        {"issuedAt", formatInternetDateTime(issuedAt)},
        {"expiresAt", formatInternetDateTime(issuedAt + leaseLifetime)},
    };

    LeaseLock lock(leasePath + ".lock");
    if (!lock.error().empty())
        return lock.error();
    return replaceAtomically(leasePath, dumpCompact(lease) + "\n");
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
