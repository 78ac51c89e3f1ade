#pragma once

#include "idp/Error.h"

#include <string>

namespace quorvel::idp {

// A request that got no HTTP answer at all: the URL-loading error of the transport. The identity
// owner treats every URLError as "the identity provider was out of reach".
class URLError final : public Error {
public:
    enum class Code {
        badURL,                   // not an https URL we can send
        cannotFindHost,           // name resolution failed
        cannotConnectToHost,      // connection refused or unreachable
        timedOut,                 // no complete answer within the time limit
        networkConnectionLost,    // the connection dropped before a complete answer
        secureConnectionFailed,   // TLS handshake or certificate verification failed
        dataLengthExceedsMaximum, // the answer was larger than the transport accepts
        cancelled,                // the session went away before the request finished
        tooManyRequests,          // the session's queue of pending requests is full
        unknown,
    };

    URLError(Code code, std::string detail) : code_(code), detail_(std::move(detail)) {}

    Code code() const { return code_; }
    // Stable text of the code, e.g. "timed_out".
    static const char* name(Code code);
    // The transport's own explanation (for logs and the info map), never a token.
    const std::string& detail() const { return detail_; }
    std::string message() const override;

private:
    Code code_;
    std::string detail_;
};

} // namespace quorvel::idp
