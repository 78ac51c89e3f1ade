// Native identity end to end inside the process: the C functions and the identity owner against
// the local HTTPS identity provider, a private gnome-keyring holding the credentials, and a
// scripted default browser that follows the provider's redirect back to the host app.

#include "IdentityTestHarness.h"
#include "support/LogCapture.h"

#include <cstring>

using namespace quorvel;
using namespace quorvel::test;

namespace {

[[maybe_unused]] auto* const keyringEnvironment =
    ::testing::AddGlobalTestEnvironment(new KeyringEnvironment);

constexpr const char* audience = "https://api.quorvel.test";

struct Identity {
    Identity() {
        ensureKeyring();
        idp::CurlURLSession::Configuration configuration;
        configuration.extraCAFile = provider.caFile();
        session = std::make_shared<idp::CurlURLSession>(configuration);
        browser.session = session;
        store = std::make_shared<idp::KeychainStore>(identity::keychainService);
        EXPECT_TRUE(store->deleteEntry(identity::credentialsStoreKey)); // a signed-out user
        platform = std::make_shared<FakeIdentityPlatform>(session, store);
        platform->setOnOpen([this](const std::string& url) { return browser.open(url); });
        owner = NativeIdentityOwner::make(platform, MainLoop::sharedPointer());
        NativeIdentityOwner::setShared(owner);
    }

    ~Identity() {
        browser.finish();
        idp::WebAuthentication::cancel();
        pumpUntil([] { return !idp::WebAuthentication::hasTransaction(); });
        pumpFor(std::chrono::milliseconds(50));
        NativeIdentityOwner::setShared(nullptr);
        identitybridge::setTokenCopyWaitForTesting(std::nullopt);
    }

    std::int32_t configure(const std::string& issuer) {
        return quorvel_identity_configure(issuer.c_str(), provider.clientId().c_str(), audience,
                                          nativeCallback);
    }
    std::int32_t configure() { return configure(provider.issuer()); }

    std::int32_t begin() { return quorvel_identity_begin_login(&Identity::record, this); }

    static void record(std::int32_t outcome, void* context) {
        auto* self = static_cast<Identity*>(context);
        self->outcomes.push_back(outcome);
        self->onMainThread.push_back(isProcessMainThread());
    }

    bool waitForOutcome(std::size_t count = 1) {
        return pumpUntil([&] { return outcomes.size() >= count; }, std::chrono::seconds(30));
    }

    std::int32_t signIn() {
        EXPECT_EQ(begin(), 1);
        if (!waitForOutcome(outcomes.size() + 1))
            return -100;
        return outcomes.back();
    }

    struct Copy {
        std::int32_t code;
        std::string buffer;
    };
    // A token copy from a worker thread into a buffer of `size` bytes filled with '#'.
    Copy copy(std::intptr_t capacity, std::size_t size = 65537) {
        return onWorker([capacity, size] {
            std::string buffer(size, '#');
            std::int32_t code = quorvel_identity_copy_access_token(buffer.data(), capacity);
            return Copy{code, buffer};
        });
    }

    // Everything stored, comparable and readable in a failure message.
    std::string storedTokens() {
        auto stored = owner->credentialsManager()->storedCredentials();
        return stored ? std::string(textOf(stored->archive())) : std::string();
    }

    std::string storedAccessToken() {
        auto stored = owner->credentialsManager()->storedCredentials();
        return stored ? stored->accessToken : "";
    }

    LocalIdentityProvider provider;
    std::shared_ptr<idp::CurlURLSession> session;
    std::shared_ptr<idp::KeychainStore> store;
    ScriptedBrowser browser;
    std::shared_ptr<FakeIdentityPlatform> platform;
    std::shared_ptr<NativeIdentityOwner> owner;
    std::vector<std::int32_t> outcomes;
    std::vector<bool> onMainThread;
};

} // namespace

