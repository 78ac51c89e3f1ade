// The proof files as several processes see them at once: claims that exactly one process wins,
// appends that lose and tear nothing, and writers killed at any moment.

#include "base/Json.h"
#include "proof/LauncherProofLeaseStore.h"
#include "proof/LauncherProofWitness.h"
#include "proof/LauncherRelaunchAttestation.h"
#include "proof/SystemLauncherProofFileSystem.h"
#include "support/TemporaryDirectory.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorvel {
namespace {

using test::TemporaryDirectory;

FileURL urlOf(const std::filesystem::path& path) {
    return FileURL::fromPath(path.string());
}

// Children wait on a pipe that the parent closes, so that they all start at the same moment.
class StartLine {
public:
    StartLine() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
    ~StartLine() {
        closeEnd(0);
        closeEnd(1);
    }
    void waitInChild() {
        closeEnd(1);
        char byte;
        while (::read(fds_[0], &byte, 1) < 0 && errno == EINTR) {
        }
    }
    void release() { closeEnd(1); }

private:
    void closeEnd(int end) {
        if (fds_[end] >= 0)
            ::close(fds_[end]);
        fds_[end] = -1;
    }
    int fds_[2] = {-1, -1};
};

// Runs body in a forked child that ends with body's result and never returns into the test.
pid_t forkChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(ProofAcrossProcesses, ExactlyOneOfSeveralLaunchersClaimsALease) {
    TemporaryDirectory directory;
    auto leasePath = directory / "com.quorvel.desktop" / "launcher-proof-lease.json";
    std::string executable = directory.string() + "/Quorvel.app/Contents/MacOS/Quorvel";
    constexpr int claimants = 6;

    for (int round = 0; round < 15; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::filesystem::create_directories(leasePath.parent_path());
        TimePoint now = Clock::now();
        const std::string runId = "concurrent-claims-" + std::to_string(round);
        test::writeFileText(
            leasePath, Json{{"schemaVersion", 3},
                            {"proofRunId", runId},
                            {"attestationLogPath", directory.string() + "/attestation.jsonl"},
                            {"snapshotLogPath", directory.string() + "/snapshot.jsonl"},
                            {"executablePath", executable},
                            {"appPid", 777},
                            {"issuedAt", formatInternetDateTime(now - std::chrono::seconds(5))},
                            {"expiresAt", formatInternetDateTime(now + std::chrono::seconds(300))}}
                           .dump());

        // Every claimant stays alive until all have tried, as launchers do: a claim whose holder
        // has died is abandoned and goes back to the lease path for the others.
        StartLine start, finish;
        int tried[2];
        ASSERT_EQ(::pipe2(tried, O_CLOEXEC), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < claimants; ++i) {
            children.push_back(forkChild([&] {
                ::close(tried[0]);
                start.waitInChild();
                LauncherProofLeaseStore store{urlOf(leasePath),
                                              std::make_shared<SystemLauncherProofFileSystem>()};
                auto active =
                    store.claimActiveLease(Clock::now(), 777, FileURL::fromPath(executable));
                [[maybe_unused]] auto signalled = ::write(tried[1], "t", 1);
                finish.waitInChild();
                return active && active->lease.proofRunId == runId ? 0 : 1;
            }));
        }
        ::close(tried[1]);
        start.release();
        char byte;
        for (int i = 0; i < claimants; ++i)
            ASSERT_EQ(::read(tried[0], &byte, 1), 1);
        ::close(tried[0]);
        finish.release();
        std::map<int, int> outcomes;
        for (pid_t child : children)
            ++outcomes[exitStatus(child)];
        EXPECT_EQ(outcomes, (std::map<int, int>{{0, 1}, {1, claimants - 1}}));
        EXPECT_FALSE(std::filesystem::exists(leasePath));
        std::filesystem::remove_all(leasePath.parent_path());
    }
}

TEST(ProofAcrossProcesses, ConcurrentAppendsLoseAndTearNoLine) {
    TemporaryDirectory directory;
    auto log = directory / "attestation.jsonl";
    constexpr int writers = 5;
    constexpr int linesPerWriter = 30;

    StartLine start;
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        children.push_back(forkChild([&, writer] {
            start.waitInChild();
            SystemLauncherProofFileSystem files;
            for (int n = 0; n < linesPerWriter; ++n) {
                Json record = {{"writer", writer}, {"n", n}, {"padding", std::string(200, 'p')}};
                if (!files.append(bytesOf(record.dump() + "\n"), urlOf(log)))
                    return 1;
            }
            return 0;
        }));
    }
    start.release();

