#include "base/Logger.h"
#include "idp/CurlLibrary.h"

#include <dlfcn.h>
#include <string_view>

namespace quorvel::idp {

namespace {

// The OpenSSL flavour of libcurl: the trusted-authority hook hands us OpenSSL's own context.
constexpr const char* libraryName = "libcurl.so.4";

template <typename Function> bool resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

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
    bool ok = resolve(library, "curl_global_init", curl.globalInit) &&
              resolve(library, "curl_easy_init", curl.easyInit) &&
              resolve(library, "curl_easy_setopt", curl.easySetopt) &&
              resolve(library, "curl_easy_getinfo", curl.easyGetinfo) &&
              resolve(library, "curl_easy_cleanup", curl.easyCleanup) &&
              resolve(library, "curl_easy_strerror", curl.easyStrerror) &&
              resolve(library, "curl_slist_append", curl.slistAppend) &&
              resolve(library, "curl_slist_free_all", curl.slistFreeAll) &&
              resolve(library, "curl_multi_init", curl.multiInit) &&
              resolve(library, "curl_multi_setopt", curl.multiSetopt) &&
              resolve(library, "curl_multi_add_handle", curl.multiAddHandle) &&
              resolve(library, "curl_multi_remove_handle", curl.multiRemoveHandle) &&
              resolve(library, "curl_multi_perform", curl.multiPerform) &&
              resolve(library, "curl_multi_info_read", curl.multiInfoRead) &&
              resolve(library, "curl_multi_poll", curl.multiPoll) &&
              resolve(library, "curl_multi_wakeup", curl.multiWakeup) &&
              resolve(library, "curl_multi_cleanup", curl.multiCleanup) &&
              // Found among libcurl's own dependencies.
              resolve(library, "SSL_CTX_get_cert_store", curl.tlsContextCertificateStore);
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
