#include "identity/ParsedURL.h"

#include "base/Utf8.h"
#include "idp/FormEncoding.h"

#include <boost/url/parse.hpp>
#include <boost/url/url_view.hpp>

namespace quorvel {

namespace {

std::string text(boost::core::string_view value) {
    return std::string(value.data(), value.size());
}

std::optional<std::string> decoded(std::string_view encoded) {
    auto value = idp::percentDecode(encoded, false);
    if (!value || !isValidUtf8(*value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<ParsedURL> ParsedURL::parse(std::string_view input) {
    auto result =
        boost::urls::parse_uri_reference(boost::core::string_view(input.data(), input.size()));
    if (!result)
        return std::nullopt;
    const boost::urls::url_view& url = *result;
    ParsedURL parts;
    if (url.has_scheme())
        parts.scheme = text(url.scheme());
    if (url.has_authority())
        parts.host = text(url.encoded_host());
    parts.hasUserInfo = url.has_userinfo();
    parts.path = text(url.encoded_path());
    if (url.has_query())
        parts.query = text(url.encoded_query());
    if (url.has_fragment())
        parts.fragment = text(url.encoded_fragment());
    return parts;
}

std::vector<URLQueryItem> queryItems(std::string_view encodedQuery) {
    std::vector<URLQueryItem> items;
    if (encodedQuery.empty())
        return items;
    std::size_t start = 0;
    for (;;) {
        auto end = encodedQuery.find('&', start);
        std::string_view segment = encodedQuery.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        auto equals = segment.find('=');
        auto name = decoded(segment.substr(0, equals));
        if (name) {
            URLQueryItem item{std::move(*name), std::nullopt};
            if (equals != std::string_view::npos)
                item.value = decoded(segment.substr(equals + 1));
            items.push_back(std::move(item));
        }
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return items;
}

} // namespace quorvel
