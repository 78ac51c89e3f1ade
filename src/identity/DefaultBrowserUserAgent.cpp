#include "identity/DefaultBrowserUserAgent.h"

namespace quorvel {

DefaultBrowserUserAgent::DefaultBrowserUserAgent(std::string authorizeURL, BrowserOpener opener,
                                                 std::shared_ptr<OneShotCallback> callback,
                                                 std::shared_ptr<MainLoop> loop)
    : authorizeURL_(std::move(authorizeURL)), opener_(std::move(opener)),
      callback_(std::move(callback)), loop_(std::move(loop)) {}

void DefaultBrowserUserAgent::start() {
    // The client keeps the agent for the transaction; the task keeps it until the opener has run.
    loop_->post([self = shared_from_this()] {
        bool opened = self->opener_ && self->opener_(self->authorizeURL_);
        if (!opened)
            self->callback_->complete(idp::WebAuthUserAgentResult(
                unexpected(idp::WebAuthError(idp::WebAuthError::Kind::other))));
    });
}

void DefaultBrowserUserAgent::finish(idp::WebAuthUserAgentResult result) {
    callback_->complete(std::move(result));
}

idp::WebAuthProvider defaultBrowserProvider(BrowserOpener opener, std::shared_ptr<MainLoop> loop) {
    return [opener = std::move(opener), loop = std::move(loop)](
               const std::string& authorizeURL, idp::WebAuthUserAgentCallback completion) {
        return std::shared_ptr<idp::WebAuthUserAgent>(new DefaultBrowserUserAgent(
            authorizeURL, opener, std::make_shared<OneShotCallback>(std::move(completion)), loop));
    };
}

} // namespace quorvel
