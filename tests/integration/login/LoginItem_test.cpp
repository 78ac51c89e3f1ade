// The login item against real files: a host app bundle with its launcher laid out by the test, a
// temporary XDG_CONFIG_HOME and XDG_DATA_HOME, the C functions of this process, and a probe program
// inside a host app bundle that loads the shared library as the host app does.

#include "login/LoginLaunchBridge.h"
#include "login/XdgAutostartLoginItemService.h"
#include "quorvel_shell_bridge.h"
#include "support/ChildProcess.h"
#include "support/GLibPump.h"
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

constexpr uid_t unprivilegedUser = 65534;

// A host app bundle with its launcher inside, and the user's configuration and data folders, all
// in a temporary directory. The process's XDG_CONFIG_HOME and XDG_DATA_HOME point there while it
// lives. The host app's executable is the probe program, which runs with the same folders.
struct HostBundle {
    explicit HostBundle(const std::string& name = "Applications/Quorvel.app")
        : bundle(root / name) {
        writeFileText(bundle / "Contents/Info.plist", infoPlist("com.quorvel.desktop", "Quorvel"));
        writeFileText(launcherBundle / "Contents/Info.plist",
                      infoPlist("com.quorvel.desktop.launcher", "QuorvelLauncher"));
        writeExecutable(launcherExecutable, "#!/bin/sh\nexit 0\n");
        fs::create_directories(bundle / "Contents/MacOS");
        // The probe comes from the build; ctest names it (QUORVEL_BUILD_DIR).
        if (const char* build = std::getenv("QUORVEL_BUILD_DIR"))
            fs::copy_file(fs::path(build) / "bin/quorvel-login-probe",
                          bundle / "Contents/MacOS/Quorvel");
        for (const auto& folder : {configHome, dataHome, bin})
            fs::create_directories(folder);
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(variable);
            saved.emplace_back(variable, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    ~HostBundle() {
        for (const auto& [variable, value] : saved)
            value ? ::setenv(variable, value->c_str(), 1) : ::unsetenv(variable);
        setLoginLaunchEnvironmentForTesting(std::nullopt);
        // Folders made read-only by a test must be writable again to be removed.
        std::error_code ignored;
        fs::permissions(autostart, fs::perms::owner_all, fs::perm_options::add, ignored);
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

    // Runs the probe, as the host app, with these commands.
    CommandResult run(const std::vector<std::string>& commands,
                      std::map<std::string, std::string> environment = {},
                      bool unprivileged = false) {
        std::vector<std::string> argv{(bundle / "Contents/MacOS/Quorvel").string()};
        if (unprivileged)
            argv.insert(argv.end(), {"--user", std::to_string(unprivilegedUser)});
        argv.insert(argv.end(), commands.begin(), commands.end());
        environment.emplace("XDG_CONFIG_HOME", configHome.string());
        environment.emplace("XDG_DATA_HOME", dataHome.string());
        environment.emplace("HOME", root.string());
        environment.emplace("QUORVEL_LOG", "stderr");
        return runCommand(argv, environment);
    }

    std::string expectedEntry() const {
        return "[Desktop Entry]\nType=Application\nName=Quorvel\n"
               "Comment=Starts Quorvel at login and keeps it running\n"
               "Exec=" +
               launcherExecutable.string() + "\nTryExec=" + launcherExecutable.string() +
               "\nTerminal=false\n";
    }

    TemporaryDirectory root;
    fs::path bundle;
    fs::path launcherBundle = bundle / "Contents/Library/LoginItems/QuorvelLauncher.app";
    fs::path launcherExecutable = launcherBundle / "Contents/MacOS/QuorvelLauncher";
    fs::path configHome = root / "config";
    fs::path dataHome = root / "data";
    fs::path bin = root / "bin";
    fs::path autostart = configHome / "autostart";
    fs::path entry = autostart / "com.quorvel.desktop.launcher.desktop";
    fs::path marker = dataHome / "com.quorvel.desktop/maintenance.stop";
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
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

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The probe's results ("ensure=1" ...), without the log lines between them.
std::string results(const std::string& output) {
    std::string kept;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (line.find(' ') == std::string::npos && line.find('=') != std::string::npos)
            kept += line + "\n";
        start = end + 1;
    }
    return kept;
}

bool waitForFile(const fs::path& path) {
    return pumpUntil([&] { return fs::exists(path) && fs::file_size(path) > 0; });
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

TEST(LoginProbe, TheHostAppRegistersTheLauncherOfItsOwnBundle) {
    HostBundle probe("Apps/Quorvel Recorder.app"); // a blank in the path on purpose
    auto result = probe.run({"status", "ensure", "status", "ensure"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(results(result.output), "status=3\nensure=1\nstatus=1\nensure=1\n") << result.output;
    EXPECT_TRUE(contains(result.output, "LoginLauncher info: ensure status=not_registered "
                                        "registration=succeeded result=enabled"))
        << result.output;
    std::string text = readFileText(probe.entry);
    EXPECT_TRUE(contains(text, "\nExec=\"" + probe.launcherExecutable.string() + "\"\n")) << text;
}

TEST(LoginProbe, AnItemTheUserSwitchedOffStaysOffThroughMaintenance) {
    for (std::string line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        HostBundle probe;
        // No XDG_CONFIG_HOME: the autostart folder of the (temporary) home, as most desktops have.
        std::map<std::string, std::string> home{{"XDG_CONFIG_HOME", ""}};
        fs::path entry = probe.root / ".config/autostart/com.quorvel.desktop.launcher.desktop";
        ASSERT_EQ(results(probe.run({"ensure"}, home).output), "ensure=1\n");
        writeFileText(entry, readFileText(entry) + line + "\n");
        std::string text = readFileText(entry);

        // An update stops the launcher, installs, and registers it again: the user's "off" holds.
        auto result = probe.run({"status", "stop", "status", "ensure", "status", "stop"}, home);
        EXPECT_EQ(results(result.output),
                  "status=2\nstop=1\nstatus=2\nensure=2\nstatus=2\nstop=1\n")
            << line << "\n"
            << result.output;
        EXPECT_EQ(readFileText(entry), text) << line;
        EXPECT_EQ(readFileText(probe.marker), "maintenance\n");
        for (const char* logged :
             {"LoginLauncher info: maintenance status=requires_approval unregistration=succeeded",
              "LoginLauncher info: ensure status=requires_approval registration=not_needed "
              "result=requires_approval"}) {
            EXPECT_TRUE(contains(result.output, logged)) << line << "\n" << result.output;
        }
        result = probe.run({"ensure", "status"}, home);
        EXPECT_EQ(results(result.output), "ensure=2\nstatus=2\n") << result.output;
        EXPECT_FALSE(fs::exists(probe.marker));
        EXPECT_EQ(readFileText(entry), text) << line;
    }
}

TEST(LoginProbe, AnEntryThatCannotBeRemovedLeavesTheMarkerWritten) {
    HostBundle probe("Apps/Quorvel Recorder.app"); // a blank in the path on purpose
    bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        // Root ignores file permissions, so the probe drops to an ordinary user first.
        for (const auto& item : fs::recursive_directory_iterator(probe.root.path())) {
            ASSERT_EQ(::lchown(item.path().c_str(), unprivilegedUser, unprivilegedUser), 0);
        }
        ASSERT_EQ(::chown(probe.root.path().c_str(), unprivilegedUser, unprivilegedUser), 0);
    }
    auto result = probe.run({"ensure"}, {}, asRoot);
    ASSERT_EQ(results(result.output), "ensure=1\n") << result.output;

    fs::path autostart = probe.entry.parent_path();
    fs::permissions(autostart, fs::perms::owner_read | fs::perms::owner_exec);
    result = probe.run({"stop", "status"}, {}, asRoot);
    EXPECT_EQ(results(result.output), "stop=0\nstatus=1\n") << result.output;
    EXPECT_TRUE(contains(result.output,
                         "LoginLauncher error: maintenance status=enabled unregistration=failed"))
        << result.output;
    EXPECT_EQ(readFileText(probe.marker), "maintenance\n");
    EXPECT_TRUE(fs::exists(probe.entry));

    // The same folder refuses a new registration.
    fs::permissions(autostart, fs::perms::owner_all);
    fs::remove(probe.entry);
    fs::permissions(autostart, fs::perms::owner_read | fs::perms::owner_exec);
    result = probe.run({"ensure"}, {}, asRoot);
    EXPECT_EQ(results(result.output), "ensure=0\n") << result.output;
    EXPECT_TRUE(contains(result.output,
                         "LoginLauncher error: ensure status=not_registered registration=failed"))
        << result.output;
    // The marker goes whether or not the registration works.
    EXPECT_FALSE(fs::exists(probe.marker));
    fs::permissions(autostart, fs::perms::owner_all);
}

TEST(LoginProbe, OpeningTheSettingsStartsTheStartupToolElseShowsTheAutostartFolder) {
    HostBundle probe("Apps/Quorvel Recorder.app"); // a blank in the path on purpose
    auto openWith = [&](std::map<std::string, std::string> environment, const fs::path& out) {
        environment.emplace("PATH", probe.bin.string() + ":/usr/bin:/bin");
        environment.emplace("QUORVEL_TEST_OUT", out.string());
        auto result = probe.run({"open"}, environment);
        EXPECT_TRUE(contains(result.output, "open=done")) << result.output;
        EXPECT_TRUE(waitForFile(out)) << result.output;
        return fs::exists(out) ? readFileText(out) : std::string();
    };
    // The desktop's own startup tool.
    writeExecutable(probe.bin / "xfce4-session-settings",
                    "#!/bin/sh\necho \"tool $*\" > \"$QUORVEL_TEST_OUT\"\n");
    EXPECT_EQ(openWith({{"XDG_CURRENT_DESKTOP", "XFCE"}}, probe.root / "tool.out"), "tool \n");

    // A desktop without one: the folder handler shows the autostart folder.
    writeExecutable(probe.bin / "file-manager", "#!/bin/sh\necho \"$1\" > \"$QUORVEL_TEST_OUT\"\n");
    fs::create_directories(probe.dataHome / "applications");
    writeFileText(probe.dataHome / "applications/quorvel-test-files.desktop",
                  "[Desktop Entry]\nType=Application\nName=Files\nExec=" +
                      (probe.bin / "file-manager").string() + " %u\nMimeType=inode/directory;\n");
    writeFileText(probe.configHome / "mimeapps.list",
                  "[Default Applications]\ninode/directory=quorvel-test-files.desktop\n"
                  "x-scheme-handler/file=quorvel-test-files.desktop\n");
    std::string shown = openWith(
        {{"XDG_CURRENT_DESKTOP", "Nowhere"}, {"XDG_DATA_DIRS", (probe.root / "nothing").string()}},
        probe.root / "files.out");
    // The handler gets the folder as a URI or, for a local file, as a path.
    if (shown.rfind("file://", 0) == 0)
        shown.erase(0, 7);
    EXPECT_EQ(shown, (probe.configHome / "autostart").string() + "\n");
    EXPECT_TRUE(fs::is_directory(probe.configHome / "autostart"));
}
