#include "SnapshotDocuments.h"
#include "shell/RecorderSnapshot.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

using namespace quorvel;
using quorvel::test::fullSnapshotDocument;
using quorvel::test::minimalSnapshotDocument;

namespace {

std::optional<RecorderSnapshot> decoded(const Json& document) {
    return RecorderSnapshot::decode(dumpCompact(document));
}

// The full document with the value at `pointer` set, or removed when there is no value.
std::optional<RecorderSnapshot> changed(const std::string& pointer, std::optional<Json> value,
                                        SnapshotRefusal* refusal = nullptr) {
    Json document = fullSnapshotDocument();
    Json::json_pointer at(pointer);
    if (value)
        document[at] = *value;
    else
        document[at.parent_pointer()].erase(at.back());
    return RecorderSnapshot::decode(dumpCompact(document), refusal);
}

// "/policy/version" as a refusal names it: "policy.version".
std::string dotted(std::string pointer) {
    pointer.erase(0, 1);
    std::replace(pointer.begin(), pointer.end(), '/', '.');
    return pointer;
}

} // namespace

TEST(RecorderSnapshot, DecodesTheMinimalAndTheFullDocument) {
    auto minimal = decoded(minimalSnapshotDocument());
    ASSERT_TRUE(minimal);
    EXPECT_EQ(minimal->seq, 1u);
    EXPECT_EQ(minimal->state, RecorderState::ready);
    EXPECT_EQ(minimal->source, CaptureSource::live);
    EXPECT_FALSE(minimal->sessionId);
    EXPECT_FALSE(minimal->uploadConnectivity);
    EXPECT_EQ(minimal->policy, (PolicySummary{1, "accepted", "all"}));

    auto full = decoded(fullSnapshotDocument());
    ASSERT_TRUE(full);
    EXPECT_EQ(full->currentUpload->backlogBytes, 1572864u);
    EXPECT_EQ(full->currentUpload->attention->code, UploadAttentionCode::backlogGrowing);
    EXPECT_EQ(full->uploadConfirmedFrontier,
              (UploadConfirmedFrontier{991, "b3c1f0e2d4a5968778695a4b3c2d1e0f"}));
    EXPECT_EQ(full->uploadLauncherHealth, UploadLauncherHealth::running);
    EXPECT_EQ(full->attention->code, "diskSpaceLow");
    EXPECT_EQ(full->captureSupervisorReason, CaptureSupervisorReason::checkingPrerequisites);
    EXPECT_EQ(full->captureInterruption, CaptureInterruption::screenLock);
    EXPECT_EQ(full->updatePending, "2.4.1");
    // Key order is free, extra keys are ignored, and records compare by value.
    EXPECT_EQ(RecorderSnapshot::decode(fullSnapshotDocument().dump(2)), full);
    Json extra = fullSnapshotDocument();
    extra["future"] = {{"nested", {1, 2, 3}}};
    extra["policy"]["extra"] = "x";
    extra["currentUpload"]["extra"] = nullptr;
    EXPECT_EQ(decoded(extra), full);
}

TEST(RecorderSnapshot, LenientWordsNullOptionalsAndRangeEdges) {
    EXPECT_EQ(changed("/state", "sleeping")->state, RecorderState::unknown);
    EXPECT_EQ(changed("/state", "Recording")->state, RecorderState::unknown);
    EXPECT_EQ(changed("/source", "SIMULATED")->source, CaptureSource::simulated);
    EXPECT_EQ(changed("/source", "LIVE")->source, CaptureSource::simulated);
    EXPECT_TRUE(changed("/attention/code", "anything at all")); // free text
    EXPECT_FALSE(changed("/uploadConnectivity", nullptr)->uploadConnectivity);
    EXPECT_FALSE(changed("/currentUpload/backlogBytes", nullptr)->currentUpload->backlogBytes);
    EXPECT_EQ(changed("/sealedSegments", 4294967295ULL)->sealedSegments, 4294967295u);
    EXPECT_EQ(changed("/seq", 18446744073709551615ULL)->seq, 18446744073709551615ULL);
}

