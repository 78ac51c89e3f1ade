#include "SnapshotDocuments.h"
#include "shell/StatusPresentation.h"
#include "shell/UserPerceivedLength.h"

#include <clocale>
#include <gtest/gtest.h>
#include <limits>

using namespace quorvel;

namespace {

RecorderSnapshot snapshot(RecorderState state, CaptureSource source = CaptureSource::live) {
    auto s = *RecorderSnapshot::decode(dumpCompact(test::minimalSnapshotDocument()));
    s.state = state;
    s.source = source;
    return s;
}

} // namespace

TEST(StatusPresentation, UnknownWithoutSnapshotOrWhenStale) {
    const auto unknown = StatusPresentation::unknown();
    EXPECT_EQ(unknown.badge, "questionmark.circle");
    EXPECT_EQ(unknown.title, "Status unknown");
    EXPECT_EQ(unknown.subtitle, "Not reporting");
    EXPECT_EQ(unknown.accessibilityDescription, "Quorvel, status unknown");
    EXPECT_FALSE(unknown.pendingUpdate);
    EXPECT_FALSE(unknown.claimsCapture());

    auto s = snapshot(RecorderState::ready);
    s.updatePending = "2.0";
    EXPECT_EQ(StatusPresentation::make(std::nullopt, 0), unknown);
    EXPECT_EQ(StatusPresentation::make(s, 3001), unknown); // hides the update item too
    EXPECT_EQ(StatusPresentation::make(s, std::numeric_limits<std::uint64_t>::max()), unknown);
    EXPECT_EQ(StatusPresentation::make(s, 3000).title, "Ready");
    EXPECT_EQ(StatusPresentation::make(s, 3000).pendingUpdate, "2.0");
}

TEST(StatusPresentation, SymbolTitleAndStateForEveryRecorderState) {
    struct Row {
        RecorderState state;
        bool captureLive;
        const char* badge;
        const char* title;
        RecorderState presented;
    };
    const Row rows[] = {
        {RecorderState::ready, true, "", "Ready", RecorderState::ready},
        {RecorderState::preparing, true, "ellipsis", "Starting", RecorderState::preparing},
        {RecorderState::recording, true, "record.circle.fill", "Recording",
         RecorderState::recording},
        {RecorderState::recording, false, "exclamationmark.triangle.fill", "Not recording",
         RecorderState::degraded},
        {RecorderState::paused, true, "pause.fill", "Paused", RecorderState::paused},
        {RecorderState::degraded, true, "exclamationmark.triangle.fill", "Not recording",
         RecorderState::degraded},
        {RecorderState::finalizing, true, "arrow.down.circle", "Finalizing",
         RecorderState::finalizing},
        {RecorderState::uploading, true, "arrow.up.circle.fill", "Uploading",
         RecorderState::uploading},
        {RecorderState::halted, true, "exclamationmark.octagon.fill", "Halted",
         RecorderState::halted},
    };
    for (const auto& row : rows) {
        auto s = snapshot(row.state);
        s.captureLive = row.captureLive;
        auto p = StatusPresentation::make(s, 0);
        EXPECT_EQ(p.badge, row.badge) << row.title;
        EXPECT_EQ(p.title, row.title);
        EXPECT_EQ(p.state, row.presented) << row.title;
        EXPECT_FALSE(p.isSimulated);
        EXPECT_EQ(p.claimsCapture(), row.presented == RecorderState::recording);
        EXPECT_EQ(StatusPresentation::stateSentences[static_cast<std::size_t>(row.presented)],
                  row.title);
    }
    EXPECT_EQ(StatusPresentation::make(snapshot(RecorderState::unknown), 0),
              StatusPresentation::unknown());
    EXPECT_EQ(
        StatusPresentation::make(snapshot(RecorderState::unknown, CaptureSource::simulated), 0),
        StatusPresentation::unknown());
}

