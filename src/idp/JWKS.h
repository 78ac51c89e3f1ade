#pragma once

#include "base/Bytes.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace quorvel::idp {

// An RSA public key that can check RS256 signatures (RSASSA-PKCS1-v1_5 with SHA-256).
class RSAPublicKey {
public:
    ~RSAPublicKey();
    RSAPublicKey(const RSAPublicKey&) = delete;
    RSAPublicKey& operator=(const RSAPublicKey&) = delete;

    // From the big-endian modulus and exponent. Nothing unless the modulus has 2048 to 8192 bits
    // (RFC 7518 asks for at least 2048) and the exponent is odd, greater than 1 and at most 64
    // bits.
    static std::shared_ptr<const RSAPublicKey> make(const Bytes& modulus, const Bytes& exponent);

    bool verifyRS256(std::string_view signingInput, const Bytes& signature) const;
    int bits() const;

private:
    explicit RSAPublicKey(EVP_PKEY* key) : key_(key) {}
    EVP_PKEY* key_;
};

// One usable signing key of a key set.
struct JSONWebKey {
    std::string keyID;
    std::shared_ptr<const RSAPublicKey> key;
};

// The provider's key set (RFC 7517), reduced to the keys that can check an RS256 ID token: RSA
// keys with a "kid", usable for signatures ("use" absent or "sig") and for RS256 ("alg" absent or
// "RS256"). Keys of other types, malformed or too small keys and unknown members are ignored, as
// RFC 7517 section 5 asks.
struct JSONWebKeySet {
    std::vector<JSONWebKey> keys;

    // Nothing when the text is not a JSON object with a "keys" array.
    static std::optional<JSONWebKeySet> parse(std::string_view text);
    std::vector<std::shared_ptr<const RSAPublicKey>> keysWithID(std::string_view keyID) const;
};

} // namespace quorvel::idp
