#include "login/LoginLaunchBridge.h"
#include "login/XdgAutostartLoginItemService.h"
#include "quorvel_shell_bridge.h"
#include "support/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TemporaryDirectory.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quorvel;
using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

std::string infoPlist(const std::string& identifier, const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           identifier +
           "</string>"
           "<key>CFBundleExecutable</key><string>" +
           executable +
           "</string>"
           "</dict></plist>\n";
}

void writeExecutable(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    writeFileText(path, text);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

// A host app bundle with its launcher inside, and the user's configuration and data folders, all
// in a temporary directory. The process's XDG_CONFIG_HOME and XDG_DATA_HOME point there while it
// lives.
struct HostBundle {
    TemporaryDirectory root;
    fs::path bundle = root / "Applications/Quorvel.app";
    fs::path launcherBundle = bundle / "Contents/Library/LoginItems/QuorvelLauncher.app";
    fs::path launcherExecutable = launcherBundle / "Contents/MacOS/QuorvelLauncher";
    fs::path configHome = root / "config";
    fs::path dataHome = root / "data";
    fs::path autostart = configHome / "autostart";
    fs::path entry = autostart / "com.quorvel.desktop.launcher.desktop";
    fs::path marker = dataHome / "com.quorvel.desktop/maintenance.stop";
    std::optional<std::string> savedConfig, savedData;

    HostBundle() {
        fs::create_directories(bundle / "Contents/MacOS");
        writeFileText(bundle / "Contents/Info.plist", infoPlist("com.quorvel.desktop", "Quorvel"));
        fs::create_directories(launcherBundle / "Contents");
        writeFileText(launcherBundle / "Contents/Info.plist",
                      infoPlist("com.quorvel.desktop.launcher", "QuorvelLauncher"));
        writeExecutable(launcherExecutable, "#!/bin/sh\nexit 0\n");
        fs::create_directories(configHome);
        fs::create_directories(dataHome);
        savedConfig = variable("XDG_CONFIG_HOME");
        savedData = variable("XDG_DATA_HOME");
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    ~HostBundle() {
        restore("XDG_CONFIG_HOME", savedConfig);
        restore("XDG_DATA_HOME", savedData);
        setLoginLaunchEnvironmentForTesting(std::nullopt);
        // Folders made read-only by a test must be writable again to be removed.
        std::error_code ignored;
        fs::permissions(autostart, fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    static std::optional<std::string> variable(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    // The C functions of this process, with the login item of this bundle's launcher.
    void useThisBundle() {
        auto environment = LoginLaunchEnvironment::production();
        std::string launcher = launcherBundle.string();
        environment.loginItemService = [launcher](std::string_view identifier) {
            XdgAutostartLoginItemService::Configuration configuration;
            configuration.identifier = std::string(identifier);
            configuration.autostartDirectory = userAutostartDirectory();
            configuration.launcherBundleURL = FileURL{launcher};
            return std::make_shared<XdgAutostartLoginItemService>(configuration);
        };
        setLoginLaunchEnvironmentForTesting(environment);
    }

    std::string expectedEntry() const {
        return "[Desktop Entry]\nType=Application\nName=Quorvel\n"
               "Comment=Starts Quorvel at login and keeps it running\n"
               "Exec=" +
               launcherExecutable.string() + "\nTryExec=" + launcherExecutable.string() +
               "\nTerminal=false\n";
    }
    void switchOff(const std::string& line) {
        std::string text = readFileText(entry);
        writeFileText(entry, text + line + "\n");
    }
};

struct FileIdentity {
    ino_t inode = 0;
    std::int64_t modified = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity identityOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return {info.st_ino,
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::vector<std::string> folderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(LoginItem, EnsureRegistersTheLauncherThenFindsItEnabled) {
    HostBundle host;
    host.useThisBundle();
    LogCapture log;
    EXPECT_EQ(quorvel_login_launch_status(), 3);
    EXPECT_EQ(quorvel_login_launch_ensure(), 1);
    EXPECT_EQ(readFileText(host.entry), host.expectedEntry());
    // Written aside and moved into place: nothing else is left in the folder.
    EXPECT_EQ(folderNames(host.autostart),
              std::vector<std::string>{"com.quorvel.desktop.launcher.desktop"});
    EXPECT_EQ(quorvel_login_launch_status(), 1);

    // Enabled: a stop marker is removed and nothing is registered again.
    fs::create_directories(host.marker.parent_path());
    writeFileText(host.marker, "maintenance\n");
    auto before = identityOf(host.entry);
    EXPECT_EQ(quorvel_login_launch_ensure(), 1);
    EXPECT_FALSE(fs::exists(host.marker));
    EXPECT_EQ(identityOf(host.entry), before);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "ensure status=not_registered registration=succeeded result=enabled",
                  "ensure status=enabled registration=not_needed result=enabled"}));
}

TEST(LoginItem, AnItemTheUserSwitchedOffStaysOff) {
    for (std::string line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        HostBundle host;
        host.useThisBundle();
        ASSERT_EQ(quorvel_login_launch_ensure(), 1);
        host.switchOff(line);
        std::string text = readFileText(host.entry);
        LogCapture log;
        EXPECT_EQ(quorvel_login_launch_status(), 2) << line;
        EXPECT_EQ(quorvel_login_launch_ensure(), 2) << line;
        EXPECT_EQ(readFileText(host.entry), text);
        EXPECT_EQ(log.messages(),
                  std::vector<std::string>{"ensure status=requires_approval "
                                           "registration=not_needed result=requires_approval"});
    }
}

TEST(LoginItem, StopForMaintenanceTwiceThenEnsureAgain) {
    HostBundle host;
    host.useThisBundle();
    ASSERT_EQ(quorvel_login_launch_ensure(), 1);
    LogCapture log;

    EXPECT_EQ(quorvel_login_launch_stop_for_maintenance(), 1);
    EXPECT_EQ(readFileText(host.marker), "maintenance\n");
    EXPECT_FALSE(fs::exists(host.entry));
    EXPECT_EQ(quorvel_login_launch_status(), 3);

    // The second call rewrites the marker (a new file) and finds nothing registered.
    writeFileText(host.marker, "update-install 1.2.3\n");
    EXPECT_EQ(quorvel_login_launch_stop_for_maintenance(), 1);
    EXPECT_EQ(readFileText(host.marker), "maintenance\n");
    EXPECT_EQ(folderNames(host.marker.parent_path()), std::vector<std::string>{"maintenance.stop"});

    EXPECT_EQ(quorvel_login_launch_ensure(), 1);
    EXPECT_FALSE(fs::exists(host.marker));
    EXPECT_EQ(readFileText(host.entry), host.expectedEntry());
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "maintenance status=enabled unregistration=succeeded",
                  "maintenance status=not_registered action=marker_only",
                  "ensure status=not_registered registration=succeeded result=enabled"}));
}

TEST(LoginItem, StopForMaintenanceUnregistersASwitchedOffItemToo) {
    HostBundle host;
    host.useThisBundle();
    ASSERT_EQ(quorvel_login_launch_ensure(), 1);
    host.switchOff("Hidden=true");
    LogCapture log;
    EXPECT_EQ(quorvel_login_launch_stop_for_maintenance(), 1);
    EXPECT_FALSE(fs::exists(host.entry));
    EXPECT_EQ(log.messages(), std::vector<std::string>{
                                  "maintenance status=requires_approval unregistration=succeeded"});
}

TEST(LoginItem, AMissingLauncherIsNotFound) {
    HostBundle host;
    host.useThisBundle();
    fs::remove(host.launcherExecutable);
    LogCapture log;
    EXPECT_EQ(quorvel_login_launch_status(), 0);
    EXPECT_EQ(quorvel_login_launch_ensure(), 0);
    EXPECT_FALSE(fs::exists(host.entry));
    EXPECT_EQ(quorvel_login_launch_stop_for_maintenance(), 1);
    EXPECT_EQ(readFileText(host.marker), "maintenance\n");
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"ensure status=not_found registration=failed",
                                        "maintenance status=not_found action=marker_only"}));

    // A launcher file that cannot be run is missing too.
    writeFileText(host.launcherExecutable, "not a program");
    fs::permissions(host.launcherExecutable, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(quorvel_login_launch_status(), 0);
}