TEST(NativeIdentity, SignsInThroughTheBrowserAndCopiesFreshTokensOffTheMainThread) {
    Identity f;
    EXPECT_EQ(f.configure(), 0);
    ASSERT_EQ(f.signIn(), 1);
    EXPECT_EQ(f.onMainThread, std::vector<bool>{true});
    EXPECT_EQ(f.browser.answers(), std::vector<std::int32_t>{1});
    ASSERT_EQ(f.browser.opened.size(), 1u);
    EXPECT_TRUE(f.browser.opened[0].starts_with(f.provider.issuer() + "authorize?"));
    EXPECT_EQ(f.browser.opened[0].find("response_mode"), std::string::npos);

    // Stored in the keyring: a new owner over the same keyring finds them.
    std::string token = f.storedAccessToken();
    ASSERT_FALSE(token.empty());
    auto copied = f.copy(65536);
    ASSERT_EQ(copied.code, static_cast<std::int32_t>(token.size()));
    EXPECT_EQ(copied.buffer.substr(0, token.size()), token);

    // Exactly the token's length: no terminating NUL. One byte less: -8, buffer untouched.
    auto exact = f.copy(static_cast<std::intptr_t>(token.size()), token.size() + 1);
    EXPECT_EQ(exact.code, static_cast<std::int32_t>(token.size()));
    EXPECT_EQ(exact.buffer, token + "#");
    auto small = f.copy(static_cast<std::intptr_t>(token.size() - 1), token.size() + 1);
    EXPECT_EQ(small.code, -8);
    EXPECT_EQ(small.buffer, std::string(token.size() + 1, '#'));

    // A token about to expire is renewed first.
    f.provider.setControl(R"({"access_token_lifetime": 30})");
    ASSERT_EQ(f.signIn(), 1);
    std::string shortLived = f.storedAccessToken();
    f.provider.setControl(R"({"access_token_lifetime": 3600})");
    auto renewed = f.copy(65536);
    ASSERT_GT(renewed.code, 0);
    std::string renewedToken = renewed.buffer.substr(0, static_cast<std::size_t>(renewed.code));
    EXPECT_NE(renewedToken, shortLived);
    EXPECT_EQ(renewedToken, f.storedAccessToken());
}

TEST(NativeIdentity, UnreachableWhenTheProviderIsDown) {
    Identity f;
    // Nothing listens on the issuer's port: the browser brings a code, the exchange finds no one.
    int closedPort = f.provider.port();
    {
        LocalIdentityProvider other;
        closedPort = other.port();
    }
    ASSERT_EQ(f.configure("https://localhost:" + std::to_string(closedPort) + "/"), 0);
    f.browser.mode = ScriptedBrowser::Mode::synthesize;
    EXPECT_EQ(f.signIn(), 3);
    EXPECT_EQ(f.browser.answers(), std::vector<std::int32_t>{1});
}

TEST(NativeIdentity, WithABrowserRedirectTheStateComesBackInTheFragment) {
    Identity f;
    const std::string page = "https://app.quorvel.test/auth/desktop/callback";
    f.platform->setBrowserCallbackSetting(page);
    ASSERT_EQ(f.configure(), 0);
    f.browser.redirectPage = true;
    ASSERT_EQ(f.signIn(), 1);
    ASSERT_EQ(f.browser.opened.size(), 1u);
    EXPECT_NE(f.browser.opened[0].find("response_mode=fragment"), std::string::npos);
    ASSERT_EQ(f.browser.deliveredURLs().size(), 1u);
    EXPECT_TRUE(f.browser.deliveredURLs()[0].starts_with(std::string(nativeCallback) + "#"));
    EXPECT_NE(f.browser.deliveredURLs()[0].find("state="), std::string::npos);
}

