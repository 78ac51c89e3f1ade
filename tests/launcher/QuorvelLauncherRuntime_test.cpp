#include "launcher/BasicQuorvelLauncherRuntime.h"
#include "launcher/QuorvelLauncherRuntime.h"
#include "support/FakeWorkspace.h"
#include "support/LogCapture.h"
#include "support/ManualMainLoop.h"
#include "support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quorvel {
namespace {

using test::FakeWorkspace;
using test::LogCapture;
using test::ManualMainLoop;
using test::TemporaryDirectory;
using test::writeFileText;

// ---- Stand-ins for the proof witness and update recovery, recording what the runtime asks ----

struct FakeClaim {
    int serial = 0;
    bool operator==(const FakeClaim&) const = default;
};

struct WitnessJournal {
    // Claims handed out in turn; an empty slot means nothing to claim, for the reason given.
    std::deque<Expected<FakeClaim, LauncherProofClaimMiss>> claims;
    std::vector<std::pair<std::int32_t, std::optional<FileURL>>> claimRequests;
    struct Record {
        std::int32_t killed;
        std::int32_t replacement;
        std::optional<FileURL> executable;
        FakeClaim claim;
    };
    std::vector<Record> records;
    std::vector<FakeClaim> restored;
    int recoveries = 0;
};

struct FakeWitness {
    std::shared_ptr<WitnessJournal> journal;

    Expected<FakeClaim, LauncherProofClaimMiss>
    claimAutomaticRelaunch(std::int32_t killedPid,
                           const std::optional<FileURL>& executableURL) const {
        journal->claimRequests.emplace_back(killedPid, executableURL);
        if (journal->claims.empty())
            return unexpected(LauncherProofClaimMiss::missing);
        auto claim = journal->claims.front();
        journal->claims.pop_front();
        return claim;
    }
    void restoreClaim(const FakeClaim& claim) const { journal->restored.push_back(claim); }
    void recoverAbandonedClaims() const { ++journal->recoveries; }
};

// Follows the event tracker's contract: claims only for an observed termination and a witness;
// recording clears the observed termination.
struct FakeEventTracker {
    std::optional<LauncherApplicationFact> observedTermination;

    Expected<FakeClaim, LauncherProofClaimMiss>
    claimForRelaunch(const std::optional<FakeWitness>& witness,
                     const std::optional<FileURL>& trustedParentExecutableURL) const {
        if (!observedTermination || !witness)
            return unexpected(LauncherProofClaimMiss::missing);
        return witness->claimAutomaticRelaunch(observedTermination->processIdentifier,
                                               observedTermination->executableURL
                                                   ? observedTermination->executableURL
                                                   : trustedParentExecutableURL);
    }
    bool recordSuccessfulReplacement(const LauncherApplicationFact& replacement,
                                     const std::optional<FakeWitness>& witness,
                                     const std::optional<FakeClaim>& claim) {
        if (!observedTermination)
            return false;
        auto killed = observedTermination->processIdentifier;
        observedTermination.reset();
        if (!witness || !claim)
            return false;
        witness->journal->records.push_back(
            {killed, replacement.processIdentifier, replacement.executableURL, *claim});
        return true;
    }
};

struct FakeOutcome {
    enum class Kind { idle, rolledBack };
    Kind kind = Kind::idle;
    std::string description() const { return kind == Kind::idle ? "idle" : "rolled-back"; }
};

struct RecoveryJournal {
    FakeOutcome next;
    int calls = 0;
    std::function<void()> onRecover;
};

struct FakeRecovery {
    UpdateRecoveryPaths paths_;
    std::shared_ptr<RecoveryJournal> journal;

    const UpdateRecoveryPaths& paths() const { return paths_; }
    FakeOutcome recover(TimePoint) const {
        ++journal->calls;
        if (journal->onRecover)
            journal->onRecover();
        return journal->next;
    }
};

struct FakeCollaborators {
    using Witness = FakeWitness;
    using Claim = FakeClaim;
    using EventTracker = FakeEventTracker;
    using Recovery = FakeRecovery;

