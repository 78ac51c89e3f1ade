#include "identity/BrowserLoginRedirect.h"

#include "identity/ParsedURL.h"

#include <algorithm>

namespace quorvel {

namespace {

std::optional<std::string> lowerCased(const std::optional<std::string>& text) {
    if (!text)
        return std::nullopt;
    std::string lower(*text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return lower;
}

// An empty host counts as none, as for "file:///path".
std::optional<std::string> hostOf(const ParsedURL& url) {
    if (!url.host || url.host->empty())
        return std::nullopt;
    return url.host;
}

} // namespace

std::optional<std::string> browserLoginRedirect(const std::optional<std::string>& configured,
                                                const std::string& nativeCallback) {
    if (!configured)
        return nativeCallback;
    auto url = ParsedURL::parse(*configured);
    if (!url)
        return std::nullopt;
    if (url->hasUserInfo || url->query || url->fragment)
        return std::nullopt;
    if (url->path != browserRedirectPath)
        return std::nullopt;
    auto host = hostOf(*url);
    if (!host)
        return std::nullopt;
    if (url->scheme == "https")
        return configured;
    if (url->scheme == "http" && *host == "localhost")
        return configured;
    return std::nullopt;
}

bool isIdentityCallback(std::string_view url, std::string_view expected) {
    auto given = ParsedURL::parse(url);
    auto wanted = ParsedURL::parse(expected);
    if (!given || !wanted)
        return false;
    return lowerCased(given->scheme) == lowerCased(wanted->scheme) &&
           lowerCased(hostOf(*given)) == lowerCased(hostOf(*wanted)) && given->path == wanted->path;
}

} // namespace quorvel
