#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quorvel {

// A value of the login session's dictionary of any other kind than the three read here (a real
// number, a list ...); it never reads as a boolean.
struct OtherSessionValue {
    std::string description;
    bool operator==(const OtherSessionValue&) const = default;
};
using SessionValue = std::variant<bool, std::int64_t, std::string, OtherSessionValue>;
using SessionDictionary = std::map<std::string, SessionValue>;

// Reads the current login session's properties; nothing when the session cannot be reached.
using SessionReader = std::function<std::optional<SessionDictionary>()>;

// The keys read from the session dictionary.
namespace sessionKey {
inline constexpr const char* onConsole = "kCGSSessionOnConsoleKey";
inline constexpr const char* loginDone = "kCGSessionLoginDoneKey";
inline constexpr const char* screenIsLocked = "CGSSessionScreenIsLocked";
} // namespace sessionKey

// Usability flags, the detail of the initial code.
namespace usabilityFlag {
inline constexpr std::uint32_t always = 1;
inline constexpr std::uint32_t screenUnlocked = 2;
inline constexpr std::uint32_t consoleLoginDone = 4;
} // namespace usabilityFlag

// A boolean as is, the integer 1 as true and 0 as false; anything else has no reading.
std::optional<bool> readSessionBoolean(const SessionValue& value);

// No dictionary: no value. The key missing: not locked. Otherwise the key's boolean reading.
std::optional<bool> screenIsLocked(const std::optional<SessionDictionary>& session);

// Always 1; plus 4 when the session is on the console and its login is done; plus 2 when the
// screen is known to be unlocked.
std::uint32_t initialUsability(const std::optional<SessionDictionary>& session);

} // namespace quorvel
