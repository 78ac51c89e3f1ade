#include "identity/CStringText.h"
#include "identity/ContinuousDeadline.h"
#include "identity/IdentityConfiguration.h"
#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

constexpr const char* native = "com.zadovuzuzo.recorder://auth/callback";

std::optional<IdentityConfiguration> make(std::string_view issuer,
                                          std::optional<std::string> setting = std::nullopt,
                                          std::string_view callback = native) {
    return IdentityConfiguration::make(issuer, "client", "https://api.test", callback, setting);
}

} // namespace

TEST(IdentityConfiguration, TakesAnHttpsIssuerWithAnyPathAndItsHostAsDomain) {
    auto configuration = make("https://id.quorvel.test/tenant/a/");
    ASSERT_TRUE(configuration);
    EXPECT_EQ(*configuration,
              (IdentityConfiguration{"https://id.quorvel.test/tenant/a/", "client",
                                     "https://api.test", native, native, "id.quorvel.test"}));
    // A port named by the issuer is where the tenant is reached.
    EXPECT_EQ(make("https://id.quorvel.test:8443")->domain, "id.quorvel.test:8443");

    for (const char* refused :
         {"http://id.quorvel.test/", "HTTPS://id.quorvel.test/", "https://id.quorvel.test/?a=1",
          "https://id.quorvel.test/?", "https://id.quorvel.test/#x", "https://u@id.quorvel.test/",
          "https://u:p@id.quorvel.test/", "https:///path", "https:/id.quorvel.test",
          "id.quorvel.test", "https://id quorvel.test/", ""}) {
        EXPECT_FALSE(make(refused)) << refused;
    }
}

TEST(IdentityConfiguration, NeedsTheNativeCallbackAndAUsableRedirectSetting) {
    EXPECT_FALSE(make("https://id.test/", std::nullopt, "com.zadovuzuzo.recorder://auth/Callback"));
    EXPECT_FALSE(make("https://id.test/", std::nullopt, "COM.zadovuzuzo.recorder://auth/callback"));
    EXPECT_FALSE(
        make("https://id.test/", std::nullopt, "com.zadovuzuzo.recorder://auth/callback/"));
    auto redirected = make("https://id.test/", "https://app.test/auth/desktop/callback");
    ASSERT_TRUE(redirected);
    EXPECT_EQ(redirected->browserCallbackURL, "https://app.test/auth/desktop/callback");
    EXPECT_EQ(redirected->callbackURL, native);
    EXPECT_FALSE(make("https://id.test/", "http://127.0.0.1/auth/desktop/callback"));
    EXPECT_FALSE(make("https://id.test/", ""));
}

TEST(IdentityConfiguration, ClientIDAndAudienceFromOneTo2048Characters) {
    auto with = [](const std::string& clientID, const std::string& audience) {
        return IdentityConfiguration::make("https://id.test/", clientID, audience, native,
                                           std::nullopt)
            .has_value();
    };
    EXPECT_TRUE(with(std::string(2048, 'c'), std::string(2048, 'a')));
    EXPECT_FALSE(with(std::string(2049, 'c'), "a"));
    EXPECT_FALSE(with("c", std::string(2049, 'a')));
    EXPECT_FALSE(with("", "a"));
    EXPECT_FALSE(with("c", ""));
    // Characters, not bytes: 2048 two-byte characters are accepted.
    std::string wide;
    for (int i = 0; i < 2048; ++i)
        wide += "\xC3\xA9";
    EXPECT_TRUE(with(wide, "a"));
    EXPECT_FALSE(with(wide + "x", "a"));
}

TEST(CStringText, RepairsIllFormedUTF8AndBoundsTheLength) {
    EXPECT_EQ(repairedUTF8("plain \xC3\xA9 \xF0\x9F\x98\x80"), "plain \xC3\xA9 \xF0\x9F\x98\x80");
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(repairedUTF8("a\xFF"
                           "b"),
              "a" + r + "b");
    EXPECT_EQ(repairedUTF8("\xC0\xAF"), r + r); // overlong: two bytes, two subparts
    EXPECT_EQ(repairedUTF8("\xE2\x82"), r);     // truncated: one maximal subpart
    EXPECT_EQ(repairedUTF8("\xE2\x82"
                           "A"),
              r + "A");
    EXPECT_EQ(repairedUTF8("\xED\xA0\x80"), r + r + r);         // a surrogate
    EXPECT_EQ(repairedUTF8("\xF4\x90\x80\x80"), r + r + r + r); // above U+10FFFF
    EXPECT_EQ(repairedUTF8("\xF0\x9F\x98"), r);

    EXPECT_EQ(cStringText(nullptr, 10), std::nullopt);
    EXPECT_EQ(cStringText("", 10), "");
    EXPECT_EQ(cStringText("0123456789", 10), "0123456789");
    EXPECT_EQ(cStringText("0123456789A", 10), std::nullopt);
    // Nine bytes, but eleven after repair.
    EXPECT_EQ(cStringText("12345678\xFF", 10), std::nullopt);
    EXPECT_EQ(cStringText("1234567\xFF", 10), "1234567" + r);
}

TEST(ContinuousDeadline, FiresOnceAfterTheContinuousClockPassedTheDeadline) {
    auto loop = std::make_shared<test::ManualMainLoop>();
    double slept = 0;
    int fired = 0;
    auto handle = scheduleContinuousDeadline(
        loop, [&] { return loop->continuousTime() + slept; }, 300, [&] { ++fired; });
    loop->advance(299.5);
    EXPECT_EQ(fired, 0);
    loop->advance(0.5);
    EXPECT_EQ(fired, 1);
    loop->advance(1000);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(handle->isValid());

    // A sleep longer than the wait is noticed within one slice of waking.
    auto second = scheduleContinuousDeadline(
        loop, [&] { return loop->continuousTime() + slept; }, 300, [&] { ++fired; });
    loop->advance(5);
    slept = 3600;
    loop->advance(1);
    EXPECT_EQ(fired, 2);

    // Destroying the handle cancels the wait.
    auto third = scheduleContinuousDeadline(
        loop, [&] { return loop->continuousTime() + slept; }, 10, [&] { ++fired; });
    third.reset();
    loop->advance(20);
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(loop->activeTimerCount(), 0u);
}
