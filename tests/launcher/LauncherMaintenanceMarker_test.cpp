#include "launcher/LauncherMaintenanceMarker.h"
#include "launcher/QuorvelLauncherLocation.h"
#include "platform/ApplicationSupport.h"
#include "support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sys/stat.h>

namespace quorvel {
namespace {

using test::TemporaryDirectory;
using test::writeFileText;
using State = UpdateReceiptState;
using Release = MaintenanceMarkerFile::Release;

TEST(LauncherMaintenanceMarker, SuppressesLaunchTable) {
    struct Row {
        bool exists;
        std::optional<std::string> contents;
        std::optional<State> receipt;
        bool suppresses;
    };
    // Unreadable contents count as a stop marker; the blank belongs to the installer prefix.
    const std::string installer = "update-install 2.0.1\n";
    const Row rows[] = {
        {false, "maintenance\n", std::nullopt, false},
        {false, std::nullopt, State::installing, false},
        {true, std::nullopt, State::installing, true},
        {true, "maintenance\n", State::installing, true},
        {true, "", std::nullopt, true},
        {true, "update-install", State::installing, true},
        {true, " update-install x", State::installing, true},
        {true, "update-install ", State::installing, false},
        {true, installer, State::installing, false},
        {true, installer, State::installed, true},
        {true, installer, State::failed, true},
        {true, installer, State::rolledBack, true},
        {true, installer, State::cleaned, true},
        {true, installer, std::nullopt, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(
            LauncherMaintenanceMarker::suppressesLaunch(row.exists, row.contents, row.receipt),
            row.suppresses)
            << row.exists << " " << row.contents.value_or("<none>") << " "
            << (row.receipt ? toString(*row.receipt) : "<no receipt>");
    }
}

TEST(MaintenanceMarkerFile, ReadsTextAndTreatsEverythingElseAsUnreadable) {
    TemporaryDirectory dir;
    FileURL marker{(dir / "maintenance.stop").string()};
    const MaintenanceMarkerFile unreadable{true, std::nullopt};
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), MaintenanceMarkerFile{});

    writeFileText(marker.path, "update-install caf\xc3\xa9\n");
    EXPECT_EQ(MaintenanceMarkerFile::read(marker),
              (MaintenanceMarkerFile{true, "update-install caf\xc3\xa9\n"}));
    // Not UTF-8 (an overlong form, a lone continuation byte, a surrogate, a cut
    // sequence), or too large to be a marker.
    for (const std::string& bad : std::initializer_list<std::string>{
             "update-install \xc0\xaf", "update-install \x80", "update-install \xed\xa0\x80",
             "update-install \xe2\x82",
             "update-install " + std::string(MaintenanceMarkerFile::maximumSize, 'x')}) {
        writeFileText(marker.path, bad);
        EXPECT_EQ(MaintenanceMarkerFile::read(marker), unreadable);
    }
    // A folder or a pipe exists but has no contents; reading the pipe must not
    // block.
    std::filesystem::remove(marker.path);
    std::filesystem::create_directory(marker.path);
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), unreadable);
    std::filesystem::remove(marker.path);
    ASSERT_EQ(::mkfifo(marker.path.c_str(), 0600), 0);
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), unreadable);
}

TEST(MaintenanceMarkerFile, ReleasesOnlyTheInstallerMarkerThatWasRead) {
    TemporaryDirectory dir;
    FileURL marker{(dir / "maintenance.stop").string()};
    EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::notInstallerMarker);
    for (const char* other : {"maintenance\n", "update-install \xff"}) {
        writeFileText(marker.path, other);
        EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker),
                  Release::notInstallerMarker);
        EXPECT_TRUE(std::filesystem::exists(marker.path));
    }
    writeFileText(marker.path, "update-install 3.1\n");
    EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::removed);
    EXPECT_FALSE(std::filesystem::exists(marker.path));

    // A stop marker renamed over the installer marker after it was read stays.
    writeFileText(marker.path, "update-install 3.2\n");
    auto read = readSmallRegularFile(marker, MaintenanceMarkerFile::maximumSize);
    ASSERT_TRUE(read);
    writeFileText(dir / "stop.new", "maintenance\n");
    std::filesystem::rename(dir / "stop.new", marker.path);
    EXPECT_EQ(MaintenanceMarkerFile::removeIfUnchanged(marker, *read), Release::replaced);
    EXPECT_EQ(MaintenanceMarkerFile::read(marker).contents, "maintenance\n");

    // A marker in a folder that refuses removal: the failure is reported, not
    // thrown.
    if (::geteuid() != 0) {
        writeFileText(marker.path, "update-install 3.1\n");
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec);
        EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::removalFailed);
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    }
}

TEST(QuorvelLauncherLocation, ParentIsFourComponentsUpAndTheMarkerInTheSupportFolder) {
    for (const char* launcher : {"/opt/Quorvel.app/Contents/Library/LoginItems/QuorvelLauncher.app",
                                 "/opt/Quorvel.app/Contents/Library/LoginItems/L.app/"}) {
        EXPECT_EQ(QuorvelLauncherLocation::parentApplication(FileURL{launcher}),
                  FileURL{"/opt/Quorvel.app"});
    }
    auto folder = quorvelApplicationSupportFolder();
    EXPECT_EQ(maintenanceStopURL(),
              folder ? std::optional(folder->appendingPathComponent("maintenance.stop"))
                     : std::nullopt);
}

} // namespace
} // namespace quorvel
