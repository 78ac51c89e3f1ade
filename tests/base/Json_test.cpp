#include "base/Json.h"
#include "base/JsonDocument.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(Json, TheDocumentReaderReadsIntegersExactlyWithinEachRange) {
    constexpr auto none = std::optional<std::int64_t>();
    struct Case {
        const char* text;
        std::optional<std::uint64_t> asUnsigned; // up to UINT64_MAX
        std::optional<std::int64_t> asSigned;    // INT64_MIN to INT64_MAX
    };
    const Case table[] = {
        {"18446744073709551615", UINT64_MAX, none},
        {"18446744073709551615.0", UINT64_MAX, none},
        {"18446744073709551616", std::nullopt, none},
        {"9223372036854775807", 9223372036854775807ULL, INT64_MAX},
        {"-9223372036854775808", std::nullopt, INT64_MIN},
        {"-9223372036854775808.0e0", std::nullopt, INT64_MIN},
        {"-9223372036854775809", std::nullopt, none},
        {"9007199254740993", 9007199254740993ULL, 9007199254740993LL},
        {"9007199254740993.0", 9007199254740993ULL, 9007199254740993LL},
        {"1e2", 100, 100},
        {"-1e2", std::nullopt, -100},
        {"12300e-2", 123, 123},
        {"-0", 0, 0},
        {"1.5", std::nullopt, none},
        {"1e-400", std::nullopt, none},
        {"1.00000000000000000001", std::nullopt, none},
        {"2.0000000000000001", std::nullopt, none},
        {"1e19", 10000000000000000000ULL, none},
        {"1e20", std::nullopt, none},
        // Well formed, though the fast conversion declines it: many digits, a long exponent.
        {"38888888888888888000000000000000000000000E00000000000000000000000000000000", std::nullopt,
         none},
        {"1000000000000000000000e-00000000000000000000000000000002", 10000000000000000000ULL, none},
        {"100000000000000000000000000000e-0000000000000000000000000000000000011",
         1000000000000000000ULL, 1000000000000000000LL},
        {"\"1\"", std::nullopt, none},
        {"true", std::nullopt, none},
        {"null", std::nullopt, none},
    };
    for (const auto& [text, asUnsigned, asSigned] : table) {
        auto document = JsonDocument::read(std::string("[") + text + "]");
        ASSERT_TRUE(document) << text;
        auto value = *document->root().elements().begin();
        EXPECT_EQ(value.unsignedValue(UINT64_MAX), asUnsigned) << text;
        EXPECT_EQ(value.signedValue(INT64_MIN, INT64_MAX), asSigned) << text;
    }
    // Numbers RFC 8259 does not allow, and ones a double cannot hold, refuse the document.
    for (const char* text :
         {"[01]", "[1.]", "[.5]", "[1e]", "[1e+]", "[-]", "[+1]", "[1e400]", "[-1e400]",
          "[3888888888888888800000000000000000E000000000000000000400]", "[0.089E000802080000]"})
        EXPECT_FALSE(JsonDocument::read(text)) << text;
    auto tiny = JsonDocument::read("[1e-400, 1e-0000000000000000000000000000000400]");
    ASSERT_TRUE(tiny);
    for (auto value : tiny->root().elements())
        EXPECT_EQ(value.doubleValue(), 0.0);
    // The same spellings as a whole document: nothing but whitespace may follow.
    const std::string longExponent = "1E00000000000000000000000000000000000000001";
    EXPECT_TRUE(JsonDocument::read(" " + longExponent + "\n"));
    EXPECT_EQ(JsonDocument::read(longExponent)->root().unsignedValue(UINT64_MAX), 10u);
    for (const char* rest : {" x", "]", ",1", " 1"})
        EXPECT_FALSE(JsonDocument::read(longExponent + rest)) << rest;
    // A stray byte right after a scalar document is not whitespace either.
    for (const char* text : {"null\x01\n", "true\x01\n", "\"a\"\x01\n", "1\x01\n"})
        EXPECT_FALSE(JsonDocument::read(text)) << text;
    for (const char* text : {" \"a\\\"b\" \n", "null\n", " null ", "true\n", "false ", "1 "})
        EXPECT_TRUE(JsonDocument::read(text)) << text;
    for (const char* text : {"nul", "nullx", "null null", "null\x01"})
        EXPECT_FALSE(JsonDocument::read(text)) << text;
    auto one = JsonDocument::read("[4294967296, -2147483649]");
    auto values = one->root().elements().begin();
    EXPECT_FALSE((*values).unsignedValue(UINT32_MAX));
    EXPECT_FALSE((*++values).signedValue(INT32_MIN, INT32_MAX));
}

TEST(Json, ParsingNeverThrowsAndRejectsInvalidText) {
    EXPECT_FALSE(parseJson("{"));
    EXPECT_FALSE(parseJson("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(parseJson(""));
    EXPECT_TRUE(parseJson("[]"));
    EXPECT_EQ(dumpCompact(*parseJson(R"({"b":1,"a":{"d":true,"c":null}})")),
              R"({"a":{"c":null,"d":true},"b":1})");
}
