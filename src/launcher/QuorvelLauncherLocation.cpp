#include "launcher/QuorvelLauncherLocation.h"

#include "launcher/LauncherMaintenanceMarker.h"
#include "platform/ApplicationSupport.h"

namespace quorvel {

FileURL QuorvelLauncherLocation::parentApplication(const FileURL& launcherBundleURL) {
    FileURL url = launcherBundleURL;
    for (int i = 0; i < 4; ++i)
        url = url.deletingLastPathComponent();
    return url;
}

std::optional<FileURL> maintenanceStopURL() {
    auto folder = quorvelApplicationSupportFolder();
    if (!folder)
        return std::nullopt;
    return folder->appendingPathComponent(LauncherMaintenanceMarker::fileName);
}

} // namespace quorvel
