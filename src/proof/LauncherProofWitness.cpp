#include "proof/LauncherProofWitness.h"

#include "base/Sha256.h"
#include "proof/LauncherRelaunchAttestation.h"

#include <algorithm>
#include <unistd.h>

namespace quorvel {

namespace {

bool isLowerHexDigest(const std::string& digest) {
    return digest.size() == 64 && std::all_of(digest.begin(), digest.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

std::optional<LauncherProofWitness> LauncherProofWitness::production() {
    auto store = LauncherProofLeaseStore::production();
    if (!store)
        return std::nullopt;
    LauncherProofWitness witness;
    witness.store = std::move(*store);
    return witness;
}

std::int32_t LauncherProofWitness::currentProcessIdentifier() {
    return static_cast<std::int32_t>(::getpid());
}

Expected<std::string, std::error_code> LauncherProofWitness::sha256OfFile(const FileURL& url) {
    return quorvel::sha256OfFile(url);
}

Expected<LauncherProofRelaunchClaim, LauncherProofClaimMiss>
LauncherProofWitness::claimAutomaticRelaunch(std::int32_t killedPid,
                                             const std::optional<FileURL>& executableURL,
                                             std::optional<TimePoint> killedStartTime) const {
    if (killedPid <= 0 || !executableURL)
        return unexpected(LauncherProofClaimMiss::missing);
    auto active = store.claimActiveLease(now(), killedPid, *executableURL, killedStartTime);
    if (!active)
        return unexpected(active.error());
    return LauncherProofRelaunchClaim{std::move(active->lease), std::move(active->claim)};
}

bool LauncherProofWitness::recordAutomaticRelaunch(std::int32_t killedPid,
                                                   std::int32_t replacementPid,
                                                   const std::optional<FileURL>& executableURL,
                                                   const LauncherProofRelaunchClaim& claim) const {
    if (!store.fileSystem)
        return false;
    const LauncherProofLease& lease = claim.lease;
    auto giveBack = [&] {
        restoreClaim(claim);
        return false;
    };

    if (killedPid != lease.appPid || replacementPid <= 0 || replacementPid == killedPid)
        return giveBack();
    if (!executableURL)
        return giveBack();
    auto executable = LauncherProofLeaseStore::canonicalExecutableURL(executableURL);
    if (!executable || executable->path != lease.executablePath)
        return giveBack();
    const std::int32_t pid = launcherPid();
    if (pid < 1 || pid == killedPid || pid == replacementPid)
        return giveBack();
    const TimePoint observed = now();
    if (observed > lease.expiresAt)
        return giveBack();
    auto digest = sha256(*executableURL);
    if (!digest || !isLowerHexDigest(*digest))
        return giveBack();

    LauncherRelaunchAttestation attestation;
    attestation.proofRunId = lease.proofRunId;
    attestation.killedPid = killedPid;
    attestation.replacementPid = replacementPid;
    attestation.launcherPid = pid;
    attestation.executableSha256 = *digest;
    attestation.observedAt = formatInternetDateTimeWithFractionalSeconds(observed);
    auto line = attestation.jsonLine();
    if (!line)
        return giveBack();

    if (!store.fileSystem->append(bytesOf(*line), FileURL::fromPath(lease.attestationLogPath)))
        return giveBack();
    // The line is written before the lease goes: a crash in between leaves a stale claimed
    // file, never a used-up lease without its attestation.
    store.fileSystem->consumeClaim(claim.fileClaim);
    return true;
}

void LauncherProofWitness::recoverAbandonedClaims() const {
    store.recoverAbandonedClaims(now());
}

void LauncherProofWitness::restoreClaim(const LauncherProofRelaunchClaim& claim) const {
    if (store.fileSystem)
        store.fileSystem->restoreClaim(claim.fileClaim, store.leaseURL);
}

Expected<LauncherProofRelaunchClaim, LauncherProofClaimMiss>
LauncherProofEventTracker::claimForRelaunch(
    const std::optional<LauncherProofWitness>& witness,
    const std::optional<FileURL>& trustedParentExecutableURL) const {
    if (!observedTermination || !witness)
        return unexpected(LauncherProofClaimMiss::missing);
    auto executable = observedTermination->executableURL ? observedTermination->executableURL
                                                         : trustedParentExecutableURL;
    return witness->claimAutomaticRelaunch(observedTermination->processIdentifier, executable,
                                           observedTermination->startTime);
}

bool LauncherProofEventTracker::recordSuccessfulReplacement(
    const LauncherApplicationFact& replacement, const std::optional<LauncherProofWitness>& witness,
    const std::optional<LauncherProofRelaunchClaim>& claim) {
    if (!observedTermination)
        return false;
    std::int32_t killedPid = observedTermination->processIdentifier;
    observedTermination.reset();
    if (!witness || !claim)
        return false;
    return witness->recordAutomaticRelaunch(killedPid, replacement.processIdentifier,
                                            replacement.executableURL, *claim);
}

} // namespace quorvel
