#pragma once

#include "base/Bytes.h"
#include "base/InternetDateTime.h"
#include "base/JsonDocument.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// The proof lease that the host app writes before it may be killed: which process is watched,
// for how long, where the attestation goes and which proof run it belongs to. The file is one
// JSON object whose keys are exactly these field names (the two optional keys both or neither).
struct LauncherProofLease {
    std::int64_t schemaVersion = 0;
    std::string proofRunId;
    std::string attestationLogPath;
    std::string snapshotLogPath;
    std::optional<std::string> localE2ERunId;
    std::optional<std::string> uploadFaultURL;
    std::string executablePath;
    std::int32_t appPid = 0;
    TimePoint issuedAt;
    TimePoint expiresAt;

    bool operator==(const LauncherProofLease&) const = default;

    // Decodes the JSON types only (integers in range, strings, internet date-times with whole
    // seconds and a zone); the key-set rule and the value rules are the lease store's.
    // Nothing for anything but such an object; never throws.
    static std::optional<LauncherProofLease> decode(JsonValue object);
    static std::optional<LauncherProofLease> decode(const Bytes& bytes);
};

} // namespace quorvel
