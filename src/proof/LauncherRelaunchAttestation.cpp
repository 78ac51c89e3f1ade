#include "proof/LauncherRelaunchAttestation.h"

#include "base/Json.h"
#include "base/JsonDocument.h"

#include <limits>

namespace quorvel {

std::optional<std::string> LauncherRelaunchAttestation::jsonLine() const {
    Json object = {
        {"source", source},
        {"event", event},
        {"proofRunId", proofRunId},
        {"killedPid", killedPid},
        {"replacementPid", replacementPid},
        {"launcherPid", launcherPid},
        {"executableSha256", executableSha256},
        {"observedAt", observedAt},
    };
    try {
        // Object keys are kept sorted; the strict handler refuses invalid UTF-8 instead of
        // writing a replacement character into evidence.
        return object.dump(-1, ' ', false, Json::error_handler_t::strict) + "\n";
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

std::optional<LauncherRelaunchAttestation>
LauncherRelaunchAttestation::decode(std::string_view line) {
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    auto document = JsonDocument::read(line);
    if (!document || !document->root().isObject())
        return std::nullopt;
    auto object = document->root();
    auto text = [&](const char* key) -> std::optional<std::string> {
        auto found = object.find(key);
        auto value = found ? found->stringValue() : std::nullopt;
        return value ? std::optional<std::string>(*value) : std::nullopt;
    };
    auto pid = [&](const char* key) -> std::optional<std::int32_t> {
        auto found = object.find(key);
        if (!found)
            return std::nullopt;
        auto value = found->signedValue(std::numeric_limits<std::int32_t>::min(),
                                        std::numeric_limits<std::int32_t>::max());
        return value ? std::optional(static_cast<std::int32_t>(*value)) : std::nullopt;
    };
    auto sourceText = text("source");
    auto eventText = text("event");
    auto runId = text("proofRunId");
    auto killed = pid("killedPid");
    auto replacement = pid("replacementPid");
    auto launcher = pid("launcherPid");
    auto digest = text("executableSha256");
    auto observed = text("observedAt");
    if (!sourceText || !eventText || !runId || !killed || !replacement || !launcher || !digest ||
        !observed) {
        return std::nullopt;
    }
    return LauncherRelaunchAttestation{*sourceText,  *eventText, *runId,  *killed,
                                       *replacement, *launcher,  *digest, *observed};
}

} // namespace quorvel
