#include "idp/Credentials.h"

#include "base/JsonDocument.h"
#include "idp/BoundedJson.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace quorvel::idp {

namespace {

constexpr const char* archiveFormat = "com.quorvel.idp.credentials";
constexpr double longestLifetimeSeconds = 2147483648.0; // 2^31 s, about 68 years

std::string quoted(const std::optional<std::string>& value, bool redact) {
    if (!value)
        return "nil";
    return redact ? "\"<REDACTED>\"" : "\"" + *value + "\"";
}

// An optional string member: absent or null gives nothing; any other non-string is malformed.
bool readOptionalString(const Json& object, const char* key, std::optional<std::string>& out) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return true;
    if (!found->is_string())
        return false;
    out = found->get<std::string>();
    return true;
}

std::optional<double> parseSeconds(const Json& value) {
    double seconds = 0;
    if (value.is_number()) {
        seconds = value.get<double>();
    } else if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text.empty() || text.size() > 32)
            return std::nullopt;
        const char* end = text.data() + text.size();
        auto [rest, error] = std::from_chars(text.data(), end, seconds, std::chars_format::fixed);
        if (error != std::errc() || rest != end)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(seconds) || seconds < 0 || seconds > longestLifetimeSeconds)
        return std::nullopt;
    return seconds;
}

std::int64_t millisecondsSinceEpoch(TimePoint time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

} // namespace

bool isBearerTokenType(std::string_view tokenType) {
    constexpr std::string_view bearer = "bearer";
    return tokenType.size() == bearer.size() &&
           std::equal(tokenType.begin(), tokenType.end(), bearer.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

std::string Credentials::description() const {
    return "Credentials(accessToken: \"<REDACTED>\", tokenType: \"" + tokenType +
           "\", idToken: \"<REDACTED>\", "
           "refreshToken: " +
           quoted(refreshToken, true) +
           ", expiresAt: " + formatInternetDateTimeWithFractionalSeconds(expiresAt) +
           ", scope: " + quoted(scope, false) + ", recoveryCode: " + quoted(recoveryCode, true) +
           ")";
}

Expected<Credentials, std::string> Credentials::fromTokenResponse(const Json& answer,
                                                                  TimePoint receivedAt) {
    if (!answer.is_object())
        return unexpected(std::string("The token answer is not a JSON object."));
    Credentials credentials;
    auto accessToken = answer.find("access_token");
    if (accessToken == answer.end() || !accessToken->is_string()) {
        return unexpected(std::string("Format of access_token is not recognized."));
    }
    credentials.accessToken = accessToken->get<std::string>();
    auto tokenType = answer.find("token_type");
    if (tokenType == answer.end() || !tokenType->is_string()) {
        return unexpected(std::string("Format of token_type is not recognized."));
    }
    credentials.tokenType = tokenType->get<std::string>();
    // RFC 6749 section 7.1: a token of a type the client does not understand must not be used.
    // Only bearer tokens are sent by this client; "mac", "DPoP" and the rest need proofs it
    // cannot make.
    if (!isBearerTokenType(credentials.tokenType)) {
        return unexpected(std::string("Token type is not supported: only Bearer tokens are used."));
    }
    std::optional<std::string> idToken;
    if (!readOptionalString(answer, "id_token", idToken))
        return unexpected(std::string("Format of id_token is not recognized."));
    credentials.idToken = idToken.value_or("");
    if (!readOptionalString(answer, "refresh_token", credentials.refreshToken)) {
        return unexpected(std::string("Format of refresh_token is not recognized."));
    }
    if (!readOptionalString(answer, "scope", credentials.scope))
        return unexpected(std::string("Format of scope is not recognized."));
    if (!readOptionalString(answer, "recovery_code", credentials.recoveryCode)) {
        return unexpected(std::string("Format of recovery_code is not recognized."));
    }
    auto expiresIn = answer.find("expires_in");
    std::optional<double> seconds =
        expiresIn == answer.end() ? std::nullopt : parseSeconds(*expiresIn);
    if (!seconds)
        return unexpected(std::string("Format of expires_in is not recognized."));
    // Whole milliseconds, the precision of the stored form, so a stored copy equals the original.
    credentials.expiresAt =
        std::chrono::floor<std::chrono::milliseconds>(addingSeconds(receivedAt, *seconds));
    return credentials;
}

Bytes Credentials::archive() const {
    Json document{{"format", archiveFormat},    {"version", credentialsArchiveVersion},
                  {"accessToken", accessToken}, {"tokenType", tokenType},
                  {"idToken", idToken},         {"expiresIn", millisecondsSinceEpoch(expiresAt)}};
    if (refreshToken)
        document["refreshToken"] = *refreshToken;
    if (scope)
        document["scope"] = *scope;
    if (recoveryCode)
        document["recoveryCode"] = *recoveryCode;
    return bytesOf(dumpCompact(document));
}

std::optional<Credentials> Credentials::unarchive(const Bytes& data) {
    auto document = JsonDocument::read(
        textOf(data), JsonLimits{std::numeric_limits<std::uint32_t>::max() / 2, 32});
    if (!document || !document->root().isObject())
        return std::nullopt;
    auto object = document->root();
    auto text = [&](const char* key) -> std::optional<std::string_view> {
        auto found = object.find(key);
        return found ? found->stringValue() : std::nullopt;
    };
    auto version = object.find("version");
    if (text("format") != std::optional<std::string_view>(archiveFormat) || !version ||
        version->signedValue(0, INT64_MAX) !=
            std::optional<std::int64_t>(credentialsArchiveVersion)) {
        return std::nullopt;
    }
    Credentials credentials;
    auto accessToken = text("accessToken");
    auto tokenType = text("tokenType");
    auto idToken = text("idToken");
    auto expiresIn = object.find("expiresIn");
    if (!accessToken || !tokenType || !idToken || !expiresIn)
        return std::nullopt;
    // About 285 years either side of 1970: what a nanosecond system_clock time point holds.
    auto milliseconds = expiresIn->signedValue(-9'000'000'000'000, 9'000'000'000'000);
    if (!milliseconds)
        return std::nullopt;
    credentials.accessToken = std::string(*accessToken);
    credentials.tokenType = std::string(*tokenType);
    credentials.idToken = std::string(*idToken);
    credentials.expiresAt = TimePoint(
        std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(*milliseconds)));
    if (!readNullableString(object, "refreshToken", credentials.refreshToken) ||
        !readNullableString(object, "scope", credentials.scope) ||
        !readNullableString(object, "recoveryCode", credentials.recoveryCode)) {
        return std::nullopt;
    }
    return credentials;
}

} // namespace quorvel::idp