TEST(RecorderSnapshot, RefusesWrongTypesOutOfRangeNumbersUnlistedWordsAndMissingKeys) {
    const std::vector<std::pair<std::string, Json>> refused = {
        // Lenient about the word, not about the type; strict enumerations also when optional.
        {"/state", 3},
        {"/source", true},
        {"/captureSupervisorState", "sleeping"},
        {"/captureLauncherHealth", "Enabled"},
        {"/uploadConnectivity", "satellite"},
        {"/captureSupervisorReason", "tired"},
        {"/uploadLauncherHealth", "ok"},
        {"/uploadAttention/code", "somethingElse"},
        {"/currentUpload/connectivity", "satellite"},
        // Required values given as null.
        {"/seq", nullptr},
        {"/policy", nullptr},
        {"/currentUpload/retryAvailable", nullptr},
        {"/policy", Json::array()},
        // Whole non-negative numbers in range, booleans and strings of their own type.
        {"/seq", -1},
        {"/seq", 1.5},
        {"/seq", "1"},
        {"/seq", true},
        {"/sealedSegments", 4294967296ULL},
        {"/uploadBacklog", 4294967296ULL},
        {"/policy/version", 4294967296ULL},
        {"/uploadBacklogBytes", -5},
        {"/captureLive", 1},
        {"/humanAttention", "true"},
        {"/uploadBacklogUnknown", 0},
        {"/sessionId", 12},
        {"/updatePending", false},
    };
    // The refusal names the offending key (what a host developer sees in the log).
    for (const auto& [pointer, value] : refused) {
        SnapshotRefusal refusal;
        EXPECT_FALSE(changed(pointer, value, &refusal)) << pointer << " = " << value;
        EXPECT_EQ(refusal.key, dotted(pointer)) << pointer << " = " << value;
    }

    for (const char* key :
         {"/seq", "/issuedAtMs", "/state", "/source", "/elapsedSecs", "/captureLive",
          "/sealedSegments", "/localBytes", "/uploadBacklog", "/captureSupervisorState",
          "/captureLauncherHealth", "/humanAttention", "/policy", "/policy/scope",
          "/uploadConfirmedFrontier/head", "/uploadAttention/message", "/pendingUpload/sessions"}) {
        SnapshotRefusal refusal;
        EXPECT_FALSE(changed(key, std::nullopt, &refusal)) << key << " missing";
        EXPECT_EQ(refusal, (SnapshotRefusal{dotted(key), "missing"}));
    }

    // What only a text can carry: a number beyond 64 bits, bytes that are not UTF-8, framing.
    const std::string text = dumpCompact(minimalSnapshotDocument());
    std::string huge = text;
    huge.replace(huge.find("\"seq\":1"), 7, "\"seq\":18446744073709551616");
    std::string notUtf8 = text;
    notUtf8.replace(notUtf8.find("\"ready\""), 7, "\"\xC3\x28\"");
    for (const std::string& bad :
         {huge, notUtf8, std::string("{}"), std::string("[]"), "[" + text + "]", std::string(),
          std::string("null"), text.substr(0, text.size() - 1), text + std::string(1, '\0'),
          text + "{}"}) {
        SnapshotRefusal refusal;
        EXPECT_FALSE(RecorderSnapshot::decode(bad, &refusal)) << testing::PrintToString(bad);
        EXPECT_FALSE(refusal.key.empty()) << testing::PrintToString(bad);
    }
}

namespace {

// The full document's text with the number of the first `"key":` written as `raw`.
std::string withNumber(const std::string& key, const std::string& raw) {
    std::string text = dumpCompact(fullSnapshotDocument());
    auto start = text.find("\"" + key + "\":") + key.size() + 3;
    return text.replace(start, text.find_first_of(",}", start) - start, raw);
}

} // namespace

