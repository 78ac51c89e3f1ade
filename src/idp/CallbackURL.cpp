#include "idp/CallbackURL.h"

#include "base/Utf8.h"
#include "idp/FormEncoding.h"

namespace quorvel::idp {

namespace {

bool readComponent(std::string_view text, std::map<std::string, std::string>& values) {
    auto pairs = parseFormEncoded(text);
    if (!pairs || pairs->size() > maxCallbackValues)
        return false;
    std::map<std::string, std::string> seen;
    for (auto& [name, value] : *pairs) {
        if (!isValidUtf8(name) || !isValidUtf8(value))
            return false;
        if (!seen.emplace(name, value).second)
            return false;
    }
    for (auto& [name, value] : seen)
        values[name] = std::move(value);
    return true;
}

} // namespace

std::optional<std::map<std::string, std::string>> callbackValues(std::string_view url) {
    if (url.size() > maxCallbackURLLength)
        return std::nullopt;
    std::string_view beforeFragment = url;
    std::optional<std::string_view> fragment;
    if (auto hash = url.find('#'); hash != std::string_view::npos) {
        beforeFragment = url.substr(0, hash);
        fragment = url.substr(hash + 1);
    }
    std::optional<std::string_view> query;
    if (auto question = beforeFragment.find('?'); question != std::string_view::npos) {
        query = beforeFragment.substr(question + 1);
    }
    std::map<std::string, std::string> values;
    if (fragment && !readComponent(*fragment, values))
        return std::nullopt;
    if (query && !readComponent(*query, values))
        return std::nullopt;
    if (values.size() > maxCallbackValues)
        return std::nullopt;
    return values;
}

} // namespace quorvel::idp
