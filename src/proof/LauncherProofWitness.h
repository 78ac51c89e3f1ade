#pragma once

// Interface of the relaunch witness as the launcher runtime uses it. The witness itself (lease
// claims, attestation log) is filled in behind this interface.

#include "base/FileURL.h"
#include "launcher/LauncherApplicationFact.h"

#include <cstdint>
#include <optional>

namespace quorvel {

// A claimed proof lease, held by the runtime from a launch request until its result.
struct LauncherProofRelaunchClaim {
    bool operator==(const LauncherProofRelaunchClaim&) const = default;
};

class LauncherProofWitness {
public:
    // The witness over the production lease store; absent when it cannot be formed.
    static std::optional<LauncherProofWitness> production();

    std::optional<LauncherProofRelaunchClaim> claimAutomaticRelaunch(
        std::int32_t killedPid, const std::optional<FileURL>& executableURL) const;
    bool recordAutomaticRelaunch(std::int32_t killedPid, std::int32_t replacementPid,
                                 const std::optional<FileURL>& executableURL,
                                 const LauncherProofRelaunchClaim& claim) const;
    // Puts a claimed lease back at the lease path (a newer lease wins); errors are swallowed.
    void restoreClaim(const LauncherProofRelaunchClaim& claim) const;
};

// Remembers the host app process whose exit the runtime is answering, and feeds the witness before
// the launch (claim) and after a successful launch (record).
struct LauncherProofEventTracker {
    std::optional<LauncherApplicationFact> observedTermination;

    bool operator==(const LauncherProofEventTracker&) const = default;

    std::optional<LauncherProofRelaunchClaim> claimForRelaunch(
        const std::optional<LauncherProofWitness>& witness,
        const std::optional<FileURL>& trustedParentExecutableURL) const;
    bool recordSuccessfulReplacement(const LauncherApplicationFact& replacement,
                                     const std::optional<LauncherProofWitness>& witness,
                                     const std::optional<LauncherProofRelaunchClaim>& claim);
};

} // namespace quorvel
