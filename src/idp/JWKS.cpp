#include "idp/JWKS.h"

#include "base/CryptoLibrary.h"
#include "base/JsonDocument.h"
#include "idp/Base64URL.h"

#include <limits>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/evp.h>

namespace quorvel::idp {

namespace {

using BigNumber = std::unique_ptr<BIGNUM, CryptoFree<BIGNUM, &CryptoLibrary::bigNumberFree>>;
using ParamBuilder =
    std::unique_ptr<OSSL_PARAM_BLD,
                    CryptoFree<OSSL_PARAM_BLD, &CryptoLibrary::parameterBuilderFree>>;
using Params = std::unique_ptr<OSSL_PARAM, CryptoFree<OSSL_PARAM, &CryptoLibrary::parametersFree>>;
using KeyContext =
    std::unique_ptr<EVP_PKEY_CTX, CryptoFree<EVP_PKEY_CTX, &CryptoLibrary::keyContextFree>>;
using DigestContext =
    std::unique_ptr<EVP_MD_CTX, CryptoFree<EVP_MD_CTX, &CryptoLibrary::contextFree>>;

BigNumber bigNumber(const CryptoLibrary& crypto, const Bytes& bytes) {
    return BigNumber(
        crypto.bigNumberFromBytes(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

std::optional<std::string> stringMember(JsonValue object, const char* name) {
    auto found = object.find(name);
    auto text = found ? found->stringValue() : std::nullopt;
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

} // namespace

RSAPublicKey::~RSAPublicKey() {
    CryptoLibrary::load()->keyFree(key_);
}

std::shared_ptr<const RSAPublicKey> RSAPublicKey::make(const Bytes& modulus,
                                                       const Bytes& exponent) {
    if (modulus.empty() || exponent.empty() || modulus.size() > 1025 || exponent.size() > 8)
        return nullptr;
    // Without the library no key can be made, and a token signed with it cannot be checked.
    const CryptoLibrary* crypto = CryptoLibrary::load();
    if (!crypto)
        return nullptr;
    BigNumber n = bigNumber(*crypto, modulus);
    BigNumber e = bigNumber(*crypto, exponent);
    if (!n || !e)
        return nullptr;
    int bits = crypto->bigNumberBits(n.get());
    if (bits < 2048 || bits > 8192 || !crypto->bigNumberIsOdd(e.get()) ||
        crypto->bigNumberIsOne(e.get())) {
        return nullptr;
    }
    ParamBuilder builder(crypto->parameterBuilderNew());
    if (!builder ||
        crypto->parameterBuilderPushBigNumber(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        crypto->parameterBuilderPushBigNumber(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
        return nullptr;
    }
    Params params(crypto->parameterBuilderToParameters(builder.get()));
    KeyContext context(crypto->keyContextNewFromName(nullptr, "RSA", nullptr));
    if (!params || !context || crypto->keyFromDataInit(context.get()) != 1)
        return nullptr;
    EVP_PKEY* key = nullptr;
    if (crypto->keyFromData(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1 || !key)
        return nullptr;
    return std::shared_ptr<const RSAPublicKey>(new RSAPublicKey(key));
}

bool RSAPublicKey::verifyRS256(std::string_view signingInput, const Bytes& signature) const {
    // A key exists only where the library was loaded.
    const CryptoLibrary& crypto = *CryptoLibrary::load();
    DigestContext context(crypto.contextNew());
    if (!context ||
        crypto.verifyInit(context.get(), nullptr, crypto.sha256(), nullptr, key_) != 1) {
        return false;
    }
    return crypto.verify(context.get(), signature.data(), signature.size(),
                         reinterpret_cast<const unsigned char*>(signingInput.data()),
                         signingInput.size()) == 1;
}

int RSAPublicKey::bits() const {
    return CryptoLibrary::load()->keyBits(key_);
}

std::optional<JSONWebKeySet> JSONWebKeySet::parse(std::string_view text) {
    // The answer's size is bounded where it is received; nesting is bounded here.
    auto document =
        JsonDocument::read(text, JsonLimits{std::numeric_limits<std::uint32_t>::max() / 2, 32});
    if (!document || !document->root().isObject())
        return std::nullopt;
    auto keys = document->root().find("keys");
    if (!keys || !keys->isArray())
        return std::nullopt;
    JSONWebKeySet set;
    for (auto entry : keys->elements()) {
        if (!entry.isObject())
            continue;
        auto kty = stringMember(entry, "kty");
        auto kid = stringMember(entry, "kid");
        auto n = stringMember(entry, "n");
        auto e = stringMember(entry, "e");
        if (!kty || *kty != "RSA" || !kid || !n || !e)
            continue;
        if (entry.find("use") && stringMember(entry, "use") != std::optional<std::string>("sig"))
            continue;
        if (entry.find("alg") && stringMember(entry, "alg") != std::optional<std::string>("RS256"))
            continue;
        auto modulus = base64URLDecode(*n);
        auto exponent = base64URLDecode(*e);
        if (!modulus || !exponent)
            continue;
        auto key = RSAPublicKey::make(*modulus, *exponent);
        if (!key)
            continue;
        set.keys.push_back({std::move(*kid), std::move(key)});
    }
    return set;
}

std::vector<std::shared_ptr<const RSAPublicKey>>
JSONWebKeySet::keysWithID(std::string_view keyID) const {
    std::vector<std::shared_ptr<const RSAPublicKey>> found;
    for (const auto& key : keys) {
        if (key.keyID == keyID)
            found.push_back(key.key);
    }
    return found;
}

} // namespace quorvel::idp
