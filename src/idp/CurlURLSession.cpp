#include "idp/CurlURLSession.h"

#include "base/CryptoLibrary.h"
#include "base/Logger.h"
#include "idp/CurlLibrary.h"
#include "idp/SerialQueue.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <list>
#include <mutex>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <thread>

namespace quorvel::idp {

namespace {

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool startsWithHttps(std::string_view url) {
    return url.size() > 8 && lowerCased(std::string(url.substr(0, 8))) == "https://";
}

// Header lines are built by us from these parts; a CR, LF or NUL would let a value start a new
// header (or end the header block), so such a header is refused before anything is sent.
bool isSafeHeader(const std::pair<std::string, std::string>& header) {
    if (header.first.empty())
        return false;
    for (char c : header.first) {
        auto code = static_cast<unsigned char>(c);
        if (code <= 0x20 || code >= 0x7F || c == ':')
            return false;
    }
    for (char c : header.second) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

URLError::Code urlErrorCode(CURLcode code) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return URLError::Code::badURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return URLError::Code::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return URLError::Code::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return URLError::Code::timedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return URLError::Code::networkConnectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
        return URLError::Code::secureConnectionFailed;
    case CURLE_FILESIZE_EXCEEDED:
        return URLError::Code::dataLengthExceedsMaximum;
    case CURLE_ABORTED_BY_CALLBACK:
        return URLError::Code::cancelled;
    default:
        return URLError::Code::unknown;
    }
}

using Certificate = std::unique_ptr<X509, CryptoFree<X509, &CryptoLibrary::certificateFree>>;

// Every certificate of a PEM file; nothing when the file cannot be read or holds none.
std::vector<Certificate> readCertificates(const std::string& path) {
    std::vector<Certificate> certificates;
    const CryptoLibrary* crypto = CryptoLibrary::load();
    FILE* file = crypto ? std::fopen(path.c_str(), "rb") : nullptr;
    if (!file)
        return certificates;
    while (X509* certificate = crypto->readCertificate(file, nullptr, nullptr, nullptr)) {
        certificates.emplace_back(certificate);
    }
    std::fclose(file);
    return certificates;
}

// "https://host:port" of a URL: no path, query or fragment, which may carry codes or tokens.
std::string originOf(std::string_view url) {
    constexpr std::string_view scheme = "https://";
    std::string_view rest = url.substr(std::min(url.size(), scheme.size()));
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    return std::string(scheme) + std::string(rest);
}

// What went wrong in a failed TLS connection, in words a person setting up a provider can act on.
const char* secureConnectionFailureKind(CURLcode code, long verifyResult) {
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        switch (verifyResult) {
        case X509_V_OK:
            return "host_name_mismatch"; // the chain was trusted, the name was not on it
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return "untrusted_certificate";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "certificate_expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "certificate_not_yet_valid";
        case X509_V_ERR_CERT_REVOKED:
            return "certificate_revoked";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "host_name_mismatch";
        default:
            return "certificate_invalid";
        }
    }
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
        return "handshake_failed";
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
        return "trust_store_unreadable";
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return "pinned_key_mismatch";
    case CURLE_SSL_INVALIDCERTSTATUS:
        return "certificate_status_invalid";
    default:
        return "tls_error";
    }
}

// One error line per failed TLS connection: the kind, the verification code and the origin, so
// that an untrusted private authority is told apart from a provider that is down.
void logSecureConnectionFailure(const CurlLibrary& curl, CURL* easy, CURLcode code,
                                std::string_view url) {
    long verifyResult = X509_V_OK;
    curl.easyGetinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    Logger("com.quorvel.desktop", "IdentityProvider")
        .error("tls result=failed kind=%{public}s verify_code=%{public}ld origin=%{public}s",
               {std::string_view(secureConnectionFailureKind(code, verifyResult)),
                static_cast<std::int64_t>(verifyResult), std::string_view(originOf(url))});
}

} // namespace

struct CurlURLSession::Engine {
    struct Transfer {
        HTTPRequest request;
        HTTPCompletion completion;
        const CurlLibrary* curl = nullptr; // set with the easy handle
        CURL* easy = nullptr;
        curl_slist* headerList = nullptr;
        curl_slist* resolveList = nullptr;
        HTTPResponse response;
        std::size_t headerBytes = 0;
        std::size_t maxBody = 0;
        std::size_t maxHeaders = 0;
        bool tooLarge = false;
        char errorText[CURL_ERROR_SIZE] = {};

        ~Transfer() {
            if (!curl)
                return;
            if (easy)
                curl->easyCleanup(easy);
            curl->slistFreeAll(headerList);
            curl->slistFreeAll(resolveList);
        }
    };