    static std::optional<Witness> productionWitness() { return std::nullopt; }
    static std::optional<Recovery> productionRecovery(const FileURL&) { return std::nullopt; }
    // The test's receipts hold their state as plain text.
    static std::optional<UpdateReceiptState> decodeReceiptState(const Bytes& data) {
        auto text = textOf(data);
        if (text == "installing")
            return UpdateReceiptState::installing;
        if (text == "installed")
            return UpdateReceiptState::installed;
        return std::nullopt;
    }
};

using Runtime = BasicQuorvelLauncherRuntime<FakeCollaborators>;

class LauncherRuntimeTest : public ::testing::Test {
protected:
    LauncherRuntimeTest() {
        hostBundle = FileURL{(dir / "Applications/Quorvel.app").string()};
        writeFileText(hostBundle.path + "/Contents/Info.plist",
                      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                      "<key>CFBundleIdentifier</key><string>com.quorvel.desktop</string>"
                      "<key>CFBundleExecutable</key><string>Quorvel</string></dict></plist>");
        helperBundle =
            hostBundle.appendingPathComponent("Contents/Library/LoginItems/QuorvelLauncher.app");
        hostExecutable = hostBundle.appendingPathComponent("Contents/MacOS/Quorvel");
        supportFolder = FileURL{(dir / "data/com.quorvel.desktop").string()};
        marker = supportFolder.appendingPathComponent("maintenance.stop");
        receipt = supportFolder.appendingPathComponent("updates/receipt.json");
    }

    ~LauncherRuntimeTest() override {
        // Unanswered open requests hold the runtime; let it go so nothing leaks.
        workspace->dropPendingOpens();
    }

    std::shared_ptr<Runtime> makeRuntime(bool withWitness = false, bool withRecovery = false) {
        std::optional<FakeWitness> witness;
        if (withWitness)
            witness = FakeWitness{witnessJournal};
        std::optional<FakeRecovery> recovery;
        if (withRecovery) {
            recovery = FakeRecovery{{hostBundle, supportFolder.appendingPathComponent("updates")},
                                    recoveryJournal};
        }
        return Runtime::create(
            loop, workspace, [this] { ++terminations; }, helperBundle, marker, std::move(witness),
            std::move(recovery));
    }

    LauncherApplicationFact host(std::int32_t pid) {
        return {std::string("com.quorvel.desktop"), pid, hostExecutable};
    }

    // The host app comes up as the answer to the pending open request.
    void answerWithHost(std::int32_t pid) {
        workspace->running.push_back(host(pid));
        ASSERT_TRUE(workspace->answerOpen(host(pid)));
    }
    void failOpen() { ASSERT_TRUE(workspace->answerOpen(unexpected(WorkspaceError{"no"}))); }
    // A runtime that adopted the running host app `pid` at start.
    std::shared_ptr<Runtime> adopting(std::int32_t pid, bool withWitness = false) {
        workspace->running.push_back(host(pid));
        auto runtime = makeRuntime(withWitness);
        EXPECT_TRUE(runtime->run());
        return runtime;
    }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> result;
        for (const auto& message : log.messages()) {
            if (message.starts_with(prefix))
                result.push_back(message);
        }
        return result;
    }

    TemporaryDirectory dir;
    LogCapture log;
    std::shared_ptr<ManualMainLoop> loop = std::make_shared<ManualMainLoop>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<WitnessJournal> witnessJournal = std::make_shared<WitnessJournal>();
    std::shared_ptr<RecoveryJournal> recoveryJournal = std::make_shared<RecoveryJournal>();
    int terminations = 0;
    FileURL hostBundle, helperBundle, hostExecutable, supportFolder, marker, receipt;
};

TEST_F(LauncherRuntimeTest, AdoptsARunningHostAppAtStartAndOpensNothing) {
    auto runtime = adopting(100);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"runtime action=started",
                                        "launch action=skipped reason=parent_running"}));
    EXPECT_EQ(runtime->parentMonitor().liveParent, host(100));
    EXPECT_TRUE(runtime->hasHealthCheck());
    EXPECT_EQ(workspace->observerCount(), 1u);
    loop->advance(10.0);
    EXPECT_TRUE(workspace->openRequests.empty());
    EXPECT_EQ(log.messages().size(), 2u);
}

