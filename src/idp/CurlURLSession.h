#pragma once

#include "idp/URLSession.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::idp {

// The URL session over libcurl. Only https is spoken; the peer's certificate and host name are
// always verified (against the system's certificate authorities, plus an optional extra CA file),
// redirects are never followed, every request has a time limit, and answers are size-limited.
// Requests run on one worker thread of the session (curl multi); completions run in order on a
// second thread, so a slow completion never stalls a transfer.
class CurlURLSession final : public URLSession {
public:
    struct Configuration {
        // PEM file of further certificate authorities to trust, beside the system's.
        std::optional<std::string> extraCAFile;
        // Name overrides in curl's "host:port:address" form (tests point a name at a local server).
        std::vector<std::string> resolve;
        double timeoutSeconds = 20.0;
        double connectTimeoutSeconds = 10.0;
        std::size_t maxResponseBytes = 1024 * 1024;
        std::size_t maxHeaderBytes = 64 * 1024;
        std::size_t maxPendingRequests = 64;
    };

    explicit CurlURLSession(Configuration configuration);
    ~CurlURLSession() override;
    CurlURLSession(const CurlURLSession&) = delete;
    CurlURLSession& operator=(const CurlURLSession&) = delete;

    void send(HTTPRequest request, HTTPCompletion completion) override;

    // The configuration of the shared session: extraCAFile from QUORVEL_IDP_EXTRA_CA_FILE.
    static Configuration configurationFromEnvironment();

    struct Engine;

private:
    std::shared_ptr<Engine> engine_;
};

} // namespace quorvel::idp
