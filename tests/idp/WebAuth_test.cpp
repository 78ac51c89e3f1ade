#include "FakeStorage.h"
#include "FakeURLSession.h"
#include "ScriptedUserAgent.h"
#include "TestTokens.h"
#include "idp/CallbackURL.h"
#include "idp/FormEncoding.h"
#include "idp/IDTokenValidator.h"
#include "idp/PKCE.h"
#include "idp/WebAuth.h"

#include <gtest/gtest.h>
#include <thread>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;
using Result = Expected<Credentials, WebAuthError>;

namespace {

constexpr const char* redirect = "com.zadovuzuzo.recorder://auth/callback";
constexpr const char* issuer = "https://tenant.example/";

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Parameters queryOf(const std::string& url) {
    return *parseFormEncoded(url.substr(url.find('?') + 1));
}

std::string valueOf(const Parameters& parameters, const std::string& name) {
    for (const auto& [key, value] : parameters) {
        if (key == name)
            return value;
    }
    return "";
}

// A provider behind a fake session: it answers the code exchange with tokens whose ID token
// carries the nonce of the last authorize URL (signed when the test makes the callback URL), and
// the key set with the test keys.
struct Fixture {
    Fixture() {
        session =
            std::make_shared<FakeURLSession>([this](const HTTPRequest& request) -> HTTPResult {
                if (request.url.ends_with("/.well-known/jwks.json"))
                    return jwksAnswer;
                return tokenAnswer ? *tokenAnswer : issued;
            });
        storage = std::make_shared<FakeStorage>();
        manager = CredentialsManager::make(authentication("client-1", "tenant.example", session),
                                           "credentials", "dpop_thumbprint", storage);
    }

    // Every test ends its transaction itself, while what its callback uses still exists.
    ~Fixture() = default;

    WebAuth builder(std::string domain = "tenant.example") {
        WebAuth auth = webAuth("client-1", std::move(domain), session);
        auth.redirectURL(redirect)
            .issuer(issuer)
            .audience("https://api.quorvel.test")
            .provider(ScriptedUserAgent::provider(agent));
        return auth;
    }

    std::string authorizeURL() {
        std::lock_guard lock(agent->mutex);
        return agent->authorizeURL;
    }

    std::string authorizeValue(const std::string& name) {
        return valueOf(queryOf(authorizeURL()), name);
    }

    // The callback URL, after signing the answer to the code exchange for the current nonce. The
    // token is signed here on the test's thread: OpenSSL's per-thread signing state on a
    // short-lived session thread would outlive the test's view of it.
    std::string callback(const std::string& values) {
        Json claims{
            {"iss", issuer},       {"sub", "user-1"},
            {"aud", "client-1"},   {"exp", nowSeconds() + 3600},
            {"iat", nowSeconds()}, {"nonce", nonceOverride.value_or(authorizeValue("nonce"))}};
        issued = jsonResponse(200, dumpCompact(Json{{"access_token", "at-1"},
                                                    {"token_type", "Bearer"},
                                                    {"id_token", rs256Token(claims)},
                                                    {"refresh_token", "rt-1"},
                                                    {"expires_in", 3600}}));
        return std::string(redirect) + values;
    }

    std::shared_ptr<FakeURLSession> session;
    std::shared_ptr<FakeStorage> storage;
    std::shared_ptr<CredentialsManager> manager;
    std::shared_ptr<ScriptedUserAgent::Record> agent =
        std::make_shared<ScriptedUserAgent::Record>();
    HTTPResult jwksAnswer = jsonResponse(200, jwksText());
    std::optional<HTTPResult> tokenAnswer;
    HTTPResult issued = unexpected(URLError(URLError::Code::unknown, "no callback yet"));
    std::optional<std::string> nonceOverride;
};

template <class Check>
void expectFailure(Delivery<Result>& delivery, WebAuthError::Kind kind, Check check) {
    ASSERT_TRUE(delivery.waitFor(1));
    ASSERT_FALSE(delivery.first());
    EXPECT_EQ(delivery.first().error().kind(), kind) << delivery.first().error().message();
    check(delivery.first().error());
}

} // namespace