TEST(LoginItem, AnEntryForAnotherCopysLauncherIsTakenOver) {
    HostBundle host;
    host.useThisBundle();
    fs::create_directories(host.autostart);
    writeFileText(host.entry, "[Desktop Entry]\nType=Application\nName=Quorvel\n"
                              "Exec=/old/place/Quorvel.app/Contents/Library/LoginItems/"
                              "QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher\n");
    EXPECT_EQ(quorvel_login_launch_status(), 3);
    EXPECT_EQ(quorvel_login_launch_ensure(), 1);
    EXPECT_EQ(readFileText(host.entry), host.expectedEntry());

    // An entry that is no desktop entry at all is replaced the same way.
    writeFileText(host.entry, "\x01\x02garbage");
    EXPECT_EQ(quorvel_login_launch_status(), 3);
    EXPECT_EQ(quorvel_login_launch_ensure(), 1);
    EXPECT_EQ(quorvel_login_launch_status(), 1);
}

TEST(LoginItem, EveryFunctionRefusesToWorkOffTheMainThread) {
    HostBundle host;
    host.useThisBundle();
    ASSERT_EQ(quorvel_login_launch_ensure(), 1);
    fs::create_directories(host.marker.parent_path());
    writeFileText(host.marker, "maintenance\n");
    auto entryBefore = identityOf(host.entry);
    auto markerBefore = identityOf(host.marker);
    LogCapture log;
    std::int32_t ensure = -1, stop = -1, status = -1;
    std::thread worker([&] {
        ensure = quorvel_login_launch_ensure();
        stop = quorvel_login_launch_stop_for_maintenance();
        status = quorvel_login_launch_status();
        quorvel_login_items_open();
    });
    worker.join();
    EXPECT_EQ(ensure, 0);
    EXPECT_EQ(stop, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(identityOf(host.entry), entryBefore);
    EXPECT_EQ(identityOf(host.marker), markerBefore);
    EXPECT_EQ(log.records(),
              (std::vector<LogRecord>{{"com.quorvel.desktop", "LoginLauncher", LogLevel::error,
                                       "ensure unexpected=off_main_thread"},
                                      {"com.quorvel.desktop", "LoginLauncher", LogLevel::error,
                                       "maintenance unexpected=off_main_thread"}}));
}

TEST(LoginItem, AnAutostartFolderThatCannotBeMadeFailsTheRegistration) {
    HostBundle host;
    host.useThisBundle();
    // A file where the folder should be: no user, not even root, can register there.
    writeFileText(host.autostart, "in the way");
    LogCapture log;
    EXPECT_EQ(quorvel_login_launch_ensure(), 0);
    EXPECT_EQ(quorvel_login_launch_status(), 3);
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"ensure status=not_registered registration=failed"});
    fs::remove(host.autostart);
}

TEST(LoginItem, AMarkerThatCannotBeWrittenLeavesTheLoginItemAlone) {
    HostBundle host;
    host.useThisBundle();
    ASSERT_EQ(quorvel_login_launch_ensure(), 1);
    writeFileText(host.dataHome / "com.quorvel.desktop", "in the way");
    LogCapture log;
    EXPECT_EQ(quorvel_login_launch_stop_for_maintenance(), 0);
    EXPECT_TRUE(fs::exists(host.entry));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"maintenance marker=failed"});
}
