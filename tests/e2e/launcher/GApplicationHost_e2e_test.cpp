// A host app built on GApplication, started by the launcher from a real bundle: declaring the
// launcher's option is all it takes for it to start once and stay up.

#include "support/HostBundle.h"
#include "support/LauncherRun.h"
#include "support/TemporaryDirectory.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace quorvel {
namespace {

TEST(GApplicationHost, TheLauncherStartsItOnceAndItStaysUp) {
    test::TemporaryDirectory root;
    auto home = root.path() / "home";
    auto dataHome = home / ".local/share";
    std::filesystem::create_directories(dataHome);
    auto executable = test::buildDirectory() / "bin/quorvel-gapplication-host";
    auto bundle =
        test::makeHostBundle(root.path() / "Applications", {"--executable", executable.string()});
    auto logFile = root.path() / "launcher.log";
    auto launcher = test::startLauncher(bundle, home, dataHome, logFile);
    auto hosts = [&] { return test::processesRunning(test::hostExecutable(bundle)); };
    auto output = [&] { return test::readFileText(logFile); };

    ASSERT_TRUE(test::waitUntil([&] { return hosts().size() == 1; })) << output();
    pid_t host = hosts()[0];
    std::string started =
        "quorvel-gapplication-host pid=" + std::to_string(host) + " started background=true";
    EXPECT_TRUE(test::waitUntil([&] { return output().find(started) != std::string::npos; }))
        << output();
    // Several health checks later: the same process, and no relaunch.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(hosts(), std::vector<pid_t>{host}) << output();
    auto lines = test::launcherRecords(logFile);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "launch result=succeeded"), 1) << output();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) { return l.starts_with("relaunch "); }),
              0)
        << output();
    test::endLauncherRun(launcher, root.path());
}

} // namespace
} // namespace quorvel
