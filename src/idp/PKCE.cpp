#include "idp/PKCE.h"

#include "base/CryptoLibrary.h"
#include "base/Sha256.h"
#include "idp/Base64URL.h"

#include <array>

namespace quorvel::idp {

std::string urlSafeValue(std::span<const std::uint8_t> bytes) {
    return base64URLEncode(bytes);
}

std::optional<std::string> generateRandomURLSafeValue() {
    std::array<std::uint8_t, 32> bytes{};
    const CryptoLibrary* crypto = CryptoLibrary::load();
    if (!crypto || crypto->randomBytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        return std::nullopt;
    return urlSafeValue(bytes);
}

std::string codeChallenge(std::string_view codeVerifier) {
    std::string digest = sha256Raw(
        std::span(reinterpret_cast<const std::uint8_t*>(codeVerifier.data()), codeVerifier.size()));
    return base64URLEncode(digest);
}

} // namespace quorvel::idp
