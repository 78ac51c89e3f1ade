#include "identity/NativeIdentityOwner.h"

#include "identity/BrowserLoginRedirect.h"
#include "identity/ContinuousDeadline.h"
#include "identity/DefaultBrowserUserAgent.h"
#include "identity/IdentityHop.h"
#include "idp/Authentication.h"
#include "idp/URLError.h"
#include "idp/WebAuth.h"

#include <mutex>

namespace quorvel {

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<NativeIdentityOwner>& sharedSlot() {
    static std::shared_ptr<NativeIdentityOwner> owner;
    return owner;
}

using LoginResult = Expected<idp::Credentials, idp::WebAuthError>;

} // namespace

NativeIdentityOwner::NativeIdentityOwner(std::shared_ptr<IdentityPlatform> platform,
                                         std::shared_ptr<MainLoop> loop)
    : platform_(std::move(platform)), loop_(std::move(loop)),
      loginCompletion_(std::make_shared<LoginCompletionSlot>()) {}

std::shared_ptr<NativeIdentityOwner>
NativeIdentityOwner::make(std::shared_ptr<IdentityPlatform> platform,
                          std::shared_ptr<MainLoop> loop) {
    return std::shared_ptr<NativeIdentityOwner>(
        new NativeIdentityOwner(std::move(platform), std::move(loop)));
}

std::shared_ptr<NativeIdentityOwner> NativeIdentityOwner::shared() {
    std::lock_guard lock(sharedMutex());
    auto& owner = sharedSlot();
    if (!owner)
        owner = make(makeSystemIdentityPlatform(), MainLoop::sharedPointer());
    return owner;
}

void NativeIdentityOwner::setShared(std::shared_ptr<NativeIdentityOwner> owner) {
    std::lock_guard lock(sharedMutex());
    sharedSlot() = std::move(owner);
}

std::int32_t NativeIdentityOwner::configure(const IdentityConfiguration& configuration) {
    if (configuration_)
        return *configuration_ == configuration ? 0 : -2;
    auto authentication =
        idp::authentication(configuration.clientID, configuration.domain, platform_->urlSession());
    credentialsManager_ = idp::CredentialsManager::make(
        std::move(authentication), identity::credentialsStoreKey, identity::dpopThumbprintKey,
        platform_->credentialStore(identity::keychainService));
    configuration_ = configuration;
    return 0;
}

std::int32_t NativeIdentityOwner::beginLogin(Completion completion) {
    identityHop("owner_begin_login_entered");
    if (!configuration_ || !credentialsManager_)
        return -1;
    if (loginCompletion_->completion)
        return -3;

    std::uint64_t generation = ++loginCompletion_->generation;
    loginCompletion_->completion = std::move(completion);
    browserWaitExpired_ = false;
    callbackRefused_ = false;
    browserCallback_ = {};

    const IdentityConfiguration& configuration = *configuration_;
    idp::Parameters parameters;
    // A redirect page other than the native callback passes the response on in the fragment.
    if (configuration.browserCallbackURL != configuration.callbackURL)
        parameters.emplace_back("response_mode", "fragment");

    std::weak_ptr<NativeIdentityOwner> weak = weak_from_this();
    std::weak_ptr<MainLoop> weakLoop = loop_;
    auto opener = [weak, generation](const std::string& url) {
        auto self = weak.lock();
        return self && self->openBrowser(generation, url);
    };
    idp::webAuth(configuration.clientID, configuration.domain, platform_->urlSession())
        .redirectURL(configuration.browserCallbackURL)
        .parameters(std::move(parameters))
        .issuer(configuration.issuer)
        .audience(configuration.audience)
        .scope(identity::requestedScope)
        .provider(defaultBrowserProvider(std::move(opener), loop_))
        .useCredentialsManager(credentialsManager_)
        .start([weak, weakLoop, generation](LoginResult result) {
            // Delivered on a thread of the client; everything of the owner lives on the main one.
            auto loop = weakLoop.lock();
            if (!loop)
                return;
            auto shared = std::make_shared<LoginResult>(std::move(result));
            loop->post([weak, generation, shared] {
                if (auto self = weak.lock())
                    self->handleResult(generation, *shared);
            });
        });

    browserWait_ = scheduleContinuousDeadline(
        loop_, [platform = platform_] { return platform->continuousTime(); }, browserWaitSeconds,
        [weak, generation] {
            if (auto self = weak.lock())
                self->expireBrowserWait(generation);
        });
    return 1;
}

bool NativeIdentityOwner::isCurrent(std::uint64_t generation) const {
    return loginCompletion_->completion && loginCompletion_->generation == generation;
}

