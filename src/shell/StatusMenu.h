#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// One row of the status item's menu, as the controller keeps it. The platform draws it.
struct StatusMenuItem {
    enum class Kind { standard, separator };

    Kind kind = Kind::standard;
    std::string title;
    std::string subtitle; // a second, smaller line under the title; empty for none
    std::int64_t tag = 0;
    bool enabled = true;
    bool hidden = false;
    bool hasAction = false;           // choosing it calls the menu's action with its tag
    std::optional<std::string> badge; // small text shown with the title
    std::string keyEquivalent;        // none of ours has one

    bool operator==(const StatusMenuItem&) const = default;
};

// The status item's menu: its rows in order, and the action that every actionable row calls.
// The platform calls the action on the main thread.
struct StatusMenu {
    std::vector<StatusMenuItem> items;
    bool autoenablesItems = true;
    std::function<void(std::int64_t tag)> action;
};

} // namespace quorvel