TEST(NativeIdentity, EveryOutcomeOfALoginReachesTheHostApp) {
    Identity f;
    ASSERT_EQ(f.configure(), 0);
    f.browser.mode = ScriptedBrowser::Mode::stay;
    ASSERT_EQ(f.begin(), 1);
    ASSERT_TRUE(pumpUntil([&] { return f.owner->browserCallback().pendingState.has_value(); }));
    // A second login while the first runs: refused, and its callback is never called.
    EXPECT_EQ(onWorker([] {
                  return quorvel_identity_begin_login(
                      [](std::int32_t, void*) { ADD_FAILURE() << "called back"; }, nullptr);
              }),
              -3);
    idp::WebAuthentication::cancel(); // the client's cancellation, as by the user
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<std::int32_t>{2});

    // The provider's refusals, its token endpoint failing, and a browser that does not open.
    f.browser.mode = ScriptedBrowser::Mode::follow;
    for (const auto& [control, outcome] : std::vector<std::pair<const char*, std::int32_t>>{
             {R"({"authorize_error": "access_denied"})", 2},
             {R"({"authorize_error": "server_error"})", 0},
             {R"({"token_status": 503})", 3}}) {
        f.provider.setControl(control);
        EXPECT_EQ(f.signIn(), outcome) << control;
    }
    f.provider.setControl("{}");
    f.browser.mode = ScriptedBrowser::Mode::refuse;
    EXPECT_EQ(f.signIn(), 0);
    EXPECT_EQ(f.browser.opened.size(), 5u);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(f.outcomes.size(), 5u);
}

TEST(NativeIdentity, ALoginTimesOutOrIsResumedByItsStateAndCallbackPath) {
    Identity f;
    EXPECT_EQ(quorvel_identity_resume_login(nativeCallback), -1);
    ASSERT_EQ(f.configure(), 0);
    f.browser.mode = ScriptedBrowser::Mode::stay;
    EXPECT_EQ(quorvel_identity_reopen_browser(), -3);
    EXPECT_EQ(quorvel_identity_resume_login("com.zadovuzuzo.recorder://auth/callback?state=x"), 0);
    ASSERT_EQ(f.begin(), 1);
    EXPECT_EQ(quorvel_identity_reopen_browser(), -3); // the browser has not opened yet
    ASSERT_TRUE(pumpUntil([&] { return f.owner->browserCallback().pendingState.has_value(); }));
    // The browser can be reopened while the login waits, from any thread.
    EXPECT_EQ(onWorker([] { return quorvel_identity_reopen_browser(); }), 1);
    EXPECT_EQ(quorvel_identity_reopen_browser(), 1);
    EXPECT_EQ(f.browser.opened.size(), 3u);
    // The machine slept through the five minutes.
    f.platform->skipClock(NativeIdentityOwner::browserWaitSeconds + 1);
    ASSERT_TRUE(f.waitForOutcome());
    EXPECT_EQ(f.outcomes, std::vector<std::int32_t>{4});
    EXPECT_EQ(quorvel_identity_reopen_browser(), -3);

    ASSERT_EQ(f.begin(), 1);
    ASSERT_TRUE(pumpUntil([&] { return f.owner->browserCallback().pendingState.has_value(); }));
    std::string state = *f.owner->browserCallback().pendingState;
    EXPECT_EQ(quorvel_identity_resume_login(
                  ("com.zadovuzuzo.recorder://auth/other?code=c&state=" + state).c_str()),
              -4);
    EXPECT_EQ(onWorker([] {
                  return quorvel_identity_resume_login(
                      "com.zadovuzuzo.recorder://auth/callback?code=c&state=wrong");
              }),
              0);
    // Now the browser comes back with the real response.
    f.browser.mode = ScriptedBrowser::Mode::follow;
    EXPECT_EQ(quorvel_identity_reopen_browser(), 1);
    ASSERT_TRUE(f.waitForOutcome(2));
    EXPECT_EQ(f.outcomes, (std::vector<std::int32_t>{4, 1}));
    EXPECT_EQ(f.browser.answers(), std::vector<std::int32_t>{1});
}

