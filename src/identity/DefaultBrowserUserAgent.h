#pragma once

#include "base/MainLoop.h"
#include "identity/OneShotCallback.h"
#include "idp/WebAuthUserAgent.h"

#include <functional>
#include <memory>
#include <string>

namespace quorvel {

// Shows the authorize URL to the user: true when the URL was handed to the browser. Runs on the
// main thread.
using BrowserOpener = std::function<bool(const std::string& url)>;

// The user agent that hands the authorize URL to the default browser through an opener. The sign-in
// then waits for the callback URL, which the desktop delivers to the host app and the identity
// owner passes on to the client; this agent only reports a browser that could not be opened, and
// whatever the client ends the transaction with.
class DefaultBrowserUserAgent final : public idp::WebAuthUserAgent,
                                      public std::enable_shared_from_this<DefaultBrowserUserAgent> {
public:
    // Returns at once; the opener runs later on the main thread. An opener that returns false ends
    // the flow with the client's generic failure.
    void start() override;
    // Called by the client when the transaction ends.
    void finish(idp::WebAuthUserAgentResult result) override;

    const std::string& authorizeURL() const { return authorizeURL_; }
    std::string description() const { return "default browser"; }

private:
    friend idp::WebAuthProvider defaultBrowserProvider(BrowserOpener opener,
                                                       std::shared_ptr<MainLoop> loop);
    DefaultBrowserUserAgent(std::string authorizeURL, BrowserOpener opener,
                            std::shared_ptr<OneShotCallback> callback,
                            std::shared_ptr<MainLoop> loop);

    std::string authorizeURL_;
    BrowserOpener opener_;
    std::shared_ptr<OneShotCallback> callback_;
    std::shared_ptr<MainLoop> loop_;
};

// The factory the client's provider setting takes: for each authorize URL and completion, a new
// default-browser agent around the opener, completing through a new one-shot callback. The opener
// runs on `loop`'s main thread.
idp::WebAuthProvider
defaultBrowserProvider(BrowserOpener opener,
                       std::shared_ptr<MainLoop> loop = MainLoop::sharedPointer());

} // namespace quorvel
