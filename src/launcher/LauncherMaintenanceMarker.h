#pragma once

#include "base/FileURL.h"
#include "base/SmallFile.h"
#include "base/Utf8.h"
#include "update/UpdateReceipt.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The maintenance marker "maintenance.stop". A stop marker ("maintenance\n", or anything that is
// not an installer marker) ends the launcher; an installer marker ("update-install ...") ends it
// too, except while the update receipt says the install is still running.
struct LauncherMaintenanceMarker {
    static constexpr std::string_view fileName = "maintenance.stop";
    static constexpr std::string_view stopContents = "maintenance\n";
    static constexpr std::string_view installerPrefix = "update-install ";

    static bool isInstallerMarker(std::string_view contents) {
        return contents.starts_with(installerPrefix);
    }

    // Whether the marker forbids launching. Contents that could not be read as UTF-8 text are
    // passed as nothing and count as a stop marker.
    static bool suppressesLaunch(bool markerExists,
                                 const std::optional<std::string>& markerContents,
                                 std::optional<UpdateReceiptState> receiptState);
};

// What is at the marker's location. A marker is a small text file; anything else there (a folder,
// a pipe, text that is not UTF-8, a file too large to be a marker) exists without readable
// contents, which the rule above treats as a stop marker. Reading never blocks.
struct MaintenanceMarkerFile {
    bool exists = false;
    std::optional<std::string> contents;

    bool operator==(const MaintenanceMarkerFile&) const = default;

    static constexpr std::size_t maximumSize = 64 * 1024;
    static MaintenanceMarkerFile read(const FileURL& url);
    // Removes an installer marker. Only the very file that was read is removed: a stop marker
    // renamed into its place in the meantime stays (replaced).
    enum class Release { notInstallerMarker, removed, removalFailed, replaced };
    static Release releaseInstallerMarker(const FileURL& url);
    // The removal step: removes the file at url only when it still is the file that was read.
    static Release removeIfUnchanged(const FileURL& url, const SmallFile& read);
};

} // namespace quorvel
