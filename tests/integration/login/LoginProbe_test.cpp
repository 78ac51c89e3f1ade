// The login launch functions as the host app meets them: a program inside a host app bundle that
// loads the shared library, finds its launcher through its own executable, and writes the user's
// real autostart entry and marker.

#include "support/ChildProcess.h"
#include "support/GLibPump.h"
#include "support/TemporaryDirectory.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

constexpr uid_t unprivilegedUser = 65534;

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

struct ProbeBundle {
    TemporaryDirectory root;
    fs::path bundle = root / "Apps/Quorvel Recorder.app"; // a blank in the path on purpose
    fs::path launcherExecutable =
        bundle / "Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher";
    fs::path configHome = root / "config";
    fs::path dataHome = root / "data";
    fs::path bin = root / "bin";
    fs::path entry = configHome / "autostart/com.quorvel.desktop.launcher.desktop";
    fs::path marker = dataHome / "com.quorvel.desktop/maintenance.stop";

    ProbeBundle() {
        fs::create_directories(bundle / "Contents/MacOS");
        writeFileText(bundle / "Contents/Info.plist", infoPlist("com.quorvel.desktop", "Quorvel"));
        fs::path launcherBundle = launcherExecutable.parent_path().parent_path().parent_path();
        writeFileText(launcherBundle / "Contents/Info.plist",
                      infoPlist("com.quorvel.desktop.launcher", "QuorvelLauncher"));
        writeExecutable(launcherExecutable, "#!/bin/sh\nexit 0\n");
        fs::copy_file(fs::path(std::getenv("QUORVEL_BUILD_DIR")) / "bin/quorvel-login-probe",
                      bundle / "Contents/MacOS/Quorvel");
        fs::create_directories(configHome);
        fs::create_directories(dataHome);
        fs::create_directories(bin);
    }

    CommandResult run(const std::vector<std::string>& commands,
                      std::map<std::string, std::string> environment = {},
                      bool unprivileged = false) {
        std::vector<std::string> argv{(bundle / "Contents/MacOS/Quorvel").string()};
        if (unprivileged) {
            argv.insert(argv.end(), {"--user", std::to_string(unprivilegedUser)});
        }
        argv.insert(argv.end(), commands.begin(), commands.end());
        environment.emplace("XDG_CONFIG_HOME", configHome.string());
        environment.emplace("XDG_DATA_HOME", dataHome.string());
        environment.emplace("HOME", root.string());
        environment.emplace("QUORVEL_LOG", "stderr");
        return runCommand(argv, environment);
    }
};

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

TEST(LoginProbe, TheHostAppRegistersTheLauncherOfItsOwnBundle) {
    ProbeBundle probe;
    auto result = probe.run({"status", "ensure", "status", "ensure"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(results(result.output), "status=3\nensure=1\nstatus=1\nensure=1\n") << result.output;
    EXPECT_TRUE(contains(result.output, "LoginLauncher info: ensure status=not_registered "
                                        "registration=succeeded result=enabled"))
        << result.output;
    std::string text = readFileText(probe.entry);
    EXPECT_TRUE(contains(text, "\nExec=\"" + probe.launcherExecutable.string() + "\"\n")) << text;

    result = probe.run({"stop", "status", "stop"});
    EXPECT_EQ(results(result.output), "stop=1\nstatus=3\nstop=1\n") << result.output;
    EXPECT_EQ(readFileText(probe.marker), "maintenance\n");
    EXPECT_FALSE(fs::exists(probe.entry));
}

TEST(LoginProbe, AnEntryThatCannotBeRemovedLeavesTheMarkerWritten) {
    ProbeBundle probe;
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

TEST(LoginProbe, OpeningTheSettingsStartsTheDesktopsStartupTool) {
    ProbeBundle probe;
    fs::path out = probe.root / "tool.out";
    writeExecutable(probe.bin / "xfce4-session-settings",
                    "#!/bin/sh\necho \"tool $*\" > \"$QUORVEL_TEST_OUT\"\n");
    auto result = probe.run({"open"}, {{"XDG_CURRENT_DESKTOP", "XFCE"},
                                       {"PATH", probe.bin.string() + ":/usr/bin:/bin"},
                                       {"QUORVEL_TEST_OUT", out.string()}});
    EXPECT_TRUE(contains(result.output, "open=done")) << result.output;
    ASSERT_TRUE(waitForFile(out));
    EXPECT_EQ(readFileText(out), "tool \n");
}

TEST(LoginProbe, OpeningTheSettingsWithoutAToolShowsTheAutostartFolder) {
    ProbeBundle probe;
    fs::path out = probe.root / "files.out";
    writeExecutable(probe.bin / "file-manager", "#!/bin/sh\necho \"$1\" > \"$QUORVEL_TEST_OUT\"\n");
    fs::create_directories(probe.dataHome / "applications");
    writeFileText(probe.dataHome / "applications/quorvel-test-files.desktop",
                  "[Desktop Entry]\nType=Application\nName=Files\nExec=" +
                      (probe.bin / "file-manager").string() + " %u\nMimeType=inode/directory;\n");
    writeFileText(probe.configHome / "mimeapps.list",
                  "[Default Applications]\ninode/directory=quorvel-test-files.desktop\n"
                  "x-scheme-handler/file=quorvel-test-files.desktop\n");
    auto result = probe.run({"open"}, {{"XDG_CURRENT_DESKTOP", "Nowhere"},
                                       {"PATH", probe.bin.string() + ":/usr/bin:/bin"},
                                       {"XDG_DATA_DIRS", (probe.root / "nothing").string()},
                                       {"QUORVEL_TEST_OUT", out.string()}});
    EXPECT_TRUE(contains(result.output, "open=done")) << result.output;
    ASSERT_TRUE(waitForFile(out)) << result.output;
    // The handler gets the folder as a URI or, for a local file, as a path.
    std::string shown = readFileText(out);
    if (shown.rfind("file://", 0) == 0)
        shown.erase(0, 7);
    EXPECT_EQ(shown, (probe.configHome / "autostart").string() + "\n");
    EXPECT_TRUE(fs::is_directory(probe.configHome / "autostart"));
}
