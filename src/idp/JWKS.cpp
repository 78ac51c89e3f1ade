#include "idp/JWKS.h"

#include "base/JsonDocument.h"
#include "idp/Base64URL.h"

#include <limits>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

namespace quorvel::idp {

namespace {

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* pointer) const { Free(pointer); }
};
using BigNumber = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

BigNumber bigNumber(const Bytes& bytes) {
    return BigNumber(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

std::optional<std::string> stringMember(JsonValue object, const char* name) {
    auto found = object.find(name);
    auto text = found ? found->stringValue() : std::nullopt;
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

} // namespace

RSAPublicKey::~RSAPublicKey() {
    EVP_PKEY_free(key_);
}

std::shared_ptr<const RSAPublicKey> RSAPublicKey::make(const Bytes& modulus,
                                                       const Bytes& exponent) {
    if (modulus.empty() || exponent.empty() || modulus.size() > 1025 || exponent.size() > 8)
        return nullptr;
    BigNumber n = bigNumber(modulus);
    BigNumber e = bigNumber(exponent);
    if (!n || !e)
        return nullptr;
    int bits = BN_num_bits(n.get());
    if (bits < 2048 || bits > 8192 || !BN_is_odd(e.get()) || BN_is_one(e.get()))
        return nullptr;
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    if (!builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
        return nullptr;
    }
    Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1)
        return nullptr;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1 || !key)
        return nullptr;
    return std::shared_ptr<const RSAPublicKey>(new RSAPublicKey(key));
}

bool RSAPublicKey::verifyRS256(std::string_view signingInput, const Bytes& signature) const {
    DigestContext context(EVP_MD_CTX_new());
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key_) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(signingInput.data()),
                            signingInput.size()) == 1;
}

int RSAPublicKey::bits() const {
    return EVP_PKEY_get_bits(key_);
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
