#include "base/LoadedLibrary_linux.h"
#include "base/Logger.h"
#include "idp/CurlLibrary.h"

#include <dlfcn.h>
#include <string_view>

namespace quorvel::idp {

namespace {

// The OpenSSL flavour of libcurl: the trusted-authority hook hands us OpenSSL's own context.
constexpr const char* libraryName = "libcurl.so.4";

const CurlLibrary* loadOnce() {
    void* library = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = ::dlerror();
        Logger("com.quorvel.desktop", "IdentityProvider")
            .error("https_client result=unavailable library=%{public}s reason=%{public}s",
                   {std::string_view(libraryName), std::string_view(reason ? reason : "")});
        return nullptr;
    }
    static CurlLibrary curl{};
    bool ok = resolveSymbol(library, "curl_global_init", curl.globalInit) &&
              resolveSymbol(library, "curl_easy_init", curl.easyInit) &&
              resolveSymbol(library, "curl_easy_setopt", curl.easySetopt) &&
              resolveSymbol(library, "curl_easy_getinfo", curl.easyGetinfo) &&
              resolveSymbol(library, "curl_easy_cleanup", curl.easyCleanup) &&
              resolveSymbol(library, "curl_easy_strerror", curl.easyStrerror) &&
              resolveSymbol(library, "curl_slist_append", curl.slistAppend) &&
              resolveSymbol(library, "curl_slist_free_all", curl.slistFreeAll) &&
              resolveSymbol(library, "curl_multi_init", curl.multiInit) &&
              resolveSymbol(library, "curl_multi_setopt", curl.multiSetopt) &&
              resolveSymbol(library, "curl_multi_add_handle", curl.multiAddHandle) &&
              resolveSymbol(library, "curl_multi_remove_handle", curl.multiRemoveHandle) &&
              resolveSymbol(library, "curl_multi_perform", curl.multiPerform) &&
              resolveSymbol(library, "curl_multi_info_read", curl.multiInfoRead) &&
              resolveSymbol(library, "curl_multi_poll", curl.multiPoll) &&
              resolveSymbol(library, "curl_multi_wakeup", curl.multiWakeup) &&
              resolveSymbol(library, "curl_multi_cleanup", curl.multiCleanup) &&
              // Found among libcurl's own dependencies.
              resolveSymbol(library, "SSL_CTX_get_cert_store", curl.tlsContextCertificateStore);
    if (!ok || curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        Logger("com.quorvel.desktop", "IdentityProvider")
            .error("https_client result=unusable library=%{public}s",
                   {std::string_view(libraryName)});
        // Kept loaded: a half-initialised library is not safe to unload.
        return nullptr;
    }
    return &curl;
}

} // namespace

const CurlLibrary* CurlLibrary::load() {
    // Once per process, thread-safe; a library that could not be loaded is not tried again.
    static const CurlLibrary* loaded = loadOnce();
    return loaded;
}

} // namespace quorvel::idp