bool NativeIdentityOwner::openBrowser(std::uint64_t generation, const std::string& authorizeURL) {
    if (!isCurrent(generation))
        return false;
    browserCallback_.pendingState = BrowserCallbackCorrelation::state(authorizeURL);
    browserCallback_.pendingAuthorizeURL = authorizeURL;
    return platform_->openURL(authorizeURL);
}

void NativeIdentityOwner::handleResult(std::uint64_t generation, const LoginResult& result) {
    if (!isCurrent(generation))
        return;
    LoginOutcome outcome;
    const char* hop;
    if (result) {
        outcome = LoginOutcome::succeeded;
        hop = "webauth_result_success";
    } else if (result.error().kind() == idp::WebAuthError::Kind::userCancelled &&
               callbackRefused_) {
        outcome = LoginOutcome::failed;
        hop = "webauth_result_failure";
    } else if (result.error().kind() == idp::WebAuthError::Kind::userCancelled) {
        outcome = browserWaitExpired_ ? LoginOutcome::timedOut : LoginOutcome::cancelled;
        hop = browserWaitExpired_ ? "webauth_result_timed_out" : "webauth_result_cancelled";
    } else {
        switch (loginOutcome(result.error().cause()).value_or(LoginOutcome::failed)) {
        case LoginOutcome::unreachable:
            outcome = LoginOutcome::unreachable;
            hop = "webauth_result_unreachable";
            break;
        case LoginOutcome::cancelled:
            outcome = LoginOutcome::cancelled;
            hop = "webauth_result_cancelled";
            break;
        default:
            outcome = LoginOutcome::failed;
            hop = "webauth_result_failure";
            break;
        }
    }
    identityHop(hop);
    browserWait_.reset();
    browserCallback_ = {};
    auto completion = std::move(loginCompletion_->completion);
    loginCompletion_->completion = nullptr;
    if (completion)
        completion(outcome);
}

void NativeIdentityOwner::expireBrowserWait(std::uint64_t generation) {
    if (!isCurrent(generation))
        return;
    browserCallback_ = {};
    browserWaitExpired_ = true;
    // The client answers with the user-cancelled error, which the result handler reports as
    // timed out.
    idp::WebAuthentication::cancel();
}

std::int32_t NativeIdentityOwner::reopenBrowser() {
    identityHop("owner_reopen_browser_entered");
    if (!configuration_)
        return -1;
    if (!loginCompletion_->completion || !browserCallback_.pendingAuthorizeURL)
        return -3;
    return platform_->openURL(*browserCallback_.pendingAuthorizeURL) ? 1 : -10;
}

std::int32_t NativeIdentityOwner::resumeLogin(const std::string& url) {
    if (!configuration_)
        return -1;
    if (!isIdentityCallback(url, configuration_->callbackURL))
        return -4;
    if (!browserCallback_.pendingState)
        return 0;
    auto state = BrowserCallbackCorrelation::state(url);
    if (!state || *state != *browserCallback_.pendingState)
        return 0;
    browserCallback_ = {};
    if (!idp::WebAuthentication::resume(url)) {
        // The browser came back with this login's state, but with a response the client cannot
        // read: nobody will bring another one, so the login fails now instead of at the end of
        // the browser wait.
        callbackRefused_ = true;
        idp::WebAuthentication::cancel();
        return 0;
    }
    browserWait_.reset();
    return 1;
}

std::optional<LoginOutcome> NativeIdentityOwner::loginOutcome(const idp::ErrorPointer& cause) {
    if (!cause)
        return std::nullopt;
    if (const auto* authentication = idp::errorAs<idp::AuthenticationError>(cause)) {
        if (renewalNeverReachedAVerdict(*authentication))
            return LoginOutcome::unreachable;
        if (authentication->code() == "access_denied")
            return LoginOutcome::cancelled;
        return std::nullopt;
    }
    if (idp::errorAs<idp::URLError>(cause))
        return LoginOutcome::unreachable;
    return std::nullopt;
}

bool NativeIdentityOwner::renewalNeverReachedAVerdict(const idp::AuthenticationError& error) {
    long status = error.statusCode();
    return idp::errorAs<idp::URLError>(error.cause()) != nullptr || status == 429 ||
           (status >= 500 && status <= 599);
}

bool NativeIdentityOwner::renewalNeverReachedAVerdict(const idp::CredentialsManagerError& error) {
    if (error.kind() != idp::CredentialsManagerError::Kind::renewFailed)
        return false;
    const auto* cause = idp::errorAs<idp::AuthenticationError>(error.cause());
    return cause && renewalNeverReachedAVerdict(*cause);
}

} // namespace quorvel