TEST(NativeIdentity, ArgumentsAreValidatedOnAnyThread) {
    Identity f;
    EXPECT_EQ(quorvel_identity_begin_login(nullptr, nullptr), -4);
    EXPECT_EQ(quorvel_identity_begin_login(&Identity::record, &f), -1);
    EXPECT_EQ(onWorker([] { return quorvel_identity_reopen_browser(); }), -1);
    EXPECT_EQ(quorvel_identity_sign_out(), 0); // nothing configured: nothing to clear
    EXPECT_EQ(quorvel_identity_resume_login(nullptr), -4);
    EXPECT_EQ(quorvel_identity_resume_login(""), -4);
    EXPECT_EQ(quorvel_identity_resume_login("not a url"), -4);
    // 65536 bytes are parsed (and are not a callback of the unconfigured owner), 65537 are not.
    std::string prefix = std::string(nativeCallback) + "?state=";
    std::string at = prefix + std::string(65536 - prefix.size(), 's');
    std::string over = at + "s";
    EXPECT_EQ(quorvel_identity_resume_login(at.c_str()), -1);
    EXPECT_EQ(onWorker([&] { return quorvel_identity_resume_login(over.c_str()); }), -4);

    const std::string issuer = f.provider.issuer();
    const std::string id = f.provider.clientId();
    const std::string long2048(2048, 'a');
    const std::string long2049(2049, 'a');
    for (bool worker : {false, true}) {
        auto run = [&](const char* a, const char* b, const char* c, const char* d) {
            return worker ? onWorker([&] { return quorvel_identity_configure(a, b, c, d); })
                          : quorvel_identity_configure(a, b, c, d);
        };
        EXPECT_EQ(run(nullptr, id.c_str(), audience, nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), nullptr, audience, nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), nullptr, nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), audience, nullptr), -4);
        EXPECT_EQ(run("", id.c_str(), audience, nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), "", audience, nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), "", nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), audience, ""), -4);
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), long2049.c_str(), nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), long2049.c_str(), audience, nativeCallback), -4);
        EXPECT_EQ(run(("https://h/" + long2049).c_str(), id.c_str(), audience, nativeCallback), -4);
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), audience,
                      "com.zadovuzuzo.recorder://auth/callback?x=1"),
                  -4);
        EXPECT_EQ(run("http://localhost/", id.c_str(), audience, nativeCallback), -4);
        // Bytes that are not UTF-8 become replacement characters, not errors; the same text
        // again is an equal configuration.
        EXPECT_EQ(run(issuer.c_str(), id.c_str(), "\xFF\xFE\xFD", nativeCallback), 0);
    }
    EXPECT_EQ(f.owner->configuration()->audience, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    // 2048 bytes pass this layer; a configuration is then kept for good.
    EXPECT_EQ(
        quorvel_identity_configure(issuer.c_str(), id.c_str(), long2048.c_str(), nativeCallback),
        -2);
    // A configured owner reads the 65536 bytes as a callback that belongs to no login.
    EXPECT_EQ(onWorker([&] { return quorvel_identity_resume_login(at.c_str()); }), 0);
    EXPECT_EQ(quorvel_identity_resume_login(over.c_str()), -4);
    NativeIdentityOwner::setShared(
        NativeIdentityOwner::make(f.platform, MainLoop::sharedPointer()));
    EXPECT_EQ(onWorker([&] {
                  return quorvel_identity_configure(issuer.c_str(), id.c_str(), long2048.c_str(),
                                                    nativeCallback);
              }),
              0);
    EXPECT_EQ(quorvel_identity_configure(issuer.c_str(), id.c_str(), audience, nativeCallback), -2);
    EXPECT_TRUE(f.outcomes.empty());
}

