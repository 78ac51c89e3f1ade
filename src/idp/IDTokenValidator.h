#pragma once

#include "base/Expected.h"
#include "base/InternetDateTime.h"
#include "idp/Error.h"
#include "idp/JWKS.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::idp {

// What an ID token is checked against.
struct IDTokenValidationContext {
    std::string issuer;   // exact expected "iss"
    std::string audience; // the client id, expected in "aud" (and "azp" with several audiences)
    std::optional<std::string> nonce;
    std::optional<std::int64_t> maxAge; // seconds, when "max_age" was requested
    std::optional<std::string> organization;
    std::chrono::milliseconds leeway{60000};
};

class IDTokenValidationError final : public Error {
public:
    enum class Kind {
        missingIDToken,
        cannotDecode,
        unsupportedAlgorithm,
        unsupportedCriticalHeader,
        missingKey,
        invalidSignature,
        missingIssuer,
        issuerMismatch,
        missingSubject,
        missingAudience,
        audienceMismatch,
        missingExpiration,
        expired,
        missingIssuedAt,
        missingNonce,
        nonceMismatch,
        missingAuthorizedParty,
        authorizedPartyMismatch,
        missingAuthTime,
        authTimeTooOld,
        missingOrganization,
        organizationMismatch,
    };

    IDTokenValidationError() : IDTokenValidationError(Kind::cannotDecode, {}) {}
    IDTokenValidationError(Kind kind, std::string message, ErrorPointer cause = nullptr)
        : kind_(kind), message_(std::move(message)), cause_(std::move(cause)) {}
    Kind kind() const { return kind_; }
    std::string message() const override { return message_; }
    const ErrorPointer& cause() const { return cause_; }

private:
    Kind kind_;
    std::string message_;
    ErrorPointer cause_;
};

// The ID token checks, in order: it decodes as a JWT; it is signed with RS256 (every other
// algorithm, "none" and HS256 included, is refused) by the key of the key set whose "kid" it
// names; then iss, sub, aud, exp (with the leeway), iat, nonce, azp (with several audiences),
// auth_time (with a maximum age) and the organization. An absent token (nullopt or empty) fails
// as missing.
Expected<void, IDTokenValidationError> validateIDToken(std::optional<std::string_view> idToken,
                                                       const JSONWebKeySet& keys,
                                                       const IDTokenValidationContext& context,
                                                       TimePoint now);

} // namespace quorvel::idp
