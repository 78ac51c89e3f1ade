#include "TestTokens.h"
#include "idp/AuthenticationError.h"
#include "idp/URLSession.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;

namespace {

AuthenticationError answer(long status, std::string body) {
    return AuthenticationError::fromResponse({status, {}, std::move(body)});
}

} // namespace

TEST(AuthenticationError, TakesInfoFromTheAnswerBody) {
    auto json = answer(400, R"({"error":"invalid_grant","error_description":"Bad grant."})");
    EXPECT_EQ(json.statusCode(), 400);
    EXPECT_EQ(json.code(), "invalid_grant");
    EXPECT_EQ(json.message(), "Bad grant.");
    EXPECT_EQ(json.cause(), nullptr);

    auto text = answer(503, "Service Unavailable");
    EXPECT_EQ(text.code(), "idp.sdk.internal_error.plain");
    EXPECT_EQ(text.message(), "Service Unavailable");

    auto empty = answer(502, "");
    EXPECT_EQ(empty.code(), "idp.sdk.internal_error.empty");
    EXPECT_EQ(empty.message(), "Empty response body.");
    // Bytes that are not UTF-8 give no text either.
    EXPECT_EQ(answer(500, "\xff\xfe").code(), "idp.sdk.internal_error.empty");
    // A JSON body that is not an object is text.
    EXPECT_EQ(answer(500, "[1,2]").message(), "[1,2]");
}

TEST(AuthenticationError, FollowsTheCodeAndMessageRules) {
    EXPECT_EQ(AuthenticationError(Json{{"error", "e"}, {"code", "c"}}, 400).code(), "e");
    EXPECT_EQ(AuthenticationError(Json{{"code", "c"}}, 400).code(), "c");
    EXPECT_EQ(AuthenticationError(Json{{"error", 5}}, 400).code(),
              "idp.sdk.internal_error.unknown");

    EXPECT_EQ(
        AuthenticationError(Json{{"description", "d"}, {"error_description", "ed"}}, 400).message(),
        "d");
    EXPECT_EQ(AuthenticationError(Json{{"error_description", "ed"}}, 400).message(), "ed");
    EXPECT_EQ(AuthenticationError(Json{{"error", "access_denied"}}, 400).message(),
              "Received error with code access_denied");
    EXPECT_EQ(AuthenticationError(Json{{"x", 1}}, 400).message(),
              "Failed with unknown error: {\"x\":1}");
}

TEST(AuthenticationError, ARequestWithoutAnswerCarriesTheNetworkError) {
    auto error =
        AuthenticationError::fromURLError(URLError(URLError::Code::cannotConnectToHost, "refused"));
    EXPECT_EQ(error.code(), "idp.sdk.internal_error.plain");
    EXPECT_EQ(error.message(), "Unable to complete the operation.");
    EXPECT_EQ(error.statusCode(), 0);
    EXPECT_TRUE(error.isNetworkError());
    EXPECT_EQ(causeAs<URLError>(error.cause()).code(), URLError::Code::cannotConnectToHost);
    EXPECT_TRUE(error.info().contains("cause"));
}
