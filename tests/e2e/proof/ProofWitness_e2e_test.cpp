// The proof witness as a test harness meets it: the built launcher inside a laid-out bundle signed
// with this build's development key, a temporary HOME, the demo host as the host app. The harness
// asks the running host app for a proof lease (SIGUSR1 with QUORVEL_DEMO_PROOF_LOG set), kills
// it, and reads the attestation log. The launcher logs to standard error (QUORVEL_LOG=stderr),
// and the host apps it opens write their lines to the same file.

#include "base/InternetDateTime.h"
#include "base/Json.h"
#include "proof/LauncherRelaunchAttestation.h"
#include "support/ChildProcess.h"
#include "support/HostBundle.h"
#include "support/LauncherRun.h"
#include "support/TemporaryDirectory.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;
using test::TemporaryDirectory;
using test::waitUntil;

// Bounds that only end a hung test: a relaunch waits 2 s, and each launch checks the bundle's
// signature first.
constexpr double startBound = 60.0;

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items())
        keys.insert(key);
    return keys;
}

class ProofWitnessEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        auto key = test::trustedDevelopmentKey();
        if (!key)
            GTEST_SKIP() << "this build trusts a key whose private half is not in the build folder";
        // Paths as the kernel reports them: the lease must name the executable exactly so.
        base = fs::canonical(root.path());
        home = base / "home";
        dataHome = home / ".local/share";
        support = dataHome / "com.quorvel.desktop";
        lease = support / "launcher-proof-lease.json";
        proofDir = base / "proof";
        attestationLog = proofDir / "attestation.jsonl";
        logFile = base / "launcher.log";
        fs::create_directories(dataHome);
        bundle = test::makeHostBundle(base / "Applications", {"--sign", key->string()});
        hostExe = fs::canonical(test::hostExecutable(bundle));
    }

    ~ProofWitnessEndToEnd() override { test::endLauncherRun(launcher, root.path()); }

    void startLauncher(std::map<std::string, std::string> environment = {}) {
        launcher = test::startLauncher(bundle, home, dataHome, logFile, std::move(environment));
    }
    void startLauncherWithProofLog() {
        startLauncher({{"QUORVEL_DEMO_PROOF_LOG", attestationLog.string()}});
    }

    std::vector<pid_t> hosts() const { return test::processesRunning(hostExe); }

    std::vector<std::string> launcherLines() const { return test::launcherRecords(logFile); }
    std::size_t count(const std::string& message) const {
        auto lines = launcherLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), message));
    }
    std::string allOutput() const { return test::readFileText(logFile); }
    bool printed(const std::string& text) const {
        return allOutput().find(text) != std::string::npos;
    }

    // Claimed or staged copies of the lease lying hidden beside it.
    std::vector<std::string> hiddenLeaseCopies() const {
        std::vector<std::string> names;
        if (!fs::exists(support))
            return names;
        for (const auto& entry : fs::directory_iterator(support)) {
            std::string name = entry.path().filename();
            if (name.starts_with(".launcher-proof-lease.json."))
                names.push_back(name);
        }
        return names;
    }

    // The host app the launcher started, once its launch was logged.
    pid_t firstHost() {
        EXPECT_TRUE(
            waitUntil([&] { return hosts().size() == 1 && count("launch result=succeeded") == 1; },
                      startBound))
            << allOutput();
        auto running = hosts();
        return running.empty() ? -1 : running[0];
    }

    // SIGKILLs the host app and waits for the launcher's replacement to be up and logged.
    pid_t killAndAwaitReplacement(pid_t killed) {
        ::kill(killed, SIGKILL);
        EXPECT_TRUE(waitUntil(
            [&] {
                auto now = hosts();
                return now.size() == 1 && now[0] != killed && count("launch result=succeeded") == 2;
            },
            startBound))
            << allOutput();
        auto running = hosts();
        return running.empty() ? -1 : running[0];
    }

    // Asks the host app for a lease of its own and returns the lease's bytes.
    std::string requestLease(pid_t host) {
        std::string prefix = "proof-lease armed pid=" + std::to_string(host) + " ";
        EXPECT_TRUE(waitUntil([&] { return printed(prefix); })) << allOutput();
        ::kill(host, SIGUSR1);
        std::string written = "proof-lease written pid=" + std::to_string(host) + " ";
        EXPECT_TRUE(waitUntil([&] { return printed(written); })) << allOutput();
        return fs::exists(lease) ? test::readFileText(lease) : std::string{};
    }

    std::string sha256sum(const fs::path& file) const {
        auto result = test::runCommand({"sha256sum", file.string()});
        EXPECT_EQ(result.status, 0) << result.output;
        return result.output.substr(0, result.output.find(' '));
    }

    TemporaryDirectory root;
    fs::path base, home, dataHome, support, lease, proofDir, attestationLog, logFile, bundle,
        hostExe;
    std::unique_ptr<ChildProcess> launcher;
};

