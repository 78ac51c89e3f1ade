#include "FakeStorage.h"
#include "FakeURLSession.h"
#include "TestTokens.h"
#include "idp/CredentialsManager.h"
#include "idp/FormEncoding.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;
using Kind = CredentialsManagerError::Kind;
using Result = Expected<Credentials, CredentialsManagerError>;

namespace {

const TimePoint start = TimePoint(std::chrono::seconds(1'800'000'000));

struct Fixture {
    explicit Fixture(FakeURLSession::Handler handler)
        : session(std::make_shared<FakeURLSession>(std::move(handler))),
          storage(std::make_shared<FakeStorage>()) {
        auto api = std::make_shared<Authentication>("client-1", "tenant.example:8443", session,
                                                    [this] { return now.load(); });
        manager = CredentialsManager::make(api, "credentials", "dpop_thumbprint", storage);
    }

    Result get(std::optional<std::string> scope = std::nullopt, std::int64_t minTTL = 60) {
        Delivery<Result> delivery;
        manager->credentials(std::move(scope), minTTL, {}, {}, delivery.callback());
        EXPECT_TRUE(delivery.waitFor(1));
        return delivery.first();
    }

    std::optional<Credentials> stored() {
        auto data = storage->item("credentials");
        return data ? Credentials::unarchive(*data) : std::nullopt;
    }

    std::shared_ptr<FakeURLSession> session;
    std::shared_ptr<FakeStorage> storage;
    std::shared_ptr<CredentialsManager> manager;
    std::atomic<TimePoint> now{start};
};

Credentials credentials(std::chrono::seconds lifetime,
                        std::optional<std::string> refresh = "rt-old") {
    Credentials value;
    value.accessToken = "at-old";
    value.tokenType = "Bearer";
    value.idToken = "id-old";
    value.refreshToken = std::move(refresh);
    value.expiresAt = start + lifetime;
    value.scope = "openid profile email offline_access";
    return value;
}

HTTPResult tokenAnswer(const std::string& body) {
    return jsonResponse(200, body);
}

Parameters formOf(const HTTPRequest& request) {
    return *parseFormEncoded(request.body);
}

std::optional<std::string> valueOf(const Parameters& parameters, const std::string& name) {
    for (const auto& [key, value] : parameters) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

} // namespace

TEST(CredentialsManager, AnswersFromTheStoreWhileTheTokenLastsLongEnough) {
    Fixture f([](const HTTPRequest&) -> HTTPResult { return tokenAnswer("{}"); });
    auto none = f.get();
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().kind(), Kind::noCredentials);
    EXPECT_EQ(none.error().message(), "No credentials were found in the store.");
    EXPECT_FALSE(f.manager->hasValid());
    EXPECT_FALSE(f.manager->canRenew());

    ASSERT_TRUE(f.manager->store(credentials(std::chrono::hours(1))));
    EXPECT_TRUE(f.manager->hasValid(3600));
    EXPECT_FALSE(f.manager->hasValid(3601));
    EXPECT_TRUE(f.manager->canRenew());
    auto cached = f.get(std::nullopt, 60);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->accessToken, "at-old");
    // The same scope in another order, with or without "openid", is the same scope.
    EXPECT_TRUE(f.get("email offline_access profile"));
    EXPECT_TRUE(f.session->requests().empty());
}

TEST(CredentialsManager, RenewsWithAFormEncodedRefreshRequest) {
    Fixture f([](const HTTPRequest&) {
        return tokenAnswer(R"({"access_token":"at-new","token_type":"bearer","expires_in":3600})");
    });
    f.manager->store(credentials(std::chrono::seconds(30)));
    auto renewed = f.get(std::nullopt, 60);
    ASSERT_TRUE(renewed) << renewed.error().message();
    EXPECT_EQ(renewed->accessToken, "at-new");
    EXPECT_EQ(renewed->refreshToken, "rt-old"); // the answer carried none
    EXPECT_EQ(f.stored(), *renewed);

    auto requests = f.session->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].url, "https://tenant.example:8443/oauth/token");
    EXPECT_EQ(requests[0].headers.at(0), (std::pair<std::string, std::string>(
                                             "Content-Type", "application/x-www-form-urlencoded")));
    EXPECT_EQ(formOf(requests[0]), (Parameters{{"grant_type", "refresh_token"},
                                               {"refresh_token", "rt-old"},
                                               {"client_id", "client-1"}}));
}

