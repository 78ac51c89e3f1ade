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
    // At sign-in the nonce sent must come back. A token renewed later need not carry one, but
    // one that does must carry the nonce of the sign-in (OpenID Connect Core section 12.2).
    bool nonceRequired = true;
    // The "sub" a renewed token must name: the user of the sign-in.
    std::optional<std::string> subject;
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
        subjectMismatch,
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
// names; then iss, sub (and the expected subject, when one is given), aud, exp (with the leeway),
// iat, nonce, azp (with several audiences), auth_time (with a maximum age) and the organization.
// An absent token (nullopt or empty) fails as missing.
Expected<void, IDTokenValidationError> validateIDToken(std::optional<std::string_view> idToken,
                                                       const JSONWebKeySet& keys,
                                                       const IDTokenValidationContext& context,
                                                       TimePoint now);

} // namespace quorvel::idp

namespace quorvel::idp {

// What an ID token that arrives with a renewal is checked against: the issuer, subject and nonce
// of the stored ID token of the sign-in, and the client id as audience. The error when the stored
// token cannot be read or names no issuer or subject: then no renewed token can be matched.
Expected<IDTokenValidationContext, IDTokenValidationError>
renewalValidationContext(std::string_view storedIDToken, const std::string& clientId);

} // namespace quorvel::idp
