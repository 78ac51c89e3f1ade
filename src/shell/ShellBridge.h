#pragma once

#include "shell/MenuBarController.h"
#include "shell/StatusBar.h"

#include <memory>

namespace quorvel::shellbridge {

// The status area that the next quorvel_shell_install uses. The system's own by default; a test
// sets another (or nullptr for the system's again) while the shell is not installed.
void setStatusBar(std::shared_ptr<StatusBar> statusBar);
// The installed controller, if any (main thread).
std::shared_ptr<MenuBarController> installedController();

} // namespace quorvel::shellbridge
