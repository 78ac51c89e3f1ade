#pragma once

#include "base/MainLoop.h"
#include "identity/BrowserCallbackCorrelation.h"
#include "identity/IdentityConfiguration.h"
#include "identity/IdentityPlatform.h"
#include "identity/LoginOutcome.h"
#include "idp/AuthenticationError.h"
#include "idp/Credentials.h"
#include "idp/CredentialsManager.h"
#include "idp/CredentialsManagerError.h"
#include "idp/WebAuthError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// The process's native identity: the configuration, the credentials manager made with it, and
// at most one login at a time through the default browser. Every operation runs on the main
// thread (the C functions hop there); results of the identity provider client, which arrive on
// its own threads, are moved to the main thread before they touch anything. Callbacks that the
// client keeps hold the owner weakly and carry the generation of their login, so that a late
// callback of an earlier login never completes a later one.
class NativeIdentityOwner : public std::enable_shared_from_this<NativeIdentityOwner> {
public:
    using Completion = std::function<void(LoginOutcome)>;

    // How long a login waits for someone to come back from the browser, on a clock that keeps
    // counting while the machine sleeps.
    static constexpr double browserWaitSeconds = 300.0;

    static std::shared_ptr<NativeIdentityOwner> make(std::shared_ptr<IdentityPlatform> platform,
                                                     std::shared_ptr<MainLoop> loop);
    // The process-wide owner, created on first use (with the system platform) and kept for the
    // life of the process. Any thread.
    static std::shared_ptr<NativeIdentityOwner> shared();
    // Replaces the process-wide owner (tests only).
    static void setShared(std::shared_ptr<NativeIdentityOwner> owner);

    // 0 configured (or already configured with an equal configuration), -2 already configured
    // with a different one. A configuration stays for the life of the owner.
    std::int32_t configure(const IdentityConfiguration& configuration);
    // 1 started, -1 not configured, -3 a login is already in progress. The completion runs
    // exactly once, on the main thread and never inside this call, for every login that started.
    std::int32_t beginLogin(Completion completion);
    // 1 opened again, -1 not configured, -3 no login waiting for the browser, -10 the browser
    // failed to open.
    std::int32_t reopenBrowser();
    // 1 accepted, 0 not accepted (no login waiting, another state, refused by the client), -1 not
    // configured, -4 not a callback URL of this configuration. A callback with the login's state
    // that the client refuses ends that login at once as failed.
    std::int32_t resumeLogin(const std::string& url);

    // The outcome an error's underlying cause stands for: unreachable for a request that got no
    // verdict, cancelled for an "access_denied" answer; nothing otherwise.
    static std::optional<LoginOutcome> loginOutcome(const idp::ErrorPointer& cause);
    // True when a request never reached a verdict of the identity provider: no HTTP answer at all,
    // 429, or a 5xx status.
    static bool renewalNeverReachedAVerdict(const idp::AuthenticationError& error);
    // True only for a renewal failure caused by such an answer.
    static bool renewalNeverReachedAVerdict(const idp::CredentialsManagerError& error);

    const std::optional<IdentityConfiguration>& configuration() const { return configuration_; }
    const std::shared_ptr<idp::CredentialsManager>& credentialsManager() const {
        return credentialsManager_;
    }
    const std::shared_ptr<IdentityPlatform>& platform() const { return platform_; }
    const std::shared_ptr<MainLoop>& loop() const { return loop_; }
    const BrowserCallbackCorrelation& browserCallback() const { return browserCallback_; }
    bool loginInProgress() const { return static_cast<bool>(loginCompletion_->completion); }

private:
    NativeIdentityOwner(std::shared_ptr<IdentityPlatform> platform, std::shared_ptr<MainLoop> loop);

    bool isCurrent(std::uint64_t generation) const;
    bool openBrowser(std::uint64_t generation, const std::string& authorizeURL);
    void handleResult(std::uint64_t generation,
                      const Expected<idp::Credentials, idp::WebAuthError>& result);
    void expireBrowserWait(std::uint64_t generation);

    std::shared_ptr<IdentityPlatform> platform_;
    std::shared_ptr<MainLoop> loop_;

    std::optional<IdentityConfiguration> configuration_;
    std::shared_ptr<idp::CredentialsManager> credentialsManager_;
    std::shared_ptr<LoginCompletionSlot> loginCompletion_;
    TimerHandle browserWait_;
    bool browserWaitExpired_ = false;
    // Set when the callback of the current login was refused by the client, which then ends the
    // login as failed.
    bool callbackRefused_ = false;
    BrowserCallbackCorrelation browserCallback_;
};

} // namespace quorvel
