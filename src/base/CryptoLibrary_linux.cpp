#include "base/CryptoLibrary.h"
#include "base/LoadedLibrary_linux.h"

#include <dlfcn.h>

namespace quorvel {

namespace {

constexpr const char* libraryName = "libcrypto.so.3";

const CryptoLibrary* loadOnce() {
    void* library = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    static CryptoLibrary crypto{};
    bool ok =
        resolveSymbol(library, "BIO_new_file", crypto.bioNewFile) &&
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
        resolveSymbol(library, "EVP_DigestFinal_ex", crypto.digestFinal) &&
        resolveSymbol(library, "BN_bin2bn", crypto.bigNumberFromBytes) &&
        resolveSymbol(library, "BN_free", crypto.bigNumberFree) &&
        resolveSymbol(library, "BN_num_bits", crypto.bigNumberBits) &&
        resolveSymbol(library, "BN_is_odd", crypto.bigNumberIsOdd) &&
        resolveSymbol(library, "BN_is_one", crypto.bigNumberIsOne) &&
        resolveSymbol(library, "OSSL_PARAM_BLD_new", crypto.parameterBuilderNew) &&
        resolveSymbol(library, "OSSL_PARAM_BLD_free", crypto.parameterBuilderFree) &&
        resolveSymbol(library, "OSSL_PARAM_BLD_push_BN", crypto.parameterBuilderPushBigNumber) &&
        resolveSymbol(library, "OSSL_PARAM_BLD_to_param", crypto.parameterBuilderToParameters) &&
        resolveSymbol(library, "OSSL_PARAM_free", crypto.parametersFree) &&
        resolveSymbol(library, "EVP_PKEY_CTX_new_from_name", crypto.keyContextNewFromName) &&
        resolveSymbol(library, "EVP_PKEY_CTX_free", crypto.keyContextFree) &&
        resolveSymbol(library, "EVP_PKEY_fromdata_init", crypto.keyFromDataInit) &&
        resolveSymbol(library, "EVP_PKEY_fromdata", crypto.keyFromData) &&
        resolveSymbol(library, "EVP_PKEY_get_bits", crypto.keyBits) &&
        resolveSymbol(library, "RAND_bytes", crypto.randomBytes) &&
        resolveSymbol(library, "PEM_read_X509", crypto.readCertificate) &&
        resolveSymbol(library, "X509_free", crypto.certificateFree) &&
        resolveSymbol(library, "X509_STORE_add_cert", crypto.certificateStoreAdd);
    return ok ? &crypto : nullptr;
}

} // namespace

const CryptoLibrary* CryptoLibrary::load() {
    static const CryptoLibrary* loaded = loadOnce();
    return loaded;
}

void CryptoLibrary::releaseThreadState() {
    void* library = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!library)
        return;
    void (*stop)() = nullptr;
    if (resolveSymbol(library, "OPENSSL_thread_stop", stop))
        stop();
    ::dlclose(library);
}

} // namespace quorvel
