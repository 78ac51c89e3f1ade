#include "idp/CredentialsManager.h"

#include "idp/IDTokenValidator.h"

#include <cmath>
#include <condition_variable>
#include <set>

namespace quorvel::idp {

namespace {

std::set<std::string> scopeSet(const std::optional<std::string>& scope) {
    std::set<std::string> values;
    if (!scope)
        return values;
    std::size_t start = 0;
    const std::string& text = *scope;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start) {
            std::string value = text.substr(start, end - start);
            if (value != "openid")
                values.insert(std::move(value));
        }
        start = end + 1;
    }
    return values;
}

bool validFor(const Credentials& credentials, std::int64_t minTTL, TimePoint now) {
    return credentials.expiresAt >= now &&
           credentials.expiresAt >= now + std::chrono::seconds(minTTL);
}

} // namespace

bool scopeDiffers(const std::optional<std::string>& requested,
                  const std::optional<std::string>& stored) {
    if (!requested)
        return false;
    return scopeSet(requested) != scopeSet(stored);
}

CredentialsManager::CredentialsManager(std::shared_ptr<Authentication> authentication,
                                       std::string storeKey, std::string dpopThumbprintKey,
                                       std::shared_ptr<CredentialsStorage> storage)
    : authentication_(std::move(authentication)), storeKey_(std::move(storeKey)),
      dpopThumbprintKey_(std::move(dpopThumbprintKey)), storage_(std::move(storage)), queue_(256) {}

std::shared_ptr<CredentialsManager>
CredentialsManager::make(std::shared_ptr<Authentication> authentication, std::string storeKey,
                         std::string dpopThumbprintKey,
                         std::shared_ptr<CredentialsStorage> storage) {
    struct Made : CredentialsManager {
        Made(std::shared_ptr<Authentication> a, std::string s, std::string d,
             std::shared_ptr<CredentialsStorage> st)
            : CredentialsManager(std::move(a), std::move(s), std::move(d), std::move(st)) {}
    };
    return std::make_shared<Made>(std::move(authentication), std::move(storeKey),
                                  std::move(dpopThumbprintKey), std::move(storage));
}

std::uint64_t CredentialsManager::generation() {
    std::lock_guard lock(storeMutex_);
    return generation_;
}

Expected<std::optional<Credentials>, StorageError> CredentialsManager::read() {
    auto data = storage_->getEntry(storeKey_);
    if (!data)
        return unexpected(data.error());
    if (!*data)
        return std::optional<Credentials>();
    // An item this build cannot read counts as no credentials; it is left in place untouched.
    return Credentials::unarchive(**data);
}

Expected<void, StorageError> CredentialsManager::writeLocked(const Credentials& credentials) {
    auto written = storage_->setEntry(credentials.archive(), storeKey_);
    ++generation_;
    if (!written)
        return written;
    // No proof-of-possession key is used: the thumbprint state is "none".
    (void)storage_->deleteEntry(dpopThumbprintKey_);
    return {};
}

bool CredentialsManager::store(const Credentials& credentials) {
    return storeReportingError(credentials).hasValue();
}

Expected<void, CredentialsManagerError>
CredentialsManager::storeReportingError(const Credentials& credentials) {
    std::lock_guard lock(storeMutex_);
    auto written = writeLocked(credentials);
    if (!written) {
        return unexpected(CredentialsManagerError(CredentialsManagerError::Kind::storeFailed,
                                                  makeError(written.error())));
    }
    return {};
}

std::optional<Credentials> CredentialsManager::storedCredentials() {
    auto stored = read();
    if (!stored)
        return std::nullopt;
    return *stored;
}

bool CredentialsManager::hasValid(std::int64_t minTTL) {
    auto stored = storedCredentials();
    return stored && validFor(*stored, minTTL, authentication_->now());
}

bool CredentialsManager::canRenew() {
    auto stored = storedCredentials();
    return stored && stored->refreshToken.has_value();
}

Expected<void, CredentialsManagerError> CredentialsManager::clear() {
    std::lock_guard lock(storeMutex_);
    auto removed = storage_->deleteEntry(storeKey_);
    ++generation_;
    if (!removed) {
        return unexpected(CredentialsManagerError(CredentialsManagerError::Kind::clearFailed,
                                                  makeError(removed.error())));
    }
    (void)storage_->deleteEntry(dpopThumbprintKey_);
    return {};
}

void CredentialsManager::credentials(std::optional<std::string> scope, std::int64_t minTTL,
                                     Parameters parameters, HTTPHeaders headers,
                                     Callback callback) {
    auto shared = std::make_shared<Callback>(std::move(callback));
    bool queued =
        queue_.async([self = shared_from_this(), scope = std::move(scope), minTTL,
                      parameters = std::move(parameters), headers = std::move(headers), shared] {
            auto result = self->obtain(scope, minTTL, parameters, headers);
            (*shared)(std::move(result));
        });
    if (!queued) {
        SerialQueue::immediateAnswers().async([shared] {
            (*shared)(unexpected(CredentialsManagerError(CredentialsManagerError::Kind::unknown)));
        });
    }
}

