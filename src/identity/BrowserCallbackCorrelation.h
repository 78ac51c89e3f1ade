#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// What the identity owner remembers between opening the browser and the callback: the "state" of
// the authorize URL last opened, and that URL, so that the browser can be opened again. Both absent
// means that no login waits for the browser.
struct BrowserCallbackCorrelation {
    std::optional<std::string> pendingState;
    std::optional<std::string> pendingAuthorizeURL;

    bool operator==(const BrowserCallbackCorrelation&) const = default;

    // The one non-empty "state" value of a URL: from its query, or, when the query names no state
    // at all, from its fragment read as a query (a response delivered in the fragment). Nothing
    // when the text is not a URL, or there is no state item, more than one, or one without a
    // value or with an empty one.
    static std::optional<std::string> state(std::string_view url);
};

} // namespace quorvel
