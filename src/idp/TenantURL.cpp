#include "idp/TenantURL.h"

#include <algorithm>
#include <cctype>

namespace quorvel::idp {

namespace {

bool isHostCharacter(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
}

bool isPathCharacter(unsigned char c) {
    if (std::isalnum(c))
        return true;
    static constexpr std::string_view allowed = "-._~!$&'()*+,;=:@/%";
    return allowed.find(static_cast<char>(c)) != std::string_view::npos;
}

// Checks "host", "host:port", "[v6]" or "[v6]:port".
bool isValidAuthority(std::string_view authority) {
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        auto close = authority.find(']');
        if (close == std::string_view::npos || close < 2)
            return false;
        std::string_view literal = authority.substr(1, close - 1);
        if (!std::all_of(literal.begin(), literal.end(), [](unsigned char c) {
                return std::isxdigit(c) || c == ':' || c == '.';
            })) {
            return false;
        }
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return false;
            port = rest.substr(1);
            if (port.empty())
                return false;
        }
    } else {
        auto colon = authority.find(':');
        if (colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
            if (port.empty())
                return false;
        }
        if (host.empty() || !std::all_of(host.begin(), host.end(), isHostCharacter))
            return false;
    }
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(),
                                            [](unsigned char c) { return std::isdigit(c); })) {
            return false;
        }
        int value = std::stoi(std::string(port));
        if (value < 1 || value > 65535)
            return false;
    }
    return true;
}

bool hasHttpsScheme(std::string_view text) {
    if (text.size() < 8)
        return false;
    std::string scheme(text.substr(0, 8));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme == "https://";
}

} // namespace

std::optional<std::string> tenantBaseURL(std::string_view domain) {
    if (hasHttpsScheme(domain))
        domain.remove_prefix(8);
    auto slash = domain.find('/');
    std::string_view authority = domain.substr(0, slash);
    std::string_view path =
        slash == std::string_view::npos ? std::string_view() : domain.substr(slash);
    if (!isValidAuthority(authority))
        return std::nullopt;
    if (!std::all_of(path.begin(), path.end(), isPathCharacter))
        return std::nullopt;
    std::string url = "https://" + std::string(authority) + std::string(path);
    if (url.back() != '/')
        url.push_back('/');
    return url;
}

std::optional<std::string> domainOfIssuer(std::string_view issuer) {
    if (!hasHttpsScheme(issuer))
        return std::nullopt;
    issuer.remove_prefix(8);
    std::string_view authority = issuer.substr(0, issuer.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos || !isValidAuthority(authority))
        return std::nullopt;
    return std::string(authority);
}

} // namespace quorvel::idp