Expected<Credentials, CredentialsManagerError>
CredentialsManager::obtain(const std::optional<std::string>& scope, std::int64_t minTTL,
                           const Parameters& parameters, const HTTPHeaders& headers) {
    using Kind = CredentialsManagerError::Kind;
    // A store that changes under a renewal makes it start over; a store that keeps changing is
    // not chased for ever.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::uint64_t seen = generation();
        auto stored = read();
        if (!stored)
            return unexpected(
                CredentialsManagerError(Kind::noCredentials, makeError(stored.error())));
        if (!*stored)
            return unexpected(CredentialsManagerError(Kind::noCredentials));
        const Credentials& current = **stored;
        if (validFor(current, minTTL, authentication_->now()) &&
            !scopeDiffers(scope, current.scope)) {
            return current;
        }
        if (!current.refreshToken)
            return unexpected(CredentialsManagerError(Kind::noRefreshToken));

        auto answer = renewAndWait(*current.refreshToken, scope, parameters, headers);
        if (!answer)
            return unexpected(
                CredentialsManagerError(Kind::renewFailed, makeError(answer.error())));
        Credentials renewed = std::move(*answer);
        // A renewed ID token replaces the checked one of the sign-in only after the same checks,
        // and only for the same user of the same issuer.
        if (!renewed.idToken.empty()) {
            auto checked = checkRenewedIDToken(current.idToken, renewed.idToken);
            if (!checked)
                return unexpected(CredentialsManagerError(Kind::renewFailed, checked.error()));
        }
        // A provider that does not rotate refresh tokens leaves them out of the answer, and one
        // may leave out the ID token on renewal: the stored ones remain the user's.
        if (!renewed.refreshToken)
            renewed.refreshToken = current.refreshToken;
        if (renewed.idToken.empty())
            renewed.idToken = current.idToken;

        // In whole seconds, rounded: an answer of "expires_in": 30 read a few milliseconds ago
        // is 30.
        auto lifetime = static_cast<std::int64_t>(std::llround(
            std::chrono::duration<double>(renewed.expiresAt - authentication_->now()).count()));
        {
            std::lock_guard lock(storeMutex_);
            if (generation_ != seen)
                continue;
            // Stored even when too short-lived for this request: a rotated refresh token would
            // otherwise be lost with them.
            auto written = writeLocked(renewed);
            if (!written)
                return unexpected(
                    CredentialsManagerError(Kind::storeFailed, makeError(written.error())));
        }
        if (lifetime < minTTL)
            return unexpected(CredentialsManagerError::largeMinTTL(minTTL, lifetime));
        return renewed;
    }
    return unexpected(CredentialsManagerError(Kind::unknown));
}

Expected<void, ErrorPointer> CredentialsManager::checkRenewedIDToken(const std::string& stored,
                                                                     const std::string& renewed) {
    auto context = renewalValidationContext(stored, authentication_->clientId());
    if (!context)
        return unexpected(makeError(context.error()));
    auto keys = waitForAnswer<JSONWebKeySet>(
        [&](auto done) { authentication_->jwks(std::move(done)); }, "the key set");
    if (!keys)
        return unexpected(makeError(keys.error()));
    auto valid =
        validateIDToken(std::string_view(renewed), *keys, *context, authentication_->now());
    if (!valid)
        return unexpected(makeError(valid.error()));
    return {};
}

template <class Value, class Start>
Expected<Value, AuthenticationError> CredentialsManager::waitForAnswer(Start start,
                                                                       const char* what) {
    struct Rendezvous {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Expected<Value, AuthenticationError>> result;
    };
    auto rendezvous = std::make_shared<Rendezvous>();
    start([rendezvous](Expected<Value, AuthenticationError> result) {
        std::lock_guard lock(rendezvous->mutex);
        rendezvous->result.emplace(std::move(result));
        rendezvous->done.notify_all();
    });
    std::unique_lock lock(rendezvous->mutex);
    if (!rendezvous->done.wait_for(lock, renewalWaitLimit,
                                   [&] { return rendezvous->result.has_value(); })) {
        return unexpected(AuthenticationError::fromURLError(
            URLError(URLError::Code::timedOut, std::string("no answer for ") + what + " in time")));
    }
    return std::move(*rendezvous->result);
}

Expected<Credentials, AuthenticationError>
CredentialsManager::renewAndWait(const std::string& refreshToken,
                                 const std::optional<std::string>& scope,
                                 const Parameters& parameters, const HTTPHeaders& headers) {
    return waitForAnswer<Credentials>(
        [&](auto done) {
            authentication_->renew(refreshToken, scope, parameters, headers, std::move(done));
        },
        "the token endpoint");
}

} // namespace quorvel::idp
