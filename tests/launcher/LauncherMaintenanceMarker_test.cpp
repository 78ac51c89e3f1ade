#include "launcher/LauncherMaintenanceMarker.h"
#include "launcher/QuorvelLauncherLocation.h"
#include "support/TemporaryDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quorvel {
namespace {

using test::TemporaryDirectory;
using test::writeFileText;
using State = UpdateReceiptState;

TEST(LauncherMaintenanceMarker, SuppressesLaunchTable) {
    const std::optional<std::string> stop = "maintenance\n";
    const std::optional<std::string> installer = "update-install 2.0.1\n";
    EXPECT_FALSE(LauncherMaintenanceMarker::suppressesLaunch(false, stop, std::nullopt));
    EXPECT_FALSE(
        LauncherMaintenanceMarker::suppressesLaunch(false, std::nullopt, State::installing));
    EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, std::nullopt, State::installing));
    EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, stop, State::installing));
    EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, std::string(""), std::nullopt));
    // The trailing blank is part of the prefix.
    EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, std::string("update-install"),
                                                            State::installing));
    EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, std::string(" update-install x"),
                                                            State::installing));
    EXPECT_FALSE(LauncherMaintenanceMarker::suppressesLaunch(true, installer, State::installing));
    EXPECT_FALSE(LauncherMaintenanceMarker::suppressesLaunch(true, std::string("update-install "),
                                                             State::installing));
    for (auto state : {State::installed, State::failed, State::rolledBack, State::cleaned}) {
        EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, installer, state));
    }
    EXPECT_TRUE(LauncherMaintenanceMarker::suppressesLaunch(true, installer, std::nullopt));
}

TEST(MaintenanceMarkerFile, ReadsTextAndTreatsEverythingElseAsUnreadable) {
    TemporaryDirectory dir;
    FileURL marker{(dir / "maintenance.stop").string()};
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), MaintenanceMarkerFile{});

    writeFileText(marker.path, "maintenance\n");
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), (MaintenanceMarkerFile{true, "maintenance\n"}));
    writeFileText(marker.path, "update-install caf\xc3\xa9\n");
    EXPECT_EQ(MaintenanceMarkerFile::read(marker).contents, "update-install caf\xc3\xa9\n");

    // Not UTF-8: an overlong form, a lone continuation byte, a surrogate, a cut sequence.
    for (std::string bad : {"update-install \xc0\xaf", "update-install \x80",
                            "update-install \xed\xa0\x80", "update-install \xe2\x82"}) {
        writeFileText(marker.path, bad);
        EXPECT_EQ(MaintenanceMarkerFile::read(marker), (MaintenanceMarkerFile{true, std::nullopt}));
    }
    // Too large to be a marker.
    writeFileText(marker.path,
                  "update-install " + std::string(MaintenanceMarkerFile::maximumSize, 'x'));
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), (MaintenanceMarkerFile{true, std::nullopt}));

    // A folder or a pipe exists but has no contents; reading the pipe must not block.
    std::filesystem::remove(marker.path);
    std::filesystem::create_directory(marker.path);
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), (MaintenanceMarkerFile{true, std::nullopt}));
    std::filesystem::remove(marker.path);
    ASSERT_EQ(::mkfifo(marker.path.c_str(), 0600), 0);
    EXPECT_EQ(MaintenanceMarkerFile::read(marker), (MaintenanceMarkerFile{true, std::nullopt}));
}

TEST(MaintenanceMarkerFile, ReleasesOnlyInstallerMarkers) {
    TemporaryDirectory dir;
    FileURL marker{(dir / "maintenance.stop").string()};
    using Release = MaintenanceMarkerFile::Release;
    EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::notInstallerMarker);

    writeFileText(marker.path, "maintenance\n");
    EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::notInstallerMarker);
    EXPECT_TRUE(std::filesystem::exists(marker.path));

    writeFileText(marker.path, "update-install \xff");
    EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::notInstallerMarker);
    EXPECT_TRUE(std::filesystem::exists(marker.path));

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
    // Unchanged: removed.
    writeFileText(marker.path, "update-install 3.3\n");
    read = readSmallRegularFile(marker, MaintenanceMarkerFile::maximumSize);
    ASSERT_TRUE(read);
    EXPECT_EQ(MaintenanceMarkerFile::removeIfUnchanged(marker, *read), Release::removed);
    EXPECT_FALSE(std::filesystem::exists(marker.path));

    // A marker in a folder that refuses removal: handled, the failure is reported, not thrown.
    if (::geteuid() != 0) {
        writeFileText(marker.path, "update-install 3.1\n");
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec);
        EXPECT_EQ(MaintenanceMarkerFile::releaseInstallerMarker(marker), Release::removalFailed);
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    }
}

TEST(QuorvelLauncherLocation, ParentIsFourComponentsUpAndTheMarkerFollowsXdgDataHome) {
    EXPECT_EQ(QuorvelLauncherLocation::parentApplication(
                  FileURL{"/opt/Quorvel.app/Contents/Library/LoginItems/QuorvelLauncher.app"}),
              FileURL{"/opt/Quorvel.app"});
    EXPECT_EQ(QuorvelLauncherLocation::parentApplication(
                  FileURL{"/opt/Quorvel.app/Contents/Library/LoginItems/QuorvelLauncher.app/"}),
              FileURL{"/opt/Quorvel.app"});

    std::string savedData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_DATA_HOME", "/data/u", 1);
    EXPECT_EQ(maintenanceStopURL(), FileURL{"/data/u/com.quorvel.desktop/maintenance.stop"});
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(maintenanceStopURL(),
              FileURL{"/home/u/.local/share/com.quorvel.desktop/maintenance.stop"});
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    EXPECT_FALSE(maintenanceStopURL());
    savedData.empty() ? ::unsetenv("XDG_DATA_HOME")
                      : ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    savedHome.empty() ? ::unsetenv("HOME") : ::setenv("HOME", savedHome.c_str(), 1);
}

} // namespace
} // namespace quorvel
