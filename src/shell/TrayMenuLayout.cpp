#include "shell/TrayMenuLayout.h"

namespace quorvel {

std::string trayLabel(std::string_view text) {
    std::string label;
    label.reserve(text.size());
    for (char c : text) {
        if (c == '_')
            label += '_';
        label += c;
    }
    return label;
}

std::string labelWithBadge(std::string_view title, const std::optional<std::string>& badge) {
    std::string label(title);
    if (badge && !badge->empty())
        label += " (" + *badge + ")";
    return label;
}

std::vector<TrayMenuEntry> trayMenuEntries(const StatusMenu& menu) {
    std::vector<TrayMenuEntry> entries;
    int nextId = 1;
    for (std::size_t row = 0; row < menu.items.size(); ++row) {
        const StatusMenuItem& item = menu.items[row];
        TrayMenuEntry entry;
        entry.id = nextId++;
        entry.row = row;
        entry.visible = !item.hidden;
        if (item.kind == StatusMenuItem::Kind::separator) {
            entry.separator = true;
            entries.push_back(entry);
            continue;
        }
        entry.label = trayLabel(labelWithBadge(item.title, item.badge));
        entry.enabled = item.enabled;
        entry.clickable = item.hasAction;
        entries.push_back(entry);
        // A row that only informs (no action) gets a fixed subtitle entry beneath it, so that an
        // empty subtitle hides the entry instead of renumbering the menu.
        if (!item.hasAction) {
            TrayMenuEntry subtitle;
            subtitle.id = nextId++;
            subtitle.row = row;
            subtitle.label = trayLabel(item.subtitle);
            subtitle.enabled = false;
            subtitle.visible = !item.hidden && !item.subtitle.empty();
            entries.push_back(subtitle);
        }
    }
    return entries;
}

bool sameTrayMenuStructure(const std::vector<TrayMenuEntry>& before,
                           const std::vector<TrayMenuEntry>& after) {
    if (before.size() != after.size())
        return false;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i].id != after[i].id || before[i].separator != after[i].separator)
            return false;
    }
    return true;
}

std::vector<TrayMenuChange> trayMenuChanges(const std::vector<TrayMenuEntry>& before,
                                            const std::vector<TrayMenuEntry>& after) {
    std::vector<TrayMenuChange> changes;
    for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
        TrayMenuChange change;
        change.id = after[i].id;
        if (before[i].label != after[i].label)
            change.properties.push_back(trayPropertyLabel);
        if (before[i].enabled != after[i].enabled)
            change.properties.push_back(trayPropertyEnabled);
        if (before[i].visible != after[i].visible)
            change.properties.push_back(trayPropertyVisible);
        if (!change.properties.empty())
            changes.push_back(std::move(change));
    }
    return changes;
}

} // namespace quorvel
