#include "idp/WebAuth.h"

#include "idp/AuthorizeURL.h"
#include "idp/BoundedJson.h"
#include "idp/CallbackURL.h"
#include "idp/IDTokenValidator.h"
#include "idp/PKCE.h"
#include "idp/SerialQueue.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace quorvel::idp {

namespace {

class Transaction;

// The process's one transaction in progress.
std::mutex& slotMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Transaction>& currentTransaction() {
    static std::shared_ptr<Transaction> transaction;
    return transaction;
}

void deliverLater(WebAuth::Callback callback, Expected<Credentials, WebAuthError> result) {
    auto shared = std::make_shared<Expected<Credentials, WebAuthError>>(std::move(result));
    SerialQueue::immediateAnswers().async(
        [callback = std::move(callback), shared]() mutable { callback(std::move(*shared)); });
}

bool mentionsPKCE(const std::string& text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("pkce") != std::string::npos;
}

// A token endpoint answer saying that this client may not use PKCE (a client registered as
// confidential rather than native).
bool isPKCENotAllowed(const AuthenticationError& error) {
    return error.code() == "unauthorized_client" && mentionsPKCE(error.message());
}

class Transaction : public std::enable_shared_from_this<Transaction> {
public:
    struct Settings {
        std::shared_ptr<Authentication> authentication;
        std::shared_ptr<CredentialsManager> credentialsManager;
        std::string redirectURI;
        std::string state;
        std::string codeVerifier;
        IDTokenValidationContext validation;
    };

    Transaction(Settings settings, WebAuth::Callback callback)
        : settings_(std::move(settings)), callback_(std::move(callback)) {}

    void attach(std::shared_ptr<WebAuthUserAgent> agent) {
        std::lock_guard lock(mutex_);
        agent_ = std::move(agent);
    }

    void startAgent() {
        std::shared_ptr<WebAuthUserAgent> agent;
        {
            std::lock_guard lock(mutex_);
            agent = agent_;
        }
        if (agent)
            agent->start();
    }

    // The user agent's own completion: an error ends a transaction that still waits.
    void agentCompleted(WebAuthUserAgentResult result) {
        if (result)
            return; // success is reported through resume
        std::unique_lock lock(mutex_);
        if (phase_ != Phase::waiting)
            return;
        lock.unlock();
        finish(unexpected(result.error()), false);
    }

    bool resume(std::string_view url) {
        auto values = callbackValues(url);
        if (!values)
            return false;
        auto state = values->find("state");
        {
            std::lock_guard lock(mutex_);
            if (phase_ != Phase::waiting || state == values->end() ||
                state->second != settings_.state)
                return false;
            phase_ = Phase::exchanging;
        }
        finishAgent(WebAuthUserAgentResult());
        if (values->contains("error")) {
            Json info(Json::value_t::object);
            for (const auto& [name, value] : *values)
                info[name] = value;
            finish(unexpected(WebAuthError(WebAuthError::Kind::authenticationFailed,
                                           makeError(AuthenticationError(std::move(info), 0)))),
                   false);
            return true;
        }
        auto code = values->find("code");
        if (code == values->end() || code->second.empty()) {
            Json shown(*values);
            finish(unexpected(WebAuthError::noAuthorizationCode(describeJson(shown))), false);
            return true;
        }
        exchange(code->second);
        return true;
    }

    void cancel() {
        {
            std::lock_guard lock(mutex_);
            if (phase_ != Phase::waiting && phase_ != Phase::exchanging)
                return;
        }
        finish(unexpected(WebAuthError(WebAuthError::Kind::userCancelled)), true);
    }

    // Ends the transaction once: later calls find it finished and do nothing. While the result is
    // being committed (stored), only the commit itself may end it.
    void finish(Expected<Credentials, WebAuthError> result, bool tellAgent,
                bool committed = false) {
        WebAuth::Callback callback;
        std::shared_ptr<WebAuthUserAgent> agent;
        {
            std::lock_guard lock(mutex_);
            if (phase_ == Phase::finished || (phase_ == Phase::committing && !committed))
                return;
            phase_ = Phase::finished;
            callback = std::move(callback_);
            agent = std::move(agent_);
        }
        if (tellAgent && agent) {
            agent->finish(result ? WebAuthUserAgentResult()
                                 : WebAuthUserAgentResult(unexpected(result.error())));
        }
        agent.reset();
        {
            std::lock_guard lock(slotMutex());
            if (currentTransaction().get() == this)
                currentTransaction().reset();
        }
        if (callback)
            deliverLater(std::move(callback), std::move(result));
    }

private:
    enum class Phase { waiting, exchanging, committing, finished };

    void finishAgent(WebAuthUserAgentResult result) {
        std::shared_ptr<WebAuthUserAgent> agent;
        {
            std::lock_guard lock(mutex_);
            agent = std::move(agent_);
        }
        if (agent)
            agent->finish(std::move(result));
    }

