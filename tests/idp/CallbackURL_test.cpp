#include "idp/CallbackURL.h"

#include <gtest/gtest.h>

using namespace quorvel::idp;
using Values = std::map<std::string, std::string>;

TEST(CallbackURL, ReadsTheFragmentAndTheQueryWithTheQueryWinning) {
    EXPECT_EQ(callbackValues("com.zadovuzuzo.recorder://auth/callback?code=c1&state=s1"),
              (Values{{"code", "c1"}, {"state", "s1"}}));
    EXPECT_EQ(callbackValues("com.zadovuzuzo.recorder://auth/callback#code=c1&state=s1"),
              (Values{{"code", "c1"}, {"state", "s1"}}));
    EXPECT_EQ(callbackValues("x://cb?state=query#state=fragment&code=c"),
              (Values{{"code", "c"}, {"state", "query"}}));
    EXPECT_EQ(
        callbackValues("x://cb?error=access_denied&error_description=The+user%20said+no&state=s"),
        (Values{{"error", "access_denied"},
                {"error_description", "The user said no"},
                {"state", "s"}}));
    EXPECT_EQ(callbackValues("x://cb"), Values{});
    EXPECT_EQ(callbackValues("x://cb?#"), Values{});
    // The "?" inside the fragment is part of the fragment.
    EXPECT_EQ(callbackValues("x://cb#a=1?b=2"), (Values{{"a", "1?b=2"}}));
}

TEST(CallbackURL, RefusesAmbiguousMalformedOrOversizedURLs) {
    EXPECT_FALSE(callbackValues("x://cb?state=a&state=b"));
    EXPECT_FALSE(callbackValues("x://cb#code=a&code=b"));
    EXPECT_FALSE(callbackValues("x://cb?state=%zz"));
    EXPECT_FALSE(callbackValues("x://cb?state=%e2%28%a1")); // not UTF-8
    std::string many = "x://cb?";
    for (int i = 0; i < 65; ++i)
        many += "k" + std::to_string(i) + "=v&";
    EXPECT_FALSE(callbackValues(many));
    EXPECT_FALSE(callbackValues("x://cb?state=" + std::string(maxCallbackURLLength, 'a')));
    EXPECT_TRUE(callbackValues("x://cb?state=" + std::string(maxCallbackURLLength - 13, 'a')));
}
