#include "shell/RecorderSnapshot.h"

#include "base/JsonDocument.h"

#include <array>
#include <bit>
#include <limits>

namespace quorvel {

namespace {

constexpr std::uint64_t max32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();

// The JSON words of one enumeration, in the order of its cases.
template <class E, std::size_t N> struct Words {
    std::array<std::string_view, N> names;
    std::size_t size() const { return N; }
    std::string_view operator[](std::size_t i) const { return names[i]; }
};

constexpr Words<RecorderState, 9> recorderStates{{"ready", "preparing", "recording", "paused",
                                                  "degraded", "finalizing", "uploading", "halted",
                                                  "unknown"}};
constexpr Words<CaptureSupervisorState, 8> supervisorStates{{"checking", "waitingAuthority",
                                                             "preparing", "recording", "finalizing",
                                                             "uploading", "attention", "halted"}};
constexpr Words<CaptureSupervisorReason, 17> supervisorReasons{
    {"checkingPrerequisites", "authorityUnavailable", "authenticationRequired",
     "policyAcceptanceRequired", "enrollmentRejected", "permissionRequired", "recoveryFailed",
     "storageUnavailable", "connectivityUnavailable", "machineUnusable", "captureFailed",
     "systemSleep", "screenLock", "sessionSwitch", "powerOff", "launcherUnavailable",
     "launcherApprovalRequired"}};
constexpr Words<CaptureLauncherHealth, 4> captureLauncherHealths{
    {"notConfigured", "enabled", "requiresApproval", "unavailable"}};
constexpr Words<CaptureInterruption, 7> interruptions{{"systemSleep", "screenLock", "sessionSwitch",
                                                       "powerOff", "permissionRevoked",
                                                       "authorityRevoked", "storageExhausted"}};
constexpr Words<UploadConnectivity, 5> connectivities{
    {"unconfigured", "ready", "offline", "authRequired", "degraded"}};
constexpr Words<UploadAttentionCode, 4> attentionCodes{
    {"backlogGrowing", "cataloguePartial", "confirmationMismatch", "permanentFailure"}};
constexpr Words<UploadLauncherHealth, 5> uploadLauncherHealths{
    {"notConfigured", "starting", "running", "suspended", "failed"}};

// Every key that a record of the snapshot reads, at any level.
constexpr std::array<std::string_view, 41> recordKeys{
    // RecorderSnapshot
    "seq", "issuedAtMs", "state", "source", "proofRunId", "sessionId", "elapsedSecs", "captureLive",
    "sealedSegments", "localBytes", "currentUpload", "pendingUpload", "uploadBacklog",
    "uploadBacklogUnknown", "uploadBacklogBytes", "uploadConfirmedFrontier", "uploadConnectivity",
    "uploadAttention", "uploadLauncherHealth", "uploadWorkFingerprint", "attention",
    "captureSupervisorState", "captureSupervisorReason", "captureLauncherHealth",
    "captureInterruption", "humanAttention", "policy", "updatePending",
    // UploadScopeStatus (and its "attention")
    "sessions", "backlog", "backlogUnknown", "backlogBytes", "connectivity", "retryAvailable",
    // UploadConfirmedFrontier
    "counter", "head",
    // UploadAttention and Attention
    "code", "message",
    // PolicySummary
    "version", "status", "scope"};
constexpr std::size_t noKey = recordKeys.size();

constexpr bool keysAreDistinctAndShort() {
    for (std::size_t i = 0; i < recordKeys.size(); ++i) {
        if (recordKeys[i].size() >= 32)
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (recordKeys[i] == recordKeys[j])
                return false;
        }
    }
    return true;
}
static_assert(recordKeys.size() <= 64 && keysAreDistinctAndShort());

// The keys of each length, as bit sets over recordKeys, so that a member's key is matched
// against a handful of candidates.
constexpr std::array<std::uint64_t, 32> keysByLength = [] {
    std::array<std::uint64_t, 32> table{};
    for (std::size_t i = 0; i < recordKeys.size(); ++i)
        table[recordKeys[i].size()] |= std::uint64_t{1} << i;
    return table;
}();

constexpr std::size_t keyIndex(std::string_view key) {
    if (key.size() >= keysByLength.size())
        return noKey;
    for (auto candidates = keysByLength[key.size()]; candidates != 0;
         candidates &= candidates - 1) {
        auto index = static_cast<std::size_t>(std::countr_zero(candidates));
        if (recordKeys[index] == key)
            return index;
    }
    return noKey;
}

// A key that a decoder reads, resolved to its place in recordKeys when the program is compiled;
// a key missing from recordKeys does not compile.
struct Key {
    consteval Key(const char* name) : index(keyIndex(name)) {
        if (index == noKey)
            throw "every key a decoder reads must be listed in recordKeys";
    }
    std::size_t index;
};

// Reads the keys of one JSON object. The first fault is kept, with the key it was found at; later
// reads then answer defaults, and the caller discards the whole result.
class ObjectReader {
public:
    // One pass over the members picks the value of every key of interest. When a key occurs more
    // than once, the last one counts.
    explicit ObjectReader(JsonValue object) {
        if (!object.isObject()) {
            fault_ = SnapshotRefusal{"", "not_object"};
            return;
        }
        for (auto member : object.members()) {
            auto index = keyIndex(member.key);
            if (index != noKey)
                values_[index] = member.value;
        }
    }

