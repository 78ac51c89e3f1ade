#include "idp/Credentials.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::idp;

namespace {

const TimePoint receivedAt = TimePoint(std::chrono::seconds(1'800'000'000));

Credentials sample() {
    Credentials credentials;
    credentials.accessToken = "secret-access";
    credentials.tokenType = "Bearer";
    credentials.idToken = "secret-id";
    credentials.refreshToken = "secret-refresh";
    credentials.expiresAt = receivedAt + std::chrono::milliseconds(3'600'123);
    credentials.scope = "openid profile";
    credentials.recoveryCode = "secret-recovery";
    return credentials;
}

} // namespace

TEST(Credentials, DescriptionRedactsEveryToken) {
    std::string text = sample().description();
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
    EXPECT_NE(text.find("<REDACTED>"), std::string::npos);
    EXPECT_NE(text.find("Bearer"), std::string::npos);
    EXPECT_NE(text.find("openid profile"), std::string::npos);
}

TEST(Credentials, ReadsTokenAnswersAndTheirExpiry) {
    auto read = [](const char* text) {
        return Credentials::fromTokenResponse(*parseJson(text), receivedAt);
    };
    auto full =
        read(R"({"access_token":"a","token_type":"Bearer","id_token":"i","refresh_token":"r",
                         "expires_in":3600,"scope":"openid","recovery_code":"rc"})");
    ASSERT_TRUE(full) << full.error();
    EXPECT_EQ(full->expiresAt, receivedAt + std::chrono::seconds(3600));
    EXPECT_EQ(full->refreshToken, "r");
    EXPECT_EQ(full->recoveryCode, "rc");

    auto numericString = read(R"({"access_token":"a","token_type":"Bearer","expires_in":"90"})");
    ASSERT_TRUE(numericString);
    EXPECT_EQ(numericString->expiresAt, receivedAt + std::chrono::seconds(90));
    EXPECT_EQ(numericString->idToken, "");
    EXPECT_FALSE(numericString->refreshToken);

    for (const char* expires : {R"("soon")", "true", "null", "-5", "1e300", R"("")", R"("9 0")"}) {
        auto bad = read((std::string(R"({"access_token":"a","token_type":"Bearer","expires_in":)") +
                         expires + "}")
                            .c_str());
        ASSERT_FALSE(bad) << expires;
        EXPECT_EQ(bad.error(), "Format of expires_in is not recognized.");
    }
    EXPECT_EQ(read(R"({"access_token":"a","token_type":"Bearer"})").error(),
              "Format of expires_in is not recognized.");
    EXPECT_EQ(read(R"({"token_type":"Bearer","expires_in":1})").error(),
              "Format of access_token is not recognized.");
    EXPECT_EQ(read(R"({"access_token":"a","token_type":"Bearer","expires_in":1,"refresh_token":7})")
                  .error(),
              "Format of refresh_token is not recognized.");
}

TEST(Credentials, ArchiveRoundTripsAndRefusesOtherVersions) {
    Credentials credentials = sample();
    auto back = Credentials::unarchive(credentials.archive());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, credentials);

    Credentials minimal = sample();
    minimal.refreshToken.reset();
    minimal.scope.reset();
    minimal.recoveryCode.reset();
    EXPECT_EQ(Credentials::unarchive(minimal.archive()), minimal);

    auto document = *parseJson(textOf(credentials.archive()));
    EXPECT_EQ(document["version"], 1);
    EXPECT_EQ(document["expiresIn"], 1'800'003'600'123);
    document["version"] = 2;
    EXPECT_FALSE(Credentials::unarchive(bytesOf(document.dump())));
    EXPECT_FALSE(Credentials::unarchive(bytesOf("not json")));
    EXPECT_FALSE(
        Credentials::unarchive(bytesOf(R"({"format":"com.quorvel.idp.credentials","version":1})")));
}
