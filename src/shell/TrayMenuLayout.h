#pragma once

#include "shell/StatusMenu.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// One entry of the menu as the tray's menu protocol publishes it. Tray hosts draw one line per
// entry, so a row with a subtitle becomes two disabled entries: title, then subtitle.
struct TrayMenuEntry {
    int id = 0; // stable for the life of the menu; the root is 0
    bool separator = false;
    std::string label; // literal underscores doubled, no access keys
    bool enabled = true;
    bool visible = true;
    std::size_t row = 0;    // the StatusMenu row it stands for
    bool clickable = false; // choosing it calls the menu's action with the row's tag

    bool operator==(const TrayMenuEntry&) const = default;
};

// Property names of the menu protocol that an entry carries.
inline constexpr std::string_view trayPropertyType = "type";
inline constexpr std::string_view trayPropertyLabel = "label";
inline constexpr std::string_view trayPropertyEnabled = "enabled";
inline constexpr std::string_view trayPropertyVisible = "visible";

// The entries of a menu, ids numbered from 1 in order. The numbering only depends on the rows'
// kinds and whether they have a subtitle line, which stay fixed for a controller's menu.
std::vector<TrayMenuEntry> trayMenuEntries(const StatusMenu& menu);

// A label as the menu protocol reads it: "_" marks an access key there, so literal ones double.
std::string trayLabel(std::string_view text);

// The label of a row with a badge: "Restart to Update (1.4.2)".
std::string labelWithBadge(std::string_view title, const std::optional<std::string>& badge);

struct TrayMenuChange {
    int id = 0;
    std::vector<std::string_view> properties; // names of the properties whose value differs
    bool operator==(const TrayMenuChange&) const = default;
};

// Whether the two lists have the same ids and kinds (otherwise the layout must be re-read).
bool sameTrayMenuStructure(const std::vector<TrayMenuEntry>& before,
                           const std::vector<TrayMenuEntry>& after);
// The entries whose published properties differ, with only those properties.
std::vector<TrayMenuChange> trayMenuChanges(const std::vector<TrayMenuEntry>& before,
                                            const std::vector<TrayMenuEntry>& after);

} // namespace quorvel