    bool failed() const { return fault_.has_value(); }
    const std::optional<SnapshotRefusal>& fault() const { return fault_; }

    // Absent and null are the same for optional keys and a fault for required ones.
    std::optional<JsonValue> value(Key key, bool required) {
        if (fault_)
            return std::nullopt;
        auto found = values_[key.index];
        if (!found || found->isNull()) {
            if (required)
                fail(key, "missing");
            return std::nullopt;
        }
        return found;
    }

    template <class T> T check(Key key, std::optional<T> decoded, const char* reason) {
        if (!decoded) {
            fail(key, reason);
            return T{};
        }
        return *decoded;
    }

    std::uint64_t u64(Key key) { return unsignedValue(key, max64, true).value_or(0); }
    std::uint32_t u32(Key key) {
        return static_cast<std::uint32_t>(unsignedValue(key, max32, true).value_or(0));
    }
    std::optional<std::uint64_t> optionalU64(Key key) { return unsignedValue(key, max64, false); }

    bool boolean(Key key) { return optionalBoolean(key, true).value_or(false); }
    std::optional<bool> optionalBoolean(Key key, bool required = false) {
        auto found = value(key, required);
        if (!found)
            return std::nullopt;
        return check(key, found->boolValue(), "not_boolean");
    }

    std::string string(Key key) { return std::string(text(key)); }
    std::optional<std::string> optionalString(Key key) {
        auto found = value(key, false);
        if (!found)
            return std::nullopt;
        return std::string(check(key, found->stringValue(), "not_string"));
    }

    // A strict enumeration: an unlisted word is a fault, also for an optional key.
    template <class E, std::size_t N> E strict(Key key, const Words<E, N>& words) {
        return optionalStrict(key, words, true).value_or(E{});
    }
    template <class E, std::size_t N>
    std::optional<E> optionalStrict(Key key, const Words<E, N>& words, bool required = false) {
        auto found = value(key, required);
        if (!found)
            return std::nullopt;
        if (!found->stringValue())
            return check(key, std::optional<E>(), "not_string");
        return check(key, word(*found, words), "unlisted_word");
    }

    // The text of a required string, such as a lenient enumeration's word; a view into the
    // document, empty after a fault.
    std::string_view text(Key key) {
        auto found = value(key, true);
        return found ? check(key, found->stringValue(), "not_string") : std::string_view();
    }

