// The identity owner on a manual main loop, with a fake identity provider behind a fake session:
// outcomes, the generation of a login, the browser wait on the continuous clock, correlation of
// the callback by its state, and the hop lines.

#include "FakeIdentityPlatform.h"
#include "identity/NativeIdentityOwner.h"
#include "idp/FakeStorage.h"
#include "idp/FakeURLSession.h"
#include "idp/FormEncoding.h"
#include "idp/TestTokens.h"
#include "idp/WebAuth.h"
#include "support/LogCapture.h"
#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>
#include <thread>

using namespace quorvel;
using namespace quorvel::idp::test;
using quorvel::test::FakeIdentityPlatform;
using quorvel::test::ManualMainLoop;

namespace {

constexpr const char* native = "com.zadovuzuzo.recorder://auth/callback";
constexpr const char* issuer = "https://tenant.example/";

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string valueOf(const std::string& url, const std::string& name) {
    auto start = url.find('?');
    auto pairs = idp::parseFormEncoded(url.substr(start + 1));
    for (const auto& [key, value] : pairs.value_or(idp::Parameters{})) {
        if (key == name)
            return value;
    }
    return "";
}

std::string hopLine(const std::string& label, bool main = true) {
    return "identity_sign_in_hop hop=" + label + " main=" + (main ? "true" : "false");
}

struct Fixture {
    Fixture() {
        MainLoop::setShared(loop);
        session = std::make_shared<idp::test::FakeURLSession>(
            [this](const idp::HTTPRequest& request) -> idp::HTTPResult {
                if (request.url.ends_with("/.well-known/jwks.json"))
                    return jsonResponse(200, jwksText());
                std::lock_guard lock(mutex);
                return tokenAnswer;
            });
        storage = std::make_shared<FakeStorage>();
        platform = std::make_shared<FakeIdentityPlatform>(session, storage);
        owner = NativeIdentityOwner::make(platform, loop);
    }

