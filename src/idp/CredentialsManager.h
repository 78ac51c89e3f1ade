#pragma once

#include "base/Expected.h"
#include "idp/Authentication.h"
#include "idp/Credentials.h"
#include "idp/CredentialsManagerError.h"
#include "idp/CredentialsStorage.h"
#include "idp/FormEncoding.h"
#include "idp/SerialQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace quorvel::idp {

// Keeps one user's credentials in a credential store and hands out valid ones, renewing them with
// the refresh token when they are about to expire.
//
// credentials(...) runs its operations one at a time on a worker thread of the manager, so two
// renewals never overlap and the store is never read on the caller's thread; its callback comes
// on that worker thread. store, hasValid, canRenew and clear work synchronously on the calling
// thread. A renewal whose store was written or cleared while its request was out (a new sign-in,
// a sign-out) does not overwrite the store: it starts over from what the store now holds.
class CredentialsManager : public std::enable_shared_from_this<CredentialsManager> {
public:
    using Callback = std::function<void(Expected<Credentials, CredentialsManagerError>)>;

    static std::shared_ptr<CredentialsManager> make(std::shared_ptr<Authentication> authentication,
                                                    std::string storeKey,
                                                    std::string dpopThumbprintKey,
                                                    std::shared_ptr<CredentialsStorage> storage);

    // Archives the credentials under the store key; false when the store refused them.
    bool store(const Credentials& credentials);
    // The same, with the store's error.
    Expected<void, CredentialsManagerError> storeReportingError(const Credentials& credentials);

    // Delivers credentials whose access token stays valid for at least minTTL seconds and whose
    // scope is the requested one (ignoring "openid"), renewing them first when needed.
    void credentials(std::optional<std::string> scope, std::int64_t minTTL, Parameters parameters,
                     HTTPHeaders headers, Callback callback);

    // Stored credentials exist and stay valid for at least minTTL seconds.
    bool hasValid(std::int64_t minTTL = 0);
    // Stored credentials exist and hold a refresh token.
    bool canRenew();
    // Removes the stored credentials; the clear-failed error when the store could not. Clearing
    // a store that holds nothing succeeds.
    Expected<void, CredentialsManagerError> clear();

    // The stored credentials, nothing when there are none or they cannot be read.
    std::optional<Credentials> storedCredentials();

    const std::shared_ptr<Authentication>& authentication() const { return authentication_; }
    const std::string& storeKey() const { return storeKey_; }
    const std::string& dpopThumbprintKey() const { return dpopThumbprintKey_; }

    // How long a renewal may wait for the token endpoint before it counts as failed, beyond the
    // session's own time limit.
    std::chrono::milliseconds renewalWaitLimit{std::chrono::seconds(60)};

protected:
    CredentialsManager(std::shared_ptr<Authentication> authentication, std::string storeKey,
                       std::string dpopThumbprintKey, std::shared_ptr<CredentialsStorage> storage);

private:
    Expected<Credentials, CredentialsManagerError> obtain(const std::optional<std::string>& scope,
                                                          std::int64_t minTTL,
                                                          const Parameters& parameters,
                                                          const HTTPHeaders& headers);
    Expected<Credentials, AuthenticationError> renewAndWait(const std::string& refreshToken,
                                                            const std::optional<std::string>& scope,
                                                            const Parameters& parameters,
                                                            const HTTPHeaders& headers);
    // Checks an ID token of a renewal answer as at sign-in, against the key set fetched now,
    // and for the issuer and subject of the stored one.
    Expected<void, ErrorPointer> checkRenewedIDToken(const std::string& stored,
                                                     const std::string& renewed);
    // Starts a request of the authentication API and waits for its answer, at most the renewal
    // wait limit.
    template <class Value, class Start>
    Expected<Value, AuthenticationError> waitForAnswer(Start start, const char* what);
    Expected<std::optional<Credentials>, StorageError> read();
    Expected<void, StorageError> writeLocked(const Credentials& credentials);
    std::uint64_t generation();

    std::shared_ptr<Authentication> authentication_;
    std::string storeKey_;
    std::string dpopThumbprintKey_;
    std::shared_ptr<CredentialsStorage> storage_;
    SerialQueue queue_;

    // Guards writes to the store and the count of them, so a renewal can tell that the store
    // changed while its request was out.
    std::mutex storeMutex_;
    std::uint64_t generation_ = 0;
};

// True when `requested` asks for a scope other than `stored`: both are compared as sets of
// space-separated values, leaving out "openid". No requested scope never differs.
bool scopeDiffers(const std::optional<std::string>& requested,
                  const std::optional<std::string>& stored);

} // namespace quorvel::idp
