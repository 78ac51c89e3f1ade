#pragma once

#include "shell/StatusBar.h"

#include <memory>

typedef struct _GDBusConnection GDBusConnection;

namespace quorvel {

// The desktop's status area on this platform. Without a connection it takes the session bus on
// first use; a test passes its own connection (GLib caches the process's session bus).
std::shared_ptr<StatusBar> makeSystemStatusBar(GDBusConnection* connection = nullptr);

} // namespace quorvel
