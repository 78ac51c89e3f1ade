#pragma once

#include "base/FileURL.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// One argument of a desktop entry's Exec key, quoted as the Desktop Entry rules ask: in double
// quotes (with ", `, $ and \ escaped) when it holds a reserved character, and every % doubled.
// The key file's own string escaping is applied on top when the entry is written.
std::string quoteDesktopExecArgument(std::string_view argument);

// The text of an autostart entry that runs one program, with no arguments, at login.
std::string makeAutostartEntryText(const FileURL& program, std::string_view name,
                                   std::string_view comment);

// What an autostart entry says about starting at login.
struct AutostartEntry {
    // The user switched it off: Hidden=true or X-GNOME-Autostart-enabled=false.
    bool disabled = false;
    // The command line of Exec, split into words with field codes resolved; empty when it has
    // none or it cannot be split.
    std::vector<std::string> command;

    bool operator==(const AutostartEntry&) const = default;
};

// Reads an entry from a desktop entry's text; nothing when the text is not a desktop entry.
std::optional<AutostartEntry> parseAutostartEntry(std::string_view text);

} // namespace quorvel
