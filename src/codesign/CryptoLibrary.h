#pragma once

#include <cstddef>
#include <openssl/types.h>

namespace quorvel::codesign {

// The few functions of the system's cryptography library that signing and verifying use, loaded
// on first use rather than with the program. The launcher checks bundles in a short-lived child
// process, so the library is only ever mapped there, never in the long-running launcher itself.
struct CryptoLibrary {
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

    // Loads the library once and keeps it for the life of the process; nothing when it cannot be
    // loaded or lacks a function, and then on every later call too.
    static const CryptoLibrary* load();
};

} // namespace quorvel::codesign
