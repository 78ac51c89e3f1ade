#pragma once

// The snapshot decoder as it was before the fast reader: the same rules over a full DOM parse with
// base/Json.h. Kept for tests and the fuzzer only, as the reference the shipped decoder must agree
// with on every input (accepted or not, and every decoded value).
#include "base/Json.h"
#include "shell/RecorderSnapshot.h"

#include <array>
#include <limits>

namespace quorvel::test::reference {

inline constexpr std::uint64_t max32 = std::numeric_limits<std::uint32_t>::max();
inline constexpr std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();

// The JSON words of one enumeration, in the order of its cases.
template <class E, std::size_t N> struct Words {
    std::array<std::string_view, N> names;
    std::size_t size() const { return N; }
    std::string_view operator[](std::size_t i) const { return names[i]; }
};

inline constexpr Words<RecorderState, 9> recorderStates{{"ready", "preparing", "recording",
                                                         "paused", "degraded", "finalizing",
                                                         "uploading", "halted", "unknown"}};
inline constexpr Words<CaptureSupervisorState, 8> supervisorStates{
    {"checking", "waitingAuthority", "preparing", "recording", "finalizing", "uploading",
     "attention", "halted"}};
inline constexpr Words<CaptureSupervisorReason, 17> supervisorReasons{
    {"checkingPrerequisites", "authorityUnavailable", "authenticationRequired",
     "policyAcceptanceRequired", "enrollmentRejected", "permissionRequired", "recoveryFailed",
     "storageUnavailable", "connectivityUnavailable", "machineUnusable", "captureFailed",
     "systemSleep", "screenLock", "sessionSwitch", "powerOff", "launcherUnavailable",
     "launcherApprovalRequired"}};
inline constexpr Words<CaptureLauncherHealth, 4> captureLauncherHealths{
    {"notConfigured", "enabled", "requiresApproval", "unavailable"}};
inline constexpr Words<CaptureInterruption, 7> interruptions{
    {"systemSleep", "screenLock", "sessionSwitch", "powerOff", "permissionRevoked",
     "authorityRevoked", "storageExhausted"}};
inline constexpr Words<UploadConnectivity, 5> connectivities{
    {"unconfigured", "ready", "offline", "authRequired", "degraded"}};
inline constexpr Words<UploadAttentionCode, 4> attentionCodes{
    {"backlogGrowing", "cataloguePartial", "confirmationMismatch", "permanentFailure"}};
inline constexpr Words<UploadLauncherHealth, 5> uploadLauncherHealths{
    {"notConfigured", "starting", "running", "suspended", "failed"}};

// Reads the keys of one JSON object. The first fault sets `failed`; later reads then answer
// defaults, and the caller discards the whole result.
class ObjectReader {
public:
    explicit ObjectReader(const Json& object) : object_(object), failed_(!object.is_object()) {}

    bool failed() const { return failed_; }

    // Absent and null are the same for optional keys and a fault for required ones.
    const Json* value(std::string_view key, bool required) {
        if (failed_)
            return nullptr;
        auto found = object_.find(key);
        if (found == object_.end() || found->is_null()) {
            if (required)
                failed_ = true;
            return nullptr;
        }
        return &*found;
    }

    template <class T> T check(std::optional<T> decoded) {
        if (!decoded) {
            failed_ = true;
            return T{};
        }
        return *decoded;
    }

    std::uint64_t u64(std::string_view key) { return unsignedValue(key, max64).value_or(0); }
    std::uint32_t u32(std::string_view key) {
        return static_cast<std::uint32_t>(unsignedValue(key, max32).value_or(0));
    }
    std::optional<std::uint64_t> optionalU64(std::string_view key) {
        return optionalUnsigned(key, max64);
    }

    bool boolean(std::string_view key) {
        const Json* found = value(key, true);
        return found ? check(jsonBool(*found)) : false;
    }
    std::optional<bool> optionalBoolean(std::string_view key) {
        const Json* found = value(key, false);
        if (!found)
            return std::nullopt;
        return check(jsonBool(*found));
    }

    std::string string(std::string_view key) {
        const Json* found = value(key, true);
        return found ? check(jsonString(*found)) : std::string();
    }
    std::optional<std::string> optionalString(std::string_view key) {
        const Json* found = value(key, false);
        if (!found)
            return std::nullopt;
        return check(jsonString(*found));
    }

    // A strict enumeration: an unlisted word is a fault, also for an optional key.
    template <class E, std::size_t N> E strict(std::string_view key, const Words<E, N>& words) {
        const Json* found = value(key, true);
        return found ? check(word(*found, words)) : E{};
    }
    template <class E, std::size_t N>
    std::optional<E> optionalStrict(std::string_view key, const Words<E, N>& words) {
        const Json* found = value(key, false);
        if (!found)
            return std::nullopt;
        return check(word(*found, words));
    }

    // The text of a lenient enumeration: it must still be a string.
    std::string word(std::string_view key) { return string(key); }

    template <class R> R record(std::string_view key, R (*decode)(ObjectReader&)) {
        const Json* found = value(key, true);
        return found ? nested(*found, decode) : R{};
    }
    template <class R>
    std::optional<R> optionalRecord(std::string_view key, R (*decode)(ObjectReader&)) {
        const Json* found = value(key, false);
        if (!found)
            return std::nullopt;
        return nested(*found, decode);
    }

private:
    std::optional<std::uint64_t> unsignedValue(std::string_view key, std::uint64_t maximum) {
        const Json* found = value(key, true);
        if (!found)
            return std::nullopt;
        return check(jsonUnsigned(*found, maximum));
    }
    std::optional<std::uint64_t> optionalUnsigned(std::string_view key, std::uint64_t maximum) {
        const Json* found = value(key, false);
        if (!found)
            return std::nullopt;
        return check(jsonUnsigned(*found, maximum));
    }

