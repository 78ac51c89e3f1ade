#include "idp/BoundedJson.h"

#include "base/JsonDocument.h"

#include <limits>

namespace quorvel::idp {

namespace {

// The same value as the JSON library holds it: integers written as such stay integers (signed
// when they fit, else unsigned), every other number is the nearest double. The last duplicate of
// a key counts.
Json toJson(JsonValue value) {
    switch (value.kind()) {
    case JsonValue::Kind::null:
        return nullptr;
    case JsonValue::Kind::boolean:
        return *value.boolValue();
    case JsonValue::Kind::number:
        if (value.writtenAsInteger()) {
            if (auto number = value.signedValue(std::numeric_limits<std::int64_t>::min(),
                                                std::numeric_limits<std::int64_t>::max()))
                return *number;
            if (auto number = value.unsignedValue(std::numeric_limits<std::uint64_t>::max()))
                return *number;
        }
        return value.doubleValue().value_or(0);
    case JsonValue::Kind::string:
        return std::string(*value.stringValue());
    case JsonValue::Kind::array: {
        Json array = Json::array();
        for (auto element : value.elements())
            array.push_back(toJson(element));
        return array;
    }
    case JsonValue::Kind::object: {
        Json object = Json::object();
        for (auto member : value.members())
            object[std::string(member.key)] = toJson(member.value);
        return object;
    }
    }
    return nullptr;
}

} // namespace

std::optional<Json> parseJsonObject(std::string_view text, std::size_t maxDepth) {
    // The answer's size is bounded where it is received.
    JsonLimits limits{std::numeric_limits<std::uint32_t>::max() / 2,
                      static_cast<std::uint32_t>(std::min<std::size_t>(
                          maxDepth, std::numeric_limits<std::uint32_t>::max()))};
    auto document = JsonDocument::read(text, limits);
    if (!document || !document->root().isObject())
        return std::nullopt;
    return toJson(document->root());
}

std::string describeJson(const Json& value) {
    return dumpCompact(value);
}

} // namespace quorvel::idp
