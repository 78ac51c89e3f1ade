#pragma once

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <openssl/types.h>

namespace quorvel::idp {

// The HTTPS client's functions, loaded on first use rather than with this library: a host app
// that never talks to the identity provider never pays for loading libcurl and all it pulls in.
struct CurlLibrary {
    CURLcode (*globalInit)(long flags);
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL* easy, CURLoption option, ...);
    CURLcode (*easyGetinfo)(CURL* easy, CURLINFO info, ...);
    void (*easyCleanup)(CURL* easy);
    const char* (*easyStrerror)(CURLcode code);
    curl_slist* (*slistAppend)(curl_slist* list, const char* text);
    void (*slistFreeAll)(curl_slist* list);
    CURLM* (*multiInit)();
    CURLMcode (*multiSetopt)(CURLM* multi, CURLMoption option, ...);
    CURLMcode (*multiAddHandle)(CURLM* multi, CURL* easy);
    CURLMcode (*multiRemoveHandle)(CURLM* multi, CURL* easy);
    CURLMcode (*multiPerform)(CURLM* multi, int* running);
    CURLMsg* (*multiInfoRead)(CURLM* multi, int* queued);
    CURLMcode (*multiPoll)(CURLM* multi, curl_waitfd* extra, unsigned extraCount, int timeoutMs,
                           int* ready);
    CURLMcode (*multiWakeup)(CURLM* multi);
    CURLMcode (*multiCleanup)(CURLM* multi);
    // From the TLS library that libcurl itself is built on, for adding trusted authorities.
    X509_STORE* (*tlsContextCertificateStore)(const SSL_CTX* tlsContext);

    // Loads the library once (with curl_global_init) and keeps it for the life of the process;
    // nothing when it cannot be loaded or lacks a function, and then on every later call too.
    static const CurlLibrary* load();
};

} // namespace quorvel::idp
