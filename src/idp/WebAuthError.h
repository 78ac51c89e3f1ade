#pragma once

#include "idp/Error.h"

#include <string>

namespace quorvel::idp {

// An error of the web authentication flow, with a stable code, a fixed message and, for most
// kinds, the error that caused it (the identity provider's answer, the ID token check that
// failed, the network failure).
class WebAuthError final : public Error {
public:
    enum class Kind {
        userCancelled,
        transactionActiveAlready,
        invalidInvitationURL,
        pkceNotAllowed,
        noAuthorizationCode,
        idTokenValidationFailed,
        authenticationFailed,
        codeExchangeFailed,
        credentialsManagerFailed,
        other,
    };

    WebAuthError() : WebAuthError(Kind::other) {}
    explicit WebAuthError(Kind kind, ErrorPointer cause = nullptr)
        : kind_(kind), cause_(std::move(cause)) {}
    // The missing-code error names the values the callback URL carried.
    static WebAuthError noAuthorizationCode(std::string values);

    Kind kind() const { return kind_; }
    const ErrorPointer& cause() const { return cause_; }
    // Stable text of the kind, e.g. "user_cancelled".
    std::string code() const;
    std::string message() const override;

    bool operator==(Kind kind) const { return kind_ == kind; }

private:
    Kind kind_;
    ErrorPointer cause_;
    std::string values_;
};

} // namespace quorvel::idp