    template <class R> R record(Key key, R (*decode)(ObjectReader&)) {
        auto found = value(key, true);
        return found ? nested(key, *found, decode) : R{};
    }
    template <class R> std::optional<R> optionalRecord(Key key, R (*decode)(ObjectReader&)) {
        auto found = value(key, false);
        if (!found)
            return std::nullopt;
        return nested(key, *found, decode);
    }

private:
    void fail(Key key, const char* reason) {
        if (!fault_)
            fault_ = SnapshotRefusal{std::string(recordKeys[key.index]), reason};
    }

    std::optional<std::uint64_t> unsignedValue(Key key, std::uint64_t maximum, bool required) {
        auto found = value(key, required);
        if (!found)
            return std::nullopt;
        return check(key, found->unsignedValue(maximum),
                     maximum == max32 ? "not_whole_number_up_to_4294967295"
                                      : "not_whole_number_up_to_18446744073709551615");
    }

    template <class E, std::size_t N>
    static std::optional<E> word(JsonValue json, const Words<E, N>& words) {
        auto text = json.stringValue();
        if (!text)
            return std::nullopt;
        for (std::size_t i = 0; i < N; ++i) {
            if (words[i] == *text)
                return static_cast<E>(i);
        }
        return std::nullopt;
    }

    // A fault inside a record names its key under the record's: "policy.version".
    template <class R> R nested(Key key, JsonValue json, R (*decode)(ObjectReader&)) {
        ObjectReader inner(json);
        R result = decode(inner);
        if (auto innerFault = inner.fault()) {
            std::string path(recordKeys[key.index]);
            if (!innerFault->key.empty())
                path += "." + innerFault->key;
            fault_ = SnapshotRefusal{std::move(path), innerFault->reason};
            return R{};
        }
        return result;
    }

    std::array<std::optional<JsonValue>, recordKeys.size()> values_;
    std::optional<SnapshotRefusal> fault_;
};

UploadAttention decodeUploadAttention(ObjectReader& reader) {
    UploadAttention result;
    result.code = reader.strict("code", attentionCodes);
    result.message = reader.string("message");
    return result;
}

UploadScopeStatus decodeUploadScope(ObjectReader& reader) {
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

UploadConfirmedFrontier decodeFrontier(ObjectReader& reader) {
    UploadConfirmedFrontier result;
    result.counter = reader.u64("counter");
    result.head = reader.string("head");
    return result;
}

Attention decodeAttention(ObjectReader& reader) {
    Attention result;
    result.code = reader.string("code");
    result.message = reader.string("message");
    return result;
}

PolicySummary decodePolicy(ObjectReader& reader) {
    PolicySummary result;
    result.version = reader.u32("version");
    result.status = reader.string("status");
    result.scope = reader.string("scope");
    return result;
}

RecorderState recorderStateFromWord(std::string_view word) {
    for (std::size_t i = 0; i < recorderStates.size(); ++i) {
        if (recorderStates[i] == word)
            return static_cast<RecorderState>(i);
    }
    return RecorderState::unknown;
}

} // namespace

std::optional<RecorderSnapshot> RecorderSnapshot::decode(std::string_view json,
                                                         SnapshotRefusal* refusal) {
    // The reader refuses NUL bytes anywhere (JSON text never holds one raw), trailing data and
    // documents beyond the limits.
    auto document =
        JsonDocument::read(json, JsonLimits{maximumDocumentBytes, maximumDocumentDepth});
    if (!document || !document->root().isObject()) {
        if (refusal)
            *refusal =
                SnapshotRefusal{"(document)", document ? "not_object" : "not_json_within_limits"};
        return std::nullopt;
    }
    ObjectReader reader(document->root());
    RecorderSnapshot s;
    s.seq = reader.u64("seq");
    s.issuedAtMs = reader.u64("issuedAtMs");
    s.state = recorderStateFromWord(reader.text("state"));
    s.source = reader.text("source") == "live" ? CaptureSource::live : CaptureSource::simulated;
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
    if (reader.failed()) {
        if (refusal)
            *refusal = *reader.fault();
        return std::nullopt;
    }
    return s;
}

} // namespace quorvel
