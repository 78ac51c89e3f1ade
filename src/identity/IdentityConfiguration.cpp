#include "identity/IdentityConfiguration.h"

#include "identity/BrowserLoginRedirect.h"
#include "identity/ParsedURL.h"
#include "idp/TenantURL.h"

namespace quorvel {

namespace {

// Characters of UTF-8 text: every byte that does not continue a sequence starts one.
std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

bool isAcceptableSetting(std::string_view value) {
    return !value.empty() && characterCount(value) <= identity::maxSettingLength;
}

} // namespace

std::optional<IdentityConfiguration>
IdentityConfiguration::make(std::string_view issuer, std::string_view clientID,
                            std::string_view audience, std::string_view callback,
                            const std::optional<std::string>& browserCallbackSetting) {
    if (callback != identity::nativeCallbackURL || !ParsedURL::parse(callback))
        return std::nullopt;

    auto issuerURL = ParsedURL::parse(issuer);
    if (!issuerURL || issuerURL->scheme != "https" || issuerURL->hasUserInfo || issuerURL->query ||
        issuerURL->fragment || !issuerURL->host || issuerURL->host->empty())
        return std::nullopt;
    // The tenant is reached on the issuer's own port, when it names one.
    auto domain = idp::domainOfIssuer(issuer);
    if (!domain)
        return std::nullopt;

    if (!isAcceptableSetting(clientID) || !isAcceptableSetting(audience))
        return std::nullopt;

    std::string callbackURL(callback);
    auto browserCallbackURL = browserLoginRedirect(browserCallbackSetting, callbackURL);
    if (!browserCallbackURL)
        return std::nullopt;

    return IdentityConfiguration{
        std::string(issuer),    std::string(clientID),          std::string(audience),
        std::move(callbackURL), std::move(*browserCallbackURL), std::move(*domain)};
}

} // namespace quorvel
