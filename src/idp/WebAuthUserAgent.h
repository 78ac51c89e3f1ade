#pragma once

#include "base/Expected.h"
#include "idp/WebAuthError.h"

#include <functional>
#include <memory>
#include <string>

namespace quorvel::idp {

// The completion a user agent reports to the client: success without a value, or an error.
using WebAuthUserAgentResult = Expected<void, WebAuthError>;
using WebAuthUserAgentCallback = std::function<void(WebAuthUserAgentResult)>;

// What shows the authorize URL to the user (an external browser, a test's scripted agent). The
// client keeps the agent for the length of the transaction, calls start() once, and calls
// finish() when the transaction ends (a callback URL accepted, a cancellation, an error). The
// agent reports through its completion exactly once: with an error when it could not show the
// page (then the transaction fails with that error), or with whatever finish() hands it.
class WebAuthUserAgent {
public:
    virtual ~WebAuthUserAgent() = default;
    virtual void start() = 0;
    virtual void finish(WebAuthUserAgentResult result) = 0;
};

// Makes the user agent for an authorize URL and the completion it must report to.
using WebAuthProvider = std::function<std::shared_ptr<WebAuthUserAgent>(
    const std::string& authorizeURL, WebAuthUserAgentCallback completion)>;

} // namespace quorvel::idp
