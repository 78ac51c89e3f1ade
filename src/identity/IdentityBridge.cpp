// The identity C functions. Each turns its C arguments into validated values, runs the identity
// owner's operation on the main thread (in place there, else blocking the caller until the main
// thread has run it) and reduces the result to a code. The token copy is the exception: it must
// be called off the main thread, and waits a bounded time for the main thread and the credentials
// manager.
#include "identity/IdentityBridge.h"

#include "identity/CStringText.h"
#include "identity/IdentityHop.h"
#include "identity/NativeIdentityOwner.h"
#include "identity/ParsedURL.h"
#include "quorvel_shell_bridge.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <vector>

namespace quorvel::identitybridge {

namespace {

std::atomic<std::int64_t> tokenCopyWaitOverride{-1};

std::chrono::milliseconds currentTokenCopyWait() {
    auto overridden = tokenCopyWaitOverride.load();
    return overridden >= 0 ? std::chrono::milliseconds(overridden) : tokenCopyWait;
}

// Runs an owner operation on the main thread and returns its result.
template <class F> auto onMain(const std::shared_ptr<NativeIdentityOwner>& owner, F&& operation) {
    MainLoop& loop = *owner->loop();
    if (loop.isMainThread()) {
        identityHop("on_main_assume_isolated");
        return operation();
    }
    identityHop("on_main_dispatch_sync");
    return loop.invokeSyncResult(std::forward<F>(operation));
}

// What a login remembers of its C caller.
struct LoginSink {
    quorvel_identity_login_callback callback;
    void* context;
};

// The answer of one token copy, shared between the waiting caller and the credentials callback.
struct LockedTokenResult {
    std::mutex lock;
    std::optional<std::vector<std::uint8_t>> bytes;
    bool unreachable = false;
};

// One token copy in flight: its result, whether identity was configured, the signal the caller
// waits for, and whether the caller has stopped waiting.
struct TokenCopy {
    LockedTokenResult result;
    std::atomic<bool> configured{true};
    std::atomic<bool> abandoned{false};
    std::binary_semaphore answered{0};
};

using TokenAnswer = Expected<idp::Credentials, idp::CredentialsManagerError>;

// On the main thread: asks the credentials manager for a token valid for at least a minute; its
// answer is moved back to the main thread, recorded, and signalled to the caller.
void requestToken(const std::shared_ptr<NativeIdentityOwner>& owner,
                  const std::shared_ptr<TokenCopy>& copy) {
    if (copy->abandoned.load())
        return; // nobody reads the answer any more
    auto manager = owner->credentialsManager();
    if (!manager) {
        copy->configured.store(false);
        copy->answered.release();
        return;
    }
    std::weak_ptr<MainLoop> weakLoop = owner->loop();
    manager->credentials(
        std::nullopt, tokenCopyMinTTL, {}, {}, [copy, weakLoop](TokenAnswer answer) {
            auto loop = weakLoop.lock();
            if (!loop)
                return;
            auto shared = std::make_shared<TokenAnswer>(std::move(answer));
            loop->post([copy, shared] {
                {
                    std::lock_guard lock(copy->result.lock);
                    if (*shared) {
                        const std::string& token = (*shared)->accessToken;
                        copy->result.bytes.emplace(token.begin(), token.end());
                    } else if (NativeIdentityOwner::renewalNeverReachedAVerdict(shared->error())) {
                        copy->result.unreachable = true;
                    }
                }
                copy->answered.release();
            });
        });
}

} // namespace

void setTokenCopyWaitForTesting(std::optional<std::chrono::milliseconds> wait) {
    tokenCopyWaitOverride.store(wait ? wait->count() : -1);
}

} // namespace quorvel::identitybridge

using namespace quorvel;
using namespace quorvel::identitybridge;

extern "C" {

int32_t quorvel_identity_configure(const char* issuer, const char* client_id, const char* audience,
                                   const char* callback) {
    auto issuerText = cStringText(issuer, maxSettingLength);
    auto clientIDText = cStringText(client_id, maxSettingLength);
    auto audienceText = cStringText(audience, maxSettingLength);
    auto callbackText = cStringText(callback, maxSettingLength);
    for (const auto* text : {&issuerText, &clientIDText, &audienceText, &callbackText}) {
        if (!*text || (*text)->empty())
            return -4;
    }
    auto owner = NativeIdentityOwner::shared();
    auto configuration =
        IdentityConfiguration::make(*issuerText, *clientIDText, *audienceText, *callbackText,
                                    owner->platform()->browserCallbackSetting());
    if (!configuration)
        return -4;
    return onMain(owner, [&] { return owner->configure(*configuration); });
}

int32_t quorvel_identity_begin_login(quorvel_identity_login_callback callback, void* context) {
    identityHop("cdecl_begin_login_entered");
    int32_t code = -4;
    // Without a callback the outcome could not be delivered: refused as an invalid argument.
    if (callback) {
        auto owner = NativeIdentityOwner::shared();
        LoginSink sink{callback, context};
        code = onMain(owner, [&] {
            return owner->beginLogin(
                [sink](LoginOutcome outcome) { sink.callback(rawValue(outcome), sink.context); });
        });
    }
    identityHop("cdecl_begin_login_returning");
    return code;
}

int32_t quorvel_identity_reopen_browser(void) {
    identityHop("cdecl_reopen_browser_entered");
    auto owner = NativeIdentityOwner::shared();
    return onMain(owner, [&] { return owner->reopenBrowser(); });
}

int32_t quorvel_identity_resume_login(const char* url) {
    auto text = cStringText(url, maxCallbackURLLength);
    if (!text || text->empty() || !ParsedURL::parse(*text))
        return -4;
    auto owner = NativeIdentityOwner::shared();
    return onMain(owner, [&] { return owner->resumeLogin(*text); });
}

int32_t quorvel_identity_sign_out(void) {
    identityHop("cdecl_sign_out_entered");
    auto owner = NativeIdentityOwner::shared();
    auto manager = onMain(owner, [&] {
        identityHop("owner_sign_out_entered");
        return owner->credentialsManager();
    });
    if (!manager)
        return 0;
    // Clearing waits on the keyring; on the caller's thread it never holds up the main thread of
    // a caller that is not on it.
    return manager->clear() ? 0 : -1;
}

int32_t quorvel_identity_copy_access_token(char* buffer, intptr_t capacity) {
    auto owner = NativeIdentityOwner::shared();
    if (owner->loop()->isMainThread())
        return -5;
    if (!buffer || capacity < 1 || capacity > maxTokenCapacity)
        return -4;

    // The whole exchange with the main thread, fetching the credentials manager included, is
    // bounded by the wait: a main thread that stays busy gives -6, not a caller blocked for good.
    auto copy = std::make_shared<TokenCopy>();
    identityHop("on_main_dispatch_sync");
    owner->loop()->post([owner, copy] { requestToken(owner, copy); });
    if (!copy->answered.try_acquire_for(currentTokenCopyWait())) {
        copy->abandoned.store(true);
        return -6;
    }
    if (!copy->configured.load())
        return -1;

    std::lock_guard lock(copy->result.lock);
    if (copy->result.unreachable)
        return -9;
    if (!copy->result.bytes || copy->result.bytes->empty())
        return -7;
    const auto& bytes = *copy->result.bytes;
    if (bytes.size() > static_cast<std::size_t>(capacity))
        return -8;
    std::memcpy(buffer, bytes.data(), bytes.size());
    return static_cast<int32_t>(bytes.size());
}

} // extern "C"
