#include "launcher/LauncherParentMonitor.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

const FileURL expected{"/opt/Quorvel.app/Contents/MacOS/Quorvel"};

LauncherApplicationFact host(std::int32_t pid, std::optional<FileURL> executable = expected) {
    return {std::string("com.quorvel.desktop"), pid, std::move(executable)};
}

LauncherParentMonitor monitor() {
    return LauncherParentMonitor(expected);
}

TEST(LauncherParentMonitor, OneExitSeenByBothSignalsYieldsOneExit) {
    // Notification first, then the health check.
    auto m = monitor();
    m.observeHealthCheck({host(10)}, false);
    ASSERT_EQ(m.liveParent, host(10));
    auto exit = m.observeTermination(host(10), false);
    ASSERT_TRUE(exit);
    EXPECT_EQ(*exit, (LauncherParentExit{host(10), LauncherParentExitSource::notification}));
    EXPECT_EQ(m.recovery, LauncherParentRecoveryState::scheduled(10));
    EXPECT_FALSE(m.observeHealthCheck({}, false));
    EXPECT_EQ(m.recovery, LauncherParentRecoveryState::scheduled(10));

    // Health check first, then the notification (also after the timer moved it to opening).
    auto n = monitor();
    n.observeHealthCheck({host(10)}, false);
    auto healthExit = n.observeHealthCheck({}, false);
    ASSERT_TRUE(healthExit);
    EXPECT_EQ(healthExit->source, LauncherParentExitSource::healthCheck);
    EXPECT_EQ(healthExit->application, host(10));
    EXPECT_FALSE(n.observeTermination(host(10), false));
    n.recovery = LauncherParentRecoveryState::opening(10);
    EXPECT_FALSE(n.observeTermination(host(10), false));
    EXPECT_FALSE(n.observeHealthCheck({}, false));
    EXPECT_EQ(n.recovery, LauncherParentRecoveryState::opening(10));
}

TEST(LauncherParentMonitor, ProcessIdentifiersBelowOneNeverCount) {
    auto m = monitor();
    for (std::int32_t pid : {0, -1, -42}) {
        EXPECT_FALSE(m.isParent(host(pid)));
        EXPECT_FALSE(m.observeReplacement(host(pid)));
        EXPECT_FALSE(m.observeTermination(host(pid), false));
    }
    m.observeRunning({host(0), host(-3)});
    EXPECT_FALSE(m.liveParent);
    EXPECT_TRUE(m.expectedParents({host(0), host(-1)}).empty());
}

TEST(LauncherParentMonitor, RequiresAReportedExecutableAtTheCanonicalPath) {
    auto m = monitor();
    LauncherApplicationFact noExecutable = host(20, std::nullopt);
    LauncherApplicationFact elsewhere =
        host(21, FileURL{"/home/u/Quorvel.app/Contents/MacOS/Quorvel"});
    LauncherApplicationFact dotted = host(22, FileURL{"/opt/./Quorvel.app/Contents/MacOS/Quorvel"});
    LauncherApplicationFact otherApp{std::string("org.example.other"), 23, expected};
    LauncherApplicationFact noIdentifier{std::nullopt, 24, expected};
    for (const auto& fact : {noExecutable, elsewhere, dotted, otherApp, noIdentifier}) {
        EXPECT_FALSE(m.isParent(fact)) << fact.processIdentifier;
        EXPECT_FALSE(m.observeTermination(fact, false)) << fact.processIdentifier;
    }
    EXPECT_TRUE(
        m.expectedParents({noExecutable, elsewhere, dotted, otherApp, noIdentifier}).empty());
    m.observeRunning({noExecutable, elsewhere, dotted, host(25)});
    EXPECT_EQ(m.liveParent, host(25));
    EXPECT_EQ(m.recovery, LauncherParentRecoveryState::idle());

    // With a live parent, a host-app process elsewhere that reuses its pid is not its exit.
    EXPECT_FALSE(m.observeTermination(
        host(25, FileURL{"/home/u/Quorvel.app/Contents/MacOS/Quorvel"}), false));
    // A health check only compares process identifiers among expected parents; the copy elsewhere
    // is not one, so the live parent counts as gone.
    EXPECT_TRUE(m.observeHealthCheck({elsewhere}, false));
}

TEST(LauncherParentMonitor, OpenedApplicationIsAcceptedWithoutAnExecutable) {
    auto m = monitor();
    m.recovery = LauncherParentRecoveryState::opening(7);
    auto adopted = m.observeReplacement(host(30, std::nullopt));
    ASSERT_TRUE(adopted);
    EXPECT_EQ(*adopted, host(30));
    EXPECT_EQ(m.liveParent, host(30));
    EXPECT_EQ(m.recovery, LauncherParentRecoveryState::idle());

    EXPECT_FALSE(m.observeHealthCheck({host(30)}, false));
    // A notification without an executable does not match the filled-in fact; the health check
    // still notices the exit.
    EXPECT_FALSE(m.observeTermination(host(30, std::nullopt), false));
    auto exit = m.observeHealthCheck({}, false);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->application, host(30));

    // An unexpected application leaves everything as it was.
    auto before = m;
    EXPECT_FALSE(m.observeReplacement(host(31, FileURL{"/elsewhere/Quorvel"})));
    EXPECT_EQ(m, before);
}

TEST(LauncherParentMonitor, MaintenanceOrNoExpectedExecutableObservesNothing) {
    auto m = monitor();
    m.observeHealthCheck({host(40)}, false);
    auto before = m;
    EXPECT_FALSE(m.observeTermination(host(40), true));
    EXPECT_FALSE(m.observeHealthCheck({}, true));
    EXPECT_EQ(m, before);
    // Without a live parent, maintenance does not even adopt one.
    auto fresh = monitor();
    fresh.observeHealthCheck({host(41)}, true);
    EXPECT_FALSE(fresh.liveParent);

    LauncherParentMonitor none(std::nullopt);
    EXPECT_FALSE(none.isParent(host(50)));
    EXPECT_FALSE(none.observeReplacement(host(50)));
    EXPECT_FALSE(none.observeReplacement(host(50, std::nullopt)));
    EXPECT_FALSE(none.observeTermination(host(50), false));
    none.observeHealthCheck({host(50)}, false);
    EXPECT_FALSE(none.liveParent);
}

TEST(LauncherParentMonitor, UnrelatedExitsAreIgnoredAndAReplacementIsTracked) {
    auto m = monitor();
    EXPECT_FALSE(m.observeTermination(
        {std::string("org.example.other"), 60, FileURL{"/usr/bin/other"}}, false));
    m.observeHealthCheck({host(61)}, false);
    EXPECT_FALSE(m.observeTermination(host(62), false));
    EXPECT_EQ(m.recovery, LauncherParentRecoveryState::idle());

    ASSERT_TRUE(m.observeTermination(host(61), false));
    ASSERT_TRUE(m.observeReplacement(host(63)));
    // The old process's late notification is not the new parent's exit.
    EXPECT_FALSE(m.observeTermination(host(61), false));
    EXPECT_FALSE(m.observeHealthCheck({host(63)}, false));
    auto exit = m.observeHealthCheck({}, false);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->application.processIdentifier, 63);
    // expectedParents keeps order and the live parent itself.
    EXPECT_EQ(m.expectedParents({host(70), host(63), host(5)}),
              (std::vector{host(70), host(63), host(5)}));
}

} // namespace
} // namespace quorvel
