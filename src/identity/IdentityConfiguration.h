#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The fixed values of native identity.
namespace identity {
// The only native callback a configuration accepts.
inline constexpr const char* nativeCallbackURL = "com.zadovuzuzo.recorder://auth/callback";
// The host app's bundle setting naming the browser redirect.
inline constexpr const char* browserCallbackSettingKey = "QuorvelIdentityBrowserCallbackURL";
inline constexpr const char* requestedScope = "openid profile email offline_access";
// Where the credentials are kept (the Secret Service on Linux).
inline constexpr const char* keychainService = "com.quorvel.desktop.identity.oidc";
inline constexpr const char* credentialsStoreKey = "credentials";
inline constexpr const char* dpopThumbprintKey = "dpop_thumbprint";
// The longest client id and audience, in characters.
inline constexpr std::size_t maxSettingLength = 2048;
} // namespace identity

// The identity settings of the host app, validated.
struct IdentityConfiguration {
    std::string issuer;             // the identity provider's base URL, exactly as given
    std::string clientID;           // the OAuth client id
    std::string audience;           // the API audience requested for access tokens
    std::string callbackURL;        // always the native callback
    std::string browserCallbackURL; // where the identity provider sends the browser back
    std::string domain;             // the tenant domain: the issuer's host, with its port if named

    bool operator==(const IdentityConfiguration&) const = default;

    // Nothing when the settings are not acceptable: the callback must be the native callback
    // exactly; the issuer an https URL with a host and without user information, query or
    // fragment (any path); client id and audience from 1 to 2048 characters; and the browser
    // redirect setting of the host app (absent, or a value browserLoginRedirect accepts).
    static std::optional<IdentityConfiguration>
    make(std::string_view issuer, std::string_view clientID, std::string_view audience,
         std::string_view callback, const std::optional<std::string>& browserCallbackSetting);
};

} // namespace quorvel