    Configuration configuration;
    std::vector<Certificate> extraCertificates;
    // Loaded by the worker, which the first request starts; set once, before `multi`.
    const CurlLibrary* curl = nullptr;
    CURLM* multi = nullptr; // guarded by `mutex` until the worker ends
    std::mutex mutex;
    bool started = false;     // the worker was started
    bool unavailable = false; // the HTTPS client could not be loaded
    std::deque<std::unique_ptr<Transfer>> incoming;
    std::list<std::unique_ptr<Transfer>> active; // worker thread only
    std::atomic<std::size_t> activeCount{0};
    bool stopping = false;
    std::thread worker;
    SerialQueue completions{SIZE_MAX, std::chrono::seconds(10)};

    void deliver(std::unique_ptr<Transfer> transfer, HTTPResult result) {
        auto completion = std::move(transfer->completion);
        transfer.reset();
        deliver(std::move(completion), std::move(result));
    }

    void deliver(HTTPCompletion completion, HTTPResult result) {
        auto shared = std::make_shared<HTTPResult>(std::move(result));
        if (!completions.async([completion = std::move(completion), shared]() mutable {
                completion(std::move(*shared));
            })) {
            // Only when no thread can be started at all; answering here is the last resort.
            completion(std::move(*shared));
        }
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* context) {
        auto* transfer = static_cast<Transfer*>(context);
        std::size_t length = size * count;
        auto& body = transfer->response.body;
        // The limit is the session's; a body above it is never kept.
        if (body.size() + length > transfer->maxBody) {
            transfer->tooLarge = true;
            return 0;
        }
        body.append(data, length);
        return length;
    }

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* context) {
        auto* transfer = static_cast<Transfer*>(context);
        std::size_t length = size * count;
        transfer->headerBytes += length;
        if (transfer->headerBytes > transfer->maxHeaders) {
            transfer->tooLarge = true;
            return 0;
        }
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            // A new status line (after an interim answer): only the final answer's headers count.
            transfer->response.headers.clear();
            return length;
        }
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return length;
        std::string name = lowerCased(std::string(line.substr(0, colon)));
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        transfer->response.headers.emplace_back(std::move(name), std::string(value));
        return length;
    }

    static CURLcode onSSLContext(CURL*, void* sslContext, void* context) {
        auto* engine = static_cast<Engine*>(context);
        X509_STORE* store =
            engine->curl->tlsContextCertificateStore(static_cast<SSL_CTX*>(sslContext));
        for (const auto& certificate : engine->extraCertificates) {
            // A duplicate is not an error.
            CryptoLibrary::load()->certificateStoreAdd(store, certificate.get());
        }
        return CURLE_OK;
    }

    // Prepares the easy handle; false when curl refused a setting.
    bool configure(Transfer& transfer) {
        CURL* easy = curl->easyInit();
        if (!easy)
            return false;
        transfer.curl = curl;
        transfer.easy = easy;
        const auto& request = transfer.request;
        bool ok = true;
        auto set = [&](CURLcode code) { ok = ok && code == CURLE_OK; };
        set(curl->easySetopt(easy, CURLOPT_URL, request.url.c_str()));
        set(curl->easySetopt(easy, CURLOPT_PROTOCOLS_STR, "https"));
        set(curl->easySetopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https"));
        set(curl->easySetopt(easy, CURLOPT_FOLLOWLOCATION, 0L));
        set(curl->easySetopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
        set(curl->easySetopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
        set(curl->easySetopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
        set(curl->easySetopt(easy, CURLOPT_NOSIGNAL, 1L));
        set(curl->easySetopt(easy, CURLOPT_TIMEOUT_MS,
                             static_cast<long>(configuration.timeoutSeconds * 1000.0)));
        set(curl->easySetopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                             static_cast<long>(configuration.connectTimeoutSeconds * 1000.0)));
        set(curl->easySetopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(configuration.maxResponseBytes)));
        set(curl->easySetopt(easy, CURLOPT_WRITEFUNCTION, &Engine::onBody));
        set(curl->easySetopt(easy, CURLOPT_WRITEDATA, &transfer));
        set(curl->easySetopt(easy, CURLOPT_HEADERFUNCTION, &Engine::onHeader));
        set(curl->easySetopt(easy, CURLOPT_HEADERDATA, &transfer));
        set(curl->easySetopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText));
        set(curl->easySetopt(easy, CURLOPT_PRIVATE, &transfer));
        set(curl->easySetopt(easy, CURLOPT_USERAGENT, "Quorvel-ShellBridge"));
        if (!extraCertificates.empty()) {
            set(curl->easySetopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Engine::onSSLContext));
            set(curl->easySetopt(easy, CURLOPT_SSL_CTX_DATA, this));
        }
        for (const auto& entry : configuration.resolve) {
            transfer.resolveList = curl->slistAppend(transfer.resolveList, entry.c_str());
        }
        if (transfer.resolveList)
            set(curl->easySetopt(easy, CURLOPT_RESOLVE, transfer.resolveList));
        // No "Expect: 100-continue" round trip for small bodies.
        transfer.headerList = curl->slistAppend(transfer.headerList, "Expect:");
        for (const auto& [name, value] : request.headers) {
            std::string line = name + ": " + value;
            transfer.headerList = curl->slistAppend(transfer.headerList, line.c_str());
        }
        set(curl->easySetopt(easy, CURLOPT_HTTPHEADER, transfer.headerList));
        if (request.method != "GET") {
            // libcurl sends a request again on its own when a reused connection closes before
            // any answer. A token request must never go out twice (a second use of a code or a
            // refresh token may revoke the grant), so it gets a connection of its own.
            set(curl->easySetopt(easy, CURLOPT_FRESH_CONNECT, 1L));
            set(curl->easySetopt(easy, CURLOPT_FORBID_REUSE, 1L));
        }
        if (request.method == "POST") {
            set(curl->easySetopt(easy, CURLOPT_POST, 1L));
            set(curl->easySetopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(request.body.size())));
            set(curl->easySetopt(easy, CURLOPT_POSTFIELDS, request.body.data()));
        } else if (request.method != "GET") {
            set(curl->easySetopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str()));
            if (!request.body.empty()) {
                set(curl->easySetopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                     static_cast<curl_off_t>(request.body.size())));
                set(curl->easySetopt(easy, CURLOPT_POSTFIELDS, request.body.data()));
            }
        }
        return ok;
    }

    void finish(CURL* easy, CURLcode code) {
        Transfer* raw = nullptr;
        curl->easyGetinfo(easy, CURLINFO_PRIVATE, &raw);
        curl->multiRemoveHandle(multi, easy);
        auto found = std::find_if(active.begin(), active.end(),
                                  [&](const auto& transfer) { return transfer.get() == raw; });
        if (found == active.end())
            return;
        std::unique_ptr<Transfer> transfer = std::move(*found);
        active.erase(found);
        activeCount = active.size();
        if (code == CURLE_OK) {
            long status = 0;
            curl->easyGetinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            HTTPResponse response = std::move(transfer->response);
            response.statusCode = status;
            deliver(std::move(transfer), std::move(response));
            return;
        }
        URLError::Code kind =
            transfer->tooLarge ? URLError::Code::dataLengthExceedsMaximum : urlErrorCode(code);
        if (kind == URLError::Code::secureConnectionFailed)
            logSecureConnectionFailure(*curl, easy, code, transfer->request.url);
        std::string detail =
            transfer->errorText[0] ? transfer->errorText : curl->easyStrerror(code);
        deliver(std::move(transfer), unexpected(URLError(kind, detail)));
    }

    // Loads the HTTPS client and makes the transfer set; false (every waiting request answered)
    // when it cannot be loaded.
    bool start() {
        const CurlLibrary* loaded = CurlLibrary::load();
        CURLM* made = loaded ? loaded->multiInit() : nullptr;
        if (made)
            loaded->multiSetopt(made, CURLMOPT_MAX_TOTAL_CONNECTIONS, 8L);
        std::deque<std::unique_ptr<Transfer>> refused;
        {
            std::lock_guard lock(mutex);
            curl = made ? loaded : nullptr;
            multi = made;
            if (!made) {
                unavailable = true;
                refused.swap(incoming);
            }
        }
        for (auto& transfer : refused)
            deliver(std::move(transfer), unavailableError());
        return made != nullptr;
    }

    static HTTPResult unavailableError() {
        return unexpected(
            URLError(URLError::Code::unknown, "the HTTPS client (libcurl) could not be loaded"));
    }

    void run() {
        if (!start())
            return;
        for (;;) {
            std::deque<std::unique_ptr<Transfer>> starting;
            {
                std::lock_guard lock(mutex);
                if (stopping)
                    break;
                starting.swap(incoming);
            }
            for (auto& transfer : starting) {
                if (!configure(*transfer) ||
                    curl->multiAddHandle(multi, transfer->easy) != CURLM_OK) {
                    deliver(std::move(transfer),
                            unexpected(URLError(URLError::Code::unknown,
                                                "the request could not be prepared")));
                    continue;
                }
                active.push_back(std::move(transfer));
            }
            activeCount = active.size();
            int running = 0;
            curl->multiPerform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl->multiInfoRead(multi, &queued)) {
                if (message->msg == CURLMSG_DONE)
                    finish(message->easy_handle, message->data.result);
            }
            curl->multiPoll(multi, nullptr, 0, active.empty() ? 60000 : 1000, nullptr);
        }
        // Ending: every request still held is answered, none is left without its completion.
        for (auto& transfer : active) {
            curl->multiRemoveHandle(multi, transfer->easy);
            deliver(std::move(transfer),
                    unexpected(URLError(URLError::Code::cancelled, "the session ended")));
        }
        active.clear();
        std::deque<std::unique_ptr<Transfer>> left;
        {
            std::lock_guard lock(mutex);
            left.swap(incoming);
        }
        for (auto& transfer : left) {
            deliver(std::move(transfer),
                    unexpected(URLError(URLError::Code::cancelled, "the session ended")));
        }
        // TLS keeps per-thread state in OpenSSL; release it before the thread ends.
        CryptoLibrary::releaseThreadState();
    }
};

