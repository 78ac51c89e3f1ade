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

// Strict readers for decoders of outside input. A whole number is accepted also when written with a
// fraction or an exponent ("1.0", "1e2"), as long as its value is whole and within range; a string,
// a boolean or null is never a number.
std::optional<std::uint64_t> jsonUnsigned(const Json& value, std::uint64_t maximum);
std::optional<std::int64_t> jsonSigned(const Json& value, std::int64_t minimum,
                                       std::int64_t maximum);
std::optional<bool> jsonBool(const Json& value);
std::optional<std::string> jsonString(const Json& value);

// Compact text with keys in ascending order; invalid UTF-8 in strings is replaced rather than
// thrown.
std::string dumpCompact(const Json& value);

} // namespace quorvel
