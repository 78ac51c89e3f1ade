#include "idp/CredentialsManagerError.h"

namespace quorvel::idp {

CredentialsManagerError CredentialsManagerError::largeMinTTL(std::int64_t minTTL,
                                                             std::int64_t lifetime) {
    CredentialsManagerError error(Kind::largeMinTTL);
    error.minTTL_ = minTTL;
    error.lifetime_ = lifetime;
    return error;
}

std::string CredentialsManagerError::code() const {
    switch (kind_) {
    case Kind::noCredentials:
        return "no_credentials";
    case Kind::noRefreshToken:
        return "no_refresh_token";
    case Kind::renewFailed:
        return "renew_failed";
    case Kind::apiExchangeFailed:
        return "api_exchange_failed";
    case Kind::ssoExchangeFailed:
        return "sso_exchange_failed";
    case Kind::storeFailed:
        return "store_failed";
    case Kind::revokeFailed:
        return "revoke_failed";
    case Kind::clearFailed:
        return "clear_failed";
    case Kind::biometricsFailed:
        return "biometrics_failed";
    case Kind::largeMinTTL:
        return "large_min_ttl";
    case Kind::unknown:
        return "unknown";
    }
    return "unknown";
}

std::string CredentialsManagerError::message() const {
    switch (kind_) {
    case Kind::noCredentials:
        return "No credentials were found in the store.";
    case Kind::noRefreshToken:
        return "The stored credentials instance does not contain a refresh token.";
    case Kind::renewFailed:
        return "The credentials renewal failed.";
    case Kind::apiExchangeFailed:
        return "The exchange of the refresh token for API credentials failed.";
    case Kind::ssoExchangeFailed:
        return "The exchange of the refresh token for SSO credentials failed.";
    case Kind::storeFailed:
        return "Storing the renewed credentials failed.";
    case Kind::revokeFailed:
        return "The revocation of the refresh token failed.";
    case Kind::clearFailed:
        return "Clearing of the credentials failed";
    case Kind::biometricsFailed:
        return "The biometric authentication failed.";
    case Kind::largeMinTTL:
        return "The minTTL requested (" + std::to_string(minTTL_) +
               "s) is greater than the lifetime of the renewed "
               "access token (" +
               std::to_string(lifetime_) +
               "s). Request a lower minTTL or increase the 'Token "
               "Expiration' value in the settings of your identity provider's API.";
    case Kind::unknown:
        return "An unknown error occurred.";
    }
    return "An unknown error occurred.";
}

} // namespace quorvel::idp
