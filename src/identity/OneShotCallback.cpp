#include "identity/OneShotCallback.h"

namespace quorvel {

void OneShotCallback::complete(idp::WebAuthUserAgentResult result) {
    idp::WebAuthUserAgentCallback taken;
    {
        std::lock_guard lock(lock_);
        taken = std::move(callback_);
        callback_ = nullptr;
    }
    if (taken)
        taken(std::move(result));
}

} // namespace quorvel
