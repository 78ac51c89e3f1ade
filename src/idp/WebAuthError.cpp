#include "idp/WebAuthError.h"

namespace quorvel::idp {

WebAuthError WebAuthError::noAuthorizationCode(std::string values) {
    WebAuthError error(Kind::noAuthorizationCode);
    error.values_ = std::move(values);
    return error;
}

std::string WebAuthError::code() const {
    switch (kind_) {
    case Kind::userCancelled:
        return "user_cancelled";
    case Kind::transactionActiveAlready:
        return "transaction_active_already";
    case Kind::invalidInvitationURL:
        return "invalid_invitation_url";
    case Kind::pkceNotAllowed:
        return "pkce_not_allowed";
    case Kind::noAuthorizationCode:
        return "no_authorization_code";
    case Kind::idTokenValidationFailed:
        return "id_token_validation_failed";
    case Kind::authenticationFailed:
        return "authentication_failed";
    case Kind::codeExchangeFailed:
        return "code_exchange_failed";
    case Kind::credentialsManagerFailed:
        return "credentials_manager_failed";
    case Kind::other:
        return "other";
    }
    return "other";
}

std::string WebAuthError::message() const {
    switch (kind_) {
    case Kind::userCancelled:
        return "The user cancelled the Web Auth operation.";
    case Kind::transactionActiveAlready:
        return "Failed to start this transaction, as there is an active transaction at the moment.";
    case Kind::invalidInvitationURL:
        return "Invalid invitation URL: missing organization or invitation parameters";
    case Kind::pkceNotAllowed:
        return "PKCE not allowed - Application Type must be 'Native' and Token Endpoint "
               "Authentication Method must "
               "be 'None'";
    case Kind::noAuthorizationCode:
        return "Authorization code missing from callback URL query parameters (" + values_ + ")";
    case Kind::idTokenValidationFailed:
        return "The ID token validation performed after authentication failed.";
    case Kind::authenticationFailed:
        return "The authentication request failed.";
    case Kind::codeExchangeFailed:
        return "The authorization code exchange failed.";
    case Kind::credentialsManagerFailed:
        return "The credentials manager failed to store or clear credentials.";
    case Kind::other:
        return cause_ ? cause_->message()
                      : "The Web Auth operation failed for an unexpected reason.";
    }
    return "The Web Auth operation failed for an unexpected reason.";
}

} // namespace quorvel::idp
