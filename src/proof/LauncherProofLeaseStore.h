#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/FileURL.h"
#include "base/InternetDateTime.h"
#include "proof/LauncherProofFileClaim.h"
#include "proof/LauncherProofFileSystem.h"
#include "proof/LauncherProofLease.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// A lease taken from its path that names the process the launcher is answering: the decoded
// lease and the claimed file, which stays hidden beside the lease path until the witness deletes
// it or puts it back.
struct LauncherProofActiveLease {
    LauncherProofLease lease;
    LauncherProofFileClaim claim;

    bool operator==(const LauncherProofActiveLease&) const = default;
};

// Why a relaunch got no claim, in the words of the launcher's log ("reason=").
enum class LauncherProofClaimMiss {
    missing,   // no lease, or none that is valid and about the process that died
    pidReused, // a lease for the pid and executable that died, issued before that process began
};
std::string_view rawValue(LauncherProofClaimMiss miss);

// The store of the proof lease that the host app writes and the launcher claims.
struct LauncherProofLeaseStore {
    static constexpr const char* leaseFileName = "launcher-proof-lease.json";
    static constexpr std::int64_t leaseFileCap = 16384;
    static constexpr std::int64_t schemaVersion = 3;
    static constexpr std::chrono::seconds longestLeaseLifetime{360};
    static constexpr std::size_t longestRunId = 160;               // UTF-8 bytes
    static constexpr std::size_t longestLogPath = 4096;            // UTF-8 bytes
    static constexpr std::size_t longestFaultControllerURL = 2048; // UTF-8 bytes

    FileURL leaseURL;
    std::shared_ptr<const LauncherProofFileSystem> fileSystem;

    // The store at "<application support>/com.quorvel.desktop/launcher-proof-lease.json" on the
    // system file system; absent without an application-support directory. Creates nothing.
    static std::optional<LauncherProofLeaseStore> production();

    // A lease may name its process in whole seconds only: issued up to this long before the
    // process's start time, it is still about that process.
    static constexpr std::chrono::seconds issuedBeforeStartTolerance{1};

    // Takes the lease away from its path and validates it. A lease that is broken, expired or
    // not yet valid is deleted; a valid lease about another process or executable is put back
    // (unless a newer one appeared meanwhile). So is a lease issued (beyond the tolerance) before
    // killedStartTime, when that is known: it was left by an earlier process that had the same
    // pid. A miss on every failure.
    Expected<LauncherProofActiveLease, LauncherProofClaimMiss>
    claimActiveLease(TimePoint now, std::int32_t killedPid, const FileURL& executableURL,
                     std::optional<TimePoint> killedStartTime = std::nullopt) const;

    // Deals with claimed leases that their launcher left behind when it was killed: each is put
    // back at the lease path when that is free, the lease has not expired and its attestation
    // log does not already hold the line it asked for (the kill may have fallen between the
    // append and the deletion of the lease); otherwise it is deleted. One log line for each.
    // Claims that a live launcher holds are left alone. Also done by claimActiveLease first.
    void recoverAbandonedClaims(TimePoint now) const;

    // Everything a lease must satisfy on its own, whoever it is about: JSON object, key set,
    // types, schema version, run ids, log paths, the optional pair, the executable path and the
    // time window at `now`. This is the whole decoder of outside input.
    static std::optional<LauncherProofLease> validatedLease(const Bytes& bytes, TimePoint now);

    // The one rule for an executable path in canonical form: a file path that begins with "/",
    // is not "/", and that standardisation leaves unchanged. Symbolic links are not resolved.
    static std::optional<FileURL> canonicalExecutableURL(const std::optional<FileURL>& url);

    // An absolute, already standardised path of at most 4096 bytes without NUL whose extension
    // is exactly "jsonl".
    static std::optional<FileURL> validLogURL(std::string_view text);
    // 1 to 160 UTF-8 bytes of Unicode letters, marks and numbers (any script), "-", "_" and ".".
    static bool validRunId(std::string_view text);
    // Exactly "http://<127.0.0.1 or localhost>:<port 1-65535>/fault", nothing more; the text back.
    static std::optional<std::string> validFaultControllerURL(std::string_view text);
};

} // namespace quorvel
