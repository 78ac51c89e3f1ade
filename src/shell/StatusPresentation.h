#pragma once

#include "shell/RecorderSnapshot.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// What the status item shows for one snapshot at one age. A pure function of its inputs.
struct StatusPresentation {
    std::string badge; // symbol name drawn after the branded icon; empty for none
    bool isSimulated = false;
    std::string title;
    std::string subtitle;
    std::string accessibilityDescription;
    std::optional<std::string> pendingUpdate;
    RecorderState state = RecorderState::unknown;

    bool claimsCapture() const { return state == RecorderState::recording && !isSimulated; }
    bool operator==(const StatusPresentation&) const = default;

    static constexpr std::uint64_t stalenessMilliseconds = 3000;
    static constexpr std::size_t maxLineLength = 32;
    static constexpr std::array<std::string_view, 9> stateSentences{
        "Ready",      "Starting",  "Recording", "Paused",        "Not recording",
        "Finalizing", "Uploading", "Halted",    "Status unknown"};

    // Shown when nothing trustworthy is known.
    static StatusPresentation unknown();
    // ageMilliseconds is UINT64_MAX when the snapshot has no time of receipt.
    static StatusPresentation make(const std::optional<RecorderSnapshot>& snapshot,
                                   std::uint64_t ageMilliseconds);
    // The status row's second line for a snapshot.
    static std::string subtitleFor(const RecorderSnapshot& snapshot);
};

// "1 hour 5 minutes"; for the accessibility text.
std::string duration(std::uint64_t seconds);
// Hours alone from one hour on ("2 hours"); for the subtitle.
std::string coarseDuration(std::uint64_t seconds);
// The upload part of the subtitle; every path yields a phrase.
std::optional<std::string> uploadPhrase(const RecorderSnapshot& snapshot);
// "1023 bytes", "1.5 KB", "1024.0 KB", "1.0 GB"; always with a full stop, whatever the locale.
std::string bytes(std::uint64_t count);

} // namespace quorvel