TEST_F(LauncherRuntimeTest, LaunchesAtStartWithTheBackgroundArgumentAndNoProofLine) {
    auto runtime = makeRuntime(true);
    ASSERT_TRUE(runtime->run());
    ASSERT_EQ(workspace->openRequests.size(), 1u);
    const auto& request = workspace->openRequests[0];
    EXPECT_EQ(request.bundleURL, hostBundle);
    EXPECT_FALSE(request.configuration.activates);
    EXPECT_EQ(request.configuration.arguments,
              std::vector<std::string>{"--quorvel-background-launch"});
    EXPECT_FALSE(request.configuration.environment);
    answerWithHost(101);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"runtime action=started", "launch action=requested",
                                        "launch result=succeeded"}));
    EXPECT_TRUE(witnessJournal->claimRequests.empty());
    EXPECT_EQ(witnessJournal->recoveries, 1); // at start, before anything is launched
    EXPECT_EQ(runtime->parentMonitor().liveParent, host(101));
    EXPECT_EQ(runtime->recovery().lastLaunchAt, loop->now());
}

TEST_F(LauncherRuntimeTest, AnExitSeenByNotificationAndHealthCheckIsRelaunchedOnce) {
    for (bool notificationFirst : {true, false}) {
        SCOPED_TRACE(notificationFirst ? "notification first" : "health check first");
        log.clear();
        workspace = std::make_shared<FakeWorkspace>();
        auto runtime = adopting(200);
        if (notificationFirst) {
            workspace->end(host(200));
            loop->advance(1.0); // the health check sees it gone too
        } else {
            workspace->end(host(200), false);
            loop->advance(1.0);
            workspace->notifyTermination(host(200));
        }
        loop->advance(0.5);
        EXPECT_EQ(linesStartingWith("relaunch boundary="),
                  std::vector<std::string>{std::string("relaunch boundary=parent_exit reason=") +
                                           (notificationFirst ? "notification" : "health_check") +
                                           " action=schedule"});
        EXPECT_EQ(linesStartingWith("relaunch action=scheduled"),
                  std::vector<std::string>{"relaunch action=scheduled delay_seconds=2"});
        EXPECT_EQ(loop->activeTimerCount(), 2u); // the health check and one retry
        EXPECT_EQ(runtime->parentMonitor().recovery, LauncherParentRecoveryState::scheduled(200));
        EXPECT_EQ(runtime->proofEvents().observedTermination, host(200));
        EXPECT_TRUE(workspace->openRequests.empty());

        loop->advance(2.0);
        ASSERT_EQ(workspace->openRequests.size(), 1u);
        EXPECT_EQ(runtime->parentMonitor().recovery, LauncherParentRecoveryState::opening(200));
        // Without a witness the proof line still tells, and the environment stays unset.
        EXPECT_EQ(
            linesStartingWith("proof_claim"),
            std::vector<std::string>{"proof_claim attempted=true claimed=false reason=missing"});
        EXPECT_FALSE(workspace->openRequests[0].configuration.environment);
        answerWithHost(201);
        EXPECT_EQ(runtime->parentMonitor().recovery, LauncherParentRecoveryState::idle());
        EXPECT_EQ(runtime->parentMonitor().liveParent, host(201));
        EXPECT_FALSE(runtime->proofEvents().observedTermination);
        loop->advance(120.0);
        EXPECT_EQ(workspace->openRequests.size(), 1u);
        EXPECT_EQ(linesStartingWith("relaunch boundary=").size(), 1u);
        runtime.reset();
        workspace->dropPendingOpens();
    }
}

TEST_F(LauncherRuntimeTest, FailedLaunchesBackOffTwoFiveFifteenSixtySixty) {
    auto runtime = makeRuntime();
    ASSERT_TRUE(runtime->run());
    const std::vector<double> expected{2, 5, 15, 60, 60};
    for (std::size_t attempt = 0; attempt < expected.size(); ++attempt) {
        ASSERT_EQ(workspace->openRequests.size(), attempt + 1);
        failOpen();
        loop->advance(expected[attempt] - 0.25);
        EXPECT_EQ(workspace->openRequests.size(), attempt + 1) << "launched early";
        loop->advance(0.25);
    }
    std::vector<std::string> scheduled;
    for (double delay : expected)
        scheduled.push_back("relaunch action=scheduled delay_seconds=" +
                            std::to_string(static_cast<int>(delay)));
    EXPECT_EQ(linesStartingWith("relaunch action=scheduled"), scheduled);
    EXPECT_EQ(linesStartingWith("launch result=failed"),
              std::vector<std::string>(5, "launch result=failed action=schedule_retry"));
    for (const auto& record : log.records()) {
        EXPECT_EQ(record.level, record.message.starts_with("launch result=failed") ? LogLevel::error
                                                                                   : LogLevel::info)
            << record.message;
        EXPECT_EQ(record.subsystem, "com.quorvel.desktop");
        EXPECT_EQ(record.category, "LoginLauncher");
    }

    // A run of five minutes resets the backoff: the next delay is 2 again.
    answerWithHost(300);
    loop->advance(300.0);
    workspace->end(host(300));
    EXPECT_EQ(linesStartingWith("relaunch action=scheduled").back(),
              "relaunch action=scheduled delay_seconds=2");
    EXPECT_EQ(runtime->recovery().consecutiveFailures, 1);
}

