#include "proof/LauncherProofLease.h"

#include <limits>

namespace quorvel {

namespace {

std::optional<std::string> requiredString(JsonValue object, const char* key) {
    auto value = object.find(key);
    auto text = value ? value->stringValue() : std::nullopt;
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

// Absent or null gives an absent field; any other non-string fails the whole decoding.
std::optional<std::optional<std::string>> optionalString(JsonValue object, const char* key) {
    auto value = object.find(key);
    if (!value || value->isNull())
        return std::optional<std::string>();
    auto text = value->stringValue();
    if (!text)
        return std::nullopt;
    return std::optional<std::string>(*text);
}

std::optional<std::int64_t> requiredInteger(JsonValue object, const char* key, std::int64_t minimum,
                                            std::int64_t maximum) {
    auto value = object.find(key);
    return value ? value->signedValue(minimum, maximum) : std::nullopt;
}

std::optional<TimePoint> requiredTime(JsonValue object, const char* key) {
    auto text = requiredString(object, key);
    return text ? parseInternetDateTime(*text, FractionalSeconds::rejected) : std::nullopt;
}

} // namespace

std::optional<LauncherProofLease> LauncherProofLease::decode(JsonValue object) {
    if (!object.isObject())
        return std::nullopt;
    auto schemaVersion =
        requiredInteger(object, "schemaVersion", std::numeric_limits<std::int64_t>::min(),
                        std::numeric_limits<std::int64_t>::max());
    auto proofRunId = requiredString(object, "proofRunId");
    auto attestationLogPath = requiredString(object, "attestationLogPath");
    auto snapshotLogPath = requiredString(object, "snapshotLogPath");
    auto localE2ERunId = optionalString(object, "localE2ERunId");
    auto uploadFaultURL = optionalString(object, "uploadFaultURL");
    auto executablePath = requiredString(object, "executablePath");
    auto appPid = requiredInteger(object, "appPid", std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max());
    auto issuedAt = requiredTime(object, "issuedAt");
    auto expiresAt = requiredTime(object, "expiresAt");
    if (!schemaVersion || !proofRunId || !attestationLogPath || !snapshotLogPath ||
        !localE2ERunId || !uploadFaultURL || !executablePath || !appPid || !issuedAt ||
        !expiresAt) {
        return std::nullopt;
    }
    return LauncherProofLease{*schemaVersion,
                              std::move(*proofRunId),
                              std::move(*attestationLogPath),
                              std::move(*snapshotLogPath),
                              std::move(*localE2ERunId),
                              std::move(*uploadFaultURL),
                              std::move(*executablePath),
                              static_cast<std::int32_t>(*appPid),
                              *issuedAt,
                              *expiresAt};
}

std::optional<LauncherProofLease> LauncherProofLease::decode(const Bytes& bytes) {
    auto document = JsonDocument::read(textOf(bytes));
    return document ? decode(document->root()) : std::nullopt;
}

} // namespace quorvel