TEST(CredentialsManager, RenewsForAnotherScopeAndKeepsWhatTheAnswerLeavesOut) {
    Fixture f([](const HTTPRequest&) {
        return tokenAnswer(
            R"({"access_token":"at-new","token_type":"Bearer","refresh_token":"rt-new",
                               "expires_in":"7200","scope":"openid read:recordings"})");
    });
    f.manager->store(credentials(std::chrono::hours(1)));
    auto renewed = f.get("read:recordings", 60);
    ASSERT_TRUE(renewed) << renewed.error().message();
    EXPECT_EQ(renewed->refreshToken, "rt-new");
    EXPECT_EQ(renewed->idToken, "id-old"); // the answer carried no ID token
    EXPECT_EQ(renewed->expiresAt, start + std::chrono::seconds(7200));
    EXPECT_EQ(valueOf(formOf(f.session->requests().at(0)), "scope"), "read:recordings");
}

TEST(CredentialsManager, ReportsWhyItCouldNotRenew) {
    Fixture f([](const HTTPRequest&) -> HTTPResult { return tokenAnswer("{}"); });
    f.manager->store(credentials(std::chrono::seconds(10), std::nullopt));
    auto noRefresh = f.get();
    ASSERT_FALSE(noRefresh);
    EXPECT_EQ(noRefresh.error().kind(), Kind::noRefreshToken);
    EXPECT_EQ(noRefresh.error().message(),
              "The stored credentials instance does not contain a refresh token.");

    struct Case {
        HTTPResult answer;
        long status;
        bool network;
        std::string code;
    };
    std::vector<Case> cases{
        {HTTPResponse{503, {}, "Service Unavailable"}, 503, false, "idp.sdk.internal_error.plain"},
        {unexpected(URLError(URLError::Code::cannotConnectToHost, "refused")), 0, true,
         "idp.sdk.internal_error.plain"},
        {jsonResponse(400, R"({"error":"invalid_grant","error_description":"Revoked."})"), 400,
         false, "invalid_grant"},
        {tokenAnswer(R"({"access_token":"a","token_type":"Bearer","expires_in":"later"})"), 200,
         false, "idp.sdk.internal_error.plain"},
        // A token that needs a proof this client cannot make is never used.
        {tokenAnswer(R"({"access_token":"a","token_type":"DPoP","expires_in":3600})"), 200, false,
         "idp.sdk.internal_error.plain"},
    };
    for (auto& c : cases) {
        Fixture g([&](const HTTPRequest&) { return c.answer; });
        g.manager->store(credentials(std::chrono::seconds(10)));
        auto failed = g.get();
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().kind(), Kind::renewFailed);
        EXPECT_EQ(failed.error().message(), "The credentials renewal failed.");
        const auto& cause = causeAs<AuthenticationError>(failed.error().cause());
        EXPECT_EQ(cause.statusCode(), c.status);
        EXPECT_EQ(cause.isNetworkError(), c.network);
        EXPECT_EQ(cause.code(), c.code);
        EXPECT_EQ(g.stored()->accessToken, "at-old"); // nothing lost
    }
}

TEST(CredentialsManager, LargeMinTTLKeepsTheRenewedCredentials) {
    Fixture f([](const HTTPRequest&) {
        return tokenAnswer(
            R"({"access_token":"at-new","token_type":"Bearer","refresh_token":"rt-new","expires_in":30})");
    });
    f.manager->store(credentials(std::chrono::seconds(10)));
    auto result = f.get(std::nullopt, 60);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), Kind::largeMinTTL);
    EXPECT_EQ(result.error().message(), "The minTTL requested (60s) is greater than the lifetime "
                                        "of the renewed access token (30s). Request a "
                                        "lower minTTL or increase the 'Token Expiration' value in "
                                        "the settings of your identity provider's API.");
    // The rotated refresh token must not be lost with the short-lived access token.
    EXPECT_EQ(f.stored()->refreshToken, "rt-new");
}