TEST(WebAuth, BuildsTheAuthorizeURLInItsOrder) {
    Fixture f;
    Delivery<Result> delivery;
    f.builder()
        .scope("profile")
        .parameters({{"response_mode", "fragment"}, {"state", "forged"}})
        .start(delivery.callback());
    std::string url = f.authorizeURL();
    EXPECT_EQ(url.substr(0, url.find('?')), "https://tenant.example/authorize");
    auto query = queryOf(url);
    std::vector<std::string> names;
    for (const auto& pair : query)
        names.push_back(pair.first);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "client_id", "response_type", "redirect_uri", "state", "nonce", "scope",
                         "code_challenge", "code_challenge_method", "audience", "response_mode"}));
    EXPECT_EQ(valueOf(query, "response_type"), "code");
    EXPECT_EQ(valueOf(query, "redirect_uri"), redirect);
    EXPECT_EQ(valueOf(query, "scope"), "openid profile");
    EXPECT_EQ(valueOf(query, "code_challenge_method"), "S256");
    EXPECT_NE(valueOf(query, "state"), "forged");
    EXPECT_EQ(valueOf(query, "state").size(), 43u);
    EXPECT_EQ(valueOf(query, "nonce").size(), 43u);
    EXPECT_EQ(f.agent->starts, 1);
    WebAuthentication::cancel();
    EXPECT_TRUE(delivery.waitFor(1));

    // Without a scope the default one; an explicit port in the domain is kept.
    Delivery<Result> second;
    f.builder("tenant.example:8443").start(second.callback());
    url = f.authorizeURL();
    EXPECT_EQ(url.substr(0, url.find('?')), "https://tenant.example:8443/authorize");
    EXPECT_EQ(f.authorizeValue("scope"), "openid profile email offline_access");
    WebAuthentication::cancel();
    EXPECT_TRUE(second.waitFor(1));
}

TEST(WebAuth, CompletesTheCodeFlowAndStoresTheCredentialsFirst) {
    Fixture f;
    Delivery<Result> delivery;
    f.builder().useCredentialsManager(f.manager).start(delivery.callback());
    std::string state = f.authorizeValue("state");
    // Delivered in the fragment, as with response_mode=fragment.
    EXPECT_TRUE(WebAuthentication::resume(f.callback("#code=the-code&state=" + state)));
    ASSERT_TRUE(delivery.waitFor(1));
    ASSERT_TRUE(delivery.first()) << delivery.first().error().message();
    EXPECT_EQ(delivery.first()->accessToken, "at-1");
    EXPECT_EQ(f.manager->storedCredentials(), *delivery.first());
    EXPECT_FALSE(WebAuthentication::hasTransaction());

    auto requests = f.session->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].url, "https://tenant.example/oauth/token");
    auto form = *parseFormEncoded(requests[0].body);
    EXPECT_EQ(valueOf(form, "grant_type"), "authorization_code");
    EXPECT_EQ(valueOf(form, "client_id"), "client-1");
    EXPECT_EQ(valueOf(form, "code"), "the-code");
    EXPECT_EQ(valueOf(form, "redirect_uri"), redirect);
    EXPECT_EQ(codeChallenge(valueOf(form, "code_verifier")), f.authorizeValue("code_challenge"));
    EXPECT_EQ(requests[1].url, "https://tenant.example/.well-known/jwks.json");
    ASSERT_TRUE(f.agent->finished);
    EXPECT_TRUE(*f.agent->finished);
}

