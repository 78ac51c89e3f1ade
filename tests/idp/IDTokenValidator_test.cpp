#include "TestTokens.h"
#include "idp/IDTokenValidator.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;
using Kind = IDTokenValidationError::Kind;

namespace {

const TimePoint now = TimePoint(std::chrono::seconds(1'800'000'000));
constexpr std::int64_t nowSeconds = 1'800'000'000;

Json claims() {
    return Json{{"iss", "https://tenant.example/"}, {"sub", "user-1"},   {"aud", "client-1"},
                {"exp", nowSeconds + 3600},         {"iat", nowSeconds}, {"nonce", "n-1"}};
}

IDTokenValidationContext context() {
    IDTokenValidationContext value;
    value.issuer = "https://tenant.example/";
    value.audience = "client-1";
    value.nonce = "n-1";
    return value;
}

Expected<void, IDTokenValidationError> check(const std::string& token,
                                             const IDTokenValidationContext& with = context()) {
    return validateIDToken(std::string_view(token), testKeySet(), with, now);
}

Json without(Json value, const char* key) {
    value.erase(key);
    return value;
}

Json with(Json value, const char* key, Json member) {
    value[key] = std::move(member);
    return value;
}

void expectFailure(const Expected<void, IDTokenValidationError>& result, Kind kind,
                   const std::string& message) {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), kind) << result.error().message();
    EXPECT_EQ(result.error().message().substr(0, message.size()), message);
}

} // namespace

TEST(IDTokenValidator, AcceptsAWellFormedTokenSignedByAPublishedKey) {
    EXPECT_TRUE(check(rs256Token(claims())));
    EXPECT_TRUE(check(rs256Token(claims(), "key-2")));
    // Fractional numeric dates are numbers too (RFC 7519).
    EXPECT_TRUE(check(rs256Token(with(claims(), "exp", nowSeconds + 10.5))));
}

TEST(IDTokenValidator, RefusesMissingAndUndecodableTokens) {
    expectFailure(validateIDToken(std::nullopt, testKeySet(), context(), now), Kind::missingIDToken,
                  "ID token validation was requested but the response did not include an ID token");
    expectFailure(check(""), Kind::missingIDToken, "ID token validation was requested");
    auto result = check("not-a-jwt");
    expectFailure(result, Kind::cannotDecode, "ID token could not be decoded");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().cause(), nullptr);
}

TEST(IDTokenValidator, RefusesEveryAlgorithmButRS256) {
    std::string none = tokenWithHeader(Json{{"alg", "none"}, {"typ", "JWT"}}, claims(), "");
    expectFailure(check(none), Kind::unsupportedAlgorithm,
                  "Signature algorithm of \"none\" is not supported");

    // The classic confusion: an HMAC keyed with the provider's public key material.
    std::string hs256 = hs256Token(claims(), testKey("key-1").jwk().dump());
    expectFailure(check(hs256), Kind::unsupportedAlgorithm,
                  "Signature algorithm of \"HS256\" is not supported");

    std::string rs512 = tokenWithHeader(Json{{"alg", "RS512"}, {"kid", "key-1"}}, claims(), "x");
    expectFailure(check(rs512), Kind::unsupportedAlgorithm, "Signature algorithm of \"RS512\"");
    std::string noAlg = tokenWithHeader(Json{{"kid", "key-1"}}, claims(), "x");
    expectFailure(check(noAlg), Kind::unsupportedAlgorithm, "Signature algorithm of \"\"");
    std::string critical =
        tokenWithHeader(Json{{"alg", "RS256"}, {"kid", "key-1"}, {"crit", {"exp"}}}, claims(), "x");
    expectFailure(check(critical), Kind::unsupportedCriticalHeader,
                  "The ID token names critical header");
}

TEST(IDTokenValidator, ChoosesTheKeyByKidAndVerifiesTheSignature) {
    expectFailure(check(rs256Token(claims(), "key-1", "key-9")), Kind::missingKey,
                  "Unable to find a key with key ID (kid) \"key-9\" in the key set");
    std::string noKid =
        tokenWithHeader(Json{{"alg", "RS256"}}, claims(), testKey("key-1").sign("x"));
    expectFailure(check(noKid), Kind::missingKey, "Unable to find a key with key ID (kid) \"\"");
    // A token signed by a key the provider never published, claiming a published kid.
    expectFailure(check(rs256Token(claims(), "rogue", "key-1")), Kind::invalidSignature,
                  "Invalid ID token signature");
    // The wrong published key for the kid.
    expectFailure(check(rs256Token(claims(), "key-2", "key-1")), Kind::invalidSignature,
                  "Invalid ID token signature");
    // A valid signature over other claims.
    std::string token = rs256Token(claims());
    std::string tampered = token.substr(0, token.find('.') + 1) +
                           encodedPart(with(claims(), "sub", "admin")) +
                           token.substr(token.rfind('.'));
    expectFailure(check(tampered), Kind::invalidSignature, "Invalid ID token signature");
}

