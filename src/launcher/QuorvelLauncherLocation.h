#pragma once

#include "base/FileURL.h"

#include <optional>

namespace quorvel {

// Where the launcher sits: <host>.app/Contents/Library/LoginItems/QuorvelLauncher.app.
struct QuorvelLauncherLocation {
    // The host app bundle: the launcher bundle URL with its last four components removed.
    static FileURL parentApplication(const FileURL& launcherBundleURL);
};

// "<application support>/com.quorvel.desktop/maintenance.stop"; nothing without an
// application-support directory.
std::optional<FileURL> maintenanceStopURL();

} // namespace quorvel
