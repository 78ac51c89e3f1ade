#include "SnapshotDocuments.h"
#include "shell/RecorderSnapshot.h"

#include <gtest/gtest.h>

#include <algorithm>

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