TEST(IDTokenValidator, ChecksIssuerSubjectAndAudience) {
    expectFailure(
        check(rs256Token(with(claims(), "iss", "https://evil.example/"))), Kind::issuerMismatch,
        "Issuer (iss) claim mismatch in the ID token, expected (https://tenant.example/), found "
        "(https://evil.example/)");
    expectFailure(check(rs256Token(without(claims(), "iss"))), Kind::missingIssuer,
                  "Issuer (iss) claim must be a string present in the ID token");
    expectFailure(check(rs256Token(with(claims(), "iss", 5))), Kind::missingIssuer,
                  "Issuer (iss) claim must be");
    expectFailure(check(rs256Token(without(claims(), "sub"))), Kind::missingSubject,
                  "Subject (sub) claim must be a string present in the ID token");
    expectFailure(check(rs256Token(with(claims(), "aud", "other"))), Kind::audienceMismatch,
                  "Audience (aud) claim mismatch in the ID token; expected (client-1) but was not "
                  "one of (other)");
    expectFailure(check(rs256Token(with(claims(), "aud", Json::array({"a", "b"})))),
                  Kind::audienceMismatch,
                  "Audience (aud) claim mismatch in the ID token; expected (client-1) but was not "
                  "one of (a, b)");
    expectFailure(
        check(rs256Token(without(claims(), "aud"))), Kind::missingAudience,
        "Audience (aud) claim must be a string or array of strings present in the ID token");
    expectFailure(check(rs256Token(with(claims(), "aud", Json::array({"client-1", 3})))),
                  Kind::missingAudience, "Audience (aud) claim must be");
}

TEST(IDTokenValidator, AppliesTheSixtySecondLeewayToExpiration) {
    EXPECT_TRUE(check(rs256Token(with(claims(), "exp", nowSeconds - 59))));
    EXPECT_TRUE(check(rs256Token(with(claims(), "exp", nowSeconds - 60)))); // exactly at the edge
    expectFailure(
        check(rs256Token(with(claims(), "exp", nowSeconds - 61))), Kind::expired,
        "Expiration time (exp) claim error in the ID token; current time (1800000000) is after "
        "expiration time (1799999939)");
    expectFailure(check(rs256Token(without(claims(), "exp"))), Kind::missingExpiration,
                  "Expiration time (exp) claim must be a number present in the ID token");
    expectFailure(check(rs256Token(with(claims(), "exp", std::to_string(nowSeconds + 100)))),
                  Kind::missingExpiration, "Expiration time (exp) claim must be a number");
    expectFailure(check(rs256Token(without(claims(), "iat"))), Kind::missingIssuedAt,
                  "Issued At (iat) claim must be a number present in the ID token");
}

TEST(IDTokenValidator, ChecksTheNonceSent) {
    expectFailure(
        check(rs256Token(with(claims(), "nonce", "n-2"))), Kind::nonceMismatch,
        "Nonce (nonce) claim value mismatch in the ID token; expected (n-1), found (n-2)");
    expectFailure(check(rs256Token(without(claims(), "nonce"))), Kind::missingNonce,
                  "Nonce (nonce) claim must be a string present in the ID token");
}