TEST(StatusPresentation, SimulatedSourceMarksTitleSymbolAndDescription) {
    auto p = StatusPresentation::make(snapshot(RecorderState::ready, CaptureSource::simulated), 0);
    EXPECT_EQ(p.badge, "questionmark.circle");
    EXPECT_EQ(p.title, "Ready (simulated)");
    EXPECT_TRUE(p.isSimulated);
    EXPECT_EQ(p.accessibilityDescription, "Quorvel, simulated, ready");

    auto s = snapshot(RecorderState::recording, CaptureSource::simulated);
    s.captureLive = true;
    s.sessionId = "s";
    s.elapsedSecs = 3900;
    p = StatusPresentation::make(s, 0);
    EXPECT_EQ(p.title, "Recording (simulated)");
    EXPECT_FALSE(p.claimsCapture());
    EXPECT_EQ(p.accessibilityDescription, "Quorvel, simulated, recording, 1 hour 5 minutes");

    s.captureLive = false;
    s.source = CaptureSource::live;
    EXPECT_EQ(StatusPresentation::make(s, 0).accessibilityDescription,
              "Quorvel, not recording, 1 hour 5 minutes");
}

TEST(StatusPresentation, SubtitleJoinsElapsedTimeAndUploadPhrase) {
    auto s = snapshot(RecorderState::recording);
    s.captureLive = true;
    s.elapsedSecs = 720;
    s.uploadConnectivity = UploadConnectivity::ready;
    s.uploadBacklog = 3;
    EXPECT_EQ(StatusPresentation::subtitleFor(s), "3 to upload"); // no session, no time
    s.sessionId = "s";
    EXPECT_EQ(StatusPresentation::subtitleFor(s), "12 minutes \u00B7 3 to upload");
    s.elapsedSecs = 0;
    EXPECT_EQ(StatusPresentation::subtitleFor(s), "3 to upload");
    EXPECT_EQ(StatusPresentation::make(s, 0).accessibilityDescription, "Quorvel, recording");

    s.elapsedSecs = 7500;
    s.uploadConnectivity = UploadConnectivity::offline;
    EXPECT_EQ(StatusPresentation::subtitleFor(s), "2 hours \u00B7 no connection");
    EXPECT_EQ(StatusPresentation::make(s, 0).accessibilityDescription,
              "Quorvel, recording, 2 hours 5 minutes");
}

TEST(StatusPresentation, LongLinesDropTheElapsedTimeAtThirtyThreeCharacters) {
    auto s = snapshot(RecorderState::recording);
    s.sessionId = "s";
    s.elapsedSecs = 59;
    s.uploadBacklog = 4294967295u;
    // "59 seconds · 4294967295 to upload" is 33 characters (34 bytes).
    EXPECT_EQ(StatusPresentation::subtitleFor(s), "4294967295 to upload");
    // "59 seconds · 1023.9 MB to upload" is 32 characters and stays whole.
    s.uploadBacklogBytes = 1073636966; // 1023.9 MB
    EXPECT_EQ(bytes(*s.uploadBacklogBytes), "1023.9 MB");
    EXPECT_EQ(StatusPresentation::subtitleFor(s), "59 seconds \u00B7 1023.9 MB to upload");
}

