#include "idp/IDTokenValidator.h"

#include "idp/BoundedJson.h"
#include "idp/JWT.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

namespace quorvel::idp {

namespace {

using Kind = IDTokenValidationError::Kind;

Unexpected<IDTokenValidationError> fail(Kind kind, std::string message,
                                        ErrorPointer cause = nullptr) {
    return unexpected(IDTokenValidationError(kind, std::move(message), std::move(cause)));
}

// A claim that must be a JSON number (RFC 7519 NumericDate: seconds, possibly with a fraction).
std::optional<double> numberClaim(const Json& claims, const char* name) {
    auto found = claims.find(name);
    if (found == claims.end() || !found->is_number())
        return std::nullopt;
    double value = found->get<double>();
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::string> stringClaim(const Json& claims, const char* name) {
    auto found = claims.find(name);
    if (found == claims.end())
        return std::nullopt;
    return jsonString(*found);
}

std::string formatSeconds(double seconds) {
    char text[64];
    if (std::fabs(seconds) < 1e15 && seconds == std::floor(seconds)) {
        std::snprintf(text, sizeof text, "%.0f", seconds);
    } else if (std::fabs(seconds) < 1e15) {
        std::snprintf(text, sizeof text, "%.3f", seconds);
    } else {
        std::snprintf(text, sizeof text, "%g", seconds);
    }
    return text;
}

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

Expected<void, IDTokenValidationError> validateIDToken(std::optional<std::string_view> idToken,
                                                       const JSONWebKeySet& keys,
                                                       const IDTokenValidationContext& context,
                                                       TimePoint now) {
    if (!idToken || idToken->empty()) {
        return fail(
            Kind::missingIDToken,
            "ID token validation was requested but the response did not include an ID token");
    }
    auto decoded = decodeJWT(*idToken);
    if (!decoded) {
        return fail(Kind::cannotDecode, "ID token could not be decoded",
                    makeError(decoded.error()));
    }
    const JWT& jwt = *decoded;

    // Signature first: no claim of an unverified token is looked at.
    auto algorithm = jwt.algorithm();
    if (algorithm != std::optional<std::string>("RS256")) {
        std::string shown =
            algorithm ? *algorithm
                      : (jwt.header.contains("alg") ? describeJson(jwt.header["alg"]) : "");
        return fail(Kind::unsupportedAlgorithm,
                    "Signature algorithm of \"" + shown +
                        "\" is not supported. Expected the ID token to be signed with RS256");
    }
    if (jwt.header.contains("crit")) {
        // RFC 7515 section 4.1.11: extensions we do not understand must not be ignored.
        return fail(
            Kind::unsupportedCriticalHeader,
            "The ID token names critical header parameters (crit), which are not supported");
    }
    auto keyID = jwt.keyID();
    auto candidates =
        keyID ? keys.keysWithID(*keyID) : std::vector<std::shared_ptr<const RSAPublicKey>>{};
    if (candidates.empty()) {
        return fail(Kind::missingKey, "Unable to find a key with key ID (kid) \"" +
                                          keyID.value_or("") + "\" in the key set");
    }
    bool verified = std::any_of(candidates.begin(), candidates.end(), [&](const auto& key) {
        return key->verifyRS256(jwt.signingInput, jwt.signature);
    });
    if (!verified) {
        return fail(Kind::invalidSignature, "Invalid ID token signature");
    }

    const Json& claims = jwt.body;
    auto issuer = stringClaim(claims, "iss");
    if (!issuer)
        return fail(Kind::missingIssuer,
                    "Issuer (iss) claim must be a string present in the ID token");
    if (*issuer != context.issuer) {
        return fail(Kind::issuerMismatch,
                    "Issuer (iss) claim mismatch in the ID token, expected (" + context.issuer +
                        "), found (" + *issuer + ")");
    }

    auto subject = stringClaim(claims, "sub");
    if (!subject) {
        return fail(Kind::missingSubject,
                    "Subject (sub) claim must be a string present in the ID token");
    }
    if (context.subject && *subject != *context.subject) {
        return fail(Kind::subjectMismatch,
                    "Subject (sub) claim mismatch in the ID token, expected (" + *context.subject +
                        "), found (" + *subject + ")");
    }

    std::vector<std::string> audiences;
    auto audienceClaim = claims.find("aud");
    bool audienceValid = audienceClaim != claims.end();
    if (audienceValid && audienceClaim->is_string()) {
        audiences.push_back(audienceClaim->get<std::string>());
    } else if (audienceValid && audienceClaim->is_array()) {
        for (const Json& entry : *audienceClaim) {
            if (!entry.is_string()) {
                audienceValid = false;
                break;
            }
            audiences.push_back(entry.get<std::string>());
        }
    } else {
        audienceValid = false;
    }
    if (!audienceValid) {
        return fail(
            Kind::missingAudience,
            "Audience (aud) claim must be a string or array of strings present in the ID token");
    }
    if (std::find(audiences.begin(), audiences.end(), context.audience) == audiences.end()) {
        std::string shown;
        for (const auto& audience : audiences)
            shown += (shown.empty() ? "" : ", ") + audience;
        return fail(Kind::audienceMismatch,
                    "Audience (aud) claim mismatch in the ID token; expected (" + context.audience +
                        ") but was not one of (" + shown + ")");
    }

    const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    const double leewaySeconds = std::chrono::duration<double>(context.leeway).count();
    auto expiration = numberClaim(claims, "exp");
    if (!expiration) {
        return fail(Kind::missingExpiration,
                    "Expiration time (exp) claim must be a number present in the ID token");
    }
    if (*expiration + leewaySeconds < nowSeconds) {
        return fail(Kind::expired,
                    "Expiration time (exp) claim error in the ID token; current time (" +
                        formatSeconds(std::floor(nowSeconds)) + ") is after expiration time (" +
                        formatSeconds(*expiration) + ")");
    }

    if (!numberClaim(claims, "iat")) {
        return fail(Kind::missingIssuedAt,
                    "Issued At (iat) claim must be a number present in the ID token");
    }

    if (context.nonce || !context.nonceRequired) {
        bool present = claims.contains("nonce");
        auto nonce = stringClaim(claims, "nonce");
        if (context.nonceRequired && !nonce)
            return fail(Kind::missingNonce,
                        "Nonce (nonce) claim must be a string present in the ID token");
        if (present && nonce != context.nonce) {
            return fail(Kind::nonceMismatch,
                        "Nonce (nonce) claim value mismatch in the ID token; expected (" +
                            context.nonce.value_or("") + "), found (" + nonce.value_or("") + ")");
        }
    }

    if (audiences.size() > 1) {
        auto party = stringClaim(claims, "azp");
        if (!party) {
            return fail(Kind::missingAuthorizedParty,
                        "Authorized Party (azp) claim must be a string present in the ID "
                        "token when Audience (aud) claim has multiple values");
        }
        if (*party != context.audience) {
            return fail(Kind::authorizedPartyMismatch,
                        "Authorized Party (azp) claim mismatch in the ID token; expected (" +
                            context.audience + "), found (" + *party + ")");
        }
    }

    if (context.maxAge) {
        auto authTime = numberClaim(claims, "auth_time");
        if (!authTime) {
            return fail(Kind::missingAuthTime,
                        "Authentication Time (auth_time) claim must be a number present in the ID "
                        "token when Max Age (max_age) is specified");
        }
        double latest = *authTime + static_cast<double>(*context.maxAge) + leewaySeconds;
        if (latest < nowSeconds) {
            return fail(Kind::authTimeTooOld, "Authentication Time (auth_time) claim in the ID "
                                              "token indicates that too much time has passed "
                                              "since the last user authentication. Current time (" +
                                                  formatSeconds(std::floor(nowSeconds)) +
                                                  ") is after last auth time (" +
                                                  formatSeconds(latest) + ")");
        }
    }

    if (context.organization) {
        auto id = stringClaim(claims, "org_id");
        auto name = stringClaim(claims, "org_name");
        if (!id && !name) {
            return fail(
                Kind::missingOrganization,
                "Organization (org_id or org_name) claim must be a string present in the ID token");
        }
        bool matches = (id && *id == *context.organization) ||
                       (name && lowerCased(*name) == lowerCased(*context.organization));
        if (!matches) {
            return fail(Kind::organizationMismatch,
                        "Organization (org_id or org_name) claim mismatch in the ID token; "
                        "expected (" +
                            *context.organization + ")");
        }
    }
    return {};
}

} // namespace quorvel::idp

namespace quorvel::idp {

Expected<IDTokenValidationContext, IDTokenValidationError>
renewalValidationContext(std::string_view storedIDToken, const std::string& clientId) {
    // The stored token was checked at sign-in; only its claims are read here.
    auto stored = decodeJWT(storedIDToken);
    if (!stored) {
        return fail(Kind::cannotDecode, "The stored ID token could not be decoded",
                    makeError(stored.error()));
    }
    auto issuer = stringClaim(stored->body, "iss");
    auto subject = stringClaim(stored->body, "sub");
    if (!issuer || !subject) {
        return fail(Kind::cannotDecode,
                    "The stored ID token names no issuer (iss) or subject (sub)");
    }
    IDTokenValidationContext context;
    context.issuer = std::move(*issuer);
    context.subject = std::move(subject);
    context.audience = clientId;
    context.nonce = stringClaim(stored->body, "nonce");
    context.nonceRequired = false;
    return context;
}

} // namespace quorvel::idp