TEST(CredentialsManager, RenewalsNeverOverlap) {
    std::atomic<int> counter{0};
    Fixture f([&](const HTTPRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        int n = ++counter;
        return tokenAnswer(
            R"({"access_token":"at-)" + std::to_string(n) +
            R"(","token_type":"Bearer","refresh_token":"rt-new","expires_in":3600})");
    });
    f.manager->store(credentials(std::chrono::seconds(10)));
    Delivery<Result> delivery;
    std::vector<std::thread> callers;
    for (int i = 0; i < 6; ++i) {
        callers.emplace_back(
            [&] { f.manager->credentials(std::nullopt, 60, {}, {}, delivery.callback()); });
    }
    for (auto& caller : callers)
        caller.join();
    ASSERT_TRUE(delivery.waitFor(6));
    for (std::size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(delivery.at(i));
        EXPECT_EQ(delivery.at(i)->accessToken, "at-1");
    }
    // The first call renewed; the others found its result in the store.
    EXPECT_EQ(f.session->requests().size(), 1u);
    EXPECT_EQ(f.session->maxInFlight(), 1);
}

TEST(CredentialsManager, ASignOutDuringARenewalIsNotUndone) {
    std::mutex gate;
    gate.lock();
    Fixture f([&](const HTTPRequest&) {
        std::lock_guard wait(gate); // held until the test has cleared the store
        return tokenAnswer(
            R"({"access_token":"at-new","token_type":"Bearer","refresh_token":"rt-new","expires_in":3600})");
    });
    f.manager->store(credentials(std::chrono::seconds(10)));
    Delivery<Result> delivery;
    f.manager->credentials(std::nullopt, 60, {}, {}, delivery.callback());
    while (f.session->requests().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(f.manager->clear());
    gate.unlock();
    ASSERT_TRUE(delivery.waitFor(1));
    ASSERT_FALSE(delivery.first());
    EXPECT_EQ(delivery.first().error().kind(), Kind::noCredentials);
    EXPECT_FALSE(f.storage->item("credentials"));
}

TEST(CredentialsManager, StoreFailuresAreReportedAndNothingIsLost) {
    Fixture f([](const HTTPRequest&) {
        return tokenAnswer(R"({"access_token":"at-new","token_type":"Bearer","expires_in":3600})");
    });
    // An item it cannot read counts as no credentials and stays in place.
    f.storage->items["credentials"] = bytesOf("from a future version");
    auto unknown = f.get();
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().kind(), Kind::noCredentials);
    EXPECT_EQ(f.storage->item("credentials"), bytesOf("from a future version"));

    f.manager->store(credentials(std::chrono::seconds(10)));
    f.storage->failWrites = true;
    EXPECT_FALSE(f.manager->store(credentials(std::chrono::hours(1))));
    auto result = f.get();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), Kind::storeFailed);
    EXPECT_EQ(result.error().message(), "Storing the renewed credentials failed.");
    EXPECT_EQ(f.stored()->accessToken, "at-old");

    f.storage->failReads = true;
    auto unreadable = f.get();
    ASSERT_FALSE(unreadable);
    EXPECT_EQ(unreadable.error().kind(), Kind::noCredentials);
    EXPECT_NE(unreadable.error().cause(), nullptr);

    // Clearing removes both items and reports a store that refuses.
    f.storage->failWrites = f.storage->failReads = false;
    f.storage->items["dpop_thumbprint"] = bytesOf("old");
    f.storage->failDeletes = true;
    auto failed = f.manager->clear();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind(), Kind::clearFailed);
    EXPECT_EQ(failed.error().message(), "Clearing of the credentials failed");
    f.storage->failDeletes = false;
    EXPECT_TRUE(f.manager->clear());
    EXPECT_TRUE(f.storage->items.empty());
    EXPECT_TRUE(f.manager->clear()); // nothing stored: nothing to fail
}
