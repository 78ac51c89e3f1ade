#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::idp {

// The base URL of the identity provider tenant for a domain: the domain made an https URL, ending
// in "/", so that endpoint paths ("authorize", "oauth/token", ".well-known/jwks.json") resolve
// under it. The domain is a host ("id.example.com"), a host with a port ("id.example.com:8443",
// "[::1]:8443"), optionally followed by a path, optionally written with a leading "https://". An
// explicit port is kept: a tenant on port 8443 is reached on 8443. Nothing for anything else
// (another scheme, user information, a query, a fragment, white space, a port out of range).
std::optional<std::string> tenantBaseURL(std::string_view domain);

// The domain to give the client for an issuer URL: the issuer's host, with ":port" when the
// issuer names a port explicitly. Nothing when the issuer is not an https URL with a host.
std::optional<std::string> domainOfIssuer(std::string_view issuer);

} // namespace quorvel::idp
