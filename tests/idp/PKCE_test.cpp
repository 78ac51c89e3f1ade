#include "idp/Base64URL.h"
#include "idp/FormEncoding.h"
#include "idp/PKCE.h"
#include "idp/TenantURL.h"

#include <gtest/gtest.h>
#include <set>

using namespace quorvel;
using namespace quorvel::idp;

TEST(PKCE, RFC7636AppendixBVectorGivesItsVerifierAndChallenge) {
    const std::uint8_t octets[32] = {116, 24,  223, 180, 151, 153, 224, 37,  79,  250, 96,
                                     125, 216, 173, 187, 186, 22,  212, 37,  77,  105, 214,
                                     191, 240, 91,  88,  5,   88,  83,  132, 141, 121};
    std::string verifier = urlSafeValue(octets);
    EXPECT_EQ(verifier, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_EQ(codeChallenge(verifier), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(PKCE, RandomValuesAre43UrlSafeCharactersAndNeverRepeat) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        auto value = generateRandomURLSafeValue();
        ASSERT_TRUE(value);
        EXPECT_EQ(value->size(), 43u);
        EXPECT_EQ(value->find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
        EXPECT_TRUE(seen.insert(*value).second);
    }
}

TEST(Base64URL, DecodesOnlyCanonicalUnpaddedUrlSafeText) {
    EXPECT_EQ(textOf(*base64URLDecode("aGVsbG8")), "hello");
    EXPECT_EQ(textOf(*base64URLDecode("")), "");
    EXPECT_EQ(base64URLEncode(std::string_view("\xfb\xff", 2)), "-_8");
    EXPECT_EQ(*base64URLDecode("-_8"), (Bytes{0xfb, 0xff}));
    EXPECT_FALSE(base64URLDecode("aGVsbG8=")); // padding
    EXPECT_FALSE(base64URLDecode("+/8"));      // standard alphabet
    EXPECT_FALSE(base64URLDecode("aGVs bG8")); // white space
    EXPECT_FALSE(base64URLDecode("a"));        // impossible length
    EXPECT_FALSE(base64URLDecode("aGVsbG9"));  // non-zero unused bits ("hello" is aGVsbG8)
}

TEST(FormEncoding, EncodesAndDecodesStrictly) {
    EXPECT_EQ(formEncode({{"scope", "openid profile"}, {"redirect_uri", "com.x://cb?a=1&b"}}),
              "scope=openid+profile&redirect_uri=com.x%3A%2F%2Fcb%3Fa%3D1%26b");
    EXPECT_EQ(queryString({{"scope", "openid profile"}}), "scope=openid%20profile");
    auto pairs = parseFormEncoded("a=1&&b=x+y%21&c");
    ASSERT_TRUE(pairs);
    EXPECT_EQ(*pairs, (Parameters{{"a", "1"}, {"b", "x y!"}, {"c", ""}}));
    EXPECT_FALSE(parseFormEncoded("a=%2"));
    EXPECT_FALSE(parseFormEncoded("a=%zz"));
}

TEST(TenantURL, KeepsAnExplicitPortAndRefusesAnythingButAHost) {
    EXPECT_EQ(tenantBaseURL("id.example.com"), "https://id.example.com/");
    EXPECT_EQ(tenantBaseURL("id.example.com:8443"), "https://id.example.com:8443/");
    EXPECT_EQ(tenantBaseURL("https://id.example.com:8443/tenant"),
              "https://id.example.com:8443/tenant/");
    EXPECT_EQ(tenantBaseURL("[::1]:8443"), "https://[::1]:8443/");
    EXPECT_FALSE(tenantBaseURL(""));
    EXPECT_FALSE(tenantBaseURL("http://id.example.com"));
    EXPECT_FALSE(tenantBaseURL("user@id.example.com"));
    EXPECT_FALSE(tenantBaseURL("id.example.com:0"));
    EXPECT_FALSE(tenantBaseURL("id.example.com:65536"));
    EXPECT_FALSE(tenantBaseURL("id.example.com/?q=1"));
    EXPECT_FALSE(tenantBaseURL("id.example.com#f"));
    EXPECT_FALSE(tenantBaseURL("id example.com"));

    EXPECT_EQ(domainOfIssuer("https://id.example.com:8443/"), "id.example.com:8443");
    EXPECT_EQ(domainOfIssuer("https://id.example.com/tenant"), "id.example.com");
    EXPECT_FALSE(domainOfIssuer("http://id.example.com/"));
    EXPECT_FALSE(domainOfIssuer("https://user@id.example.com/"));
}
