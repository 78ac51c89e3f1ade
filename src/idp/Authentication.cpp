#include "idp/Authentication.h"

#include "idp/BoundedJson.h"
#include "idp/SerialQueue.h"
#include "idp/TenantURL.h"

#include <algorithm>
#include <cctype>

namespace quorvel::idp {

namespace {

bool isSuccess(long status) {
    return status >= 200 && status < 300;
}

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Headers a caller may not set: they decide how the body is framed and read.
bool isReservedHeader(const std::string& name) {
    static constexpr std::string_view reserved[] = {
        "content-type", "content-length", "transfer-encoding", "host", "expect", "connection"};
    std::string lower = lowerCased(name);
    return std::find(std::begin(reserved), std::end(reserved), lower) != std::end(reserved);
}

// A request that cannot be built for a malformed domain fails like one that found no server.
void failWithoutRequest(HTTPCompletion completion) {
    SerialQueue::immediateAnswers().async([completion = std::move(completion)] {
        completion(
            unexpected(URLError(URLError::Code::badURL, "the tenant domain is not a valid host")));
    });
}

} // namespace

Authentication::Authentication(std::string clientId, std::string domain,
                               std::shared_ptr<URLSession> session, TimeSource clock)
    : clientId_(std::move(clientId)), domain_(std::move(domain)), session_(std::move(session)),
      clock_(std::move(clock)), baseURL_(tenantBaseURL(domain_)) {}

TimePoint Authentication::now() const {
    return clock_ ? clock_() : Clock::now();
}

void Authentication::codeExchange(const std::string& code, const std::string& codeVerifier,
                                  const std::string& redirectURI,
                                  CredentialsCallback callback) const {
    postToken({{"grant_type", "authorization_code"},
               {"client_id", clientId_},
               {"code", code},
               {"code_verifier", codeVerifier},
               {"redirect_uri", redirectURI}},
              {}, std::move(callback));
}

void Authentication::renew(const std::string& refreshToken, const std::optional<std::string>& scope,
                           const Parameters& parameters, const HTTPHeaders& headers,
                           CredentialsCallback callback) const {
    Parameters body{
        {"grant_type", "refresh_token"}, {"refresh_token", refreshToken}, {"client_id", clientId_}};
    if (scope)
        body.emplace_back("scope", *scope);
    for (const auto& pair : parameters) {
        bool taken = std::any_of(body.begin(), body.end(), [&](const auto& existing) {
            return existing.first == pair.first;
        });
        if (!taken)
            body.push_back(pair);
    }
    postToken(std::move(body), headers, std::move(callback));
}

void Authentication::postToken(Parameters body, const HTTPHeaders& headers,
                               CredentialsCallback callback) const {
    auto completion = [callback = std::move(callback), clock = clock_](HTTPResult result) {
        if (!result) {
            callback(unexpected(AuthenticationError::fromURLError(result.error())));
            return;
        }
        const HTTPResponse& response = *result;
        if (!isSuccess(response.statusCode)) {
            callback(unexpected(AuthenticationError::fromResponse(response)));
            return;
        }
        auto answer = parseJsonObject(response.body);
        if (!answer) {
            callback(unexpected(AuthenticationError::fromResponse(response)));
            return;
        }
        auto credentials = Credentials::fromTokenResponse(*answer, clock ? clock() : Clock::now());
        if (!credentials) {
            callback(
                unexpected(AuthenticationError::plain(credentials.error(), response.statusCode)));
            return;
        }
        callback(std::move(*credentials));
    };
    if (!baseURL_) {
        failWithoutRequest(std::move(completion));
        return;
    }
    HTTPRequest request;
    request.method = "POST";
    request.url = *baseURL_ + "oauth/token";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                       {"Accept", "application/json"}};
    for (const auto& header : headers) {
        if (!isReservedHeader(header.first))
            request.headers.push_back(header);
    }
    request.body = formEncode(body);
    session_->send(std::move(request), std::move(completion));
}

void Authentication::jwks(KeySetCallback callback) const {
    auto completion = [callback = std::move(callback)](HTTPResult result) {
        if (!result) {
            callback(unexpected(AuthenticationError::fromURLError(result.error())));
            return;
        }
        const HTTPResponse& response = *result;
        if (!isSuccess(response.statusCode)) {
            callback(unexpected(AuthenticationError::fromResponse(response)));
            return;
        }
        auto keys = JSONWebKeySet::parse(response.body);
        if (!keys) {
            callback(unexpected(
                AuthenticationError::plain("The key set could not be read.", response.statusCode)));
            return;
        }
        callback(std::move(*keys));
    };
    if (!baseURL_) {
        failWithoutRequest(std::move(completion));
        return;
    }
    session_->send(
        HTTPRequest{
            "GET", *baseURL_ + ".well-known/jwks.json", {{"Accept", "application/json"}}, {}},
        std::move(completion));
}

std::shared_ptr<Authentication> authentication(std::string clientId, std::string domain,
                                               std::shared_ptr<URLSession> session) {
    return std::make_shared<Authentication>(std::move(clientId), std::move(domain),
                                            std::move(session));
}

} // namespace quorvel::idp
