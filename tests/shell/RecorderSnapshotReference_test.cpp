// The shipped decoder against the reference decoder (the same rules over a full DOM parse): both
// must accept and refuse the same documents and decode the same values, also for the spellings
// that only a text can carry (-0, 1e2, escapes, duplicate keys, a byte order mark).
#include "ReferenceSnapshotDecoder.h"
#include "SnapshotDocuments.h"
#include "shell/RecorderSnapshot.h"

#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using namespace quorvel;
using namespace std::string_literals;

namespace {

// The document with the scalar value of the first `"key":` replaced by `raw`.
std::string replacingValue(std::string text, const std::string& key, const std::string& raw) {
    auto at = text.find("\"" + key + "\":");
    if (at == std::string::npos)
        return {};
    auto start = at + key.size() + 3;
    auto end = text[start] == '"' ? text.find('"', start + 1) + 1 : text.find_first_of(",}", start);
    return text.replace(start, end - start, raw);
}

// The document with the key `key` spelled `spelling`.
std::string withKey(std::string text, const std::string& key, const std::string& spelling) {
    return text.replace(text.find("\"" + key + "\":"), key.size() + 2, "\"" + spelling + "\"");
}

void expectAgreement(const std::string& text) {
    EXPECT_EQ(RecorderSnapshot::decode(text), test::reference::decode(text))
        << testing::PrintToString(text);
}

// Every scalar key of the full document, top level and nested.
const char* const scalarKeys =
    "seq issuedAtMs state source proofRunId sessionId elapsedSecs captureLive sealedSegments "
    "localBytes uploadBacklog uploadBacklogUnknown uploadBacklogBytes uploadConnectivity "
    "uploadLauncherHealth uploadWorkFingerprint captureSupervisorState captureSupervisorReason "
    "captureLauncherHealth captureInterruption humanAttention updatePending sessions backlog "
    "backlogUnknown backlogBytes connectivity retryAvailable counter head code message version "
    "status scope";

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

} // namespace

TEST(RecorderSnapshotReference, EveryFieldAgreesOnTrickyValues) {
    const std::string full = dumpCompact(test::fullSnapshotDocument());
    // Numbers at and beyond every range edge, and every kind of JSON value and string spelling.
    const auto values = words(
        R"(0 -0 -0.0 0.0 1.0 1e2 1E+2 100e-2 1.5 -1 4294967295 4294967296 4294967295.0 )"
        R"(4294967295.0000000000001 18446744073709551615 18446744073709551616 )"
        R"(18446744073709551615.0 -9223372036854775809 1e400 1e-400 -1e-400 1e-320 true false )"
        R"(null "" "x" "live" "LIVE" "ready" "recording" "\u0072eady" "rec\u006Frding" )"
        R"("\ud83d\ude00" "\uD800" "caf\u00e9" )"
        "\"caf\xC3\xA9\" \"\xC3\x28\" " // raw bytes: UTF-8 and not
        R"("\u0000" "checking" "offline" "backlogGrowing" "screenLock" "running" "enabled" )"
        R"([] {} [1] 01 1. "\x")");
    int accepted = 0;
    for (const auto& key : words(scalarKeys)) {
        for (const auto& value : values) {
            auto text = replacingValue(full, key, value);
            ASSERT_FALSE(text.empty()) << key;
            expectAgreement(text);
            accepted += RecorderSnapshot::decode(text) ? 1 : 0;
        }
    }
    // Both ways are exercised: many documents decode, many are refused.
    EXPECT_GT(accepted, 300);
    EXPECT_LT(accepted, 1500);
}

TEST(RecorderSnapshotReference, KeysDuplicatesAndFramingAgree) {
    const std::string full = dumpCompact(test::fullSnapshotDocument());
    const std::string minimal = dumpCompact(test::minimalSnapshotDocument());
    const std::string body = full.substr(1, full.size() - 2);
    std::vector<std::string> documents{
        // The last duplicate counts, whether it repairs or breaks the document.
        "{\"seq\":-1," + body + "}", "{" + body + ",\"seq\":-1}",
        "{" + body + ",\"seq\":7,\"seq\":8}", "{" + body + ",\"state\":\"paused\"}",
        "{" + body + ",\"policy\":{\"version\":2}}", "{" + body + ",\"policy\":null}",
        "{" + body + ",\"uploadConnectivity\":null}",
        "{\"uploadConnectivity\":\"satellite\"," + body + "}",
        // Keys are matched by their decoded text.
        withKey(full, "seq", "s\\u0065q"), withKey(full, "state", "st\\u0061te"),
        withKey(full, "seq", "s\\u0045q"), "{\"s\\u0065q\":3," + body + "}",
        "{" + body + ",\"sEq\":3}", "{" + body + ",\"seq \":3}",
        // Framing: whitespace, byte order mark, trailing data, NUL bytes, truncation.
        " \n" + full + "\t\r\n", "\xEF\xBB\xBF" + full, " \xEF\xBB\xBF" + full, full + "x",
        full + "{}", full + "\0"s, "\0"s + full, full.substr(0, full.size() - 1), "[" + full + "]",
        "{}", "[]", "", "null", minimal,
        "{" + body + ",\"future\":{\"deep\":[[[[[{\"x\":[1e300,-0.0,\"\\ud83d\\ude00\"]}]]]]]}}",
        "{" + body + ",\"future\":[1e400]}", "{" + body + ",\"future\":\"\xED\xA0\x80\"}"};
    for (const auto& text : documents)
        expectAgreement(text);
}

TEST(RecorderSnapshotReference, TheShippedDecoderAloneBoundsSizeAndNesting) {
    const std::string full = dumpCompact(test::fullSnapshotDocument());
    const std::string body = full.substr(1, full.size() - 2);
    auto withNesting = [&](std::size_t depth) {
        // The document itself is one level.
        return "{" + body + ",\"future\":" + std::string(depth - 1, '[') +
               std::string(depth - 1, ']') + "}";
    };
    expectAgreement(withNesting(RecorderSnapshot::maximumDocumentDepth));
    EXPECT_TRUE(RecorderSnapshot::decode(withNesting(RecorderSnapshot::maximumDocumentDepth)));
    EXPECT_FALSE(RecorderSnapshot::decode(withNesting(RecorderSnapshot::maximumDocumentDepth + 1)));
    EXPECT_TRUE(test::reference::decode(withNesting(RecorderSnapshot::maximumDocumentDepth + 1)));

    std::string padded =
        full + std::string(RecorderSnapshot::maximumDocumentBytes - full.size(), ' ');
    expectAgreement(padded);
    EXPECT_TRUE(RecorderSnapshot::decode(padded));
    EXPECT_FALSE(RecorderSnapshot::decode(padded + " "));
    EXPECT_TRUE(test::reference::decode(padded + " "));
}
