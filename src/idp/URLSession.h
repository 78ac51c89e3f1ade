#pragma once

#include "base/Expected.h"
#include "idp/URLError.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::idp {

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

struct HTTPRequest {
    std::string method = "GET";
    std::string url; // absolute https URL
    HTTPHeaders headers;
    std::string body;

    bool operator==(const HTTPRequest&) const = default;
};

struct HTTPResponse {
    long statusCode = 0;
    HTTPHeaders headers; // names in lower case, in the order received
    std::string body;

    // The first header of that (lower-case) name.
    std::optional<std::string> header(std::string_view lowerCaseName) const;
    bool operator==(const HTTPResponse&) const = default;
};

using HTTPResult = Expected<HTTPResponse, URLError>;
using HTTPCompletion = std::function<void(HTTPResult)>;

// How the client reaches the identity provider: one request at a time in, one answer out, later
// and on a thread of the session's choosing (never inside send itself). Injectable, so that tests
// can send requests to a local provider with its own certificate authority, or answer them
// without any network.
class URLSession {
public:
    virtual ~URLSession() = default;
    // Sends the request; the completion is called exactly once. Completions must return quickly:
    // a session may run them one after another on one thread.
    virtual void send(HTTPRequest request, HTTPCompletion completion) = 0;

    // The process-wide session over libcurl with the system's certificate authorities, plus the
    // one named by QUORVEL_IDP_EXTRA_CA_FILE when that is set.
    static std::shared_ptr<URLSession> shared();
};

// Name of the environment variable that names an extra CA certificate file (PEM) trusted for the
// identity provider in addition to the system's certificate authorities.
inline constexpr const char* extraCAFileVariable = "QUORVEL_IDP_EXTRA_CA_FILE";

} // namespace quorvel::idp
