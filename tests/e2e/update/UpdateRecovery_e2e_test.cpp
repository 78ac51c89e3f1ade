// Update recovery as a user meets it: the built launcher inside a laid-out bundle signed with this
// build's development key, a temporary HOME with the updater's files, real processes. The launcher
// checks bundles in its own process, whatever became of the bundle it was started from, and logs
// to standard error (QUORVEL_LOG=stderr), read back here.

#include "base/Bytes.h"
#include "support/ChildProcess.h"
#include "support/HostBundle.h"
#include "support/LauncherRun.h"
#include "support/TemporaryDirectory.h"
#include "update/UpdateReceipt.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sstream>
#include <stdio.h>

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;
using test::TemporaryDirectory;
using test::waitUntil;

// Bounds that only end a hung test; a rollback of the bundle takes about a second.
constexpr double startBound = 60.0;
constexpr double exitBound = 20.0;

class UpdateRecoveryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        auto key = test::trustedDevelopmentKey();
        if (!key)
            GTEST_SKIP() << "this build trusts a key whose private half is not in the build folder";
        home = root.path() / "home";
        dataHome = home / ".local/share";
        support = dataHome / "com.quorvel.desktop";
        updates = support / "updates";
        marker = support / "maintenance.stop";
        snapshot = updates / "Quorvel-1.4.0.tar.gz";
        applications = root.path() / "Applications";
        logFile = root.path() / "launcher.log";
        fs::create_directories(updates);
        bundle = test::makeHostBundle(
            applications, {"--key", "CFBundleShortVersionString=1.4.0", "--sign", key->string()});
        ASSERT_EQ(verify(), 0) << "the freshly signed bundle does not verify";
    }

    ~UpdateRecoveryEndToEnd() override { test::endLauncherRun(launcher, root.path()); }

    // This build's signing tool, with the key the launcher trusts built in.
    int verify() const {
        return test::runCommand({(test::buildDirectory() / "bin/quorvel-codesign").string(),
                                 "verify", "--deep", "--strict", bundle.string()})
            .status;
    }

    // The updater keeps the good bundle as its snapshot archive.
    void keepSnapshot() {
        ASSERT_EQ(test::runCommand({"bsdtar", "-c", "-z", "-f", snapshot.string(), "-C",
                                    applications.string(), bundle.filename().string()})
                      .status,
                  0);
    }

    void writeReceipt(const std::string& state) {
        test::writeFileText(
            updates / "receipt.json",
            R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"0000",)"
            R"("snapshot_path":")" +
                snapshot.string() + R"(","state":")" + state +
                R"(","written_at":"2026-12-05T14:50:00Z"})");
    }

    // An install of 1.5.0 that died half-way: the new version in Info.plist, the host executable
    // cut off after 4 KiB, the signing tool in the bundle cut off as well.
    void breakBundle() {
        fs::path tool = test::launcherExecutable(bundle).parent_path() / "quorvel-codesign";
        fs::resize_file(tool, 4096);
        fs::path plist = bundle / "Contents/Info.plist";
        std::string text = test::readFileText(plist);
        const std::string installed = "<string>1.4.0</string>";
        auto at = text.find(installed);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, installed.size(), "<string>1.5.0</string>");
        test::writeFileText(plist, text);
        fs::path host = test::hostExecutable(bundle);
        test::writeFileText(host, test::readFileText(host).substr(0, 4096));
        ASSERT_NE(verify(), 0) << "the broken bundle still verifies";
    }

    void startLauncher() { launcher = test::startLauncher(bundle, home, dataHome, logFile); }

    // Kills the running host app and waits for the launcher to start the next one.
    void relaunchHost(pid_t host) {
        auto succeeded = [&] {
            auto all = launcherLines();
            return std::count(all.begin(), all.end(), "launch result=succeeded");
        };
        auto launches = succeeded();
        ::kill(host, SIGKILL);
        ASSERT_TRUE(waitUntil([&] { return succeeded() > launches; }, startBound)) << allOutput();
        ASSERT_TRUE(waitUntil(
            [&] {
                auto now = hosts();
                return now.size() == 1 && now[0] != host;
            },
            startBound))
            << allOutput();
    }

    std::vector<pid_t> hosts() const {
        return test::processesRunning(test::hostExecutable(bundle));
    }

    std::vector<std::string> lines(const std::string& category) const {
        return test::launcherRecords(logFile, category);
    }
    std::vector<std::string> launcherLines() const { return lines("LoginLauncher"); }
    bool logged(const std::string& message) const {
        auto all = launcherLines();
        return std::find(all.begin(), all.end(), message) != all.end();
    }
    std::string allOutput() const { return test::readFileText(logFile); }

    std::string plistVersion() const {
        std::string text = test::readFileText(bundle / "Contents/Info.plist");
        auto key = text.find("<key>CFBundleShortVersionString</key>");
        if (key == std::string::npos)
            return {};
        auto open = text.find("<string>", key);
        auto close = text.find("</string>", open);
        if (open == std::string::npos || close == std::string::npos)
            return {};
        return text.substr(open + 8, close - open - 8);
    }

    std::vector<std::string> listing(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TemporaryDirectory root;
    fs::path home, dataHome, support, updates, marker, snapshot, applications, bundle, logFile;
    std::unique_ptr<ChildProcess> launcher;
};

