// The credential store against a real gnome-keyring, started and unlocked by the test on a
// private session bus.

#include "idp/CredentialsManager.h"
#include "idp/FakeURLSession.h"
#include "idp/KeychainStore.h"
#include "support/PrivateKeyring.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;

namespace {

// One keyring per test process: libsecret keeps its connection to the first session bus it used.
// It is ended when the tests are done, before the leak checker (which ends the process at once
// when it finds something) could skip its destructor.
std::unique_ptr<quorvel::test::PrivateKeyring>& keyringSlot() {
    static std::unique_ptr<quorvel::test::PrivateKeyring> keyring;
    return keyring;
}

quorvel::test::PrivateKeyring& keyring() {
    auto& slot = keyringSlot();
    if (!slot)
        slot = std::make_unique<quorvel::test::PrivateKeyring>();
    return *slot;
}

class KeyringEnvironment : public ::testing::Environment {
public:
    void TearDown() override { keyringSlot().reset(); }
};

[[maybe_unused]] auto* const keyringEnvironment =
    ::testing::AddGlobalTestEnvironment(new KeyringEnvironment);

} // namespace

TEST(KeychainStore, SetsGetsOverwritesAndDeletesItems) {
    keyring();
    KeychainStore store("com.quorvel.test.keychain");
    auto missing = store.getEntry("key");
    ASSERT_TRUE(missing) << missing.error().message();
    EXPECT_FALSE(*missing);

    Bytes binary{0, 1, 2, 0xff, 0, 'x'};
    ASSERT_TRUE(store.setEntry(binary, "key"));
    EXPECT_EQ(*store.getEntry("key"), binary);

    ASSERT_TRUE(store.setEntry(bytesOf("second"), "key"));
    EXPECT_EQ(*store.getEntry("key"), bytesOf("second"));
    // Another instance, another service, another key: each sees only its own.
    EXPECT_EQ(*KeychainStore("com.quorvel.test.keychain").getEntry("key"), bytesOf("second"));
    EXPECT_FALSE(*KeychainStore("com.quorvel.test.other").getEntry("key"));
    EXPECT_FALSE(*store.getEntry("other-key"));

    auto removed = store.deleteEntry("key");
    ASSERT_TRUE(removed);
    EXPECT_TRUE(*removed);
    EXPECT_FALSE(*store.getEntry("key"));
    auto removedAgain = store.deleteEntry("key");
    ASSERT_TRUE(removedAgain) << removedAgain.error().message();
    EXPECT_FALSE(*removedAgain);
}

TEST(KeychainStore, CredentialsSurviveANewManagerInstance) {
    keyring();
    auto session = std::make_shared<FakeURLSession>([](const HTTPRequest&) -> HTTPResult {
        return unexpected(URLError(URLError::Code::cannotConnectToHost, "no network in this test"));
    });
    auto make = [&] {
        return CredentialsManager::make(
            authentication("client-1", "tenant.example", session), "credentials", "dpop_thumbprint",
            std::make_shared<KeychainStore>("com.quorvel.desktop.identity.oidc"));
    };
    Credentials credentials;
    credentials.accessToken = "at-1";
    credentials.tokenType = "Bearer";
    credentials.idToken = "id-1";
    credentials.refreshToken = "rt-1";
    credentials.expiresAt =
        std::chrono::floor<std::chrono::milliseconds>(Clock::now() + std::chrono::hours(1));
    credentials.scope = "openid profile email offline_access";
    ASSERT_TRUE(make()->store(credentials));

    auto later = make();
    EXPECT_TRUE(later->hasValid(60));
    EXPECT_TRUE(later->canRenew());
    Delivery<Expected<Credentials, CredentialsManagerError>> delivery;
    later->credentials(std::nullopt, 60, {}, {}, delivery.callback());
    ASSERT_TRUE(delivery.waitFor(1));
    ASSERT_TRUE(delivery.first()) << delivery.first().error().message();
    EXPECT_EQ(*delivery.first(), credentials);
    EXPECT_TRUE(session->requests().empty());

    ASSERT_TRUE(later->clear());
    EXPECT_FALSE(make()->hasValid());
    EXPECT_TRUE(make()->clear()); // clearing again is no failure
}
