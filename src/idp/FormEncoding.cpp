#include "idp/FormEncoding.h"

namespace quorvel::idp {

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string encode(std::string_view text, bool spaceAsPlus) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char raw : text) {
        auto c = static_cast<unsigned char>(raw);
        if (isUnreserved(c)) {
            out.push_back(raw);
        } else if (spaceAsPlus && c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    return out;
}

std::string join(const Parameters& parameters, bool spaceAsPlus) {
    std::string out;
    for (const auto& [name, value] : parameters) {
        if (!out.empty())
            out.push_back('&');
        out += encode(name, spaceAsPlus);
        out.push_back('=');
        out += encode(value, spaceAsPlus);
    }
    return out;
}

} // namespace

std::string percentEncode(std::string_view text) {
    return encode(text, false);
}

std::string formEncode(const Parameters& parameters) {
    return join(parameters, true);
}

std::string queryString(const Parameters& parameters) {
    return join(parameters, false);
}

std::optional<std::string> percentDecode(std::string_view text, bool plusAsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            int high = hexValue(text[i + 1]);
            int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (plusAsSpace && c == '+') {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<Parameters> parseFormEncoded(std::string_view text) {
    Parameters parameters;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view segment = text.substr(start, end - start);
        if (!segment.empty()) {
            std::size_t equals = segment.find('=');
            std::string_view name = segment.substr(0, equals);
            std::string_view value =
                equals == std::string_view::npos ? std::string_view() : segment.substr(equals + 1);
            auto decodedName = percentDecode(name, true);
            auto decodedValue = percentDecode(value, true);
            if (!decodedName || !decodedValue)
                return std::nullopt;
            parameters.emplace_back(std::move(*decodedName), std::move(*decodedValue));
        }
        start = end + 1;
    }
    return parameters;
}

} // namespace quorvel::idp