    // Meanwhile, a reader that takes no lock must only ever see whole lines.
    std::size_t readings = 0;
    bool torn = false;
    for (int i = 0; i < 200; ++i) {
        std::string text = readAll(log);
        ++readings;
        if (!text.empty() && text.back() != '\n')
            torn = true;
        for (const auto& line : linesOf(text)) {
            if (!parseJson(line))
                torn = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (pid_t child : children)
        EXPECT_EQ(exitStatus(child), 0);
    EXPECT_FALSE(torn);
    EXPECT_GT(readings, 0u);

    std::vector<int> next(writers, 0);
    auto lines = linesOf(readAll(log));
    ASSERT_EQ(lines.size(), std::size_t{writers * linesPerWriter});
    for (const auto& line : lines) {
        auto record = parseJson(line);
        ASSERT_TRUE(record) << line;
        int writer = (*record)["writer"].get<int>();
        // Each writer's lines appear once each and in its own order.
        EXPECT_EQ((*record)["n"].get<int>(), next[static_cast<std::size_t>(writer)]++);
    }
}

TEST(ProofAcrossProcesses, WriterKilledAtAnyMomentNeverLeavesATornLine) {
    TemporaryDirectory directory;
    auto log = directory / "attestation.jsonl";
    // A log of some size widens the window in which a kill lands inside a replacement.
    std::string preamble;
    while (preamble.size() < 512 * 1024)
        preamble += "{\"preamble\":\"" + std::string(100, 'x') + "\"}\n";
    test::writeFileText(log, preamble);

    std::random_device device;
    const unsigned seed = device();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 40000);

    std::size_t previousLines = linesOf(preamble).size();
    std::size_t killedWhileWriting = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int ready[2];
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
        pid_t child = forkChild([&] {
            ::close(ready[0]);
            SystemLauncherProofFileSystem files;
            LauncherRelaunchAttestation attestation;
            attestation.proofRunId = "kill-" + std::to_string(round);
            attestation.executableSha256 = std::string(64, 'a');
            attestation.observedAt = "2026-01-31T12:00:00.000Z";
            [[maybe_unused]] auto signalled = ::write(ready[1], "r", 1);
            for (std::int32_t n = 1;; ++n) {
                attestation.killedPid = n;
                attestation.replacementPid = n + 1;
                attestation.launcherPid = ::getpid();
                if (!files.append(bytesOf(*attestation.jsonLine()), urlOf(log)))
                    return 1;
            }
        });
        ::close(ready[1]);
        char byte;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = exitStatus(child);
        if (status == 128 + SIGKILL)
            ++killedWhileWriting;

        std::string text = readAll(log);
        ASSERT_FALSE(text.empty());
        ASSERT_EQ(text.back(), '\n') << "torn final line";
        auto lines = linesOf(text);
        ASSERT_GE(lines.size(), previousLines) << "lines were lost";
        for (std::size_t i = linesOf(preamble).size(); i < lines.size(); ++i) {
            ASSERT_TRUE(LauncherRelaunchAttestation::decode(lines[i]))
                << "partial line: " << lines[i];
        }
        previousLines = lines.size();
    }
    EXPECT_EQ(killedWhileWriting, 40u);

    // A writer killed while holding the lock released it with its death: appends go on, and
    // staged files left by killed writers never shadow the log.
    SystemLauncherProofFileSystem files;
    ASSERT_TRUE(files.append(bytesOf("{\"after\":true}\n"), urlOf(log)));
    EXPECT_EQ(linesOf(readAll(log)).back(), "{\"after\":true}");
}