TEST_F(LauncherRuntimeTest, AnUnexpectedApplicationIsAFailedLaunch) {
    auto runtime = adopting(400, true);
    witnessJournal->claims = {FakeClaim{1}};
    workspace->end(host(400));
    loop->advance(2.0);
    ASSERT_EQ(workspace->openRequests.size(), 1u);
    // The answer names a host-app process that runs from another copy of the bundle.
    ASSERT_TRUE(workspace->answerOpen(
        LauncherApplicationFact{std::string("com.quorvel.desktop"), 401,
                                FileURL{"/elsewhere/Quorvel.app/Contents/MacOS/Quorvel"}}));
    auto records = log.records();
    auto failure = std::find_if(records.begin(), records.end(), [](const auto& r) {
        return r.message == "launch result=failed reason=unexpected_parent action=schedule_retry";
    });
    ASSERT_NE(failure, records.end());
    EXPECT_EQ(failure->level, LogLevel::error);
    EXPECT_EQ(runtime->parentMonitor().recovery, LauncherParentRecoveryState::scheduled(400));
    EXPECT_EQ(runtime->parentMonitor().liveParent, host(400));
    EXPECT_EQ(witnessJournal->restored, std::vector<FakeClaim>{FakeClaim{1}});
    EXPECT_EQ(linesStartingWith("relaunch action=scheduled").back(),
              "relaunch action=scheduled delay_seconds=5");
    // The exit is still being answered: the next attempt claims again.
    loop->advance(5.0);
    EXPECT_EQ(workspace->openRequests.size(), 2u);
    EXPECT_EQ(witnessJournal->claimRequests.size(), 2u);
    EXPECT_EQ(runtime->parentMonitor().recovery, LauncherParentRecoveryState::opening(400));

    // A host bundle without an information dictionary names no executable: no process counts.
    std::filesystem::remove(hostBundle.path + "/Contents/Info.plist");
    workspace->dropPendingOpens();
    workspace = std::make_shared<FakeWorkspace>();
    auto unreadable = adopting(700);
    EXPECT_FALSE(unreadable->parentMonitor().liveParent);
    ASSERT_TRUE(workspace->answerOpen(host(700)));
    EXPECT_EQ(log.count("launch result=failed reason=unexpected_parent action=schedule_retry"), 2u);
    EXPECT_EQ(log.messages().back(), "relaunch action=scheduled delay_seconds=2");
}

TEST_F(LauncherRuntimeTest, ProofClaimAttestsASuccessfulRelaunchAndIsGivenBackOnFailure) {
    auto runtime = adopting(500, true);
    witnessJournal->claims = {FakeClaim{7}, unexpected(LauncherProofClaimMiss::missing),
                              unexpected(LauncherProofClaimMiss::pidReused), FakeClaim{8}};
    workspace->end(host(500));
    loop->advance(2.0);

    // First attempt: claimed, empty environment, the open fails, the claim goes back.
    ASSERT_EQ(workspace->openRequests.size(), 1u);
    EXPECT_EQ(workspace->openRequests[0].configuration.environment,
              (std::map<std::string, std::string>{}));
    EXPECT_EQ(witnessJournal->claimRequests[0],
              (std::pair<std::int32_t, std::optional<FileURL>>{500, hostExecutable}));
    failOpen();
    EXPECT_EQ(witnessJournal->restored, std::vector<FakeClaim>{FakeClaim{7}});

    // Second attempt: nothing to claim; the launch still happens, environment left unset.
    loop->advance(5.0);
    ASSERT_EQ(workspace->openRequests.size(), 2u);
    EXPECT_FALSE(workspace->openRequests[1].configuration.environment);
    failOpen();
    EXPECT_EQ(witnessJournal->restored.size(), 1u);

    // Third attempt: the lease is older than the process that died; said so, nothing claimed.
    loop->advance(15.0);
    failOpen();
    EXPECT_EQ(witnessJournal->restored.size(), 1u);

    // Fourth attempt: claimed and successful; attested with the killed and the new process.
    loop->advance(60.0);
    answerWithHost(501);
    ASSERT_EQ(witnessJournal->records.size(), 1u);
    const auto& record = witnessJournal->records[0];
    EXPECT_EQ(std::tie(record.killed, record.replacement), std::make_tuple(500, 501));
    EXPECT_EQ(record.executable, hostExecutable);
    EXPECT_EQ(record.claim, FakeClaim{8});
    EXPECT_EQ(
        linesStartingWith("proof_claim"),
        (std::vector<std::string>{"proof_claim attempted=true claimed=true reason=claimed",
                                  "proof_claim attempted=true claimed=false reason=missing",
                                  "proof_claim attempted=true claimed=false reason=pid_reused",
                                  "proof_claim attempted=true claimed=true reason=claimed"}));
    EXPECT_FALSE(runtime->proofEvents().observedTermination);
}