    // Nothing of a login may outlive its test: the client's transaction is process-wide.
    ~Fixture() {
        idp::WebAuthentication::cancel();
        for (int i = 0; i < 2000 && idp::WebAuthentication::hasTransaction(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        settle();
        owner.reset();
        MainLoop::setShared(nullptr);
    }

    void configure(std::optional<std::string> setting = std::nullopt) {
        platform->setBrowserCallbackSetting(setting);
        auto configuration =
            IdentityConfiguration::make(issuer, "client-1", "https://api.test", native, setting);
        ASSERT_TRUE(configuration);
        ASSERT_EQ(owner->configure(*configuration), 0);
    }

    std::int32_t begin() {
        return owner->beginLogin([this](LoginOutcome outcome) { outcomes.push_back(outcome); });
    }

    // Runs what the client's threads post to the main loop until the condition holds.
    bool runUntil(const std::function<bool()>& condition) {
        for (int i = 0; i < 5000; ++i) {
            loop->drain();
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    bool waitForOutcome(std::size_t count = 1) {
        return runUntil([&] { return outcomes.size() >= count; });
    }
    // Lets late deliveries of the client arrive and run.
    void settle() {
        for (int i = 0; i < 50; ++i) {
            loop->drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::string authorizeURL() {
        auto opened = platform->opened();
        return opened.empty() ? "" : opened.back();
    }

    // The callback the desktop would deliver; the token answer is prepared for its nonce.
    std::string callback(const std::string& values) {
        std::string url = authorizeURL();
        Json claims{{"iss", issuer},       {"sub", "user-1"},
                    {"aud", "client-1"},   {"exp", nowSeconds() + 3600},
                    {"iat", nowSeconds()}, {"nonce", valueOf(url, "nonce")}};
        std::lock_guard lock(mutex);
        tokenAnswer = jsonResponse(200, dumpCompact(Json{{"access_token", "at-1"},
                                                         {"token_type", "Bearer"},
                                                         {"id_token", rs256Token(claims)},
                                                         {"refresh_token", "rt-1"},
                                                         {"expires_in", 3600}}));
        return std::string(native) + values;
    }

    std::string state() { return valueOf(authorizeURL(), "state"); }

    quorvel::test::LogCapture log;
    std::shared_ptr<ManualMainLoop> loop = std::make_shared<ManualMainLoop>();
    std::mutex mutex;
    idp::HTTPResult tokenAnswer = unexpected(idp::URLError(idp::URLError::Code::unknown, "unset"));
    std::shared_ptr<idp::test::FakeURLSession> session;
    std::shared_ptr<FakeStorage> storage;
    std::shared_ptr<FakeIdentityPlatform> platform;
    std::shared_ptr<NativeIdentityOwner> owner;
    std::vector<LoginOutcome> outcomes;
};

} // namespace

TEST(NativeIdentityOwner, ConfiguresOnceAndComparesLaterConfigurations) {
    Fixture f;
    EXPECT_EQ(f.begin(), -1);
    EXPECT_EQ(f.owner->reopenBrowser(), -1);
    EXPECT_EQ(f.owner->resumeLogin(native), -1);
    EXPECT_EQ(f.log.count(hopLine("owner_begin_login_entered")), 1u);
    EXPECT_EQ(f.log.count(hopLine("owner_reopen_browser_entered")), 1u);

    f.configure();
    auto first = *f.owner->configuration();
    EXPECT_EQ(first.domain, "tenant.example");
    EXPECT_EQ(first.browserCallbackURL, native);
    EXPECT_EQ(f.owner->configure(first), 0);
    auto other = first;
    other.audience = "https://other.test";
    EXPECT_EQ(f.owner->configure(other), -2);
    EXPECT_EQ(f.owner->configuration(), first);
    EXPECT_EQ(f.platform->services(),
              std::vector<std::string>{"com.quorvel.desktop.identity.oidc"});
    ASSERT_TRUE(f.owner->credentialsManager());
    EXPECT_EQ(f.owner->credentialsManager()->storeKey(), "credentials");
    EXPECT_EQ(f.owner->credentialsManager()->dpopThumbprintKey(), "dpop_thumbprint");
}

TEST(NativeIdentityOwner, ASignInOpensTheBrowserLaterAndSucceedsOnTheRightCallback) {
    Fixture f;
    f.configure();
    ASSERT_EQ(f.begin(), 1);
    EXPECT_TRUE(f.owner->loginInProgress());
    // The browser opens after beginLogin returned, on the main loop; until then nothing waits.
    EXPECT_TRUE(f.platform->opened().empty());
    EXPECT_EQ(f.owner->reopenBrowser(), -3);
    EXPECT_EQ(f.owner->resumeLogin(f.callback("?code=c&state=early")), 0);
    f.loop->drain();
    ASSERT_EQ(f.platform->opened().size(), 1u);

    std::string url = f.authorizeURL();
    EXPECT_TRUE(url.starts_with("https://tenant.example/authorize?"));
    EXPECT_EQ(valueOf(url, "redirect_uri"), native);
    EXPECT_EQ(valueOf(url, "scope"), "openid profile email offline_access");
    EXPECT_EQ(valueOf(url, "audience"), "https://api.test");
    EXPECT_EQ(url.find("response_mode"), std::string::npos);
    EXPECT_EQ(f.owner->browserCallback().pendingState, f.state());
    EXPECT_EQ(f.owner->browserCallback().pendingAuthorizeURL, url);

    EXPECT_EQ(f.owner->reopenBrowser(), 1);
    EXPECT_EQ(f.platform->opened().size(), 2u);
    f.platform->openResult = false;
    EXPECT_EQ(f.owner->reopenBrowser(), -10);
    EXPECT_EQ(f.owner->browserCallback().pendingState, f.state()); // reopening changes nothing

    // Another path of the callback scheme; then a wrong state, which leaves the login waiting.
    EXPECT_EQ(f.owner->resumeLogin("com.zadovuzuzo.recorder://auth/logout?state=" + f.state()), -4);
    EXPECT_EQ(f.owner->resumeLogin(f.callback("?code=c&state=wrong")), 0);
    EXPECT_EQ(f.owner->resumeLogin(f.callback("?code=c")), 0);
    EXPECT_EQ(f.owner->browserCallback().pendingState, f.state());
    // Scheme and host in capitals still match.
    std::string right = f.callback("?code=c&state=" + f.state());
    right.replace(0, 23, "COM.ZADOVUZUZO.RECORDER");
    EXPECT_EQ(f.owner->resumeLogin(right), 1);
    EXPECT_FALSE(f.owner->browserCallback().pendingState);
    EXPECT_EQ(f.owner->resumeLogin(right), 0); // accepted once

    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<LoginOutcome>{LoginOutcome::succeeded});
    EXPECT_FALSE(f.owner->loginInProgress());
    EXPECT_EQ(f.log.count(hopLine("webauth_result_success")), 1u);
    ASSERT_TRUE(f.owner->credentialsManager()->storedCredentials());
    EXPECT_EQ(f.owner->credentialsManager()->storedCredentials()->accessToken, "at-1");
    // The wait ended with the login: nothing fires 300 seconds later.
    f.loop->advance(400);
    f.settle();
    EXPECT_EQ(f.outcomes.size(), 1u);
    EXPECT_EQ(f.loop->activeTimerCount(), 0u);
}

TEST(NativeIdentityOwner, ASecondLoginIsRefusedAndTheFirstTimesOutOnce) {
    Fixture f;
    f.configure();
    std::vector<LoginOutcome> second;
    ASSERT_EQ(f.begin(), 1);
    f.loop->drain();
    EXPECT_EQ(f.owner->beginLogin([&](LoginOutcome o) { second.push_back(o); }), -3);

    f.loop->advance(299);
    f.settle();
    EXPECT_TRUE(f.outcomes.empty());
    f.loop->advance(1);
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<LoginOutcome>{LoginOutcome::timedOut});
    EXPECT_EQ(f.log.count(hopLine("webauth_result_timed_out")), 1u);
    EXPECT_TRUE(second.empty());
    // After the wait ran out, the browser cannot be reopened and a late callback is not taken.
    EXPECT_EQ(f.owner->reopenBrowser(), -3);
    EXPECT_EQ(f.owner->resumeLogin(f.callback("?code=c&state=" + f.state())), 0);
    f.settle();
    EXPECT_EQ(f.outcomes.size(), 1u);
}

TEST(NativeIdentityOwner, TheBrowserWaitCountsTimeTheMachineSlept) {
    Fixture f;
    f.configure();
    ASSERT_EQ(f.begin(), 1);
    f.loop->drain();
    f.loop->advance(10);
    // The machine sleeps for ten minutes: main-loop timers did not run, the continuous clock did.
    f.platform->skipClock(600);
    f.loop->advance(1);
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<LoginOutcome>{LoginOutcome::timedOut});
}

TEST(NativeIdentityOwner, EachLoginHasItsOwnWaitAndGeneration) {
    Fixture f;
    f.configure();
    ASSERT_EQ(f.begin(), 1);
    f.loop->drain();
    idp::WebAuthentication::cancel(); // the user cancelled
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<LoginOutcome>{LoginOutcome::cancelled});
    EXPECT_EQ(f.log.count(hopLine("webauth_result_cancelled")), 1u);

    f.loop->advance(100);
    ASSERT_EQ(f.begin(), 1);
    f.loop->drain();
    EXPECT_EQ(f.platform->opened().size(), 2u);
    f.loop->advance(250); // past the first login's 300 seconds
    f.settle();
    EXPECT_EQ(f.outcomes.size(), 1u);
    EXPECT_TRUE(f.owner->loginInProgress());
    f.loop->advance(50);
    ASSERT_TRUE(f.waitForOutcome(2));
    EXPECT_EQ(f.outcomes[1], LoginOutcome::timedOut);
}

TEST(NativeIdentityOwner, FailedAndUnreachableLoginsLogTheirHop) {
    Fixture f;
    f.configure();
    f.platform->openResult = false;
    ASSERT_EQ(f.begin(), 1);
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<LoginOutcome>{LoginOutcome::failed});
    EXPECT_EQ(f.log.count(hopLine("webauth_result_failure")), 1u);
    EXPECT_EQ(f.loop->activeTimerCount(), 0u);

