#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

using Clock = std::chrono::system_clock;
using TimePoint = Clock::time_point;

// Strict RFC 3339 "date-time" (internet date-time): YYYY-MM-DDTHH:MM:SS, an optional fraction
// when allowed, and a zone designator "Z" or +HH:MM / -HH:MM. Upper-case "T" and "Z" only; no
// leap seconds; every field range-checked, including the day of the month.
enum class FractionalSeconds { rejected, accepted };
std::optional<TimePoint>
parseInternetDateTime(std::string_view text,
                      FractionalSeconds fraction = FractionalSeconds::accepted);

// "2026-01-31T12:00:00Z" (whole seconds, truncated).
std::string formatInternetDateTime(TimePoint time);
// "2026-01-31T12:00:00.123Z" (milliseconds, truncated).
std::string formatInternetDateTimeWithFractionalSeconds(TimePoint time);

// Seconds between two points as a double (b - a).
inline double secondsBetween(TimePoint a, TimePoint b) {
    return std::chrono::duration<double>(b - a).count();
}

inline TimePoint addingSeconds(TimePoint time, double seconds) {
    return time +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace quorvel