TEST_F(LauncherRuntimeTest, AStopOrStrayInstallerMarkerAtStartSuppressesEverything) {
    writeFileText(marker.path, "maintenance\n");
    EXPECT_FALSE(makeRuntime(true, true)->run());
    // An installer marker stops it too unless the receipt says an install is running.
    writeFileText(marker.path, "update-install 2.0\n");
    EXPECT_FALSE(makeRuntime(false, false)->run());
    EXPECT_FALSE(makeRuntime(false, true)->run()); // no receipt
    for (const char* receiptText : {"installed", "{not a receipt"}) {
        writeFileText(receipt.path, receiptText);
        EXPECT_FALSE(makeRuntime(false, true)->run());
    }
    EXPECT_EQ(log.messages(),
              std::vector<std::string>(5, "runtime action=suppressed reason=maintenance"));
    EXPECT_TRUE(std::filesystem::exists(marker.path));
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_EQ(workspace->observerCount(), 0u);
    EXPECT_TRUE(workspace->openRequests.empty());
    EXPECT_EQ(recoveryJournal->calls, 0);
    EXPECT_EQ(terminations, 0); // the entry ends the process itself
}

TEST_F(LauncherRuntimeTest, AStopMarkerWrittenWhileRunningStopsAtTheNextTickEvenAsTheHostExits) {
    auto runtime = adopting(600);
    loop->advance(0.5);
    writeFileText(marker.path, "maintenance\n");
    workspace->end(host(600), false); // gone in the same moment; the tick sees both
    loop->advance(0.5);
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(runtime->isStopped());
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_TRUE(linesStartingWith("relaunch boundary=").empty());
    EXPECT_EQ(log.messages().back(), "relaunch action=suppressed reason=maintenance");
    // The late notification and later ticks change nothing.
    workspace->notifyTermination(host(600));
    loop->advance(120.0);
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(workspace->openRequests.empty());
    EXPECT_EQ(log.count("relaunch action=suppressed reason=maintenance"), 1u);
}

TEST_F(LauncherRuntimeTest, AStopMarkerSeenByTheNotificationOrTheRetryStopsWithoutLaunching) {
    auto runtime = adopting(650);
    writeFileText(marker.path, "maintenance\n");
    workspace->end(host(650)); // notification arrives before the tick
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(linesStartingWith("relaunch boundary=").empty());

    // An exit already scheduled: the marker appears before the retry fires.
    workspace = std::make_shared<FakeWorkspace>();
    std::filesystem::remove(marker.path);
    auto other = adopting(660);
    workspace->end(host(660));
    ASSERT_TRUE(other->hasRetry());
    writeFileText(marker.path, "maintenance\n");
    other->launchIfNeeded();
    EXPECT_EQ(terminations, 2);
    EXPECT_FALSE(other->hasRetry());
    EXPECT_FALSE(other->hasHealthCheck());
    EXPECT_EQ(other->parentMonitor().recovery, LauncherParentRecoveryState::idle());
    EXPECT_TRUE(workspace->openRequests.empty());
}