    f.platform->openResult = true;
    ASSERT_EQ(f.begin(), 1);
    f.loop->drain();
    std::string url = f.callback("?code=c&state=" + f.state());
    {
        std::lock_guard lock(f.mutex);
        f.tokenAnswer = unexpected(idp::URLError(idp::URLError::Code::cannotConnectToHost, "down"));
    }
    EXPECT_EQ(f.owner->resumeLogin(url), 1);
    ASSERT_TRUE(f.waitForOutcome(2));
    EXPECT_EQ(f.outcomes.back(), LoginOutcome::unreachable);
    EXPECT_EQ(f.log.count(hopLine("webauth_result_unreachable")), 1u);
}

TEST(NativeIdentityOwner, ACallbackTheClientRefusesEndsTheLoginAsFailed) {
    Fixture f;
    f.configure();
    ASSERT_EQ(f.begin(), 1);
    f.loop->drain();
    // The right state, but "code" twice: the client does not take it, and nobody brings another.
    std::string refused = f.callback("?code=a&code=b&state=" + f.state());
    EXPECT_EQ(f.owner->resumeLogin(refused), 0);
    EXPECT_EQ(f.owner->resumeLogin(f.callback("?code=c&state=" + f.state())), 0);
    EXPECT_EQ(f.owner->reopenBrowser(), -3);
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<LoginOutcome>{LoginOutcome::failed});
    EXPECT_EQ(f.log.count(hopLine("webauth_result_failure")), 1u);
    f.loop->advance(300);
    EXPECT_EQ(f.outcomes.size(), 1u);
}

