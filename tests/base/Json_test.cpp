#include "base/Json.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(Json, StrictNumbersAcceptOnlyWholeValuesInRange) {
    auto read = [](const char* text, std::uint64_t max) {
        return jsonUnsigned(*parseJson(text), max);
    };
    EXPECT_EQ(read("18446744073709551615", UINT64_MAX), UINT64_MAX);
    EXPECT_FALSE(read("18446744073709551616", UINT64_MAX));
    EXPECT_EQ(read("4294967295", UINT32_MAX), 4294967295u);
    EXPECT_FALSE(read("4294967296", UINT32_MAX));
    EXPECT_FALSE(read("-1", UINT64_MAX));
    EXPECT_FALSE(read("1.5", UINT64_MAX));
    EXPECT_EQ(read("1.0", UINT64_MAX), 1u);
    EXPECT_EQ(read("1e2", UINT64_MAX), 100u);
    EXPECT_FALSE(read("\"1\"", UINT64_MAX));
    EXPECT_FALSE(read("true", UINT64_MAX));
    EXPECT_FALSE(read("null", UINT64_MAX));
    auto readSigned = [](const char* text) {
        return jsonSigned(*parseJson(text), INT32_MIN, INT32_MAX);
    };
    EXPECT_EQ(readSigned("-2147483648"), INT32_MIN);
    EXPECT_FALSE(readSigned("2147483648"));
    EXPECT_FALSE(readSigned("\"500\""));
}

TEST(Json, ParsingNeverThrowsAndRejectsInvalidText) {
    EXPECT_FALSE(parseJson("{"));
    EXPECT_FALSE(parseJson("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(parseJson(""));
    EXPECT_TRUE(parseJson("[]"));
    EXPECT_EQ(dumpCompact(*parseJson(R"({"b":1,"a":{"d":true,"c":null}})")),
              R"({"a":{"c":null,"d":true},"b":1})");
}