TEST_F(UpdateRecoveryEndToEnd, AnInstallThatDiedHalfWayIsRolledBackAndTheHostAppLaunched) {
    keepSnapshot();
    writeReceipt("installing");
    test::writeFileText(marker, "update-install 1.5.0\n");
    breakBundle();

    startLauncher();
    ASSERT_TRUE(waitUntil([&] { return logged("launch result=succeeded"); }, startBound))
        << allOutput();
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; }, startBound)) << allOutput();

    EXPECT_EQ(
        launcherLines(),
        (std::vector<std::string>{
            "runtime action=started",
            R"(update_recovery outcome=rolledBack(version: "1.5.0", reason: bundle_unverified))",
            "update_recovery marker=released", "launch action=requested",
            "launch result=succeeded"}))
        << allOutput();
    EXPECT_EQ(lines("UpdateRecovery"),
              (std::vector<std::string>{"hold action=written",
                                        "restore result=succeeded reason=bundle_unverified"}))
        << allOutput();
    EXPECT_FALSE(fs::exists(marker));

    // The bundle on disk is the snapshot's: signed, whole, the previous version.
    EXPECT_EQ(verify(), 0);
    EXPECT_EQ(plistVersion(), "1.4.0");
    EXPECT_EQ(test::readFileText(test::hostExecutable(bundle)),
              test::readFileText(test::buildDirectory() / "bin/quorvel-demo-host"));
    EXPECT_EQ(listing(applications), std::vector<std::string>{"Quorvel.app"});

    // The updater is told what happened.
    EXPECT_EQ(test::readFileText(updates / "QUORVEL_UPDATE_HOLD"), "1.5.0\n");
    auto receipt = UpdateReceipt::decode(bytesOf(test::readFileText(updates / "receipt.json")));
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->state, UpdateReceiptState::rolledBack);
    EXPECT_EQ(receipt->rollbackReason, "bundle_unverified");
    EXPECT_TRUE(receipt->rolledBackAt.has_value());
    EXPECT_TRUE(fs::exists(snapshot));

    // The host app runs from the restored bundle, started as the launcher starts it.
    pid_t host = hosts()[0];
    std::string started = "quorvel-demo-host pid=" + std::to_string(host) +
                          " started args=--quorvel-background-launch";
    EXPECT_TRUE(waitUntil([&] { return allOutput().find(started) != std::string::npos; }))
        << allOutput();
    EXPECT_TRUE(launcher->running());

    // The launcher now runs from the bundle that was swapped out and deleted. When the host app
    // dies, the same launcher still sees the restored bundle as healthy: nothing to recover,
    // nothing unpacked again, nothing left beside the bundle.
    auto recoveryLines = lines("UpdateRecovery");
    relaunchHost(host);
    EXPECT_EQ(lines("UpdateRecovery"), recoveryLines) << allOutput();
    auto all = launcherLines();
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const std::string& line) {
                                return line.starts_with("update_recovery outcome=");
                            }),
              1)
        << allOutput();
    EXPECT_EQ(listing(applications), std::vector<std::string>{"Quorvel.app"});

    // Three bundle checks later, the cryptography library was only ever loaded by the children
    // that ran them: the launcher itself has never mapped it.
    std::string maps = test::readFileText("/proc/" + std::to_string(launcher->pid()) + "/maps");
    ASSERT_FALSE(maps.empty());
    EXPECT_EQ(maps.find("libcrypto"), std::string::npos) << maps;
    // GLib is linked in: a shared one beside it (brought by GIO, say) would run a second main
    // context.
    EXPECT_EQ(maps.find("libglib"), std::string::npos) << maps;
}