CurlURLSession::CurlURLSession(Configuration configuration) : engine_(std::make_shared<Engine>()) {
    engine_->configuration = std::move(configuration);
    if (engine_->configuration.extraCAFile) {
        engine_->extraCertificates = readCertificates(*engine_->configuration.extraCAFile);
        if (engine_->extraCertificates.empty()) {
            // Requests still go out, verified against the system's authorities only; a provider
            // that needs the missing authority then fails with a secure-connection error.
            Logger("com.quorvel.desktop", "IdentityProvider")
                .error("extra_ca_file result=unreadable path=%{public}s",
                       {std::string_view(*engine_->configuration.extraCAFile)});
        }
    }
}

CurlURLSession::~CurlURLSession() {
    {
        std::lock_guard lock(engine_->mutex);
        engine_->stopping = true;
        // A worker still loading the client sees `stopping` before it first waits.
        if (engine_->multi)
            engine_->curl->multiWakeup(engine_->multi);
    }
    if (engine_->worker.joinable()) {
        if (engine_->worker.get_id() == std::this_thread::get_id()) {
            engine_->worker.detach(); // cannot happen: completions never run on the worker
            return;
        }
        engine_->worker.join();
    }
    if (engine_->multi)
        engine_->curl->multiCleanup(engine_->multi);
}