TEST(WebAuth, OnlyTheTransactionsStateIsAccepted) {
    Fixture f;
    Delivery<Result> delivery;
    f.builder().start(delivery.callback());
    std::string state = f.authorizeValue("state");
    EXPECT_FALSE(WebAuthentication::resume(f.callback("?code=c&state=wrong")));
    EXPECT_FALSE(WebAuthentication::resume(f.callback("?code=c")));
    EXPECT_FALSE(
        WebAuthentication::resume(f.callback("?code=c&state=" + state + "&state=" + state)));
    EXPECT_TRUE(WebAuthentication::hasTransaction());
    EXPECT_EQ(delivery.count(), 0u);
    // Scheme, host and path are not compared.
    EXPECT_TRUE(WebAuthentication::resume("https://elsewhere.example/x?code=c&state=" + state));
    ASSERT_TRUE(delivery.waitFor(1));
    EXPECT_TRUE(delivery.first());
    EXPECT_FALSE(WebAuthentication::resume(f.callback("?code=c&state=" + state)));
}

TEST(WebAuth, AnErrorOrNoCodeInTheCallbackFailsWithItsValues) {
    Fixture f;
    Delivery<Result> delivery;
    f.builder().start(delivery.callback());
    std::string state = f.authorizeValue("state");
    EXPECT_TRUE(WebAuthentication::resume(
        f.callback("#error=access_denied&error_description=No+thanks&state=" + state)));
    expectFailure(delivery, WebAuthError::Kind::authenticationFailed,
                  [&](const WebAuthError& error) {
                      EXPECT_EQ(error.message(), "The authentication request failed.");
                      const auto& cause = causeAs<AuthenticationError>(error.cause());
                      EXPECT_EQ(cause.code(), "access_denied");
                      EXPECT_EQ(cause.message(), "No thanks");
                      EXPECT_EQ(cause.info()["state"], state);
                  });
    EXPECT_TRUE(f.session->requests().empty());

    // A callback without a code fails naming the values it had.
    Delivery<Result> second;
    f.builder().start(second.callback());
    state = f.authorizeValue("state");
    EXPECT_TRUE(WebAuthentication::resume(f.callback("?state=" + state + "&x=1")));
    expectFailure(second, WebAuthError::Kind::noAuthorizationCode, [&](const WebAuthError& error) {
        EXPECT_EQ(error.message(),
                  "Authorization code missing from callback URL query parameters ({\"state\":\"" +
                      state + "\",\"x\":\"1\"})");
    });
}

TEST(WebAuth, ASecondStartIsRefusedAndTheFirstGoesOn) {
    Fixture f;
    Delivery<Result> first;
    Delivery<Result> second;
    f.builder().start(first.callback());
    std::string state = f.authorizeValue("state");
    auto caller = std::this_thread::get_id();
    std::thread::id deliveredOn;
    Fixture other;
    other.builder().start([&](Result result) {
        deliveredOn = std::this_thread::get_id();
        second(std::move(result));
    });
    expectFailure(second, WebAuthError::Kind::transactionActiveAlready,
                  [](const WebAuthError& error) {
                      EXPECT_EQ(error.message(), "Failed to start this transaction, as there is an "
                                                 "active transaction at the moment.");
                  });
    EXPECT_NE(deliveredOn, caller); // never inside start
    EXPECT_EQ(other.agent->starts, 0);
    EXPECT_TRUE(WebAuthentication::resume(f.callback("?code=c&state=" + state)));
    ASSERT_TRUE(first.waitFor(1));
    EXPECT_TRUE(first.first());
}

TEST(WebAuth, CancelEndsTheTransactionAsCancelledByTheUser) {
    Fixture f;
    Delivery<Result> delivery;
    f.builder().start(delivery.callback());
    std::string state = f.authorizeValue("state");
    WebAuthentication::cancel();
    expectFailure(delivery, WebAuthError::Kind::userCancelled, [](const WebAuthError& error) {
        EXPECT_EQ(error.message(), "The user cancelled the Web Auth operation.");
    });
    ASSERT_TRUE(f.agent->finished);
    EXPECT_FALSE(*f.agent->finished);
    EXPECT_FALSE(WebAuthentication::resume(f.callback("?code=c&state=" + state)));
    WebAuthentication::cancel(); // nothing in progress: nothing happens
    EXPECT_EQ(delivery.count(), 1u);
}

