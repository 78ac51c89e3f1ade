#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// One line of the attestation log: the launcher replaced process killedPid by replacementPid
// from an executable with the given digest. On the wire it is compact JSON with the keys in
// ascending order and one final newline:
// {"event":"automatic_relaunch","executableSha256":"…","killedPid":500,"launcherPid":42,
//  "observedAt":"2026-01-31T12:00:00.123Z","proofRunId":"…","replacementPid":600,
//  "source":"quorvel_launcher"}
struct LauncherRelaunchAttestation {
    static constexpr const char* launcherSource = "quorvel_launcher";
    static constexpr const char* automaticRelaunchEvent = "automatic_relaunch";

    std::string source = launcherSource;
    std::string event = automaticRelaunchEvent;
    std::string proofRunId;
    std::int32_t killedPid = 0;
    std::int32_t replacementPid = 0;
    std::int32_t launcherPid = 0;
    std::string executableSha256; // 64 lower-case hexadecimal digits
    std::string observedAt;       // internet date-time in UTC with milliseconds

    bool operator==(const LauncherRelaunchAttestation&) const = default;

    // The wire form, newline included; nothing when a text is not valid UTF-8.
    std::optional<std::string> jsonLine() const;
    // Reads one line back (with or without its newline); all eight keys are required.
    static std::optional<LauncherRelaunchAttestation> decode(std::string_view line);
};

} // namespace quorvel
