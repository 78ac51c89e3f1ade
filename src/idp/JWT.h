#pragma once

#include "base/Bytes.h"
#include "base/Expected.h"
#include "base/Json.h"
#include "idp/Error.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::idp {

// A JSON Web Token in compact form (RFC 7519), decoded but not yet trusted: the signature is only
// carried, checking it is the ID token validator's work.
struct JWT {
    std::string text;         // the token as received
    Json header;              // a JSON object
    Json body;                // a JSON object (the claims)
    Bytes signature;          // raw bytes of the third part
    std::string signingInput; // the first two parts with the dot, as signed

    std::optional<std::string> algorithm() const; // header "alg", when a string
    std::optional<std::string> keyID() const;     // header "kid", when a string
};

class TokenFormatError final : public Error {
public:
    enum class Kind { wrongPartCount, badBase64URL, badJSON };
    TokenFormatError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    Kind kind() const { return kind_; }
    std::string message() const override { return message_; }

private:
    Kind kind_;
    std::string message_;
};

// Splits at "." into exactly three parts, Base64URL-decodes all three, and parses the first two
// as JSON objects (nested at most 32 deep). Never throws, whatever the input.
Expected<JWT, TokenFormatError> decodeJWT(std::string_view token);

} // namespace quorvel::idp
