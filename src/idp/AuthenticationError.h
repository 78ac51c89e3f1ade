#pragma once

#include "base/Json.h"
#include "idp/Error.h"
#include "idp/URLError.h"

#include <string>

namespace quorvel::idp {

struct HTTPResponse;

// An error of the authentication API: what the identity provider answered (the info map, from its
// JSON error body when it sent one), the HTTP status (0 when no answer came) and the underlying
// cause (a URLError when the request got no answer).
class AuthenticationError final : public Error {
public:
    static constexpr const char* plainCode = "idp.sdk.internal_error.plain";
    static constexpr const char* emptyCode = "idp.sdk.internal_error.empty";
    static constexpr const char* unknownCode = "idp.sdk.internal_error.unknown";

    AuthenticationError(Json info, long statusCode, ErrorPointer cause = nullptr);

    // A failed answer: its JSON object body as info; else its body as text; else the empty code.
    static AuthenticationError fromResponse(const HTTPResponse& response);
    // A request without an answer.
    static AuthenticationError fromURLError(const URLError& error);
    // An answer that could not be used, described in words.
    static AuthenticationError plain(std::string description, long statusCode,
                                     ErrorPointer cause = nullptr);

    const Json& info() const { return info_; }
    long statusCode() const { return statusCode_; }
    const ErrorPointer& cause() const { return cause_; }

    // The info's "error" string, else its "code" string, else the unknown code.
    std::string code() const;
    // The info's "description", else "error_description", else a text made from the code or info.
    std::string message() const override;
    // True when the request never got an HTTP answer (its cause is a URLError).
    bool isNetworkError() const;

private:
    Json info_;
    long statusCode_;
    ErrorPointer cause_;
};

} // namespace quorvel::idp
