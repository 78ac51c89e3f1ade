#include "base/Json.h"
#include "base/JsonReader.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

using namespace quorvel;
using namespace std::string_literals;

namespace {

// The text of the one string in `["..."]`, or nothing when the reader refuses the document.
std::optional<std::string> stringIn(const std::string& inner) {
    std::string text = "[\"" + inner + "\"]";
    auto reader = JsonReader::read(text);
    if (!reader)
        return std::nullopt;
    auto value = (*reader->root().elements().begin()).stringValue();
    return value ? std::optional(std::string(*value)) : std::nullopt;
}

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

} // namespace

TEST(JsonReader, EscapesDecodeAndBadEscapesRefuse) {
    EXPECT_EQ(stringIn(R"(plain)"), "plain");
    EXPECT_EQ(stringIn(R"(a\"b\\c\/d\b\f\n\r\t)"), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(stringIn(R"(\u0041\u00e9\u20AC)"), "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(stringIn(R"(\u0000)"), "\0"s);
    EXPECT_EQ(stringIn(R"(x\uD83D\uDE00y)"), "x\xF0\x9F\x98\x80y");
    EXPECT_EQ(stringIn(R"(\udbff\udfff)"), "\xF4\x8F\xBF\xBF");
    // An escape after plain text, and plain text after it, both land in the decoded text.
    EXPECT_EQ(stringIn(R"(before\nafter)"), "before\nafter");

    for (const char* bad :
         {R"(\uD800)", R"(\uDC00)", R"(\uD800\u0041)", R"(\uD800\uD800)", R"(\uD800x)",
          R"(\uDBFF\)", R"(\u12)", R"(\u12G4)", R"(\U0041)", R"(\x41)", R"(\a)", R"(\')", "\\"}) {
        EXPECT_FALSE(stringIn(bad)) << bad;
    }
    // A key with an escape is found by its decoded text.
    auto reader = JsonReader::read(R"({"s\u0065q":1})");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->root().find("seq")->unsignedValue(10), 1u);
}

TEST(JsonReader, StringsMustBeWellFormedUtf8WithoutRawControlCharacters) {
    // The first and last code point of every length, and both sides of the surrogate gap.
    for (const char* good : {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                             "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\x7F"}) {
        EXPECT_EQ(stringIn(good), good) << good;
    }
    for (const char* bad :
         {"\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
          "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xC2", "\xE2\x82",
          "\xF0\x9F\x98", "\xC2\x41", "\x1F", "\n", "\t"}) {
        EXPECT_FALSE(stringIn(bad)) << testing::PrintToString(std::string(bad));
    }
    // Also behind an escape, where the text is decoded rather than viewed.
    EXPECT_FALSE(stringIn("\\n\xC0\x80"));
    EXPECT_FALSE(stringIn("\\n\x01"));
    // A sequence cut off by the end of the text.
    EXPECT_FALSE(JsonReader::read("[\"\xE2\x82"));
}

TEST(JsonReader, NumbersReadAsTheStrictJsonReadersReadThem) {
    constexpr auto max64 = std::numeric_limits<std::uint64_t>::max();
    constexpr auto min64s = std::numeric_limits<std::int64_t>::min();
    constexpr auto max64s = std::numeric_limits<std::int64_t>::max();
    std::istringstream numbers(
        "0 -0 -0.0 0.0 1.0 1e2 1E+2 100e-2 1.5 -1 4294967295 4294967296 18446744073709551615 "
        "18446744073709551616 18446744073709551615.0 1.8446744073709551615e19 "
        "18446744073709551614.9 9223372036854775807 9223372036854775808 -9223372036854775808 "
        "-9223372036854775809 -9223372036854775808.0 9007199254740993 9007199254740993.0 1e-400 "
        "-1e-400 1e-320 0e999999 0.5e1 123456789012345678901234567890 1.7976931348623157e308 "
        "4.9406564584124654e-324");
    for (std::string number; numbers >> number;) {
        auto fast = JsonReader::read(number);
        auto dom = parseJson(number);
        ASSERT_TRUE(fast) << number;
        ASSERT_TRUE(dom) << number;
        auto value = fast->root();
        EXPECT_EQ(value.unsignedValue(max64), jsonUnsigned(*dom, max64)) << number;
        EXPECT_EQ(value.unsignedValue(0xFFFFFFFF), jsonUnsigned(*dom, 0xFFFFFFFF)) << number;
        EXPECT_EQ(value.signedValue(min64s, max64s), jsonSigned(*dom, min64s, max64s)) << number;
        EXPECT_EQ(value.signedValue(-10, 10), jsonSigned(*dom, -10, 10)) << number;
        EXPECT_EQ(value.doubleValue(), dom->get<double>()) << number;
    }
    // A few readings spelled out, so that the comparison above cannot agree on a shared mistake.
    EXPECT_EQ(JsonReader::read("-0")->root().unsignedValue(max64), 0u);
    EXPECT_EQ(JsonReader::read("1e2")->root().unsignedValue(max64), 100u);
    EXPECT_EQ(JsonReader::read("18446744073709551615")->root().unsignedValue(max64), max64);
    EXPECT_FALSE(JsonReader::read("18446744073709551615.0")->root().unsignedValue(max64));
    EXPECT_EQ(JsonReader::read("-9223372036854775809")->root().signedValue(min64s, max64s), min64s);
    EXPECT_FALSE(JsonReader::read("1.5")->root().unsignedValue(max64));
    EXPECT_FALSE(JsonReader::read("\"1\"")->root().unsignedValue(max64));
    EXPECT_FALSE(JsonReader::read("true")->root().signedValue(0, 1));
    // Underflow gives a zero of the number's sign, as strtod does.
    EXPECT_TRUE(std::signbit(*JsonReader::read("-1e-400")->root().doubleValue()));
    EXPECT_FALSE(std::signbit(*JsonReader::read("1e-400")->root().doubleValue()));

    // A value beyond the largest double refuses the whole document, wherever it stands.
    EXPECT_FALSE(JsonReader::read("1e400"));
    EXPECT_FALSE(JsonReader::read(R"({"ignored":[-1.8e308]})"));
    EXPECT_FALSE(JsonReader::read("1" + std::string(400, '0')));
    for (const char* bad : {"01", "-01", "1.", ".5", "+1", "-", "1e", "1e+", "1.e2", "0x10",
                            "1_000", "Infinity", "NaN", "-Infinity", "[1,]", "[01]"}) {
        EXPECT_FALSE(JsonReader::read(bad)) << bad;
    }
}

TEST(JsonReader, NestingAndSizeAreBounded) {
    JsonReaderLimits limits{.maximumBytes = 1000, .maximumDepth = 8};
    EXPECT_TRUE(JsonReader::read(nested(8), limits));
    EXPECT_FALSE(JsonReader::read(nested(9), limits));
    EXPECT_TRUE(JsonReader::read(R"({"a":[{"b":[{"c":[{"d":[1]}]}]}]})", limits));
    EXPECT_FALSE(JsonReader::read(R"({"a":[{"b":[{"c":[{"d":[[1]]}]}]}]})", limits));
    // Siblings do not add up: depth comes back down when a container closes.
    EXPECT_TRUE(
        JsonReader::read("[" + nested(7) + "," + nested(7) + "," + nested(7) + "]", limits));
    // Far beyond the limit the text is refused, not followed.
    EXPECT_FALSE(JsonReader::read(nested(1'000'000)));
    EXPECT_FALSE(JsonReader::read(std::string(1'000'000, '[')));

    std::string text = "[\"" + std::string(996, 'x') + "\"]";
    EXPECT_TRUE(JsonReader::read(text, limits));
    EXPECT_FALSE(JsonReader::read(text + " ", limits));
}

TEST(JsonReader, ObjectsKeepEveryMemberAndFindTheLastDuplicate) {
    auto reader = JsonReader::read(R"({"a":1,"b":{"c":[true,null]},"a":"two","d":{},"e":[]})");
    ASSERT_TRUE(reader);
    auto root = reader->root();
    EXPECT_EQ(root.size(), 5u);
    EXPECT_EQ(root.find("a")->stringValue(), "two");
    EXPECT_FALSE(root.find("A"));
    EXPECT_FALSE(root.find("c")); // only direct members
    std::vector<std::string> keys;
    for (auto member : root.members())
        keys.emplace_back(member.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "b", "a", "d", "e"}));

    auto array = root.find("b")->find("c");
    ASSERT_TRUE(array);
    std::vector<JsonValue::Kind> kinds;
    for (auto element : array->elements())
        kinds.push_back(element.kind());
    EXPECT_EQ(kinds, (std::vector{JsonValue::Kind::boolean, JsonValue::Kind::null}));
    EXPECT_EQ(root.find("d")->size(), 0u);
    EXPECT_TRUE(root.find("e")->isArray());
    EXPECT_EQ(root.find("e")->elements().begin(), root.find("e")->elements().end());
    // Asking a value of another kind answers nothing.
    EXPECT_FALSE(array->find("x"));
    EXPECT_EQ(array->members().begin(), array->members().end());
    EXPECT_FALSE(root.find("b")->stringValue());
    EXPECT_FALSE(root.find("a")->boolValue());
}

TEST(JsonReader, OnlyWhitespaceMayFollowTheValue) {
    EXPECT_TRUE(JsonReader::read(" \t\r\n{} \t\r\n"));
    EXPECT_TRUE(JsonReader::read("\xEF\xBB\xBF{}")); // a byte order mark, at the very start only
    EXPECT_TRUE(JsonReader::read("\"text\""));
    // NUL bytes anywhere; nothing, trailing data, a misplaced byte order mark; broken syntax.
    std::vector<std::string> bad{"{}\0"s, "{\"a\":\"\0\"}"s, "\0{}"s};
    for (const char* text :
         {"", " ", "{}x", "{}{}", "{} 1", "{}\f", " \xEF\xBB\xBF{}", "\xEF\xBB{}"})
        bad.emplace_back(text);
    for (const char* text :
         {"{,}", "{\"a\"}", "{\"a\":}", "{\"a\" 1}", "{\"a\":1,}", "{1:2}", "[1 2]", "[truex]",
          "[tru]", "nul", "{\"a\":1]", "[1}", "]", "[[]", "'a'"})
        bad.emplace_back(text);
    for (const std::string& text : bad) {
        EXPECT_FALSE(JsonReader::read(text)) << testing::PrintToString(text);
    }
}
