// The client against the local HTTPS identity provider over real TLS: sign-in through a scripted
// user agent, renewal, and the failures a caller must be able to tell apart.

#include "idp/CurlURLSession.h"
#include "idp/FakeStorage.h"
#include "idp/FakeURLSession.h"
#include "idp/IDTokenValidator.h"
#include "idp/ScriptedUserAgent.h"
#include "idp/TestTokens.h"
#include "idp/WebAuth.h"
#include "support/LocalIdentityProvider.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;
using quorvel::test::LocalIdentityProvider;
using LoginResult = Expected<Credentials, WebAuthError>;
using TokenResult = Expected<Credentials, CredentialsManagerError>;

namespace {

constexpr const char* nativeCallback = "com.zadovuzuzo.recorder://auth/callback";

struct Login {
    Login() : session(std::make_shared<CurlURLSession>(configuration())) {
        storage = std::make_shared<FakeStorage>();
        manager = makeManager(storage);
        // The user agent "opens the browser" by fetching the authorize URL; the provider's redirect
        // is the callback URL that the operating system would hand to the application.
        agent->onStart = [session = session](const std::string& url) {
            session->send(HTTPRequest{"GET", url, {}, {}}, [](HTTPResult result) {
                if (!result)
                    return;
                if (auto location = result->header("location"))
                    WebAuthentication::resume(*location);
            });
        };
    }

    CurlURLSession::Configuration configuration() const {
        CurlURLSession::Configuration value;
        value.extraCAFile = provider.caFile();
        return value;
    }

    std::shared_ptr<CredentialsManager>
    makeManager(std::shared_ptr<CredentialsStorage> store) const {
        return CredentialsManager::make(
            authentication(provider.clientId(), provider.domain(), session), "credentials",
            "dpop_thumbprint", std::move(store));
    }

    LoginResult signIn(Parameters parameters = {}, std::string redirect = nativeCallback) {
        Delivery<LoginResult> delivery;
        webAuth(provider.clientId(), provider.domain(), session)
            .redirectURL(std::move(redirect))
            .parameters(std::move(parameters))
            .issuer(provider.issuer())
            .audience("https://api.quorvel.test")
            .scope("openid profile email offline_access")
            .provider(ScriptedUserAgent::provider(agent))
            .useCredentialsManager(manager)
            .start(delivery.callback());
        EXPECT_TRUE(delivery.waitFor(1));
        return delivery.first();
    }

    TokenResult token(std::int64_t minTTL = 60) {
        Delivery<TokenResult> delivery;
        manager->credentials(std::nullopt, minTTL, {}, {}, delivery.callback());
        EXPECT_TRUE(delivery.waitFor(1, std::chrono::seconds(60)));
        return delivery.first();
    }

    // The requests the provider received at a path, as JSON.
    std::vector<Json> requestsTo(const std::string& path) const {
        std::vector<Json> found;
        for (const auto& line : provider.requests()) {
            auto entry = parseJson(line);
            if (entry && (*entry)["path"] == path)
                found.push_back(*entry);
        }
        return found;
    }

    LocalIdentityProvider provider;
    std::shared_ptr<CurlURLSession> session;
    std::shared_ptr<FakeStorage> storage;
    std::shared_ptr<CredentialsManager> manager;
    std::shared_ptr<ScriptedUserAgent::Record> agent =
        std::make_shared<ScriptedUserAgent::Record>();
};

const AuthenticationError& renewalCause(const TokenResult& result) {
    if (result || result.error().kind() != CredentialsManagerError::Kind::renewFailed) {
        throw std::runtime_error("expected a renewal failure");
    }
    return causeAs<AuthenticationError>(result.error().cause());
}

} // namespace

