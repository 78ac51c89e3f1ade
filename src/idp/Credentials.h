#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/InternetDateTime.h"
#include "base/Json.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::idp {

// One signed-in user's tokens.
struct Credentials {
    std::string accessToken;
    std::string tokenType;
    std::string idToken;
    std::optional<std::string> refreshToken;
    TimePoint expiresAt; // when the access token expires
    std::optional<std::string> scope;
    std::optional<std::string> recoveryCode;

    bool operator==(const Credentials&) const = default;

    // Printable form for logs and test output: every token and the recovery code are replaced by
    // "<REDACTED>"; only the token type, expiry and scope are shown.
    std::string description() const;

    // Reads a token endpoint answer (RFC 6749 section 5.1): "access_token" and "token_type"
    // strings (the type "Bearer" in any letter case; any other type is refused), "expires_in"
    // seconds as a number or a numeric string (from 0 to 2^31), optional "id_token",
    // "refresh_token", "scope" and "recovery_code" strings. The expiry is counted from
    // `receivedAt`, in whole milliseconds. The error is a sentence naming the member that was not
    // understood, e.g. "Format of expires_in is not recognized.".
    static Expected<Credentials, std::string> fromTokenResponse(const Json& answer,
                                                                TimePoint receivedAt);

    // The stored form: a versioned JSON document of our own with the keys "accessToken",
    // "tokenType", "idToken", "refreshToken", "expiresIn" (the expiry, in milliseconds since the
    // Unix epoch), "scope" and "recoveryCode". Sub-millisecond parts of the expiry are dropped.
    Bytes archive() const;
    // Nothing when the data is not an archive of a version this build reads.
    static std::optional<Credentials> unarchive(const Bytes& data);
};

// True for "Bearer" in any letter case (RFC 6749 section 5.1: the type is case-insensitive).
bool isBearerTokenType(std::string_view tokenType);

// The version written by archive(); unarchive() reads exactly this version.
inline constexpr std::int64_t credentialsArchiveVersion = 1;

} // namespace quorvel::idp
