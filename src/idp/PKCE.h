#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel::idp {

// A fresh value for "state", "nonce" and the PKCE code verifier: 32 bytes from the system's
// secure random source (OpenSSL), URL-safe Base64 without padding (43 characters). Nothing when
// the random source fails, which callers must treat as a failure to start.
std::optional<std::string> generateRandomURLSafeValue();

// The URL-safe Base64 of 32 given bytes: what generateRandomURLSafeValue does with its bytes.
std::string urlSafeValue(std::span<const std::uint8_t> bytes);

// The S256 code challenge of a verifier (RFC 7636 section 4.2): URL-safe Base64 of the SHA-256 of
// the verifier's ASCII bytes.
std::string codeChallenge(std::string_view codeVerifier);

} // namespace quorvel::idp