void CurlURLSession::send(HTTPRequest request, HTTPCompletion completion) {
    if (!startsWithHttps(request.url)) {
        engine_->deliver(std::move(completion),
                         unexpected(URLError(URLError::Code::badURL, "only https URLs are sent")));
        return;
    }
    if (!std::all_of(request.headers.begin(), request.headers.end(), isSafeHeader)) {
        engine_->deliver(
            std::move(completion),
            unexpected(URLError(URLError::Code::badURL, "a request header is malformed")));
        return;
    }
    auto transfer = std::make_unique<Engine::Transfer>();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    transfer->maxBody = engine_->configuration.maxResponseBytes;
    transfer->maxHeaders = engine_->configuration.maxHeaderBytes;
    {
        std::lock_guard lock(engine_->mutex);
        bool full = engine_->incoming.size() + engine_->activeCount >=
                    engine_->configuration.maxPendingRequests;
        if (engine_->unavailable) {
            engine_->deliver(std::move(transfer), Engine::unavailableError());
            return;
        }
        if (engine_->stopping || full) {
            auto code = full ? URLError::Code::tooManyRequests : URLError::Code::cancelled;
            engine_->deliver(std::move(transfer),
                             unexpected(URLError(code, "the request was not queued")));
            return;
        }
        engine_->incoming.push_back(std::move(transfer));
        if (engine_->multi) {
            engine_->curl->multiWakeup(engine_->multi);
        } else if (!engine_->started) {
            // The first request: the worker loads the HTTPS client, off the caller's thread, and
            // then takes every request queued meanwhile.
            engine_->started = true;
            engine_->worker = std::thread([engine = engine_.get()] { engine->run(); });
        }
    }
}

CurlURLSession::Configuration CurlURLSession::configurationFromEnvironment() {
    Configuration configuration;
    if (const char* path = std::getenv(extraCAFileVariable); path && *path) {
        configuration.extraCAFile = std::string(path);
    }
    return configuration;
}

std::shared_ptr<URLSession> URLSession::shared() {
    // Made on first use and kept for the life of the process.
    static auto* session = new std::shared_ptr<URLSession>(
        std::make_shared<CurlURLSession>(CurlURLSession::configurationFromEnvironment()));
    return *session;
}

} // namespace quorvel::idp
