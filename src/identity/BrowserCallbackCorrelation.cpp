#include "identity/BrowserCallbackCorrelation.h"

#include "identity/ParsedURL.h"

#include <vector>

namespace quorvel {

namespace {

std::vector<URLQueryItem> stateItems(const std::optional<std::string>& encoded) {
    std::vector<URLQueryItem> found;
    if (!encoded)
        return found;
    for (auto& item : queryItems(*encoded)) {
        if (item.name == "state")
            found.push_back(std::move(item));
    }
    return found;
}

} // namespace

std::optional<std::string> BrowserCallbackCorrelation::state(std::string_view url) {
    auto parts = ParsedURL::parse(url);
    if (!parts)
        return std::nullopt;
    auto items = stateItems(parts->query);
    if (items.empty())
        items = stateItems(parts->fragment);
    if (items.size() != 1 || !items.front().value || items.front().value->empty())
        return std::nullopt;
    return items.front().value;
}

} // namespace quorvel
