#pragma once

#include "base/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The recorder core's overall state. Unrecognised words decode as `unknown`, so a newer recorder
// core reaches the status item as "Status unknown" instead of being rejected.
enum class RecorderState {
    ready,
    preparing,
    recording,
    paused,
    degraded,
    finalizing,
    uploading,
    halted,
    unknown
};

// Every word other than "live" decodes as `simulated`.
enum class CaptureSource { live, simulated };

enum class CaptureSupervisorState {
    checking,
    waitingAuthority,
    preparing,
    recording,
    finalizing,
    uploading,
    attention,
    halted
};

enum class CaptureSupervisorReason {
    checkingPrerequisites,
    authorityUnavailable,
    authenticationRequired,
    policyAcceptanceRequired,
    enrollmentRejected,
    permissionRequired,
    recoveryFailed,
    storageUnavailable,
    connectivityUnavailable,
    machineUnusable,
    captureFailed,
    systemSleep,
    screenLock,
    sessionSwitch,
    powerOff,
    launcherUnavailable,
    launcherApprovalRequired
};

enum class CaptureLauncherHealth { notConfigured, enabled, requiresApproval, unavailable };

enum class CaptureInterruption {
    systemSleep,
    screenLock,
    sessionSwitch,
    powerOff,
    permissionRevoked,
    authorityRevoked,
    storageExhausted
};

enum class UploadConnectivity { unconfigured, ready, offline, authRequired, degraded };

enum class UploadAttentionCode {
    backlogGrowing,
    cataloguePartial,
    confirmationMismatch,
    permanentFailure
};

enum class UploadLauncherHealth { notConfigured, starting, running, suspended, failed };

struct UploadAttention {
    UploadAttentionCode code = UploadAttentionCode::backlogGrowing;
    std::string message;
    bool operator==(const UploadAttention&) const = default;
};

struct UploadScopeStatus {
    std::uint32_t sessions = 0;
    std::uint32_t backlog = 0;
    bool backlogUnknown = false;
    std::optional<std::uint64_t> backlogBytes;
    std::optional<UploadConnectivity> connectivity;
    std::optional<UploadAttention> attention;
    bool retryAvailable = false;
    bool operator==(const UploadScopeStatus&) const = default;
};

struct UploadConfirmedFrontier {
    std::uint64_t counter = 0;
    std::string head;
    bool operator==(const UploadConfirmedFrontier&) const = default;
};

// Unlike UploadAttention, the code is free text.
struct Attention {
    std::string code;
    std::string message;
    bool operator==(const Attention&) const = default;
};

// Why a document was refused: the first offending key, as a dotted path ("policy.version"), or
// "(document)" when the text is not one JSON object within the limits, and a reason word. Carries
// nothing of the document's values, so it may be logged.
struct SnapshotRefusal {
    std::string key;
    std::string reason;
    bool operator==(const SnapshotRefusal&) const = default;
};

struct PolicySummary {
    std::uint32_t version = 0;
    std::string status;
    std::string scope;
    bool operator==(const PolicySummary&) const = default;
};

// One status report of the recorder core. The shell only reads these; most fields are carried
// without being interpreted, but every one of them is validated.
struct RecorderSnapshot {
    std::uint64_t seq = 0;
    std::uint64_t issuedAtMs = 0;
    RecorderState state = RecorderState::unknown;
    CaptureSource source = CaptureSource::simulated;
    std::optional<std::string> proofRunId;
    std::optional<std::string> sessionId;
    std::uint64_t elapsedSecs = 0;
    bool captureLive = false;
    std::uint32_t sealedSegments = 0;
    std::uint64_t localBytes = 0;
    std::optional<UploadScopeStatus> currentUpload;
    std::optional<UploadScopeStatus> pendingUpload;
    std::uint32_t uploadBacklog = 0;
    std::optional<bool> uploadBacklogUnknown;
    std::optional<std::uint64_t> uploadBacklogBytes;
    std::optional<UploadConfirmedFrontier> uploadConfirmedFrontier;
    std::optional<UploadConnectivity> uploadConnectivity;
    std::optional<UploadAttention> uploadAttention;
    std::optional<UploadLauncherHealth> uploadLauncherHealth;
    std::optional<std::string> uploadWorkFingerprint;
    std::optional<Attention> attention;
    CaptureSupervisorState captureSupervisorState = CaptureSupervisorState::checking;
    std::optional<CaptureSupervisorReason> captureSupervisorReason;
    CaptureLauncherHealth captureLauncherHealth = CaptureLauncherHealth::notConfigured;
    std::optional<CaptureInterruption> captureInterruption;
    bool humanAttention = false;
    PolicySummary policy;
    std::optional<std::string> updatePending;

    bool operator==(const RecorderSnapshot&) const = default;

    // A snapshot is about 1.5 KB and three levels deep; documents beyond these bounds are
    // refused unread, so that no caller can make one decode long or costly.
    static constexpr std::size_t maximumDocumentBytes = 1024 * 1024;
    static constexpr std::uint32_t maximumDocumentDepth = 64;

    // Decodes one UTF-8 JSON document. Any fault anywhere rejects the whole document: there is no
    // partial snapshot. When given, `refusal` receives the first fault.
    static std::optional<RecorderSnapshot> decode(std::string_view json,
                                                  SnapshotRefusal* refusal = nullptr);
    static std::optional<RecorderSnapshot> decode(const Bytes& json) {
        return decode(textOf(json));
    }
};

} // namespace quorvel
