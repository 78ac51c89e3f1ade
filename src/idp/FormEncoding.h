#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::idp {

using Parameters = std::vector<std::pair<std::string, std::string>>;

// Percent-encodes every byte but the unreserved characters of RFC 3986 (A-Z a-z 0-9 - . _ ~), so
// the text is safe as a query name or value of a URL.
std::string percentEncode(std::string_view text);

// The application/x-www-form-urlencoded body (RFC 6749 appendix B): pairs joined with "&", names
// and values percent-encoded, spaces written as "+".
std::string formEncode(const Parameters& parameters);

// A query string ("a=1&b=2") built from the pairs in order, values percent-encoded.
std::string queryString(const Parameters& parameters);

// Strict percent-decoding: a "%" must be followed by two hex digits. With plusAsSpace, "+" means a
// space (form encoding). Nothing on a malformed escape.
std::optional<std::string> percentDecode(std::string_view text, bool plusAsSpace);

// Splits "a=1&b=2" into decoded pairs, in order (empty segments are skipped; a segment without
// "=" has an empty value). Nothing when any escape is malformed.
std::optional<Parameters> parseFormEncoded(std::string_view text);

} // namespace quorvel::idp
