#include "idp/Base64URL.h"
#include "idp/JWT.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::idp;

namespace {

std::string part(const std::string& json) {
    return base64URLEncode(json);
}

} // namespace

TEST(JWT, DecodesThreePartsIntoHeaderClaimsAndSignature) {
    std::string token =
        part(R"({"alg":"RS256","kid":"k"})") + "." + part(R"({"sub":"u"})") + "." + part("sig");
    auto jwt = decodeJWT(token);
    ASSERT_TRUE(jwt) << jwt.error().message();
    EXPECT_EQ(jwt->algorithm(), "RS256");
    EXPECT_EQ(jwt->keyID(), "k");
    EXPECT_EQ(jwt->body["sub"], "u");
    EXPECT_EQ(textOf(jwt->signature), "sig");
    EXPECT_EQ(jwt->signingInput, token.substr(0, token.rfind('.')));
}

TEST(JWT, RefusesMalformedTokensWithTheirMessages) {
    auto two = decodeJWT("a.b");
    ASSERT_FALSE(two);
    EXPECT_EQ(two.error().message(), "The JWT a.b has 2 parts when it should have 3 parts.");
    EXPECT_EQ(decodeJWT("").error().message(), "The JWT  has 1 parts when it should have 3 parts.");
    EXPECT_EQ(decodeJWT("a.b.c.d").error().kind(), TokenFormatError::Kind::wrongPartCount);

    auto badBase64 = decodeJWT("a+b." + part("{}") + ".");
    ASSERT_FALSE(badBase64);
    EXPECT_EQ(badBase64.error().message(), "Failed to decode Base64URL value a+b");

    std::string notJson = part("not json");
    auto badJson = decodeJWT(part("{}") + "." + notJson + ".");
    ASSERT_FALSE(badJson);
    EXPECT_EQ(badJson.error().message(), "Failed to parse JSON from Base64URL value " + notJson);

    // A JSON value that is not an object, and an object nested too deep, are refused alike.
    EXPECT_EQ(decodeJWT(part("[1]") + "." + part("{}") + ".").error().kind(),
              TokenFormatError::Kind::badJSON);
    std::string deep = std::string(1000, '[') + std::string(1000, ']');
    EXPECT_EQ(decodeJWT(part("{}") + "." + part("{\"a\":" + deep + "}") + ".").error().kind(),
              TokenFormatError::Kind::badJSON);

    EXPECT_EQ(decodeJWT(part("{}") + "." + part("{}") + ".a=").error().kind(),
              TokenFormatError::Kind::badBase64URL);
}