TEST(ProofAcrossProcesses, AWitnessKilledAtAnyMomentNeitherLosesNorReusesItsLease) {
    TemporaryDirectory directory;
    auto leasePath = directory / "com.quorvel.desktop" / "launcher-proof-lease.json";
    auto log = directory / "attestation.jsonl";
    auto executable = directory / "Quorvel.app/Contents/MacOS/Quorvel";
    std::filesystem::create_directories(executable.parent_path());
    test::writeFileText(executable, "host app");
    // A log of some size widens the window between claim and attestation.
    std::string preamble;
    while (preamble.size() < 256 * 1024)
        preamble += "{\"preamble\":\"" + std::string(100, 'x') + "\"}\n";
    test::writeFileText(log, preamble);
    LauncherProofLeaseStore store{urlOf(leasePath),
                                  std::make_shared<SystemLauncherProofFileSystem>()};
    auto writeLease = [&](const std::string& runId) {
        TimePoint now = Clock::now();
        std::filesystem::create_directories(leasePath.parent_path());
        test::writeFileText(
            leasePath, Json{{"schemaVersion", 3},
                            {"proofRunId", runId},
                            {"attestationLogPath", log.string()},
                            {"snapshotLogPath", directory.string() + "/snapshot.jsonl"},
                            {"executablePath", executable.string()},
                            {"appPid", 777},
                            {"issuedAt", formatInternetDateTime(now - std::chrono::seconds(5))},
                            {"expiresAt", formatInternetDateTime(now + std::chrono::seconds(300))}}
                           .dump());
    };
    auto claimedFiles = [&] {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(leasePath.parent_path()))
            n += entry.path().filename().string().find(".claimed.") != std::string::npos;
        return n;
    };
    auto attestationsOf = [&](const std::string& runId) {
        std::size_t n = 0;
        for (const auto& line : linesOf(readAll(log))) {
            auto attestation = LauncherRelaunchAttestation::decode(line);
            n += attestation && attestation->proofRunId == runId;
        }
        return n;
    };

    // A claim held by a live process in another launcher is left alone; once that process is
    // gone, the lease comes back.
    writeLease("held");
    int ready[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    StartLine end;
    pid_t holder = forkChild([&] {
        ::close(ready[0]);
        auto claim = store.claimActiveLease(Clock::now(), 777, urlOf(executable));
        [[maybe_unused]] auto signalled = ::write(ready[1], claim ? "c" : "n", 1);
        end.waitInChild();
        return 0;
    });
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(byte, 'c');
    store.recoverAbandonedClaims(Clock::now());
    EXPECT_EQ(claimedFiles(), 1u);
    EXPECT_FALSE(std::filesystem::exists(leasePath));
    ::kill(holder, SIGKILL);
    exitStatus(holder);
    store.recoverAbandonedClaims(Clock::now());
    EXPECT_EQ(claimedFiles(), 0u);
    EXPECT_TRUE(std::filesystem::exists(leasePath));

    // A witness killed at a random moment of claiming and attesting: after the recovery that the
    // next launcher's start runs, the lease is either back at its path, unattested, or gone with
    // exactly one line.
    std::random_device device;
    const unsigned seed = device();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 8000);
    std::map<std::string, int> seen;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string runId = "kill-" + std::to_string(round);
        writeLease(runId);
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
        pid_t child = forkChild([&] {
            ::close(ready[0]);
            LauncherProofWitness witness;
            witness.store = store;
            [[maybe_unused]] auto signalled = ::write(ready[1], "r", 1);
            auto claim = witness.claimAutomaticRelaunch(777, urlOf(executable));
            if (!claim)
                return 1;
            return witness.recordAutomaticRelaunch(777, 778, urlOf(executable), *claim) ? 0 : 2;
        });
        ::close(ready[1]);
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = exitStatus(child);
        ASSERT_TRUE(status == 0 || status == 128 + SIGKILL) << status;
        const bool heldWhenKilled = claimedFiles() > 0;

        store.recoverAbandonedClaims(Clock::now());
        EXPECT_EQ(claimedFiles(), 0u);
        const std::size_t lines = attestationsOf(runId);
        const bool leaseBack = std::filesystem::exists(leasePath);
        ASSERT_LE(lines, 1u) << "a lease was used twice";
        ASSERT_NE(leaseBack, lines == 1) << "a lease was lost, or kept after its attestation";
        ++seen[status == 0 ? "completed"
               : heldWhenKilled
                   ? (lines ? "killed after the append" : "killed holding the claim")
                   : (lines ? "killed after the deletion" : "killed before the claim")];
        std::filesystem::remove(leasePath);
    }
    std::ostringstream outcomes;
    for (const auto& [outcome, n] : seen)
        outcomes << outcome << ": " << n << "; ";
    std::cout << "[ outcomes ] " << outcomes.str() << "\n";
}

} // namespace
} // namespace quorvel