TEST(WebAuth, AUserAgentThatCannotStartFailsTheFlow) {
    Fixture f;
    f.agent->failToStart = true;
    Delivery<Result> delivery;
    f.builder().start(delivery.callback());
    expectFailure(delivery, WebAuthError::Kind::other,
                  [](const WebAuthError& error) { EXPECT_EQ(error.cause(), nullptr); });
    EXPECT_FALSE(WebAuthentication::hasTransaction());
}

TEST(WebAuth, ExchangeAndValidationFailuresKeepTheirCause) {
    // A login whose callback carries the right state, with the fixture changed first.
    auto failedLogin = [](const std::function<void(Fixture&)>& change, WebAuthError::Kind kind,
                          const std::function<void(const WebAuthError&)>& check) {
        Fixture f;
        change(f);
        Delivery<Result> delivery;
        f.builder().useCredentialsManager(f.manager).start(delivery.callback());
        WebAuthentication::resume(f.callback("?code=c&state=" + f.authorizeValue("state")));
        expectFailure(delivery, kind, check);
        EXPECT_TRUE(f.storage->items.empty());
    };
    failedLogin(
        [](Fixture& f) {
            f.tokenAnswer = HTTPResult(HTTPResponse{503, {}, "Service Unavailable"});
        },
        WebAuthError::Kind::codeExchangeFailed,
        [](const WebAuthError& error) {
            EXPECT_EQ(error.message(), "The authorization code exchange failed.");
            EXPECT_EQ(causeAs<AuthenticationError>(error.cause()).statusCode(), 503);
        });
    failedLogin(
        [](Fixture& f) {
            f.tokenAnswer = jsonResponse(
                403,
                R"({"error":"unauthorized_client","error_description":"PKCE is not allowed"})");
        },
        WebAuthError::Kind::pkceNotAllowed,
        [](const WebAuthError& error) {
            EXPECT_EQ(error.message(),
                      "PKCE not allowed - Application Type must be 'Native' and Token Endpoint "
                      "Authentication Method must be 'None'");
        });
    failedLogin([](Fixture& f) { f.nonceOverride = "replayed"; },
                WebAuthError::Kind::idTokenValidationFailed,
                [](const WebAuthError& error) {
                    EXPECT_EQ(error.message(),
                              "The ID token validation performed after authentication failed.");
                    EXPECT_EQ(causeAs<IDTokenValidationError>(error.cause()).kind(),
                              IDTokenValidationError::Kind::nonceMismatch);
                });
    failedLogin(
        [](Fixture& f) { f.jwksAnswer = unexpected(URLError(URLError::Code::timedOut, "slow")); },
        WebAuthError::Kind::idTokenValidationFailed,
        [](const WebAuthError& error) {
            EXPECT_TRUE(causeAs<AuthenticationError>(error.cause()).isNetworkError());
        });
    failedLogin([](Fixture& f) { f.storage->failWrites = true; },
                WebAuthError::Kind::credentialsManagerFailed,
                [](const WebAuthError& error) {
                    EXPECT_EQ(error.message(),
                              "The credentials manager failed to store or clear credentials.");
                });
}

TEST(WebAuth, RefusesWhatCannotBeBuilt) {
    Fixture f;
    Delivery<Result> delivery;
    f.builder("bad domain").start(delivery.callback());
    expectFailure(delivery, WebAuthError::Kind::other, [](const WebAuthError& error) {
        EXPECT_EQ(error.message(),
                  "Unable to build authorize URL with base URL: https://bad domain");
    });
    Delivery<Result> invitation;
    f.builder()
        .invitationURL("https://app.example/invite?invitation=abc")
        .start(invitation.callback());
    expectFailure(
        invitation, WebAuthError::Kind::invalidInvitationURL, [](const WebAuthError& error) {
            EXPECT_EQ(error.message(),
                      "Invalid invitation URL: missing organization or invitation parameters");
        });
    EXPECT_FALSE(WebAuthentication::hasTransaction());
}
