// The JWT decoder and the ID token checks up to the key lookup, on arbitrary bytes.

#include "idp/IDTokenValidator.h"
#include "idp/JWT.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view token(reinterpret_cast<const char*>(data), size);
    auto jwt = quorvel::idp::decodeJWT(token);
    if (jwt) {
        (void)jwt->algorithm();
        (void)jwt->keyID();
    } else {
        (void)jwt.error().message();
    }
    quorvel::idp::IDTokenValidationContext context;
    context.issuer = "https://tenant.example/";
    context.audience = "client";
    context.nonce = "nonce";
    auto result =
        quorvel::idp::validateIDToken(token, quorvel::idp::JSONWebKeySet{}, context,
                                      quorvel::TimePoint(std::chrono::seconds(1'800'000'000)));
    if (!result)
        (void)result.error().message();
    return 0;
}