TEST_F(UpdateRecoveryEndToEnd, AGoodUpdateSwappedInWhileTheLauncherRunsIsCleanedUpAfter) {
    startLauncher();
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; }, startBound)) << allOutput();
    pid_t host = hosts()[0];

    // The updater keeps 1.4.0, swaps a signed 1.5.0 in under the running launcher and finishes.
    keepSnapshot();
    writeReceipt("installing");
    auto key = test::trustedDevelopmentKey();
    fs::path staged =
        test::makeHostBundle(root.path() / "staged", {"--key", "CFBundleShortVersionString=1.5.0",
                                                      "--sign", key->string()});
    ASSERT_EQ(::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, bundle.c_str(), RENAME_EXCHANGE), 0);
    fs::remove_all(staged);
    writeReceipt("installed");
    ASSERT_EQ(verify(), 0);

    relaunchHost(host);
    EXPECT_TRUE(logged("update_recovery outcome=cleaned")) << allOutput();
    EXPECT_EQ(lines("UpdateRecovery"), std::vector<std::string>{"cleanup result=succeeded"})
        << allOutput();
    EXPECT_FALSE(fs::exists(updates / "QUORVEL_UPDATE_HOLD"));
    EXPECT_FALSE(fs::exists(snapshot));
    auto receipt = UpdateReceipt::decode(bytesOf(test::readFileText(updates / "receipt.json")));
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->state, UpdateReceiptState::cleaned);
    EXPECT_EQ(plistVersion(), "1.5.0");
}

TEST_F(UpdateRecoveryEndToEnd, AnInstallerMarkerWithoutAReceiptStopsTheLauncher) {
    test::writeFileText(marker, "update-install 1.5.0\n");
    startLauncher();
    auto status = launcher->wait(exitBound);
    ASSERT_TRUE(status) << "the launcher did not end\n" << allOutput();
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcherLines(),
              std::vector<std::string>{"runtime action=suppressed reason=maintenance"})
        << allOutput();
    EXPECT_TRUE(lines("UpdateRecovery").empty()) << allOutput();
    EXPECT_TRUE(hosts().empty());
    // Recovery did not run, so the marker stays for whoever wrote it.
    EXPECT_EQ(test::readFileText(marker), "update-install 1.5.0\n");
}

TEST_F(UpdateRecoveryEndToEnd, AnInstallerMarkerWithAReceiptNoLongerInstallingStopsTheLauncher) {
    keepSnapshot();
    writeReceipt("installed");
    std::string receipt = test::readFileText(updates / "receipt.json");
    test::writeFileText(marker, "update-install 1.5.0\n");
    startLauncher();
    auto status = launcher->wait(exitBound);
    ASSERT_TRUE(status) << "the launcher did not end\n" << allOutput();
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcherLines(),
              std::vector<std::string>{"runtime action=suppressed reason=maintenance"})
        << allOutput();
    EXPECT_TRUE(hosts().empty());
    // Nothing was cleaned up or rewritten: recovery never ran.
    EXPECT_EQ(test::readFileText(updates / "receipt.json"), receipt);
    EXPECT_TRUE(fs::exists(snapshot));
    EXPECT_TRUE(fs::exists(marker));
}

TEST_F(UpdateRecoveryEndToEnd, AHealthySignedBundleWithoutAReceiptLaunchesWithNothingToRecover) {
    startLauncher();
    ASSERT_TRUE(waitUntil([&] { return logged("launch result=succeeded"); }, startBound))
        << allOutput();
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; }, startBound)) << allOutput();
    EXPECT_EQ(launcherLines(),
              (std::vector<std::string>{"runtime action=started", "launch action=requested",
                                        "launch result=succeeded"}))
        << allOutput();
    EXPECT_TRUE(lines("UpdateRecovery").empty()) << allOutput();
    EXPECT_EQ(listing(updates), std::vector<std::string>{});
    EXPECT_EQ(verify(), 0);
}

} // namespace
} // namespace quorvel