    void exchange(const std::string& code) {
        std::weak_ptr<Transaction> weak = weak_from_this();
        settings_.authentication->codeExchange(
            code, settings_.codeVerifier, settings_.redirectURI,
            [weak](Expected<Credentials, AuthenticationError> result) {
                auto self = weak.lock();
                if (!self)
                    return;
                if (!result) {
                    const AuthenticationError& error = result.error();
                    auto kind = isPKCENotAllowed(error) ? WebAuthError::Kind::pkceNotAllowed
                                                        : WebAuthError::Kind::codeExchangeFailed;
                    self->finish(unexpected(WebAuthError(kind, makeError(error))), false);
                    return;
                }
                self->validate(std::move(*result));
            });
    }

    void validate(Credentials credentials) {
        if (credentials.idToken.empty()) {
            // Nothing to fetch the keys for: the check fails at once as "no ID token".
            checkAndStore(std::move(credentials), JSONWebKeySet{});
            return;
        }
        std::weak_ptr<Transaction> weak = weak_from_this();
        auto shared = std::make_shared<Credentials>(std::move(credentials));
        settings_.authentication->jwks([weak,
                                        shared](Expected<JSONWebKeySet, AuthenticationError> keys) {
            auto self = weak.lock();
            if (!self)
                return;
            if (!keys) {
                self->finish(unexpected(WebAuthError(WebAuthError::Kind::idTokenValidationFailed,
                                                     makeError(keys.error()))),
                             false);
                return;
            }
            self->checkAndStore(std::move(*shared), *keys);
        });
    }

    void checkAndStore(Credentials credentials, const JSONWebKeySet& keys) {
        auto valid = validateIDToken(std::string_view(credentials.idToken), keys,
                                     settings_.validation, settings_.authentication->now());
        if (!valid) {
            finish(unexpected(WebAuthError(WebAuthError::Kind::idTokenValidationFailed,
                                           makeError(valid.error()))),
                   false);
            return;
        }
        {
            // From here on a cancellation comes too late: the result is being committed.
            std::lock_guard lock(mutex_);
            if (phase_ != Phase::exchanging)
                return;
            phase_ = Phase::committing;
        }
        if (settings_.credentialsManager) {
            auto stored = settings_.credentialsManager->storeReportingError(credentials);
            if (!stored) {
                finishCommitted(unexpected(WebAuthError(
                    WebAuthError::Kind::credentialsManagerFailed, makeError(stored.error()))));
                return;
            }
        }
        finishCommitted(std::move(credentials));
    }

    void finishCommitted(Expected<Credentials, WebAuthError> result) {
        finish(std::move(result), false, true);
    }

    Settings settings_;
    std::mutex mutex_;
    Phase phase_ = Phase::waiting;
    WebAuth::Callback callback_;
    std::shared_ptr<WebAuthUserAgent> agent_;
};

// The "invitation" and "organization" values of an invitation link.
std::optional<std::pair<std::string, std::string>> invitationValues(const std::string& url) {
    auto values = callbackValues(url);
    if (!values)
        return std::nullopt;
    auto invitation = values->find("invitation");
    auto organization = values->find("organization");
    if (invitation == values->end() || organization == values->end() ||
        invitation->second.empty() || organization->second.empty()) {
        return std::nullopt;
    }
    return std::pair(invitation->second, organization->second);
}

} // namespace

WebAuth::WebAuth(std::string clientId, std::string domain, std::shared_ptr<URLSession> session)
    : authentication_(authentication(std::move(clientId), std::move(domain), std::move(session))) {}

WebAuth& WebAuth::redirectURL(std::string url) {
    redirectURL_ = std::move(url);
    return *this;
}
WebAuth& WebAuth::parameters(Parameters parameters) {
    parameters_ = std::move(parameters);
    return *this;
}
WebAuth& WebAuth::issuer(std::string issuer) {
    issuer_ = std::move(issuer);
    return *this;
}
WebAuth& WebAuth::audience(std::string audience) {
    audience_ = std::move(audience);
    return *this;
}
WebAuth& WebAuth::scope(std::string scope) {
    scope_ = std::move(scope);
    return *this;
}
WebAuth& WebAuth::connection(std::string connection) {
    connection_ = std::move(connection);
    return *this;
}
WebAuth& WebAuth::connectionScope(std::string connectionScope) {
    connectionScope_ = std::move(connectionScope);
    return *this;
}
WebAuth& WebAuth::organization(std::string organization) {
    organization_ = std::move(organization);
    return *this;
}
WebAuth& WebAuth::invitationURL(std::string url) {
    invitationURL_ = std::move(url);
    return *this;
}
WebAuth& WebAuth::maxAge(std::int64_t seconds) {
    maxAge_ = seconds;
    return *this;
}
WebAuth& WebAuth::leeway(std::chrono::milliseconds leeway) {
    leeway_ = leeway;
    return *this;
}
WebAuth& WebAuth::provider(WebAuthProvider provider) {
    provider_ = std::move(provider);
    return *this;
}
WebAuth& WebAuth::useCredentialsManager(std::shared_ptr<CredentialsManager> manager) {
    credentialsManager_ = std::move(manager);
    return *this;
}
WebAuth& WebAuth::clock(Authentication::TimeSource clock) {
    clock_ = std::move(clock);
    return *this;
}

