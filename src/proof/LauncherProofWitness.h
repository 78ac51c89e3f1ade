#pragma once

// The relaunch witness: claims the proof lease that names the host app process that died, and
// after its replacement is up appends one attestation line to the log the lease names.

#include "base/Expected.h"
#include "base/FileURL.h"
#include "base/InternetDateTime.h"
#include "launcher/LauncherApplicationFact.h"
#include "proof/LauncherProofFileClaim.h"
#include "proof/LauncherProofLease.h"
#include "proof/LauncherProofLeaseStore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace quorvel {

// A claimed proof lease, held by the runtime from a launch request until its result.
struct LauncherProofRelaunchClaim {
    LauncherProofLease lease;
    LauncherProofFileClaim fileClaim;

    bool operator==(const LauncherProofRelaunchClaim&) const = default;
};

class LauncherProofWitness {
public:
    using Digest = std::function<Expected<std::string, std::error_code>(const FileURL&)>;

    LauncherProofLeaseStore store;
    std::function<TimePoint()> now = [] { return Clock::now(); };
    std::function<std::int32_t()> launcherPid = currentProcessIdentifier;
    Digest sha256 = sha256OfFile;

    // The witness over the production lease store; absent when it cannot be formed.
    static std::optional<LauncherProofWitness> production();

    // Claims the lease if it names killedPid and executableURL, and was not issued before the
    // killed process started (when that start is known); a miss otherwise (nothing is attempted
    // for a pid below 1 or without an executable).
    Expected<LauncherProofRelaunchClaim, LauncherProofClaimMiss>
    claimAutomaticRelaunch(std::int32_t killedPid, const std::optional<FileURL>& executableURL,
                           std::optional<TimePoint> killedStartTime = std::nullopt) const;
    // Appends the attestation of the replacement and deletes the lease: true. Any failed check
    // or write puts the lease back (unless a newer one appeared) and gives false.
    bool recordAutomaticRelaunch(std::int32_t killedPid, std::int32_t replacementPid,
                                 const std::optional<FileURL>& executableURL,
                                 const LauncherProofRelaunchClaim& claim) const;
    // Puts back or deletes the claimed leases that killed launchers left behind (see the store).
    void recoverAbandonedClaims() const;
    // Puts a claimed lease back at the lease path (a newer lease wins); errors are swallowed.
    void restoreClaim(const LauncherProofRelaunchClaim& claim) const;

    // SHA-256 of the file's content as 64 lower-case hexadecimal digits, read in 1 MiB steps.
    static Expected<std::string, std::error_code> sha256OfFile(const FileURL& url);

private:
    static std::int32_t currentProcessIdentifier();
};

// Remembers the host app process whose exit the runtime is answering, and feeds the witness before
// the launch (claim) and after a successful launch (record).
struct LauncherProofEventTracker {
    std::optional<LauncherApplicationFact> observedTermination;

    bool operator==(const LauncherProofEventTracker&) const = default;

    Expected<LauncherProofRelaunchClaim, LauncherProofClaimMiss>
    claimForRelaunch(const std::optional<LauncherProofWitness>& witness,
                     const std::optional<FileURL>& trustedParentExecutableURL) const;
    // Clears observedTermination whatever happens.
    bool recordSuccessfulReplacement(const LauncherApplicationFact& replacement,
                                     const std::optional<LauncherProofWitness>& witness,
                                     const std::optional<LauncherProofRelaunchClaim>& claim);
};

} // namespace quorvel