TEST(IdentityProviderLogin, SignsInOverHTTPSWithFormEncodedTokenRequests) {
    Login login;
    auto result = login.signIn();
    ASSERT_TRUE(result) << result.error().message() << " / "
                        << (result.error().cause() ? result.error().cause()->message() : "");
    EXPECT_EQ(result->tokenType, "Bearer");
    EXPECT_TRUE(result->refreshToken);
    EXPECT_EQ(login.manager->storedCredentials(), *result);

    auto tokenRequests = login.requestsTo("/oauth/token");
    ASSERT_EQ(tokenRequests.size(), 1u);
    EXPECT_EQ(tokenRequests[0]["content_type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(tokenRequests[0]["form"]["grant_type"], "authorization_code");
    EXPECT_EQ(tokenRequests[0]["form"]["redirect_uri"], nativeCallback);
    EXPECT_EQ(login.requestsTo("/.well-known/jwks.json").size(), 1u);
    // The provider listens on its own port; every request reached it there.
    EXPECT_EQ(login.requestsTo("/authorize").size(), 1u);
    EXPECT_NE(login.provider.port(), 443);

    // A response delivered in the fragment is read as well.
    auto fragment = login.signIn({{"response_mode", "fragment"}});
    ASSERT_TRUE(fragment) << fragment.error().message();
    EXPECT_NE(login.requestsTo("/authorize")
                  .at(1)["query"]
                  .get<std::string>()
                  .find("response_mode=fragment"),
              std::string::npos);

    // The provider refuses a token request that is not form-encoded, as real providers do.
    Delivery<HTTPResult> delivery;
    login.session->send(
        HTTPRequest{
            "POST",
            login.provider.issuer() + "oauth/token",
            {{"Content-Type", "application/json"}},
            R"({"grant_type":"refresh_token","refresh_token":"x","client_id":"quorvel-test-client"})"},
        delivery.callback());
    ASSERT_TRUE(delivery.waitFor(1));
    ASSERT_TRUE(delivery.first());
    auto error = AuthenticationError::fromResponse(*delivery.first());
    EXPECT_EQ(error.statusCode(), 400);
    EXPECT_EQ(error.code(), "invalid_request");
    EXPECT_EQ(error.message(),
              "only application/x-www-form-urlencoded content-type bodies are supported");
}

TEST(IdentityProviderLogin, RenewalsRotateOrKeepTheRefreshTokenAndFailuresLoseNothing) {
    Login login;
    // Signed in with a token that needs renewing within the next minute.
    auto signInShortLived = [&] {
        login.provider.setControl(R"({"access_token_lifetime": 30})");
        auto signedIn = login.signIn();
        EXPECT_TRUE(signedIn) << signedIn.error().message();
        return signedIn ? *signedIn : Credentials{};
    };
    auto signedIn = signInShortLived();
    login.provider.setControl(R"({"access_token_lifetime": 3600})");
    auto renewed = login.token(60);
    ASSERT_TRUE(renewed) << renewed.error().message();
    EXPECT_NE(renewed->accessToken, signedIn.accessToken);
    EXPECT_NE(renewed->refreshToken, signedIn.refreshToken);
    EXPECT_NE(renewed->idToken, signedIn.idToken);
    EXPECT_EQ(login.manager->storedCredentials(), *renewed);
    auto refresh = login.requestsTo("/oauth/token").back();
    EXPECT_EQ(refresh["content_type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(refresh["form"]["grant_type"], "refresh_token");
    EXPECT_EQ(refresh["form"]["refresh_token"], *signedIn.refreshToken);
    EXPECT_EQ(refresh["form"]["client_id"], login.provider.clientId());
    // Valid long enough now: answered from the store, no further request.
    auto requestsBefore = login.requestsTo("/oauth/token").size();
    auto cached = login.token(60);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->accessToken, renewed->accessToken);
    EXPECT_EQ(login.requestsTo("/oauth/token").size(), requestsBefore);

    // An answer without a new refresh token or ID token keeps the old ones.
    signedIn = signInShortLived();
    login.provider.setControl(
        R"({"access_token_lifetime": 3600, "refresh_rotation": "keep", "refresh_id_token": false})");
    renewed = login.token(60);
    ASSERT_TRUE(renewed) << renewed.error().message();
    EXPECT_EQ(renewed->refreshToken, signedIn.refreshToken);
    EXPECT_EQ(renewed->idToken, signedIn.idToken);
    EXPECT_EQ(login.manager->storedCredentials()->refreshToken, signedIn.refreshToken);

    // Asking for more lifetime than the provider gives names both.
    signInShortLived();
    auto tooLong = login.token(120);
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().kind(), CredentialsManagerError::Kind::largeMinTTL);
    EXPECT_EQ(tooLong.error().message(),
              "The minTTL requested (120s) is greater than the lifetime of the renewed access "
              "token (30s). Request a lower minTTL or increase the 'Token Expiration' value in "
              "the settings of your identity provider's API.");

    // A 503, a dropped connection and a refusal reach the caller as their kind.
    login.provider.setControl(R"({"token_status": 503})");
    auto failed = login.token();
    EXPECT_EQ(renewalCause(failed).statusCode(), 503);
    EXPECT_FALSE(renewalCause(failed).isNetworkError());
    login.provider.setControl(R"({"token_drop": true})");
    auto dropped = login.token();
    EXPECT_TRUE(renewalCause(dropped).isNetworkError());
    EXPECT_EQ(renewalCause(dropped).statusCode(), 0);
    login.provider.setControl(R"({"token_refuse": true})");
    auto refusal = login.token();
    EXPECT_EQ(renewalCause(refusal).statusCode(), 400);
    EXPECT_EQ(renewalCause(refusal).code(), "invalid_grant");
    EXPECT_FALSE(renewalCause(refusal).isNetworkError());

    // Nothing listening at all.
    auto closed = CredentialsManager::make(
        authentication(login.provider.clientId(), "localhost:1", login.session), "credentials",
        "dpop_thumbprint", login.storage);
    Delivery<TokenResult> delivery;
    closed->credentials(std::nullopt, 60, {}, {}, delivery.callback());
    ASSERT_TRUE(delivery.waitFor(1, std::chrono::seconds(60)));
    const auto& unreachable = renewalCause(delivery.first());
    EXPECT_TRUE(unreachable.isNetworkError());
    EXPECT_EQ(causeAs<URLError>(unreachable.cause()).code(), URLError::Code::cannotConnectToHost);

    // None of that lost the stored credentials.
    EXPECT_TRUE(login.manager->canRenew());
}

TEST(IdentityProviderLogin, SignInFailuresKeepTheirCause) {
    Login login;
    login.provider.setControl(R"({"authorize_error": "access_denied"})");
    auto denied = login.signIn();
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().kind(), WebAuthError::Kind::authenticationFailed);
    EXPECT_EQ(causeAs<AuthenticationError>(denied.error().cause()).code(), "access_denied");

    login.provider.setControl(R"({"token_status": 503})");
    auto unavailable = login.signIn();
    ASSERT_FALSE(unavailable);
    EXPECT_EQ(unavailable.error().kind(), WebAuthError::Kind::codeExchangeFailed);
    EXPECT_EQ(causeAs<AuthenticationError>(unavailable.error().cause()).statusCode(), 503);

    login.provider.setControl(R"({"id_token_key": "unpublished", "id_token_kid": "key-1"})");
    auto forged = login.signIn();
    ASSERT_FALSE(forged);
    EXPECT_EQ(forged.error().kind(), WebAuthError::Kind::idTokenValidationFailed);
    EXPECT_EQ(causeAs<IDTokenValidationError>(forged.error().cause()).kind(),
              IDTokenValidationError::Kind::invalidSignature);

    login.provider.setControl(R"({"id_token_alg": "none"})");
    auto unsigned_ = login.signIn();
    ASSERT_FALSE(unsigned_);
    EXPECT_EQ(causeAs<IDTokenValidationError>(unsigned_.error().cause()).kind(),
              IDTokenValidationError::Kind::unsupportedAlgorithm);
    EXPECT_FALSE(login.manager->storedCredentials());
}

TEST(IdentityProviderLogin, CertificatesAreAlwaysVerified) {
    Login login;
    // A session that does not trust the provider's authority cannot reach it.
    auto untrusting = std::make_shared<CurlURLSession>(CurlURLSession::Configuration{});
    Delivery<HTTPResult> refused;
    untrusting->send(HTTPRequest{"GET", login.provider.issuer() + ".well-known/jwks.json", {}, {}},
                     refused.callback());
    ASSERT_TRUE(refused.waitFor(1));
    ASSERT_FALSE(refused.first());
    EXPECT_EQ(refused.first().error().code(), URLError::Code::secureConnectionFailed);

    // A name the certificate does not carry is refused even with the authority trusted.
    auto configuration = login.configuration();
    configuration.resolve = {
        "wrong.quorvel.test:" + std::to_string(login.provider.port()) + ":127.0.0.1",
        "idp.quorvel.test:" + std::to_string(login.provider.port()) + ":127.0.0.1"};
    auto resolving = std::make_shared<CurlURLSession>(configuration);
    Delivery<HTTPResult> wrongName;
    resolving->send(
        HTTPRequest{"GET",
                    "https://wrong.quorvel.test:" + std::to_string(login.provider.port()) + "/",
                    {},
                    {}},
        wrongName.callback());
    ASSERT_TRUE(wrongName.waitFor(1));
    ASSERT_FALSE(wrongName.first());
    EXPECT_EQ(wrongName.first().error().code(), URLError::Code::secureConnectionFailed);

    Delivery<HTTPResult> rightName;
    resolving->send(
        HTTPRequest{"GET",
                    "https://idp.quorvel.test:" + std::to_string(login.provider.port()) +
                        "/.well-known/jwks.json",
                    {},
                    {}},
        rightName.callback());
    ASSERT_TRUE(rightName.waitFor(1));
    ASSERT_TRUE(rightName.first()) << rightName.first().error().message();
    EXPECT_EQ(rightName.first()->statusCode, 200);

    // Plain http is never spoken.
    Delivery<HTTPResult> plain;
    login.session->send(
        HTTPRequest{
            "GET", "http://localhost:" + std::to_string(login.provider.port()) + "/", {}, {}},
        plain.callback());
    ASSERT_TRUE(plain.waitFor(1));
    ASSERT_FALSE(plain.first());
    EXPECT_EQ(plain.first().error().code(), URLError::Code::badURL);
}
