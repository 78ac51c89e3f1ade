#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// A URL reference split into its parts (RFC 3986 section 4.1), without resolving it against a
// base and without decoding anything: every part is kept as written. A part that is present but
// empty ("https://host/p?" has an empty query) is told apart from an absent one.
struct ParsedURL {
    std::optional<std::string> scheme;
    // Present whenever the URL has an authority ("//..."), possibly empty ("file:///x").
    std::optional<std::string> host;
    // A user, with or without a password, or an empty user ("https://@host/").
    bool hasUserInfo = false;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    bool operator==(const ParsedURL&) const = default;

    // Nothing when the text is not a URI reference (white space, a bad percent escape, a
    // malformed authority, ...). The empty text is an (empty) relative reference.
    static std::optional<ParsedURL> parse(std::string_view text);
};

// One "name=value" item of a query; a segment without "=" has no value.
struct URLQueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const URLQueryItem&) const = default;
};

// Splits a percent-encoded query at "&" and each segment at its first "=", and percent-decodes
// names and values ("+" stays a plus). The empty query has no items; other empty segments are items
// with an empty name. A name or value that does not decode to UTF-8 is dropped: such a name gives
// no item, such a value no value.
std::vector<URLQueryItem> queryItems(std::string_view encodedQuery);

} // namespace quorvel