TEST(IDTokenValidator, ARenewedTokenNamesTheSignedInUserAndMayLeaveOutTheNonce) {
    auto renewal = renewalValidationContext(rs256Token(claims()), "client-1");
    ASSERT_TRUE(renewal);
    EXPECT_TRUE(check(rs256Token(without(claims(), "nonce")), *renewal));
    EXPECT_TRUE(check(rs256Token(claims()), *renewal));
    expectFailure(check(rs256Token(with(claims(), "nonce", "n-2")), *renewal), Kind::nonceMismatch,
                  "Nonce (nonce) claim value mismatch");
    expectFailure(
        check(rs256Token(with(claims(), "sub", "user-2")), *renewal), Kind::subjectMismatch,
        "Subject (sub) claim mismatch in the ID token, expected (user-1), found (user-2)");
    expectFailure(check(rs256Token(with(claims(), "iss", "https://other.example/")), *renewal),
                  Kind::issuerMismatch, "Issuer (iss) claim mismatch");
    // A sign-in without a nonce: a renewed token must not bring one.
    auto withoutNonce =
        renewalValidationContext(rs256Token(without(claims(), "nonce")), "client-1");
    ASSERT_TRUE(withoutNonce);
    expectFailure(check(rs256Token(claims()), *withoutNonce), Kind::nonceMismatch,
                  "Nonce (nonce) claim value mismatch");
    // Nothing to match a renewed token with.
    for (const std::string& stored :
         std::vector<std::string>{"", "not-a-token", rs256Token(without(claims(), "sub"))})
        EXPECT_FALSE(renewalValidationContext(stored, "client-1")) << stored;
}

TEST(IDTokenValidator, RequiresTheAuthorizedPartyWithSeveralAudiences) {
    Json several = with(claims(), "aud", Json::array({"client-1", "api"}));
    expectFailure(check(rs256Token(several)), Kind::missingAuthorizedParty,
                  "Authorized Party (azp) claim must be a string present in the ID token when "
                  "Audience (aud) claim "
                  "has multiple values");
    expectFailure(
        check(rs256Token(with(several, "azp", "api"))), Kind::authorizedPartyMismatch,
        "Authorized Party (azp) claim mismatch in the ID token; expected (client-1), found (api)");
    EXPECT_TRUE(check(rs256Token(with(several, "azp", "client-1"))));
    // One audience in an array needs no azp.
    EXPECT_TRUE(check(rs256Token(with(claims(), "aud", Json::array({"client-1"})))));
}

TEST(IDTokenValidator, ChecksAuthTimeAgainstTheMaximumAge) {
    auto aged = context();
    aged.maxAge = 300;
    expectFailure(check(rs256Token(claims()), aged), Kind::missingAuthTime,
                  "Authentication Time (auth_time) claim must be a number present in the ID token "
                  "when Max Age "
                  "(max_age) is specified");
    EXPECT_TRUE(check(rs256Token(with(claims(), "auth_time", nowSeconds - 360)), aged));
    expectFailure(
        check(rs256Token(with(claims(), "auth_time", nowSeconds - 361)), aged),
        Kind::authTimeTooOld,
        "Authentication Time (auth_time) claim in the ID token indicates that too much time has "
        "passed "
        "since the last user authentication. Current time (1800000000) is after last auth time");
}

TEST(IDTokenValidator, ChecksTheOrganizationWhenOneWasRequested) {
    auto organization = context();
    organization.organization = "org_123";
    expectFailure(check(rs256Token(claims()), organization), Kind::missingOrganization,
                  "Organization (org_id or org_name) claim must be");
    expectFailure(
        check(rs256Token(with(claims(), "org_id", "org_999")), organization),
        Kind::organizationMismatch,
        "Organization (org_id or org_name) claim mismatch in the ID token; expected (org_123)");
    EXPECT_TRUE(check(rs256Token(with(claims(), "org_id", "org_123")), organization));
    organization.organization = "Acme";
    EXPECT_TRUE(check(rs256Token(with(claims(), "org_name", "acme")), organization));
}

TEST(JSONWebKeySet, IgnoresKeysItCannotUse) {
    Json small = testKey("key-1").jwk();
    small["kid"] = "small";
    small["n"] = base64URLEncode(std::string(64, '\xff')); // 512 bits
    Json encryption = testKey("key-1").jwk();
    encryption["kid"] = "enc";
    encryption["use"] = "enc";
    Json other = testKey("key-1").jwk();
    other["kid"] = "ps";
    other["alg"] = "PS256";
    Json document{
        {"keys", Json::array({small, encryption, other, Json{{"kty", "EC"}, {"kid", "ec"}}, 42,
                              testKey("key-2").jwk()})}};
    auto set = JSONWebKeySet::parse(dumpCompact(document));
    ASSERT_TRUE(set);
    ASSERT_EQ(set->keys.size(), 1u);
    EXPECT_EQ(set->keys[0].keyID, "key-2");
    EXPECT_FALSE(JSONWebKeySet::parse("{\"keys\":{}}"));
    EXPECT_FALSE(JSONWebKeySet::parse("[]"));
}
