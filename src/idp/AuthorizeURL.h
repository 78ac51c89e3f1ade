#pragma once

#include "idp/FormEncoding.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel::idp {

inline constexpr const char* defaultScope = "openid profile email offline_access";

// The values of one authorization request (RFC 6749 section 4.1.1 with PKCE and OpenID Connect).
struct AuthorizeRequest {
    std::string clientId;
    std::string redirectURI;
    std::string state;
    std::string nonce;
    std::string scope;
    std::string codeChallenge;
    std::optional<std::string> audience;
    std::optional<std::string> connection;
    std::optional<std::string> connectionScope;
    std::optional<std::string> organization;
    std::optional<std::string> invitation;
    std::optional<std::int64_t> maxAge;
    Parameters parameters; // extra pairs, in order
};

// The scope to request: the default when none is given, with "openid" added in front when the
// given one lacks it.
std::string scopeIncludingOpenID(const std::optional<std::string>& scope);

// The authorize URL: "authorize" under the tenant's base URL, with the query items client_id,
// response_type=code, redirect_uri, state, nonce, scope, code_challenge,
// code_challenge_method=S256, then audience, connection, connection_scope, organization,
// invitation and max_age when set, then the extra parameters (one that repeats a name already
// present is left out, so no name appears twice). Nothing when the base URL is absent.
std::optional<std::string> authorizeURL(const std::optional<std::string>& baseURL,
                                        const AuthorizeRequest& request);

} // namespace quorvel::idp
