// Feeds arbitrary bytes to the lease decoder and its path, run-id and URL rules, and checks that
// whatever is accepted really satisfies the lease rules.
//   build-fuzz/bin/fuzz_proof_lease fuzz/corpus/proof_lease -max_total_time=60

#include "proof/LauncherProofLeaseStore.h"
#include "proof/LauncherRelaunchAttestation.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using namespace quorvel;

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

const TimePoint fuzzNow = *parseInternetDateTime("2026-01-31T12:00:00Z");

void checkAccepted(const LauncherProofLease& lease) {
    require(lease.schemaVersion == LauncherProofLeaseStore::schemaVersion);
    require(LauncherProofLeaseStore::validRunId(lease.proofRunId));
    for (const std::string* path : {&lease.attestationLogPath, &lease.snapshotLogPath}) {
        require(!path->empty() && path->front() == '/' &&
                path->size() <= LauncherProofLeaseStore::longestLogPath);
        require(path->ends_with(".jsonl") && path->find('\0') == std::string::npos);
    }
    require(lease.attestationLogPath != lease.snapshotLogPath);
    require(lease.localE2ERunId.has_value() == lease.uploadFaultURL.has_value());
    if (lease.localE2ERunId) {
        require(*lease.localE2ERunId == lease.proofRunId);
        require(lease.uploadFaultURL->starts_with("http://") &&
                lease.uploadFaultURL->ends_with("/fault"));
    }
    require(LauncherProofLeaseStore::canonicalExecutableURL(FileURL::fromPath(lease.executablePath))
                .has_value());
    require(lease.issuedAt <= fuzzNow && fuzzNow <= lease.expiresAt);
    require(lease.expiresAt - lease.issuedAt <= LauncherProofLeaseStore::longestLeaseLifetime);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes bytes(data, data + size);
    if (auto lease = LauncherProofLeaseStore::validatedLease(bytes, fuzzNow)) {
        checkAccepted(*lease);
        // Whatever the full rules accept, the plain decoder reads the same way.
        require(LauncherProofLease::decode(bytes) == lease);
    }

    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto url = LauncherProofLeaseStore::validLogURL(text))
        require(url->path == text);
    if (LauncherProofLeaseStore::validRunId(text))
        require(!text.empty() && text.size() <= 160);
    if (auto url = LauncherProofLeaseStore::validFaultControllerURL(text))
        require(*url == text);
    if (auto attestation = LauncherRelaunchAttestation::decode(text)) {
        // A line read back and written again reads the same.
        if (auto line = attestation->jsonLine())
            require(LauncherRelaunchAttestation::decode(*line) == attestation);
    }
    return 0;
}