    template <class E, std::size_t N>
    static std::optional<E> word(const Json& json, const Words<E, N>& words) {
        if (!json.is_string())
            return std::nullopt;
        const auto& text = json.get_ref<const std::string&>();
        for (std::size_t i = 0; i < N; ++i) {
            if (words[i] == text)
                return static_cast<E>(i);
        }
        return std::nullopt;
    }

    template <class R> R nested(const Json& json, R (*decode)(ObjectReader&)) {
        ObjectReader inner(json);
        R result = decode(inner);
        if (inner.failed()) {
            failed_ = true;
            return R{};
        }
        return result;
    }

    const Json& object_;
    bool failed_;
};

inline UploadAttention decodeUploadAttention(ObjectReader& reader) {
    UploadAttention result;
    result.code = reader.strict("code", attentionCodes);
    result.message = reader.string("message");
    return result;
}

inline UploadScopeStatus decodeUploadScope(ObjectReader& reader) {
    UploadScopeStatus result;
    result.sessions = reader.u32("sessions");
    result.backlog = reader.u32("backlog");
    result.backlogUnknown = reader.boolean("backlogUnknown");
    result.backlogBytes = reader.optionalU64("backlogBytes");
    result.connectivity = reader.optionalStrict("connectivity", connectivities);
    result.attention = reader.optionalRecord("attention", decodeUploadAttention);
    result.retryAvailable = reader.boolean("retryAvailable");
    return result;
}

inline UploadConfirmedFrontier decodeFrontier(ObjectReader& reader) {
    UploadConfirmedFrontier result;
    result.counter = reader.u64("counter");
    result.head = reader.string("head");
    return result;
}

inline Attention decodeAttention(ObjectReader& reader) {
    Attention result;
    result.code = reader.string("code");
    result.message = reader.string("message");
    return result;
}

inline PolicySummary decodePolicy(ObjectReader& reader) {
    PolicySummary result;
    result.version = reader.u32("version");
    result.status = reader.string("status");
    result.scope = reader.string("scope");
    return result;
}

inline RecorderState recorderStateFromWord(const std::string& word) {
    for (std::size_t i = 0; i < recorderStates.size(); ++i) {
        if (recorderStates[i] == word)
            return static_cast<RecorderState>(i);
    }
    return RecorderState::unknown;
}

inline std::optional<RecorderSnapshot> decode(std::string_view json) {
    // JSON text never holds a NUL byte; the parser would stop reading at one and accept what came
    // before, so a buffer with garbage after a NUL would pass as the document before it.
    if (json.find('\0') != std::string_view::npos)
        return std::nullopt;
    auto document = parseJson(json);
    if (!document || !document->is_object())
        return std::nullopt;
    ObjectReader reader(*document);
    RecorderSnapshot s;
    s.seq = reader.u64("seq");
    s.issuedAtMs = reader.u64("issuedAtMs");
    s.state = recorderStateFromWord(reader.word("state"));
    s.source = reader.word("source") == "live" ? CaptureSource::live : CaptureSource::simulated;
    s.proofRunId = reader.optionalString("proofRunId");
    s.sessionId = reader.optionalString("sessionId");
    s.elapsedSecs = reader.u64("elapsedSecs");
    s.captureLive = reader.boolean("captureLive");
    s.sealedSegments = reader.u32("sealedSegments");
    s.localBytes = reader.u64("localBytes");
    s.currentUpload = reader.optionalRecord("currentUpload", decodeUploadScope);
    s.pendingUpload = reader.optionalRecord("pendingUpload", decodeUploadScope);
    s.uploadBacklog = reader.u32("uploadBacklog");
    s.uploadBacklogUnknown = reader.optionalBoolean("uploadBacklogUnknown");
    s.uploadBacklogBytes = reader.optionalU64("uploadBacklogBytes");
    s.uploadConfirmedFrontier = reader.optionalRecord("uploadConfirmedFrontier", decodeFrontier);
    s.uploadConnectivity = reader.optionalStrict("uploadConnectivity", connectivities);
    s.uploadAttention = reader.optionalRecord("uploadAttention", decodeUploadAttention);
    s.uploadLauncherHealth = reader.optionalStrict("uploadLauncherHealth", uploadLauncherHealths);
    s.uploadWorkFingerprint = reader.optionalString("uploadWorkFingerprint");
    s.attention = reader.optionalRecord("attention", decodeAttention);
    s.captureSupervisorState = reader.strict("captureSupervisorState", supervisorStates);
    s.captureSupervisorReason = reader.optionalStrict("captureSupervisorReason", supervisorReasons);
    s.captureLauncherHealth = reader.strict("captureLauncherHealth", captureLauncherHealths);
    s.captureInterruption = reader.optionalStrict("captureInterruption", interruptions);
    s.humanAttention = reader.boolean("humanAttention");
    s.policy = reader.record("policy", decodePolicy);
    s.updatePending = reader.optionalString("updatePending");
    if (reader.failed())
        return std::nullopt;
    return s;
}

} // namespace quorvel::test::reference
