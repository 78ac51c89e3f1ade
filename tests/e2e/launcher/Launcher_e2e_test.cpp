// The built launcher and demo host, as a user runs them: a real bundle, a temporary HOME, real
// processes and signals. The launcher logs to standard error (QUORVEL_LOG=stderr), read back here.

#include "support/ChildProcess.h"
#include "support/HostBundle.h"
#include "support/LauncherRun.h"
#include "support/TemporaryDirectory.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::TemporaryDirectory;
using test::waitUntil;

class LauncherEndToEnd : public ::testing::Test {
protected:
    LauncherEndToEnd() {
        home = root.path() / "home";
        dataHome = home / ".local/share";
        std::filesystem::create_directories(dataHome);
        bundle = test::makeHostBundle(root.path() / "Applications");
        marker = dataHome / "com.quorvel.desktop/maintenance.stop";
        logFile = root.path() / "launcher.log";
    }

    ~LauncherEndToEnd() override {
        copy.reset();
        test::endLauncherRun(launcher, root.path());
    }

    void startLauncher() { launcher = test::startLauncher(bundle, home, dataHome, logFile); }

    std::vector<pid_t> hosts() const {
        return test::processesRunning(test::hostExecutable(bundle));
    }

    std::vector<std::string> launcherLines() const { return test::launcherRecords(logFile); }
    std::size_t count(const std::string& message) const {
        auto lines = launcherLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), message));
    }
    std::string allOutput() const { return test::readFileText(logFile); }

    void writeMarker(const std::string& text) { test::writeFileText(marker, text); }

    TemporaryDirectory root;
    std::filesystem::path home, dataHome, bundle, marker, logFile;
    std::unique_ptr<ChildProcess> launcher;
    std::unique_ptr<ChildProcess> copy;
};

TEST_F(LauncherEndToEnd, AKilledHostAppIsRelaunchedOnceByANewProcess) {
    startLauncher();
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; })) << allOutput();
    pid_t first = hosts()[0];
    ASSERT_TRUE(waitUntil([&] { return count("launch result=succeeded") == 1; })) << allOutput();
    std::string started = "quorvel-demo-host pid=" + std::to_string(first) +
                          " started args=--quorvel-background-launch";
    EXPECT_TRUE(waitUntil([&] { return allOutput().find(started) != std::string::npos; }))
        << allOutput();

    ::kill(first, SIGKILL);
    auto killedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil(
        [&] {
            auto now = hosts();
            return now.size() == 1 && now[0] != first;
        },
        20.0))
        << allOutput();
    double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killedAt).count();
    // The relaunch waited for its delay (a timer never fires early).
    EXPECT_GE(waited, 1.0);
    pid_t second = hosts()[0];

    // Let a few health checks pass: still one relaunch, one process.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(hosts(), std::vector<pid_t>{second});
    auto lines = launcherLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) {
                                return l.starts_with("relaunch boundary=parent_exit reason=");
                            }),
              1)
        << allOutput();
    EXPECT_EQ(count("relaunch action=scheduled delay_seconds=2"), 1u);
    EXPECT_EQ(count("launch action=requested"), 2u);
    EXPECT_EQ(count("launch result=succeeded"), 2u);
    EXPECT_EQ(count("proof_claim attempted=true claimed=false reason=missing"), 1u);
    EXPECT_TRUE(launcher->running());
}

TEST_F(LauncherEndToEnd, AStopMarkerAtStartEndsTheLauncherAtOnceWithNothingStarted) {
    writeMarker("maintenance\n");
    startLauncher();
    auto status = launcher->wait(10.0);
    ASSERT_TRUE(status) << "the launcher did not end";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcherLines(),
              std::vector<std::string>{"runtime action=suppressed reason=maintenance"});
    EXPECT_TRUE(hosts().empty());
}

TEST_F(LauncherEndToEnd, AStopMarkerWrittenMidRunEndsTheLauncherAndLeavesTheHostAppRunning) {
    startLauncher();
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; })) << allOutput();
    pid_t host = hosts()[0];
    writeMarker("maintenance\n");
    auto status = launcher->wait(10.0);
    ASSERT_TRUE(status) << "the launcher did not stop";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcherLines().back(), "relaunch action=suppressed reason=maintenance")
        << allOutput();
    EXPECT_EQ(hosts(), std::vector<pid_t>{host});
    EXPECT_TRUE(std::filesystem::exists(marker)); // only the host app's own start-up removes it
}