TEST_F(LauncherRuntimeTest,
       AnInstallerMarkerDuringAnInstallRunsRecoveryReleasesTheMarkerAndLaunches) {
    writeFileText(marker.path, "update-install 2.0\n");
    writeFileText(receipt.path, "installing");
    recoveryJournal->next.kind = FakeOutcome::Kind::rolledBack;
    bool markerPresentDuringRecovery = false;
    recoveryJournal->onRecover = [&] {
        markerPresentDuringRecovery = std::filesystem::exists(marker.path);
    };
    auto runtime = makeRuntime(false, true);
    ASSERT_TRUE(runtime->run());
    EXPECT_EQ(recoveryJournal->calls, 1);
    EXPECT_TRUE(markerPresentDuringRecovery);
    EXPECT_FALSE(std::filesystem::exists(marker.path));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{
                                  "runtime action=started", "update_recovery outcome=rolled-back",
                                  "update_recovery marker=released", "launch action=requested"}));
    EXPECT_EQ(workspace->openRequests.size(), 1u);

    // An idle outcome logs nothing; a stop marker is never released.
    failOpen();
    recoveryJournal->next.kind = FakeOutcome::Kind::idle;
    loop->advance(2.0);
    EXPECT_EQ(recoveryJournal->calls, 2);
    EXPECT_EQ(log.count("update_recovery outcome=rolled-back"), 1u);
    EXPECT_EQ(log.count("update_recovery marker=released"), 1u);
    writeFileText(marker.path, "maintenance\n");
    runtime->releaseInstallerMarker();
    EXPECT_TRUE(std::filesystem::exists(marker.path));
}

TEST_F(LauncherRuntimeTest, ASecondCopyElsewhereIsNotAdopted) {
    LauncherApplicationFact copy{
        std::string("com.quorvel.desktop"), 800,
        FileURL{(dir / "Copy/Quorvel.app/Contents/MacOS/Quorvel").string()}};
    workspace->running.push_back(copy);
    auto runtime = makeRuntime();
    ASSERT_TRUE(runtime->run());
    EXPECT_FALSE(runtime->parentMonitor().liveParent);
    EXPECT_EQ(log.count("launch action=requested"), 1u);
    EXPECT_EQ(workspace->openRequests.at(0).bundleURL, hostBundle);
    answerWithHost(801);
    EXPECT_EQ(runtime->parentMonitor().liveParent, host(801));
    // The copy's exit is not the parent's.
    workspace->end(copy);
    loop->advance(3.0);
    EXPECT_TRUE(linesStartingWith("relaunch").empty());
}

TEST_F(LauncherRuntimeTest, AnswersOffTheMainThreadHopAndNothingKeepsTheRuntimeAlive) {
    auto runtime = makeRuntime();
    ASSERT_TRUE(runtime->run());
    workspace->running.push_back(host(900));
    loop->setMainThreadOverride(false);
    ASSERT_TRUE(workspace->answerOpen(host(900)));
    loop->setMainThreadOverride(std::nullopt);
    EXPECT_EQ(log.count("launch result=succeeded"), 0u);
    EXPECT_EQ(loop->pendingTaskCount(), 1u);
    loop->drain();
    EXPECT_EQ(log.count("launch result=succeeded"), 1u);
    EXPECT_EQ(runtime->parentMonitor().liveParent, host(900));

    // Timers and the termination observation hold the runtime weakly.
    workspace->end(host(900));
    ASSERT_TRUE(runtime->hasRetry());
    std::weak_ptr<Runtime> weak = runtime;
    runtime.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_EQ(workspace->observerCount(), 0u);
    loop->advance(10.0);
    workspace->notifyTermination(host(900));
    EXPECT_EQ(workspace->openRequests.size(), 1u);
}

TEST(QuorvelLauncherRuntime, ProductionWiringRunsWithItsCollaboratorsAsTheyAre) {
    // The shipped collaborators are wired in; with no host bundle at all the runtime still runs.
    LogCapture log;
    TemporaryDirectory dir;
    auto loop = std::make_shared<ManualMainLoop>();
    auto workspace = std::make_shared<FakeWorkspace>();
    auto runtime = QuorvelLauncherRuntime::create(
        loop, workspace, [] {}, FileURL{(dir / "X.app/Contents/Library/LoginItems/L.app").string()},
        FileURL{(dir / "maintenance.stop").string()});
    EXPECT_EQ(runtime->parentURL(), FileURL{(dir / "X.app").string()});
    EXPECT_FALSE(runtime->parentExecutableURL());
    ASSERT_TRUE(runtime->run());
    EXPECT_EQ(workspace->openRequests.size(), 1u);
    workspace->dropPendingOpens();
}

} // namespace
} // namespace quorvel
