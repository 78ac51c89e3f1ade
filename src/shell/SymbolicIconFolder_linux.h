#pragma once

#include "shell/SymbolicStatusIcon.h"

#include <memory>
#include <string>

namespace quorvel {

// The icon folder one status item offers its hosts (IconThemePath): a folder of this process's own
// under the user's runtime folder, "…/com.quorvel.desktop/tray-icons-<pid>-<n>/icons", holding each
// symbolic icon in the hicolor theme's scalable status folder. The folder goes with the object;
// folders of processes that are gone are removed when a new one is made.
class SymbolicIconFolder {
public:
    // Nothing when the folder cannot be made (the item then offers pixmaps only).
    static std::unique_ptr<SymbolicIconFolder> create();
    ~SymbolicIconFolder();
    SymbolicIconFolder(const SymbolicIconFolder&) = delete;
    SymbolicIconFolder& operator=(const SymbolicIconFolder&) = delete;

    // The path to offer: it ends in "/icons", which is what some hosts' loaders expect.
    const std::string& themePath() const { return themePath_; }
    // Writes every icon of the set (each file replaced whole) and removes the files of earlier
    // sets; false, with nothing to offer by name, when any write fails.
    bool publish(const SymbolicStatusIconSet& set);

private:
    SymbolicIconFolder(std::string root, std::string themePath);
    std::string root_;
    std::string themePath_;
};

} // namespace quorvel