TEST(StatusPresentation, UploadPhraseRules) {
    auto s = snapshot(RecorderState::ready);
    EXPECT_EQ(uploadPhrase(s), "all uploaded");
    s.uploadBacklogBytes = 999999;
    EXPECT_EQ(uploadPhrase(s), "all uploaded"); // whatever the byte count says
    s.uploadBacklog = 2;
    EXPECT_EQ(uploadPhrase(s), "976.6 KB to upload");
    s.uploadBacklogBytes.reset();
    EXPECT_EQ(uploadPhrase(s), "2 to upload");
    s.uploadBacklogUnknown = false;
    EXPECT_EQ(uploadPhrase(s), "2 to upload");
    s.uploadBacklogUnknown = true;
    EXPECT_EQ(uploadPhrase(s), "checking");
    s.uploadConnectivity = UploadConnectivity::ready;
    EXPECT_EQ(uploadPhrase(s), "checking");
    s.uploadConnectivity = UploadConnectivity::authRequired;
    EXPECT_EQ(uploadPhrase(s), "sign-in needed"); // connectivity wins
    s.uploadConnectivity = UploadConnectivity::unconfigured;
    EXPECT_EQ(uploadPhrase(s), "not configured");
    s.uploadConnectivity = UploadConnectivity::offline;
    EXPECT_EQ(uploadPhrase(s), "no connection");
    s.uploadConnectivity = UploadConnectivity::degraded;
    EXPECT_EQ(uploadPhrase(s), "upload degraded");
}

TEST(StatusPresentation, DurationsAndByteCountsWhateverTheLocale) {
    const std::pair<std::uint64_t, const char*> durations[] = {
        {0, "0 seconds"},          {1, "1 second"},
        {59, "59 seconds"},        {60, "1 minute"},
        {3599, "59 minutes"},      {3600, "1 hour"},
        {3660, "1 hour 1 minute"}, {7320, "2 hours 2 minutes"}};
    for (auto [seconds, text] : durations)
        EXPECT_EQ(duration(seconds), text);
    const std::pair<std::uint64_t, const char*> coarse[] = {
        {59, "59 seconds"}, {120, "2 minutes"}, {5399, "1 hour"}, {7200, "2 hours"}};
    for (auto [seconds, text] : coarse)
        EXPECT_EQ(coarseDuration(seconds), text);

    // A locale with a decimal comma must not reach the byte counts.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    const std::pair<std::uint64_t, const char*> counts[] = {
        {0, "0 bytes"},
        {1, "1 bytes"},
        {1023, "1023 bytes"},
        {1024, "1.0 KB"},
        {1536, "1.5 KB"},
        {1048575, "1024.0 KB"}, // the unit is chosen before rounding
        {1048576, "1.0 MB"},
        {1073741824, "1.0 GB"},
        {2199023255552ULL, "2048.0 GB"}, // no larger unit
        {std::numeric_limits<std::uint64_t>::max(), "17179869184.0 GB"}};
    for (auto [count, text] : counts)
        EXPECT_EQ(bytes(count), text);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(UserPerceivedLength, CountsGraphemeClusters) {
    EXPECT_EQ(userPerceivedLength(""), 0u);
    EXPECT_EQ(userPerceivedLength("abc"), 3u);
    EXPECT_EQ(userPerceivedLength("a \u00B7 b"), 5u);
    EXPECT_EQ(userPerceivedLength("e\u0301"), 1u);              // e + combining acute
    EXPECT_EQ(userPerceivedLength("\u00E9"), 1u);               // precomposed
    EXPECT_EQ(userPerceivedLength("\u2764\uFE0F"), 1u);         // heart + variation selector
    EXPECT_EQ(userPerceivedLength("\U0001F44D\U0001F3FD"), 1u); // thumbs up + skin tone
    EXPECT_EQ(userPerceivedLength("\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1u); // family
    EXPECT_EQ(userPerceivedLength("\U0001F1E9\U0001F1EA"), 1u);                       // flag
    EXPECT_EQ(userPerceivedLength("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"), 2u);   // two flags
    EXPECT_EQ(userPerceivedLength("\U0001F1E9\U0001F1EA\U0001F1EB"), 2u); // flag + lone indicator
    EXPECT_EQ(userPerceivedLength("\u1100\u1161\u11A8"), 1u);             // Hangul jamo L V T
    EXPECT_EQ(userPerceivedLength("\r\n"), 1u);
    EXPECT_EQ(userPerceivedLength("a\xFF"
                                  "b"),
              3u); // an invalid byte is one
}
