#pragma once

#include "idp/WebAuthUserAgent.h"

#include <mutex>

namespace quorvel {

// The completion of a user agent, made to fire at most once: the first result reaches the client,
// every later one finds nothing and is dropped. Safe from any thread; the completion runs outside
// the lock, so it may call back into whoever completed it.
class OneShotCallback {
public:
    explicit OneShotCallback(idp::WebAuthUserAgentCallback callback)
        : callback_(std::move(callback)) {}

    void complete(idp::WebAuthUserAgentResult result);

private:
    std::mutex lock_;
    idp::WebAuthUserAgentCallback callback_;
};

} // namespace quorvel
