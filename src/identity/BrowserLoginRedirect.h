#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The one path a browser redirect page may have.
inline constexpr std::string_view browserRedirectPath = "/auth/desktop/callback";

// The redirect URL the identity provider sends the browser back to. Without a configured value,
// the native callback itself. A configured value must be an https URL on any host and port, or an
// http URL whose host is exactly "localhost" (any port), with the path "/auth/desktop/callback"
// and nothing else: no user information, no query, no fragment. Scheme and host are compared as
// written. Nothing for anything else, which the identity configuration treats as invalid.
std::optional<std::string> browserLoginRedirect(const std::optional<std::string>& configured,
                                                const std::string& nativeCallback);

// True when a URL delivered to the host app is the expected callback: scheme and host equal
// ignoring letter case (or both absent), path equal exactly. Port, user, query and fragment are
// not compared. False when either text is not a URL.
bool isIdentityCallback(std::string_view url, std::string_view expected);

} // namespace quorvel