TEST(NativeIdentity, TokenCopyCodes) {
    Identity f;
    std::string buffer(16, '#');
    // On the main thread: refused at once, before anything else.
    EXPECT_EQ(quorvel_identity_copy_access_token(buffer.data(), 16), -5);
    EXPECT_EQ(quorvel_identity_copy_access_token(nullptr, 0), -5);
    EXPECT_EQ(f.copy(16).code, -1); // not configured
    ASSERT_EQ(f.configure(), 0);
    for (std::intptr_t capacity : {0, -1, 65537})
        EXPECT_EQ(f.copy(capacity).code, -4) << capacity;
    EXPECT_EQ(onWorker([] { return quorvel_identity_copy_access_token(nullptr, 16); }), -4);
    EXPECT_EQ(f.copy(65536).code, -7); // nobody signed in

    ASSERT_EQ(f.signIn(), 1);
    EXPECT_GT(f.copy(65536).code, 0);
    EXPECT_EQ(onWorker([] { return quorvel_identity_sign_out(); }), 0);
    EXPECT_EQ(f.copy(65536).code, -7);
    EXPECT_EQ(quorvel_identity_sign_out(), 0);
    EXPECT_TRUE(f.owner->configuration()); // sign-out leaves the configuration alone

    // A token that needs renewing, and a provider that cannot give an answer: -9; that refuses: -7.
    f.provider.setControl(R"({"access_token_lifetime": 30})");
    ASSERT_EQ(f.signIn(), 1);
    for (const auto& [control, code] : std::vector<std::pair<const char*, std::int32_t>>{
             {R"({"token_status": 503})", -9}, {R"({"token_refuse": true})", -7}}) {
        f.provider.setControl(control);
        EXPECT_EQ(f.copy(65536).code, code) << control;
    }

    // The main loop held busy past the (shortened) wait: -6; once it is free again the abandoned
    // copy is dropped and a new one succeeds.
    f.provider.setControl("{}");
    ASSERT_EQ(f.signIn(), 1);
    identitybridge::setTokenCopyWaitForTesting(std::chrono::milliseconds(300));
    std::int32_t code = 0;
    std::thread worker([&] {
        std::string small(64, '#');
        code = quorvel_identity_copy_access_token(small.data(), 64);
    });
    worker.join();
    EXPECT_EQ(code, -6);
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_GT(f.copy(65536).code, 0);
}

