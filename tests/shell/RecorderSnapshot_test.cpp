#include "SnapshotDocuments.h"
#include "shell/RecorderSnapshot.h"

#include <gtest/gtest.h>

using namespace quorvel;
using quorvel::test::fullSnapshotDocument;
using quorvel::test::minimalSnapshotDocument;

namespace {

std::optional<RecorderSnapshot> decoded(const Json& document) {
    return RecorderSnapshot::decode(dumpCompact(document));
}

Json with(Json document, const Json::json_pointer& pointer, Json value) {
    document[pointer] = std::move(value);
    return document;
}

Json without(Json document, const Json::json_pointer& pointer) {
    document[pointer.parent_pointer()].erase(pointer.back());
    return document;
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
    // Key order is free and records compare by value.
    EXPECT_EQ(RecorderSnapshot::decode(fullSnapshotDocument().dump(2)), full);
}

TEST(RecorderSnapshot, LenientEnumerationsTakeTheirFallback) {
    EXPECT_EQ(decoded(with(minimalSnapshotDocument(), "/state"_json_pointer, "sleeping"))->state,
              RecorderState::unknown);
    EXPECT_EQ(decoded(with(minimalSnapshotDocument(), "/state"_json_pointer, "Recording"))->state,
              RecorderState::unknown);
    EXPECT_EQ(decoded(with(minimalSnapshotDocument(), "/source"_json_pointer, "SIMULATED"))->source,
              CaptureSource::simulated);
    EXPECT_EQ(decoded(with(minimalSnapshotDocument(), "/source"_json_pointer, "LIVE"))->source,
              CaptureSource::simulated);
    // Lenient about the word, not about the type.
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/state"_json_pointer, 3)));
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/source"_json_pointer, true)));
}

TEST(RecorderSnapshot, StrictEnumerationsRejectUnlistedWordsAlsoWhenOptional) {
    EXPECT_FALSE(decoded(
        with(minimalSnapshotDocument(), "/captureSupervisorState"_json_pointer, "sleeping")));
    EXPECT_FALSE(
        decoded(with(minimalSnapshotDocument(), "/captureLauncherHealth"_json_pointer, "Enabled")));
    EXPECT_FALSE(
        decoded(with(minimalSnapshotDocument(), "/uploadConnectivity"_json_pointer, "satellite")));
    EXPECT_FALSE(
        decoded(with(minimalSnapshotDocument(), "/captureSupervisorReason"_json_pointer, "tired")));
    EXPECT_FALSE(
        decoded(with(minimalSnapshotDocument(), "/uploadLauncherHealth"_json_pointer, "ok")));
    EXPECT_FALSE(decoded(
        with(fullSnapshotDocument(), "/uploadAttention/code"_json_pointer, "somethingElse")));
    EXPECT_FALSE(decoded(
        with(fullSnapshotDocument(), "/currentUpload/connectivity"_json_pointer, "satellite")));
    // Attention's code is free text.
    EXPECT_TRUE(
        decoded(with(fullSnapshotDocument(), "/attention/code"_json_pointer, "anything at all")));
}

TEST(RecorderSnapshot, NullOptionalsAreAbsentAndNullRequiredKeysReject) {
    auto snapshot =
        decoded(with(fullSnapshotDocument(), "/uploadConnectivity"_json_pointer, nullptr));
    ASSERT_TRUE(snapshot);
    EXPECT_FALSE(snapshot->uploadConnectivity);
    EXPECT_FALSE(
        decoded(with(fullSnapshotDocument(), "/currentUpload/backlogBytes"_json_pointer, nullptr))
            ->currentUpload->backlogBytes);
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/seq"_json_pointer, nullptr)));
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/policy"_json_pointer, nullptr)));
    EXPECT_FALSE(decoded(
        with(fullSnapshotDocument(), "/currentUpload/retryAvailable"_json_pointer, nullptr)));
}

TEST(RecorderSnapshot, IntegersMustBeWholeNonNegativeNumbersInRange) {
    auto doc = minimalSnapshotDocument;
    EXPECT_FALSE(decoded(with(doc(), "/seq"_json_pointer, -1)));
    EXPECT_FALSE(decoded(with(doc(), "/seq"_json_pointer, 1.5)));
    EXPECT_FALSE(decoded(with(doc(), "/seq"_json_pointer, "1")));
    EXPECT_FALSE(decoded(with(doc(), "/seq"_json_pointer, true)));
    EXPECT_FALSE(decoded(with(doc(), "/sealedSegments"_json_pointer, 4294967296ULL)));
    EXPECT_FALSE(decoded(with(doc(), "/uploadBacklog"_json_pointer, 4294967296ULL)));
    EXPECT_FALSE(decoded(with(doc(), "/policy/version"_json_pointer, 4294967296ULL)));
    EXPECT_EQ(decoded(with(doc(), "/sealedSegments"_json_pointer, 4294967295ULL))->sealedSegments,
              4294967295u);
    EXPECT_EQ(decoded(with(doc(), "/seq"_json_pointer, 18446744073709551615ULL))->seq,
              18446744073709551615ULL);
    EXPECT_FALSE(
        RecorderSnapshot::decode(std::string(R"({"seq":18446744073709551616,)") +
                                 dumpCompact(without(doc(), "/seq"_json_pointer)).substr(1)));
    EXPECT_FALSE(decoded(with(doc(), "/uploadBacklogBytes"_json_pointer, -5)));
}

TEST(RecorderSnapshot, BooleansMustBeJsonBooleans) {
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/captureLive"_json_pointer, 1)));
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/humanAttention"_json_pointer, "true")));
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/uploadBacklogUnknown"_json_pointer, 0)));
}

TEST(RecorderSnapshot, EveryRequiredKeyIsNeeded) {
    for (const auto& key :
         {"seq", "issuedAtMs", "state", "source", "elapsedSecs", "captureLive", "sealedSegments",
          "localBytes", "uploadBacklog", "captureSupervisorState", "captureLauncherHealth",
          "humanAttention", "policy"}) {
        Json document = minimalSnapshotDocument();
        document.erase(key);
        EXPECT_FALSE(decoded(document)) << key;
    }
    EXPECT_FALSE(decoded(without(minimalSnapshotDocument(), "/policy/scope"_json_pointer)));
    EXPECT_FALSE(
        decoded(without(fullSnapshotDocument(), "/uploadConfirmedFrontier/head"_json_pointer)));
    EXPECT_FALSE(decoded(without(fullSnapshotDocument(), "/uploadAttention/message"_json_pointer)));
    EXPECT_FALSE(decoded(without(fullSnapshotDocument(), "/pendingUpload/sessions"_json_pointer)));
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/policy"_json_pointer, Json::array())));
}

TEST(RecorderSnapshot, ExtraKeysAreIgnoredAndTheDocumentMustBeAnObject) {
    Json document = fullSnapshotDocument();
    document["future"] = {{"nested", {1, 2, 3}}};
    document["policy"]["extra"] = "x";
    document["currentUpload"]["extra"] = nullptr;
    EXPECT_EQ(decoded(document), decoded(fullSnapshotDocument()));

    EXPECT_FALSE(RecorderSnapshot::decode("{}"));
    EXPECT_FALSE(RecorderSnapshot::decode("[]"));
    EXPECT_FALSE(RecorderSnapshot::decode("[" + dumpCompact(minimalSnapshotDocument()) + "]"));
    EXPECT_FALSE(RecorderSnapshot::decode(""));
    EXPECT_FALSE(RecorderSnapshot::decode("null"));
    std::string text = dumpCompact(minimalSnapshotDocument());
    EXPECT_FALSE(RecorderSnapshot::decode(text.substr(0, text.size() - 1)));
    EXPECT_FALSE(RecorderSnapshot::decode(text + std::string(1, '\0')));
    EXPECT_FALSE(RecorderSnapshot::decode(text + "{}"));
}

TEST(RecorderSnapshot, StringsMustBeStringsAndValidUtf8) {
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/sessionId"_json_pointer, 12)));
    EXPECT_FALSE(decoded(with(minimalSnapshotDocument(), "/updatePending"_json_pointer, false)));
    std::string text =
        dumpCompact(with(minimalSnapshotDocument(), "/sessionId"_json_pointer, "AB"));
    text.replace(text.find("AB"), 2, "\xC3\x28");
    EXPECT_FALSE(RecorderSnapshot::decode(text));
}
