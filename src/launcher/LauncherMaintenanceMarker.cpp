#include "launcher/LauncherMaintenanceMarker.h"

#include "base/SmallFile.h"

#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

bool LauncherMaintenanceMarker::suppressesLaunch(bool markerExists,
                                                 const std::optional<std::string>& markerContents,
                                                 std::optional<UpdateReceiptState> receiptState) {
    if (!markerExists)
        return false;
    if (!markerContents || !isInstallerMarker(*markerContents))
        return true;
    return receiptState != UpdateReceiptState::installing;
}

MaintenanceMarkerFile MaintenanceMarkerFile::read(const FileURL& url) {
    MaintenanceMarkerFile result;
    struct stat status {};
    // Anything at the path counts as present, as a file-exists test would say (links followed).
    result.exists = ::stat(url.path.c_str(), &status) == 0;
    if (!result.exists)
        return result;
    auto file = readSmallRegularFile(url, maximumSize);
    if (file && isValidUtf8(file->contents))
        result.contents = std::move(file->contents);
    return result;
}

MaintenanceMarkerFile::Release MaintenanceMarkerFile::releaseInstallerMarker(const FileURL& url) {
    auto file = readSmallRegularFile(url, maximumSize);
    if (!file || !isValidUtf8(file->contents) ||
        !LauncherMaintenanceMarker::isInstallerMarker(file->contents)) {
        return Release::notInstallerMarker;
    }
    return removeIfUnchanged(url, *file);
}

MaintenanceMarkerFile::Release MaintenanceMarkerFile::removeIfUnchanged(const FileURL& url,
                                                                        const SmallFile& read) {
    // The host app writes its stop marker by renaming a new file into place: only the very file
    // that was read (same device and inode) is removed, so a stop marker that replaced it stays.
    struct stat current {};
    if (::lstat(url.path.c_str(), &current) != 0 || current.st_dev != read.device ||
        current.st_ino != read.inode) {
        return Release::replaced;
    }
    return ::unlink(url.path.c_str()) == 0 ? Release::removed : Release::removalFailed;
}

} // namespace quorvel
