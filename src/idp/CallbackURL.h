#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::idp {

// The longest callback URL and the most response values that are read.
inline constexpr std::size_t maxCallbackURLLength = 65536;
inline constexpr std::size_t maxCallbackValues = 64;

// The authorization response values of a callback URL (RFC 6749 section 4.1.2): the fragment and
// the query, each read as form-encoded pairs; a query value replaces a fragment value of the same
// name, so a response delivered in the fragment reads like one in the query. The scheme, host and
// path are not looked at. Nothing when the URL is too long, carries too many values, repeats a
// name within the query or within the fragment (RFC 6749 section 3.1 forbids it, and a repeated
// "state" or "code" would be ambiguous), has a malformed percent escape, or decodes to text that
// is not UTF-8.
std::optional<std::map<std::string, std::string>> callbackValues(std::string_view url);

} // namespace quorvel::idp
