#pragma once

#include "base/Bytes.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel::idp {

// URL-safe Base64 without padding (RFC 4648 section 5, as JOSE and PKCE use it): "+" is "-",
// "/" is "_", and no "=" at the end.
std::string base64URLEncode(std::span<const std::uint8_t> bytes);
std::string base64URLEncode(std::string_view bytes);

// Strict decoding: only the URL-safe alphabet, no padding, no white space, and the unused low
// bits of the last character must be zero, so every value has exactly one accepted spelling.
std::optional<Bytes> base64URLDecode(std::string_view text);

} // namespace quorvel::idp