TEST_F(ProofWitnessEndToEnd, AKilledHostAppThatLeftALeaseIsAttestedOnceAndTheLeaseIsUsedUp) {
    startLauncherWithProofLog();
    pid_t first = firstHost();
    ASSERT_GT(first, 0);

    // The lease the host app wrote for itself.
    std::string leaseText = requestLease(first);
    auto leaseJson = parseJson(leaseText);
    ASSERT_TRUE(leaseJson && leaseJson->is_object()) << leaseText;
    EXPECT_EQ(
        keysOf(*leaseJson),
        (std::set<std::string>{"appPid", "attestationLogPath", "executablePath", "expiresAt",
                               "issuedAt", "proofRunId", "schemaVersion", "snapshotLogPath"}));
    EXPECT_EQ((*leaseJson)["schemaVersion"], 3);
    EXPECT_EQ((*leaseJson)["appPid"], first);
    EXPECT_EQ((*leaseJson)["executablePath"], hostExe.string());
    EXPECT_EQ((*leaseJson)["attestationLogPath"], attestationLog.string());
    EXPECT_NE((*leaseJson)["snapshotLogPath"], attestationLog.string());
    auto issuedAt = parseInternetDateTime((*leaseJson)["issuedAt"].get<std::string>(),
                                          FractionalSeconds::rejected);
    auto expiresAt = parseInternetDateTime((*leaseJson)["expiresAt"].get<std::string>(),
                                           FractionalSeconds::rejected);
    ASSERT_TRUE(issuedAt && expiresAt) << leaseText;
    EXPECT_LE(*issuedAt, Clock::now());
    EXPECT_GT(*expiresAt, Clock::now());
    EXPECT_LE(secondsBetween(*issuedAt, *expiresAt), 360.0);
    EXPECT_TRUE(fs::exists(support / "launcher-proof-lease.json.lock"));
    std::string runId = (*leaseJson)["proofRunId"].get<std::string>();

    auto killedAt = std::chrono::floor<std::chrono::milliseconds>(Clock::now());
    pid_t second = killAndAwaitReplacement(first);
    ASSERT_GT(second, 0);
    ASSERT_TRUE(waitUntil(
        [&] {
            return fs::exists(attestationLog) && !fs::exists(lease) && hiddenLeaseCopies().empty();
        },
        startBound))
        << allOutput();

    // Exactly one line, in its wire form: compact JSON with sorted keys and one line feed.
    std::string logText = test::readFileText(attestationLog);
    ASSERT_EQ(std::count(logText.begin(), logText.end(), '\n'), 1) << logText;
    ASSERT_TRUE(logText.ends_with('\n')) << logText;
    auto line = parseJson(std::string_view(logText).substr(0, logText.size() - 1));
    ASSERT_TRUE(line && line->is_object()) << logText;
    EXPECT_EQ(dumpCompact(*line) + "\n", logText);
    EXPECT_EQ(keysOf(*line),
              (std::set<std::string>{"event", "executableSha256", "killedPid", "launcherPid",
                                     "observedAt", "proofRunId", "replacementPid", "source"}));
    EXPECT_EQ((*line)["source"], "quorvel_launcher");
    EXPECT_EQ((*line)["event"], "automatic_relaunch");
    EXPECT_EQ((*line)["proofRunId"], runId);
    EXPECT_EQ((*line)["killedPid"], first);
    EXPECT_EQ((*line)["replacementPid"], second);
    EXPECT_EQ((*line)["launcherPid"], launcher->pid());
    EXPECT_EQ((*line)["executableSha256"], sha256sum(hostExe));
    std::string observedText = (*line)["observedAt"].get<std::string>();
    EXPECT_TRUE(
        std::regex_match(observedText, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << observedText;
    auto observedAt = parseInternetDateTime(observedText);
    ASSERT_TRUE(observedAt) << observedText;
    EXPECT_GE(*observedAt, killedAt);
    EXPECT_LE(*observedAt, Clock::now());

    EXPECT_EQ(count("proof_claim attempted=true claimed=true reason=claimed"), 1u) << allOutput();
    EXPECT_EQ(count("proof_claim attempted=true claimed=false reason=missing"), 0u);
    // Nothing of the append is left beside the log but its lock file.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(proofDir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"attestation.jsonl", "attestation.jsonl.lock"}));

    // The replacement inherited the request through the launcher's environment, but writes no
    // lease until it is asked.
    EXPECT_TRUE(printed("proof-lease armed pid=" + std::to_string(second) + " ")) << allOutput();
    EXPECT_FALSE(printed("proof-lease written pid=" + std::to_string(second) + " "));
    EXPECT_FALSE(fs::exists(lease));
    EXPECT_TRUE(launcher->running());
}

TEST_F(ProofWitnessEndToEnd, ALeaseAboutAnotherProcessStaysInPlaceByteForByte) {
    startLauncher();
    pid_t host = firstHost();
    ASSERT_GT(host, 0);

    // Valid leases in every respect but the process: one names the launcher; the other names the
    // host app that is about to be killed, but was issued before that process started, as if an
    // earlier process with the same pid had left it (it died while no launcher watched).
    struct Case {
        const char* name;
        bool reusedPid;
        const char* reason;
    };
    const Case cases[] = {{"another pid", false, "missing"}, {"a reused pid", true, "pid_reused"}};
    std::size_t launches = 1;
    auto leaseBefore = std::chrono::floor<std::chrono::seconds>(Clock::now());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // For the reused pid: issued a second before the previous kill, hence two before the
        // current host app even started.
        auto issuedAt = c.reusedPid ? leaseBefore - std::chrono::seconds(1)
                                    : std::chrono::floor<std::chrono::seconds>(Clock::now());
        Json foreign = {
            {"schemaVersion", 3},
            {"proofRunId", "foreign-run"},
            {"attestationLogPath", attestationLog.string()},
            {"snapshotLogPath", (proofDir / "snapshot.jsonl").string()},
            {"executablePath", hostExe.string()},
            {"appPid", c.reusedPid ? host : launcher->pid()},
            {"issuedAt", formatInternetDateTime(issuedAt)},
            {"expiresAt", formatInternetDateTime(issuedAt + std::chrono::seconds(300))}};
        // Pretty-printed, so that a rewrite by anyone would show.
        std::string leaseText = foreign.dump(2) + "\n";
        fs::create_directories(support);
        test::writeFileText(support / "lease.writing", leaseText);
        fs::rename(support / "lease.writing", lease);

        leaseBefore = std::chrono::floor<std::chrono::seconds>(Clock::now());
        ::kill(host, SIGKILL);
        ++launches;
        ASSERT_TRUE(waitUntil(
            [&] {
                auto now = hosts();
                return now.size() == 1 && now[0] != host &&
                       count("launch result=succeeded") == launches;
            },
            startBound))
            << allOutput();
        host = hosts()[0];
        EXPECT_EQ(count(std::string("proof_claim attempted=true claimed=false reason=") + c.reason),
                  1u)
            << allOutput();
        ASSERT_TRUE(fs::exists(lease));
        EXPECT_EQ(test::readFileText(lease), leaseText);
        EXPECT_TRUE(hiddenLeaseCopies().empty());
        fs::remove(lease);
    }
    EXPECT_EQ(count("proof_claim attempted=true claimed=true reason=claimed"), 0u);
    EXPECT_FALSE(fs::exists(attestationLog));
}

TEST_F(ProofWitnessEndToEnd, AnAttestationThatCannotBeAppendedGivesTheLeaseBack) {
    // A log whose last line was never finished: the launcher refuses to append to it.
    fs::create_directories(proofDir);
    const std::string unfinished = R"({"event":"harness_note","note":"unfinished")";
    test::writeFileText(attestationLog, unfinished);

    startLauncherWithProofLog();
    pid_t first = firstHost();
    ASSERT_GT(first, 0);
    std::string leaseText = requestLease(first);
    ASSERT_FALSE(leaseText.empty());

    pid_t second = killAndAwaitReplacement(first);
    ASSERT_GT(second, 0);
    EXPECT_EQ(count("proof_claim attempted=true claimed=true reason=claimed"), 1u) << allOutput();
    ASSERT_TRUE(
        waitUntil([&] { return fs::exists(lease) && hiddenLeaseCopies().empty(); }, startBound))
        << allOutput();
    EXPECT_EQ(test::readFileText(lease), leaseText);
    EXPECT_EQ(test::readFileText(attestationLog), unfinished);
    EXPECT_TRUE(launcher->running());
}

TEST_F(ProofWitnessEndToEnd, ALauncherKilledWhileHoldingAClaimIsFollowedByOneThatPutsTheLeaseBack) {
    startLauncherWithProofLog();
    pid_t first = firstHost();
    ASSERT_GT(first, 0);
    std::string leaseText = requestLease(first);
    ASSERT_FALSE(leaseText.empty());

    // The harness holds the log's lock: the launcher claims the lease, relaunches the host app
    // and then waits to append, holding the claim, until it is killed.
    fs::create_directories(proofDir);
    int logLock =
        ::open((attestationLog.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(logLock, 0);
    ASSERT_EQ(::flock(logLock, LOCK_EX), 0);
    pid_t second = killAndAwaitReplacement(first);
    ASSERT_GT(second, 0);
    EXPECT_EQ(count("proof_claim attempted=true claimed=true reason=claimed"), 1u) << allOutput();
    EXPECT_FALSE(fs::exists(lease));
    EXPECT_EQ(hiddenLeaseCopies().size(), 1u);
    launcher->signal(SIGKILL);
    ASSERT_TRUE(launcher->wait(10.0));
    ::close(logLock);

    // The next launcher adopts the running host app and gives the abandoned lease back first.
    startLauncherWithProofLog();
    ASSERT_TRUE(waitUntil([&] { return count("launch action=skipped reason=parent_running") == 1; },
                          startBound))
        << allOutput();
    EXPECT_EQ(count("proof_claim stale=restored"), 1u) << allOutput();
    ASSERT_TRUE(fs::exists(lease));
    EXPECT_EQ(test::readFileText(lease), leaseText);
    EXPECT_TRUE(hiddenLeaseCopies().empty());
    EXPECT_FALSE(fs::exists(attestationLog));
    EXPECT_EQ(hosts(), std::vector<pid_t>{second});
}

TEST_F(ProofWitnessEndToEnd, AnAttestationInAFolderThatCannotBeSyncedStandsAndUsesTheLeaseUp) {
    // A log folder the launcher may write but not read: the rename of the log succeeds, the sync
    // of the folder cannot even open it. As root, the launcher runs without the capabilities
    // that would let it read the folder anyway.
    fs::create_directories(proofDir);
    fs::permissions(proofDir, fs::perms(0333));
    std::map<std::string, std::string> environment{
        {"QUORVEL_DEMO_PROOF_LOG", attestationLog.string()}};
    if (::geteuid() == 0) {
        if (test::runCommand({"setpriv", "--version"}).status != 0)
            GTEST_SKIP() << "running as root without setpriv to drop the reading capabilities";
        ChildProcess::Options options;
        options.environment = environment;
        options.environment.insert({{"HOME", home.string()},
                                    {"XDG_DATA_HOME", dataHome.string()},
                                    {"QUORVEL_LOG", "stderr"}});
        options.outputFile = logFile.string();
        launcher = std::make_unique<ChildProcess>(
            std::vector<std::string>{"setpriv", "--bounding-set=-dac_override,-dac_read_search",
                                     test::launcherExecutable(bundle).string()},
            options);
    } else {
        startLauncher(environment);
    }
    pid_t first = firstHost();
    ASSERT_GT(first, 0);
    ASSERT_FALSE(requestLease(first).empty());
    pid_t second = killAndAwaitReplacement(first);
    ASSERT_GT(second, 0);
    ASSERT_TRUE(
        waitUntil([&] { return !fs::exists(lease) && hiddenLeaseCopies().empty(); }, startBound))
        << allOutput();
    fs::permissions(proofDir, fs::perms(0700));
    std::string logText = test::readFileText(attestationLog);
    EXPECT_EQ(std::count(logText.begin(), logText.end(), '\n'), 1) << logText;
    auto line = LauncherRelaunchAttestation::decode(logText.substr(0, logText.size() - 1));
    ASSERT_TRUE(line) << logText;
    EXPECT_EQ(line->killedPid, first);
    EXPECT_EQ(line->replacementPid, second);
    EXPECT_EQ(count("proof_file folder_sync=failed errno=13 folder=" + proofDir.string()), 1u)
        << allOutput();
    EXPECT_FALSE(fs::exists(lease));
}

} // namespace
} // namespace quorvel
