#pragma once

#include "base/Json.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvel::idp {

// Parses a JSON text that came from outside and must be an object (a token answer, a JWT header or
// payload, an error body) with the strict document reader, and hands it on as a Json value, which
// the callers keep and render. Nothing when it is not valid JSON, not an object, or nested deeper
// than maxDepth: deep nesting would make later rendering of the value recurse without bound.
// Never throws.
std::optional<Json> parseJsonObject(std::string_view text, std::size_t maxDepth = 32);

// Compact text of a value, safe for any content (invalid UTF-8 is replaced).
std::string describeJson(const Json& value);

} // namespace quorvel::idp
