// Token endpoint answers, error bodies, key sets and stored archives, on arbitrary bytes.

#include "idp/AuthenticationError.h"
#include "idp/BoundedJson.h"
#include "idp/Credentials.h"
#include "idp/JWKS.h"
#include "idp/URLSession.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string body(reinterpret_cast<const char*>(data), size);
    if (auto answer = quorvel::idp::parseJsonObject(body)) {
        auto credentials = quorvel::idp::Credentials::fromTokenResponse(
            *answer, quorvel::TimePoint(std::chrono::seconds(1'800'000'000)));
        if (credentials)
            (void)credentials->description();
    }
    auto error = quorvel::idp::AuthenticationError::fromResponse({400, {}, body});
    (void)error.code();
    (void)error.message();
    (void)quorvel::idp::JSONWebKeySet::parse(body);
    auto stored = quorvel::idp::Credentials::unarchive(quorvel::bytesOf(body));
    if (stored && quorvel::idp::Credentials::unarchive(stored->archive()) != stored)
        __builtin_trap();
    return 0;
}
