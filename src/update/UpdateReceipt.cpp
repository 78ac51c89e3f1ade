#include "update/UpdateReceipt.h"

#include "base/Json.h"
#include "base/JsonDocument.h"

#include <limits>

namespace quorvel {

std::string_view toString(UpdateReceiptState state) {
    switch (state) {
    case UpdateReceiptState::installing:
        return "installing";
    case UpdateReceiptState::installed:
        return "installed";
    case UpdateReceiptState::failed:
        return "failed";
    case UpdateReceiptState::rolledBack:
        return "rolled-back";
    case UpdateReceiptState::cleaned:
        return "cleaned";
    }
    return "";
}

std::optional<UpdateReceiptState> updateReceiptStateFromString(std::string_view text) {
    for (auto state :
         {UpdateReceiptState::installing, UpdateReceiptState::installed, UpdateReceiptState::failed,
          UpdateReceiptState::rolledBack, UpdateReceiptState::cleaned}) {
        if (toString(state) == text)
            return state;
    }
    return std::nullopt;
}

namespace {

// Reads a required string: absent when the key is missing or holds anything but a string.
bool readRequired(JsonValue object, const char* key, std::string& out) {
    auto found = object.find(key);
    auto text = found ? found->stringValue() : std::nullopt;
    if (!text)
        return false;
    out = *text;
    return true;
}

} // namespace

std::optional<UpdateReceipt> UpdateReceipt::decode(const Bytes& data) {
    auto document = JsonDocument::read(textOf(data));
    if (!document || !document->root().isObject())
        return std::nullopt;
    auto object = document->root();

    UpdateReceipt receipt;
    auto schema = object.find("schema");
    // An integer as written: 1.0 and 1e0 are numbers of another kind, and refused.
    if (!schema || !schema->writtenAsInteger())
        return std::nullopt;
    auto schemaValue = schema->signedValue(std::numeric_limits<std::int64_t>::min(),
                                           std::numeric_limits<std::int64_t>::max());
    if (!schemaValue)
        return std::nullopt;
    receipt.schema = *schemaValue;

    std::string stateText;
    if (!readRequired(object, "from_version", receipt.fromVersion) ||
        !readRequired(object, "to_version", receipt.toVersion) ||
        !readRequired(object, "artifact_sha256", receipt.artifactSha256) ||
        !readNullableString(object, "artifact_path", receipt.artifactPath) ||
        !readRequired(object, "snapshot_path", receipt.snapshotPath) ||
        !readRequired(object, "state", stateText) ||
        !readRequired(object, "written_at", receipt.writtenAt) ||
        !readNullableString(object, "rolled_back_at", receipt.rolledBackAt) ||
        !readNullableString(object, "failure", receipt.failure) ||
        !readNullableString(object, "rollback_reason", receipt.rollbackReason)) {
        return std::nullopt;
    }
    auto state = updateReceiptStateFromString(stateText);
    if (!state)
        return std::nullopt;
    receipt.state = *state;

    if (receipt.schema != supportedSchema)
        return std::nullopt;
    return receipt;
}

Bytes UpdateReceipt::encode() const {
    // Json objects keep their keys sorted, so the compact dump is already in the required order.
    Json object = Json::object();
    object["schema"] = schema;
    object["from_version"] = fromVersion;
    object["to_version"] = toVersion;
    object["artifact_sha256"] = artifactSha256;
    if (artifactPath)
        object["artifact_path"] = *artifactPath;
    object["snapshot_path"] = snapshotPath;
    object["state"] = std::string(toString(state));
    object["written_at"] = writtenAt;
    if (rolledBackAt)
        object["rolled_back_at"] = *rolledBackAt;
    if (failure)
        object["failure"] = *failure;
    if (rollbackReason)
        object["rollback_reason"] = *rollbackReason;
    return bytesOf(dumpCompact(object));
}

} // namespace quorvel
