#include "shell/StatusPresentation.h"

#include "shell/UserPerceivedLength.h"

#include <charconv>

namespace quorvel {

namespace {

constexpr std::string_view separator = " \u00B7 ";
constexpr std::string_view simulatedSuffix = " (simulated)";

std::string counted(std::uint64_t value, std::string_view unit) {
    std::string text = std::to_string(value);
    text += ' ';
    text += unit;
    if (value != 1)
        text += 's';
    return text;
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

bool showsElapsed(const RecorderSnapshot& snapshot) {
    return snapshot.sessionId && snapshot.elapsedSecs > 0;
}

// "%.1f" with a full stop whatever LC_NUMERIC says: std::to_chars ignores the locale and rounds
// the exact binary value as printf does.
std::string oneDecimal(double value) {
    std::array<char, 64> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                std::chars_format::fixed, 1);
    return std::string(buffer.data(), result.ptr);
}

} // namespace

StatusPresentation StatusPresentation::unknown() {
    StatusPresentation p;
    p.badge = "questionmark.circle";
    p.isSimulated = false;
    p.title = "Status unknown";
    p.subtitle = "Not reporting";
    p.accessibilityDescription = "Quorvel, status unknown";
    p.state = RecorderState::unknown;
    return p;
}

StatusPresentation StatusPresentation::make(const std::optional<RecorderSnapshot>& snapshot,
                                            std::uint64_t ageMilliseconds) {
    if (!snapshot || ageMilliseconds > stalenessMilliseconds)
        return unknown();
    const RecorderSnapshot& s = *snapshot;

    StatusPresentation p;
    switch (s.state) {
    case RecorderState::ready:
        p.badge = "", p.state = RecorderState::ready;
        break;
    case RecorderState::preparing:
        p.badge = "ellipsis", p.state = RecorderState::preparing;
        break;
    case RecorderState::recording:
        if (s.captureLive) {
            p.badge = "record.circle.fill", p.state = RecorderState::recording;
        } else {
            p.badge = "exclamationmark.triangle.fill", p.state = RecorderState::degraded;
        }
        break;
    case RecorderState::paused:
        p.badge = "pause.fill", p.state = RecorderState::paused;
        break;
    case RecorderState::degraded:
        p.badge = "exclamationmark.triangle.fill", p.state = RecorderState::degraded;
        break;
    case RecorderState::finalizing:
        p.badge = "arrow.down.circle", p.state = RecorderState::finalizing;
        break;
    case RecorderState::uploading:
        p.badge = "arrow.up.circle.fill", p.state = RecorderState::uploading;
        break;
    case RecorderState::halted:
        p.badge = "exclamationmark.octagon.fill", p.state = RecorderState::halted;
        break;
    case RecorderState::unknown:
        return unknown();
    }
    const std::string_view title = stateSentences[static_cast<std::size_t>(p.state)];

    p.isSimulated = s.source == CaptureSource::simulated;
    p.title = std::string(title);
    if (p.isSimulated)
        p.title += simulatedSuffix;
    p.subtitle = subtitleFor(s);

    std::string description = "Quorvel";
    if (p.isSimulated)
        description += ", simulated";
    description += ", " + lowercased(title);
    if (showsElapsed(s))
        description += ", " + duration(s.elapsedSecs);
    p.accessibilityDescription = std::move(description);

    if (p.isSimulated)
        p.badge = "questionmark.circle";
    p.pendingUpdate = s.updatePending;
    return p;
}

std::string StatusPresentation::subtitleFor(const RecorderSnapshot& snapshot) {
    std::optional<std::string> phrase = uploadPhrase(snapshot);
    std::string line;
    if (showsElapsed(snapshot))
        line = coarseDuration(snapshot.elapsedSecs);
    if (phrase) {
        if (!line.empty())
            line += separator;
        line += *phrase;
    }
    if (userPerceivedLength(line) > maxLineLength)
        return phrase.value_or(std::string());
    return line;
}

std::string duration(std::uint64_t seconds) {
    if (seconds < 60)
        return counted(seconds, "second");
    if (seconds < 3600)
        return counted(seconds / 60, "minute");
    std::string text = counted(seconds / 3600, "hour");
    std::uint64_t minutes = (seconds / 60) % 60;
    if (minutes != 0)
        text += " " + counted(minutes, "minute");
    return text;
}

std::string coarseDuration(std::uint64_t seconds) {
    if (seconds < 3600)
        return duration(seconds);
    return counted(seconds / 3600, "hour");
}

std::optional<std::string> uploadPhrase(const RecorderSnapshot& snapshot) {
    if (snapshot.uploadConnectivity) {
        switch (*snapshot.uploadConnectivity) {
        case UploadConnectivity::unconfigured:
            return "not configured";
        case UploadConnectivity::offline:
            return "no connection";
        case UploadConnectivity::authRequired:
            return "sign-in needed";
        case UploadConnectivity::degraded:
            return "upload degraded";
        case UploadConnectivity::ready:
            break;
        }
    }
    if (snapshot.uploadBacklogUnknown.value_or(false))
        return "checking";
    if (snapshot.uploadBacklog == 0)
        return "all uploaded";
    std::string amount = snapshot.uploadBacklogBytes ? bytes(*snapshot.uploadBacklogBytes)
                                                     : std::to_string(snapshot.uploadBacklog);
    return amount + " to upload";
}

std::string bytes(std::uint64_t count) {
    if (count < 1024)
        return std::to_string(count) + " bytes";
    double value = static_cast<double>(count) / 1024.0;
    std::string_view unit = "KB";
    if (value >= 1024.0) {
        value /= 1024.0;
        unit = "MB";
        if (value >= 1024.0) {
            value /= 1024.0;
            unit = "GB";
        }
    }
    return oneDecimal(value) + " " + std::string(unit);
}

} // namespace quorvel