TEST(NativeIdentityOwner, AnOwnerThatIsGoneLeavesNothingBehind) {
    Fixture f;
    f.configure();
    ASSERT_EQ(f.begin(), 1);
    f.owner.reset();
    // The opener finds no owner and opens nothing; the client's transaction ends anyway.
    f.loop->drain();
    EXPECT_TRUE(f.platform->opened().empty());
    EXPECT_TRUE(f.runUntil([] { return !idp::WebAuthentication::hasTransaction(); }));
    EXPECT_TRUE(f.outcomes.empty());
}

TEST(NativeIdentityOwner, LoginOutcomeForCause) {
    using O = NativeIdentityOwner;
    auto auth = [](long status, Json info = Json::object(), idp::ErrorPointer cause = nullptr) {
        return idp::AuthenticationError(std::move(info), status, std::move(cause));
    };
    auto network = idp::makeError(idp::URLError(idp::URLError::Code::timedOut, "slow"));
    EXPECT_EQ(O::loginOutcome(nullptr), std::nullopt);
    EXPECT_EQ(O::loginOutcome(network), LoginOutcome::unreachable);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(0, {}, network))), LoginOutcome::unreachable);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(429))), LoginOutcome::unreachable);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(500))), LoginOutcome::unreachable);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(599))), LoginOutcome::unreachable);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(600))), std::nullopt);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(499))), std::nullopt);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(403, {{"error", "access_denied"}}))),
              LoginOutcome::cancelled);
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(403, {{"error", "Access_Denied"}}))),
              std::nullopt);
    // A server error wins over its text.
    EXPECT_EQ(O::loginOutcome(idp::makeError(auth(503, {{"error", "access_denied"}}))),
              LoginOutcome::unreachable);
    EXPECT_EQ(O::loginOutcome(idp::makeError(idp::ClientError("other"))), std::nullopt);

    using Kind = idp::CredentialsManagerError::Kind;
    auto renewal = [](Kind kind, idp::ErrorPointer cause) {
        return O::renewalNeverReachedAVerdict(idp::CredentialsManagerError(kind, std::move(cause)));
    };
    EXPECT_TRUE(renewal(Kind::renewFailed, idp::makeError(auth(503))));
    EXPECT_TRUE(renewal(Kind::renewFailed, idp::makeError(auth(0, {}, network))));
    EXPECT_FALSE(renewal(Kind::renewFailed, idp::makeError(auth(400))));
    EXPECT_FALSE(renewal(Kind::renewFailed, network)); // the cause must be the API's error
    EXPECT_FALSE(renewal(Kind::renewFailed, nullptr));
    EXPECT_FALSE(renewal(Kind::noCredentials, idp::makeError(auth(503))));
    EXPECT_FALSE(renewal(Kind::storeFailed, idp::makeError(auth(503))));

    EXPECT_EQ(loginOutcomeFromCode(4), LoginOutcome::timedOut);
    EXPECT_EQ(loginOutcomeFromCode(5), std::nullopt);
    EXPECT_EQ(loginOutcomeFromCode(-1), std::nullopt);
}
