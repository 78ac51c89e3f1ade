#pragma once

#include "base/Expected.h"
#include "idp/Authentication.h"
#include "idp/Credentials.h"
#include "idp/CredentialsManager.h"
#include "idp/FormEncoding.h"
#include "idp/URLSession.h"
#include "idp/WebAuthError.h"
#include "idp/WebAuthUserAgent.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::idp {

// Builds and starts one sign-in: the authorization code flow with PKCE (S256) through an external
// user agent, the code exchange, the ID token check against the tenant's key set, and (with a
// credentials manager) storing the credentials before they are delivered. Setters return the
// builder. The result is delivered exactly once, on a thread of the client (never inside start,
// resume or cancel); callers that keep state on the main thread hop there themselves.
class WebAuth {
public:
    using Callback = std::function<void(Expected<Credentials, WebAuthError>)>;

    WebAuth(std::string clientId, std::string domain, std::shared_ptr<URLSession> session);

    WebAuth& redirectURL(std::string url);
    WebAuth& parameters(Parameters parameters);
    // The expected "iss" of the ID token; without one, the tenant's base URL.
    WebAuth& issuer(std::string issuer);
    WebAuth& audience(std::string audience);
    WebAuth& scope(std::string scope);
    WebAuth& connection(std::string connection);
    WebAuth& connectionScope(std::string connectionScope);
    WebAuth& organization(std::string organization);
    // An invitation link carrying "invitation" and "organization" in its query.
    WebAuth& invitationURL(std::string url);
    WebAuth& maxAge(std::int64_t seconds);
    WebAuth& leeway(std::chrono::milliseconds leeway);
    WebAuth& provider(WebAuthProvider provider);
    WebAuth& useCredentialsManager(std::shared_ptr<CredentialsManager> manager);
    // The clock that ID token times are checked against (tests).
    WebAuth& clock(Authentication::TimeSource clock);

    void start(Callback callback);

private:
    std::shared_ptr<Authentication> authentication_;
    std::optional<std::string> redirectURL_;
    Parameters parameters_;
    std::optional<std::string> issuer_;
    std::optional<std::string> audience_;
    std::optional<std::string> scope_;
    std::optional<std::string> connection_;
    std::optional<std::string> connectionScope_;
    std::optional<std::string> organization_;
    std::optional<std::string> invitationURL_;
    std::optional<std::int64_t> maxAge_;
    std::chrono::milliseconds leeway_{60000};
    WebAuthProvider provider_;
    std::shared_ptr<CredentialsManager> credentialsManager_;
    Authentication::TimeSource clock_;
};

// The web-auth builder for a client id and tenant domain, sending through a session.
WebAuth webAuth(std::string clientId, std::string domain, std::shared_ptr<URLSession> session);

// The transaction in progress (at most one in the process).
class WebAuthentication {
public:
    // Hands a callback URL that arrived outside the user agent to the transaction waiting for
    // one. Accepted (true) only when its "state" value, from the query or the fragment, equals the
    // transaction's; otherwise false and the transaction goes on waiting. The URL's scheme, host
    // and path are not compared with the redirect URL.
    static bool resume(std::string_view url);
    // Ends the transaction in progress with the user-cancelled error; nothing when there is none.
    static void cancel();
    // True while a transaction is in progress (from start until its result is delivered).
    static bool hasTransaction();
};

} // namespace quorvel::idp