TEST_F(LauncherEndToEnd, ASecondCopyElsewhereIsNotAdoptedAndTheLauncherOpensItsOwn) {
    auto elsewhere = test::makeHostBundle(root.path() / "Downloads");
    copy = std::make_unique<ChildProcess>(
        std::vector<std::string>{test::hostExecutable(elsewhere).string()},
        ChildProcess::Options{});
    ASSERT_TRUE(waitUntil(
        [&] { return !test::processesRunning(test::hostExecutable(elsewhere)).empty(); }));
    startLauncher();
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; })) << allOutput();
    EXPECT_EQ(count("launch action=skipped reason=parent_running"), 0u);
    EXPECT_EQ(count("launch action=requested"), 1u);
    EXPECT_NE(hosts()[0], copy->pid());
    EXPECT_TRUE(copy->running());
}

TEST_F(LauncherEndToEnd, ARunningHostAppIsAdoptedAndItsExitRelaunched) {
    copy = std::make_unique<ChildProcess>(
        std::vector<std::string>{test::hostExecutable(bundle).string()}, ChildProcess::Options{});
    ASSERT_TRUE(waitUntil([&] { return hosts().size() == 1; }));
    startLauncher();
    ASSERT_TRUE(waitUntil([&] {
        return count("launch action=skipped reason=parent_running") == 1;
    })) << allOutput();
    EXPECT_EQ(hosts(), std::vector<pid_t>{copy->pid()});
    EXPECT_EQ(count("launch action=requested"), 0u);

    // The adopted process is not the launcher's child; its exit still reaches the launcher.
    copy->signal(SIGTERM);
    ASSERT_TRUE(waitUntil(
        [&] {
            auto now = hosts();
            return now.size() == 1 && now[0] != copy->pid();
        },
        20.0))
        << allOutput();
    EXPECT_TRUE(waitUntil([&] { return count("launch result=succeeded") == 1; })) << allOutput();

    // The launcher takes its termination signals without a helper thread, by blocking them; what
    // it starts must not inherit that.
    pid_t relaunched = hosts()[0];
    auto statusLine = [](pid_t pid, const std::string& key) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind(key + ":\t", 0) == 0)
                return line.substr(key.size() + 2);
        return std::string();
    };
    EXPECT_EQ(statusLine(relaunched, "SigBlk"), "0000000000000000");
    EXPECT_EQ(statusLine(launcher->pid(), "Threads"), "1");

    // SIGTERM ends the launcher cleanly; the host app stays.
    launcher->signal(SIGTERM);
    auto status = launcher->wait(10.0);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(hosts(), std::vector<pid_t>{relaunched});
}

TEST_F(LauncherEndToEnd, LaunchersStartedTogetherShareOneHostAppAlsoAfterItsDeath) {
    // A login session and a start by hand are enough for two; ten make a race hard to miss.
    // Each round releases its launchers at one instant; with ten, the host app is then killed and
    // all ten relaunch it after the same delay.
    struct Trial {
        int launchers;
        int rounds;
        bool kill;
    };
    auto settled = [](const std::filesystem::path& log, std::size_t launches) {
        auto lines = test::launcherRecords(log);
        auto n = [&](const char* message) {
            return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), message));
        };
        return n("launch result=succeeded") + n("launch action=skipped reason=parent_running") ==
               launches;
    };
    for (const Trial& trial : {Trial{2, 15, false}, Trial{10, 5, true}}) {
        for (int round = 0; round < trial.rounds; ++round) {
            SCOPED_TRACE(std::to_string(trial.launchers) + " launchers, round " +
                         std::to_string(round));
            test::StartGate gate;
            std::vector<std::unique_ptr<ChildProcess>> launchers;
            std::vector<std::filesystem::path> logs;
            for (int i = 0; i < trial.launchers; ++i) {
                logs.push_back(root.path() /
                               ("together-" + std::to_string(trial.launchers) + "-" +
                                std::to_string(round) + "-" + std::to_string(i) + ".log"));
                launchers.push_back(
                    test::startLauncher(bundle, home, dataHome, logs.back(), {}, &gate));
            }
            gate.release();
            auto allSettled = [&](std::size_t launches) {
                return std::all_of(logs.begin(), logs.end(),
                                   [&](const auto& log) { return settled(log, launches); });
            };
            ASSERT_TRUE(waitUntil([&] { return allSettled(1); }, 60.0));
            auto running = hosts();
            ASSERT_EQ(running.size(), 1u);
            std::size_t requested = 0;
            for (const auto& log : logs) {
                auto lines = test::launcherRecords(log);
                requested += static_cast<std::size_t>(
                    std::count(lines.begin(), lines.end(), "launch action=requested"));
            }
            EXPECT_EQ(requested, 1u);

            if (trial.kill) {
                ::kill(running[0], SIGKILL);
                ASSERT_TRUE(waitUntil([&] { return allSettled(2); }, 60.0));
                auto relaunched = hosts();
                ASSERT_EQ(relaunched.size(), 1u);
                EXPECT_NE(relaunched[0], running[0]);
            }
            test::endLauncherRuns(launchers, root.path());
        }
    }
}

} // namespace
} // namespace quorvel
