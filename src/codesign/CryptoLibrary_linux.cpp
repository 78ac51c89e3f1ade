#include "base/LoadedLibrary_linux.h"
#include "codesign/CryptoLibrary.h"

#include <dlfcn.h>

namespace quorvel::codesign {

namespace {

constexpr const char* libraryName = "libcrypto.so.3";

const CryptoLibrary* loadOnce() {
    void* library = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    static CryptoLibrary crypto{};
    bool ok = resolveSymbol(library, "BIO_new_file", crypto.bioNewFile) &&
              resolveSymbol(library, "BIO_new_mem_buf", crypto.bioNewMemBuf) &&
              resolveSymbol(library, "BIO_free", crypto.bioFree) &&
              resolveSymbol(library, "PEM_read_bio_PrivateKey", crypto.readPrivateKey) &&
              resolveSymbol(library, "PEM_read_bio_PUBKEY", crypto.readPublicKey) &&
              resolveSymbol(library, "EVP_PKEY_get_base_id", crypto.keyBaseId) &&
              resolveSymbol(library, "EVP_PKEY_free", crypto.keyFree) &&
              resolveSymbol(library, "EVP_MD_CTX_new", crypto.contextNew) &&
              resolveSymbol(library, "EVP_MD_CTX_free", crypto.contextFree) &&
              resolveSymbol(library, "EVP_DigestSignInit", crypto.signInit) &&
              resolveSymbol(library, "EVP_DigestSign", crypto.sign) &&
              resolveSymbol(library, "EVP_DigestVerifyInit", crypto.verifyInit) &&
              resolveSymbol(library, "EVP_DigestVerify", crypto.verify) &&
              resolveSymbol(library, "EVP_sha256", crypto.sha256) &&
              resolveSymbol(library, "EVP_DigestInit_ex", crypto.digestInit) &&
              resolveSymbol(library, "EVP_DigestUpdate", crypto.digestUpdate) &&
              resolveSymbol(library, "EVP_DigestFinal_ex", crypto.digestFinal);
    return ok ? &crypto : nullptr;
}

} // namespace

const CryptoLibrary* CryptoLibrary::load() {
    static const CryptoLibrary* loaded = loadOnce();
    return loaded;
}

} // namespace quorvel::codesign
