#include "proof/LauncherProofWitness.h"

namespace quorvel {

std::optional<LauncherProofWitness> LauncherProofWitness::production() { return std::nullopt; }

std::optional<LauncherProofRelaunchClaim> LauncherProofWitness::claimAutomaticRelaunch(
    std::int32_t, const std::optional<FileURL>&) const {
    return std::nullopt;
}

bool LauncherProofWitness::recordAutomaticRelaunch(std::int32_t, std::int32_t, const std::optional<FileURL>&,
                                                   const LauncherProofRelaunchClaim&) const {
    return false;
}

void LauncherProofWitness::restoreClaim(const LauncherProofRelaunchClaim&) const {}

std::optional<LauncherProofRelaunchClaim> LauncherProofEventTracker::claimForRelaunch(
    const std::optional<LauncherProofWitness>& witness,
    const std::optional<FileURL>& trustedParentExecutableURL) const {
    if (!observedTermination || !witness) return std::nullopt;
    auto executable = observedTermination->executableURL ? observedTermination->executableURL
                                                         : trustedParentExecutableURL;
    return witness->claimAutomaticRelaunch(observedTermination->processIdentifier, executable);
}

bool LauncherProofEventTracker::recordSuccessfulReplacement(
    const LauncherApplicationFact& replacement, const std::optional<LauncherProofWitness>& witness,
    const std::optional<LauncherProofRelaunchClaim>& claim) {
    if (!observedTermination) return false;
    std::int32_t killedPid = observedTermination->processIdentifier;
    observedTermination.reset();
    if (!witness || !claim) return false;
    return witness->recordAutomaticRelaunch(killedPid, replacement.processIdentifier,
                                            replacement.executableURL, *claim);
}

} // namespace quorvel
