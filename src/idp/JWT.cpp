#include "idp/JWT.h"

#include "idp/Base64URL.h"
#include "idp/BoundedJson.h"

#include <vector>

namespace quorvel::idp {

std::optional<std::string> JWT::algorithm() const {
    auto found = header.find("alg");
    if (found == header.end())
        return std::nullopt;
    return jsonString(*found);
}

std::optional<std::string> JWT::keyID() const {
    auto found = header.find("kid");
    if (found == header.end())
        return std::nullopt;
    return jsonString(*found);
}

Expected<JWT, TokenFormatError> decodeJWT(std::string_view token) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = token.find('.', start);
        if (dot == std::string_view::npos) {
            parts.push_back(token.substr(start));
            break;
        }
        parts.push_back(token.substr(start, dot - start));
        start = dot + 1;
    }
    if (parts.size() != 3) {
        return unexpected(TokenFormatError(TokenFormatError::Kind::wrongPartCount,
                                           "The JWT " + std::string(token) + " has " +
                                               std::to_string(parts.size()) +
                                               " parts when it should have 3 parts."));
    }
    JWT jwt;
    Json* targets[2] = {&jwt.header, &jwt.body};
    for (int i = 0; i < 2; ++i) {
        auto part = parts[static_cast<std::size_t>(i)];
        auto decoded = base64URLDecode(part);
        if (!decoded) {
            return unexpected(
                TokenFormatError(TokenFormatError::Kind::badBase64URL,
                                 "Failed to decode Base64URL value " + std::string(part)));
        }
        auto object = parseJsonObject(textOf(*decoded));
        if (!object) {
            return unexpected(
                TokenFormatError(TokenFormatError::Kind::badJSON,
                                 "Failed to parse JSON from Base64URL value " + std::string(part)));
        }
        *targets[i] = std::move(*object);
    }
    auto signature = base64URLDecode(parts[2]);
    if (!signature) {
        return unexpected(
            TokenFormatError(TokenFormatError::Kind::badBase64URL,
                             "Failed to decode Base64URL value " + std::string(parts[2])));
    }
    jwt.signature = std::move(*signature);
    jwt.text = std::string(token);
    jwt.signingInput = std::string(token.substr(0, parts[0].size() + 1 + parts[1].size()));
    return jwt;
}

} // namespace quorvel::idp
