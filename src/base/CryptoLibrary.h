#pragma once

#include <cstddef>
#include <cstdio>
#include <openssl/types.h>

namespace quorvel {

// The functions of the system's cryptography library that this system uses, loaded on first use
// rather than with the program:
// - the launcher checks bundles in a short-lived child process, so the library is only ever
//   mapped there, never in the long-running launcher itself;
// - a host app that loads the library pays for it only once it signs in (an ID token's signature,
//   the PKCE secret, a provider's extra certificate authority).
struct CryptoLibrary {
    // Bundle signing and verification (Ed25519 keys in PEM files).
    BIO* (*bioNewFile)(const char* path, const char* mode);
    BIO* (*bioNewMemBuf)(const void* bytes, int length);
    int (*bioFree)(BIO* bio);
    EVP_PKEY* (*readPrivateKey)(BIO* bio, EVP_PKEY** into, pem_password_cb* password, void* data);
    EVP_PKEY* (*readPublicKey)(BIO* bio, EVP_PKEY** into, pem_password_cb* password, void* data);
    int (*keyBaseId)(const EVP_PKEY* key);
    void (*keyFree)(EVP_PKEY* key);
    EVP_MD_CTX* (*contextNew)();
    void (*contextFree)(EVP_MD_CTX* context);
    int (*signInit)(EVP_MD_CTX* context, EVP_PKEY_CTX** keyContext, const EVP_MD* digest,
                    ENGINE* engine, EVP_PKEY* key);
    int (*sign)(EVP_MD_CTX* context, unsigned char* signature, std::size_t* signatureLength,
                const unsigned char* message, std::size_t messageLength);
    int (*verifyInit)(EVP_MD_CTX* context, EVP_PKEY_CTX** keyContext, const EVP_MD* digest,
                      ENGINE* engine, EVP_PKEY* key);
    int (*verify)(EVP_MD_CTX* context, const unsigned char* signature, std::size_t signatureLength,
                  const unsigned char* message, std::size_t messageLength);
    // The bundle's file digests: this library's SHA-256 uses the processor's SHA instructions,
    // several times faster than a portable one over a whole bundle.
    const EVP_MD* (*sha256)();
    int (*digestInit)(EVP_MD_CTX* context, const EVP_MD* digest, ENGINE* engine);
    int (*digestUpdate)(EVP_MD_CTX* context, const void* bytes, std::size_t length);
    int (*digestFinal)(EVP_MD_CTX* context, unsigned char* digest, unsigned int* length);

    // RSA public keys from a provider's key set (RS256 ID tokens).
    BIGNUM* (*bigNumberFromBytes)(const unsigned char* bytes, int length, BIGNUM* into);
    void (*bigNumberFree)(BIGNUM* number);
    int (*bigNumberBits)(const BIGNUM* number);
    int (*bigNumberIsOdd)(const BIGNUM* number);
    int (*bigNumberIsOne)(const BIGNUM* number);
    OSSL_PARAM_BLD* (*parameterBuilderNew)();
    void (*parameterBuilderFree)(OSSL_PARAM_BLD* builder);
    int (*parameterBuilderPushBigNumber)(OSSL_PARAM_BLD* builder, const char* key,
                                         const BIGNUM* number);
    OSSL_PARAM* (*parameterBuilderToParameters)(OSSL_PARAM_BLD* builder);
    void (*parametersFree)(OSSL_PARAM* parameters);
    EVP_PKEY_CTX* (*keyContextNewFromName)(OSSL_LIB_CTX* library, const char* name,
                                           const char* properties);
    void (*keyContextFree)(EVP_PKEY_CTX* context);
    int (*keyFromDataInit)(EVP_PKEY_CTX* context);
    int (*keyFromData)(EVP_PKEY_CTX* context, EVP_PKEY** key, int selection,
                       OSSL_PARAM* parameters);
    int (*keyBits)(const EVP_PKEY* key);

    // Secrets (PKCE, state) from the library's generator.
    int (*randomBytes)(unsigned char* bytes, int count);

    // Extra certificate authorities of a provider, handed to the TLS connection.
    X509* (*readCertificate)(FILE* file, X509** into, pem_password_cb* password, void* data);
    void (*certificateFree)(X509* certificate);
    int (*certificateStoreAdd)(X509_STORE* store, X509* certificate);

    // Loads the library once and keeps it for the life of the process; nothing when it cannot be
    // loaded or lacks a function, and then on every later call too.
    static const CryptoLibrary* load();

    // Releases the calling thread's state in the library, if the library is in the process at
    // all (loaded by us or by the TLS library), without loading it for that.
    static void releaseThreadState();
};

// Frees an object of the library's through the loaded table, which is there whenever such an
// object exists: std::unique_ptr<BIGNUM, CryptoFree<BIGNUM, &CryptoLibrary::bigNumberFree>>.
template <class T, auto CryptoLibrary::*Free> struct CryptoFree {
    void operator()(T* object) const { (CryptoLibrary::load()->*Free)(object); }
};

} // namespace quorvel