TEST(RecorderSnapshot, ReadsIntegersExactlyInEverySpelling) {
    constexpr auto none = std::optional<std::uint64_t>();
    const std::vector<std::tuple<std::string, std::string, std::optional<std::uint64_t>>> table = {
        // A whole value is accepted in any spelling, and read exactly, up to the field's range.
        {"seq", "9007199254740993", 9007199254740993ULL},
        {"seq", "9007199254740993.0", 9007199254740993ULL},
        {"seq", "18446744073709551615", 18446744073709551615ULL},
        {"seq", "18446744073709551615.0", 18446744073709551615ULL},
        {"seq", "1.8446744073709551615e19", 18446744073709551615ULL},
        {"seq", "1e2", 100},
        {"seq", "1E+2", 100},
        {"seq", "100e-2", 1},
        {"seq", "-0", 0},
        {"seq", "-0.0", 0},
        {"seq", "0e999999999999", 0},
        {"sealedSegments", "4294967295.0", 4294967295ULL},
        // Anything else is refused: a fraction, however small, or a value beyond the range.
        {"seq", "1e-400", none},
        {"seq", "-1e-400", none},
        {"seq", "1.00000000000000000001", none},
        {"seq", "18446744073709551616", none},
        {"seq", "18446744073709551615.5", none},
        {"seq", "1e20", none},
        {"seq", "1e400", none},
        {"seq", "-1", none},
        {"uploadBacklog", "2.0000000000000001", none},
        {"sealedSegments", "4294967295.0000000000001", none},
        {"sealedSegments", "4294967296", none},
        {"seq", "01", none},
        {"seq", "1.", none},
        {"seq", "+1", none},
    };
    for (const auto& [key, raw, expected] : table) {
        auto snapshot = RecorderSnapshot::decode(withNumber(key, raw));
        ASSERT_EQ(snapshot.has_value(), expected.has_value()) << key << " = " << raw;
        if (snapshot) {
            EXPECT_EQ(key == "seq" ? snapshot->seq : snapshot->sealedSegments, *expected) << raw;
        }
    }
    EXPECT_EQ(RecorderSnapshot::decode(withNumber("uploadBacklog", "2.0"))->uploadBacklog, 2u);
}

TEST(RecorderSnapshot, DuplicateKeysEscapesFramingAndBounds) {
    using namespace std::string_literals;
    const std::string full = dumpCompact(fullSnapshotDocument());
    const std::string body = full.substr(1, full.size() - 2);
    auto nested = [&](std::size_t depth) { // the document itself is one level
        return "{" + body + ",\"future\":" + std::string(depth - 1, '[') +
               std::string(depth - 1, ']') + "}";
    };
    const std::string padded =
        full + std::string(RecorderSnapshot::maximumDocumentBytes - full.size(), ' ');
    const std::vector<std::pair<std::string, bool>> table = {
        // The last duplicate counts, whether it repairs or breaks the document.
        {"{\"seq\":-1," + body + "}", true},
        {"{" + body + ",\"seq\":-1}", false},
        {"{" + body + ",\"policy\":null}", false},
        {"{\"uploadConnectivity\":\"satellite\"," + body + "}", true},
        // Keys are matched by their decoded text; escapes in values are resolved.
        {"{\"s\\u0065q\":-1," + body + "}", true},
        {"{" + body + ",\"s\\u0065q\":-1}", false},
        {"{" + body + ",\"sEq\":-1,\"seq \":-1}", true},
        {"{" + body + ",\"captureSupervisorState\":\"ch\\u0065cking\"}", true},
        // Framing: whitespace and a leading byte order mark only.
        {" \n" + full + "\t\r\n", true},
        {"\xEF\xBB\xBF" + full, true},
        {" \xEF\xBB\xBF" + full, false},
        {full + "x", false},
        {full + "\0"s, false},
        {"\0"s + full, false},
        // Unread values are checked too: a syntax or UTF-8 fault anywhere refuses the document.
        {"{" + body + ",\"future\":[1e300,-0.0,\"\\ud83d\\ude00\",{\"x\":null}]}", true},
        {"{" + body + ",\"future\":[1e400]}", false},
        {"{" + body + ",\"future\":[tru]}", false},
        {"{" + body + ",\"future\":\"\\uD800\"}", false},
        {"{" + body + ",\"future\":\"\xED\xA0\x80\"}", false},
        {"{" + body + ",\"future\":\"\x01\"}", false},
        // Bounds on nesting and size.
        {nested(RecorderSnapshot::maximumDocumentDepth), true},
        {nested(RecorderSnapshot::maximumDocumentDepth + 1), false},
        {padded, true},
        {padded + " ", false},
    };
    for (const auto& [text, accepted] : table) {
        EXPECT_EQ(RecorderSnapshot::decode(text).has_value(), accepted)
            << testing::PrintToString(text.substr(0, 200));
    }
}
