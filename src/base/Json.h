#pragma once

#include "base/Bytes.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Objects keep their keys sorted, so a compact dump is already in ascending key order.
using Json = nlohmann::json;

// Parses one JSON text; nothing on any syntax error or invalid UTF-8. Never throws.
std::optional<Json> parseJson(std::string_view text);
inline std::optional<Json> parseJson(const Bytes& bytes) {
    return parseJson(textOf(bytes));
}

// The text of a string value; nothing for any other kind. (Outside input is read with the strict
// document reader of base/JsonDocument.h, which reads numbers exactly.)
std::optional<std::string> jsonString(const Json& value);

// Compact text with keys in ascending order; invalid UTF-8 in strings is replaced rather than
// thrown.
std::string dumpCompact(const Json& value);

} // namespace quorvel
