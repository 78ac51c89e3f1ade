#include "launcher/LauncherMaintenanceMarker.h"

#include "launcher/SmallFile.h"

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

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        if ((byte & 0xE0) == 0xC0) {
            length = 2;
            codePoint = byte & 0x1Fu;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            codePoint = byte & 0x0Fu;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            codePoint = byte & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((length == 2 && codePoint < 0x80) || (length == 3 && codePoint < 0x800) ||
            (length == 4 && codePoint < 0x10000) || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
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
