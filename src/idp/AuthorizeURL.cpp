#include "idp/AuthorizeURL.h"

#include <algorithm>

namespace quorvel::idp {

std::string scopeIncludingOpenID(const std::optional<std::string>& scope) {
    if (!scope || scope->find_first_not_of(' ') == std::string::npos)
        return defaultScope;
    std::size_t start = 0;
    const std::string& text = *scope;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(start, end - start, "openid") == 0 && end - start == 6)
            return text;
        start = end + 1;
    }
    return "openid " + text;
}

std::optional<std::string> authorizeURL(const std::optional<std::string>& baseURL,
                                        const AuthorizeRequest& request) {
    if (!baseURL)
        return std::nullopt;
    Parameters items{{"client_id", request.clientId},
                     {"response_type", "code"},
                     {"redirect_uri", request.redirectURI},
                     {"state", request.state},
                     {"nonce", request.nonce},
                     {"scope", request.scope},
                     {"code_challenge", request.codeChallenge},
                     {"code_challenge_method", "S256"}};
    if (request.audience)
        items.emplace_back("audience", *request.audience);
    if (request.connection)
        items.emplace_back("connection", *request.connection);
    if (request.connectionScope)
        items.emplace_back("connection_scope", *request.connectionScope);
    if (request.organization)
        items.emplace_back("organization", *request.organization);
    if (request.invitation)
        items.emplace_back("invitation", *request.invitation);
    if (request.maxAge)
        items.emplace_back("max_age", std::to_string(*request.maxAge));
    for (const auto& pair : request.parameters) {
        bool taken = std::any_of(items.begin(), items.end(),
                                 [&](const auto& item) { return item.first == pair.first; });
        if (!taken)
            items.push_back(pair);
    }
    return *baseURL + "authorize?" + queryString(items);
}

} // namespace quorvel::idp