TEST(NativeIdentity, FailsClosedAgainstWhatItMustNotTrust) {
    Identity f;
    ASSERT_EQ(f.configure(), 0);
    auto tokenRequests = [&] {
        std::size_t count = 0;
        for (const auto& line : f.provider.requests())
            count += line.find(R"("path": "/oauth/token")") != std::string::npos;
        return count;
    };

    // Only bearer tokens, in any letter case, are taken at sign-in.
    for (const auto& [type, outcome] : std::vector<std::pair<std::string, std::int32_t>>{
             {"mac", 0}, {"DPoP", 0}, {"bearer", 1}}) {
        ASSERT_EQ(quorvel_identity_sign_out(), 0);
        f.provider.setControl(R"({"access_token_lifetime": 30, "token_type": ")" + type + "\"}");
        EXPECT_EQ(f.signIn(), outcome) << type;
        EXPECT_EQ(f.storedAccessToken().empty(), outcome == 0) << type;
    }

    // A renewal answer that is not of a bearer token, or whose ID token fails the sign-in checks
    // or names another user or issuer, is refused and stores nothing.
    std::string stored = f.storedTokens();
    ASSERT_FALSE(stored.empty());
    for (const std::string hostile : {
             R"("token_type": "mac")",
             R"("id_token_alg": "none")",
             R"("id_token_key": "unpublished", "id_token_kid": "key-1")",
             R"("id_token_claims": {"sub": "user-2"})",
             R"("id_token_claims": {"iss": "https://localhost:1/"})",
             R"("id_token_claims": {"aud": "another-client"})",
             R"("id_token_claims": {"exp": 1000})",
             R"("id_token_claims": {"nonce": "not-the-sign-in"})",
         }) {
        f.provider.setControl(R"({"refresh_rotation": "keep", )" + hostile + "}");
        EXPECT_EQ(f.copy(65536).code, -7) << hostile;
        EXPECT_EQ(f.storedTokens(), stored) << hostile;
    }
    // The same user's renewed ID token, without a nonce, replaces the stored one.
    f.provider.setControl(R"({"refresh_rotation": "keep"})");
    auto renewed = f.copy(65536);
    ASSERT_GT(renewed.code, 0);
    EXPECT_EQ(f.storedAccessToken(), renewed.buffer.substr(0, std::size_t(renewed.code)));
    EXPECT_NE(f.owner->credentialsManager()->storedCredentials()->idToken,
              idp::Credentials::unarchive(bytesOf(stored))->idToken);

    // A callback with the login's state that the client cannot read ends the login at once.
    stored = f.storedTokens();
    f.browser.mode = ScriptedBrowser::Mode::stay;
    ASSERT_EQ(f.begin(), 1);
    ASSERT_TRUE(pumpUntil([&] { return f.owner->browserCallback().pendingState.has_value(); }));
    std::string refused = std::string(nativeCallback) +
                          "?error=access_denied&error_description=%FF&state=" +
                          *f.owner->browserCallback().pendingState;
    EXPECT_EQ(quorvel_identity_resume_login(refused.c_str()), 0);
    ASSERT_TRUE(f.waitForOutcome(f.outcomes.size() + 1));
    EXPECT_EQ(f.outcomes.back(), 0);
    EXPECT_EQ(f.storedTokens(), stored);

    // A token request whose connection drops without an answer is out of reach, and is sent
    // once, never again.
    f.browser.mode = ScriptedBrowser::Mode::follow;
    f.provider.setControl(R"({"access_token_lifetime": 30})");
    ASSERT_EQ(f.signIn(), 1);
    f.provider.setControl(R"({"token_drop": true})");
    std::size_t before = tokenRequests();
    EXPECT_EQ(f.signIn(), 3);
    EXPECT_EQ(tokenRequests(), before + 1);
    EXPECT_EQ(f.copy(65536).code, -9);
    EXPECT_EQ(tokenRequests(), before + 2);
    stored = f.storedTokens();

    // A provider whose certificate authority is not trusted stays out of reach, and says why.
    {
        auto untrusting =
            std::make_shared<idp::CurlURLSession>(idp::CurlURLSession::Configuration{});
        auto platform = std::make_shared<FakeIdentityPlatform>(untrusting, f.store);
        platform->setOnOpen([&](const std::string& url) { return f.browser.open(url); });
        NativeIdentityOwner::setShared(
            NativeIdentityOwner::make(platform, MainLoop::sharedPointer()));
        ASSERT_EQ(f.configure(), 0);
        f.browser.mode = ScriptedBrowser::Mode::synthesize;
        LogCapture log;
        EXPECT_EQ(f.copy(65536).code, -9);
        EXPECT_EQ(f.signIn(), 3);
        f.browser.finish();
        std::vector<std::string> errors;
        for (const auto& record : log.records()) {
            if (record.level == LogLevel::error)
                errors.push_back(record.message);
        }
        const std::string line = "tls result=failed kind=untrusted_certificate verify_code=20 "
                                 "origin=https://localhost:" +
                                 std::to_string(f.provider.port());
        EXPECT_EQ(errors, (std::vector<std::string>{line, line}));
        NativeIdentityOwner::setShared(f.owner);
        f.browser.mode = ScriptedBrowser::Mode::follow;
    }
    EXPECT_EQ(f.storedTokens(), stored);

    // Sign-out on a locked keyring fails, and says so; the credentials are still there once it
    // is unlocked, and go with the next sign-out.
    f.provider.setControl("{}");
    ASSERT_EQ(f.signIn(), 1);
    std::string token = f.storedAccessToken();
    ASSERT_TRUE(keyringSlot()->lockLoginCollection());
    EXPECT_EQ(onWorker([] { return quorvel_identity_sign_out(); }), -1);
    ASSERT_TRUE(keyringSlot()->unlockLoginCollection());
    EXPECT_EQ(f.storedAccessToken(), token);
    EXPECT_EQ(quorvel_identity_sign_out(), 0);
    EXPECT_EQ(f.copy(65536).code, -7);
}
