#pragma once

#include "base/Expected.h"
#include "base/InternetDateTime.h"
#include "idp/AuthenticationError.h"
#include "idp/Credentials.h"
#include "idp/FormEncoding.h"
#include "idp/JWKS.h"
#include "idp/URLSession.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvel::idp {

// The authentication API of the identity provider tenant: the token endpoint ("oauth/token") and
// the key set (".well-known/jwks.json"), under the tenant's base URL. Token requests are
// form-encoded (application/x-www-form-urlencoded, RFC 6749 sections 4.1.3 and 6). Completions
// come on the session's completion thread, never inside the call that started the request.
class Authentication {
public:
    using TimeSource = std::function<TimePoint()>;
    using CredentialsCallback = std::function<void(Expected<Credentials, AuthenticationError>)>;
    using KeySetCallback = std::function<void(Expected<JSONWebKeySet, AuthenticationError>)>;

    Authentication(std::string clientId, std::string domain, std::shared_ptr<URLSession> session,
                   TimeSource clock = nullptr);

    const std::string& clientId() const { return clientId_; }
    const std::string& domain() const { return domain_; }
    const std::shared_ptr<URLSession>& session() const { return session_; }
    // The tenant's base URL ("https://domain/"); nothing when the domain is malformed.
    const std::optional<std::string>& baseURL() const { return baseURL_; }
    TimePoint now() const;

    // Exchanges an authorization code (with its PKCE verifier) for credentials.
    void codeExchange(const std::string& code, const std::string& codeVerifier,
                      const std::string& redirectURI, CredentialsCallback callback) const;
    // Renews with a refresh token. Extra parameters go into the body after the standard ones (one
    // named like a standard one is left out); extra headers are added to the request (ones that
    // would change how the body is framed are left out).
    void renew(const std::string& refreshToken, const std::optional<std::string>& scope,
               const Parameters& parameters, const HTTPHeaders& headers,
               CredentialsCallback callback) const;
    // Fetches the tenant's key set.
    void jwks(KeySetCallback callback) const;

private:
    void postToken(Parameters body, const HTTPHeaders& headers, CredentialsCallback callback) const;

    std::string clientId_;
    std::string domain_;
    std::shared_ptr<URLSession> session_;
    TimeSource clock_;
    std::optional<std::string> baseURL_;
};

// The authentication API client for a client id and tenant domain, sending through a session.
std::shared_ptr<Authentication> authentication(std::string clientId, std::string domain,
                                               std::shared_ptr<URLSession> session);

} // namespace quorvel::idp