void WebAuth::start(Callback callback) {
    auto fail = [&](WebAuthError error) {
        deliverLater(std::move(callback), unexpected(std::move(error)));
    };
    auto other = [](std::string text) {
        return WebAuthError(WebAuthError::Kind::other, makeError(ClientError(std::move(text))));
    };

    std::unique_lock slot(slotMutex());
    if (currentTransaction()) {
        slot.unlock();
        fail(WebAuthError(WebAuthError::Kind::transactionActiveAlready));
        return;
    }

    std::optional<std::pair<std::string, std::string>> invitation;
    if (invitationURL_) {
        invitation = invitationValues(*invitationURL_);
        if (!invitation) {
            slot.unlock();
            fail(WebAuthError(WebAuthError::Kind::invalidInvitationURL));
            return;
        }
    }
    auto state = generateRandomURLSafeValue();
    auto nonce = generateRandomURLSafeValue();
    auto verifier = generateRandomURLSafeValue();
    if (!state || !nonce || !verifier) {
        slot.unlock();
        fail(other("The secure random source failed."));
        return;
    }

    AuthorizeRequest request;
    request.clientId = authentication_->clientId();
    request.redirectURI = redirectURL_.value_or("");
    request.state = *state;
    request.nonce = *nonce;
    request.scope = scopeIncludingOpenID(scope_);
    request.codeChallenge = codeChallenge(*verifier);
    request.audience = audience_;
    request.connection = connection_;
    request.connectionScope = connectionScope_;
    request.organization = invitation ? std::optional(invitation->second) : organization_;
    if (invitation)
        request.invitation = invitation->first;
    request.maxAge = maxAge_;
    request.parameters = parameters_;
    auto url = redirectURL_ ? authorizeURL(authentication_->baseURL(), request) : std::nullopt;
    if (!url) {
        slot.unlock();
        fail(other("Unable to build authorize URL with base URL: " +
                   authentication_->baseURL().value_or("https://" + authentication_->domain())));
        return;
    }
    if (!provider_) {
        slot.unlock();
        fail(other("No user agent was given to show the authorize URL."));
        return;
    }

    Transaction::Settings settings;
    settings.authentication = clock_ ? std::make_shared<Authentication>(
                                           authentication_->clientId(), authentication_->domain(),
                                           authentication_->session(), clock_)
                                     : authentication_;
    settings.credentialsManager = credentialsManager_;
    settings.redirectURI = request.redirectURI;
    settings.state = *state;
    settings.codeVerifier = *verifier;
    settings.validation.issuer = issuer_.value_or(authentication_->baseURL().value_or(""));
    settings.validation.audience = authentication_->clientId();
    settings.validation.nonce = *nonce;
    settings.validation.maxAge = maxAge_;
    settings.validation.organization = request.organization;
    settings.validation.leeway = leeway_;
    auto transaction = std::make_shared<Transaction>(std::move(settings), std::move(callback));
    currentTransaction() = transaction;
    slot.unlock();

    std::weak_ptr<Transaction> weak = transaction;
    std::shared_ptr<WebAuthUserAgent> agent;
    try {
        agent = provider_(*url, [weak](WebAuthUserAgentResult result) {
            if (auto self = weak.lock())
                self->agentCompleted(std::move(result));
        });
    } catch (...) {
        agent = nullptr;
    }
    if (!agent) {
        transaction->finish(unexpected(other("The user agent could not be made.")), false);
        return;
    }
    transaction->attach(std::move(agent));
    transaction->startAgent();
}

WebAuth webAuth(std::string clientId, std::string domain, std::shared_ptr<URLSession> session) {
    return WebAuth(std::move(clientId), std::move(domain), std::move(session));
}

bool WebAuthentication::resume(std::string_view url) {
    std::shared_ptr<Transaction> transaction;
    {
        std::lock_guard lock(slotMutex());
        transaction = currentTransaction();
    }
    return transaction && transaction->resume(url);
}

void WebAuthentication::cancel() {
    std::shared_ptr<Transaction> transaction;
    {
        std::lock_guard lock(slotMutex());
        transaction = currentTransaction();
    }
    if (transaction)
        transaction->cancel();
}

bool WebAuthentication::hasTransaction() {
    std::lock_guard lock(slotMutex());
    return currentTransaction() != nullptr;
}

} // namespace quorvel::idp
