#include "UpdateFixtures.h"
#include "base/InternetDateTime.h"
#include "base/Json.h"
#include "support/LogCapture.h"
#include "update/SystemUpdateRecoveryHost.h"
#include "update/UpdateCommand.h"
#include "update/UpdateRecovery.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

// The launcher's world on disk: an applications folder with the bundle, the updates folder with a
// snapshot archive of the previous version, and the real host with the test's own key.
struct RealRecovery : ::testing::Test {
    TemporaryDirectory dir;
    TestKey key{dir.path()};
    fs::path applications = dir / "Applications";
    fs::path updates = dir / "data/com.quorvel.desktop/updates";
    fs::path bundle = applications / "Quorvel.app";
    fs::path snapshot = updates / "Quorvel-1.4.0.tar.gz";
    std::shared_ptr<SystemUpdateRecoveryHost> host =
        std::make_shared<SystemUpdateRecoveryHost>(hostOptions(&key));
    UpdateRecovery recovery{UpdateRecoveryPaths{FileURL::fromPath(bundle.string()),
                                                FileURL::fromPath(updates.string())},
                            host};
    LogCapture log;
    TimePoint now = *parseInternetDateTime("2026-12-05T14:52:07.118Z");

    void SetUp() override {
        fs::create_directories(applications);
        fs::create_directories(updates);
        // The previous version, signed, kept as the snapshot.
        TemporaryDirectory previous;
        ASSERT_EQ(sign(makeBundle(previous.path(), "1.4.0"), key), 0);
        makeArchive(snapshot, previous.path(), {"Quorvel.app"});
        // The new version, installed and signed.
        ASSERT_EQ(sign(makeBundle(applications, "1.5.0"), key), 0);
    }

    void writeReceipt(const std::string& state) {
        writeFileText(
            updates / "receipt.json",
            R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"abc",)"
            R"("snapshot_path":")" +
                snapshot.string() + R"(","state":")" + state +
                R"(","written_at":"2026-12-05T14:50:00Z","channel":"beta"})");
    }
    std::string installedVersion() { return readFileText(bundle / "Contents/MacOS/Quorvel"); }
};

TEST_F(RealRecovery, AHealthyBundleIsLeftAloneAndABrokenOneRolledBack) {
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::idle());
    EXPECT_EQ(listing(applications), std::vector<std::string>{"Quorvel.app"});
    EXPECT_EQ(listing(updates), std::vector<std::string>{"Quorvel-1.4.0.tar.gz"});
    EXPECT_TRUE(log.messages().empty());

    writeReceipt("installed");
    writeFileText(bundle / "Contents/MacOS/Quorvel", "half-written");

    EXPECT_EQ(recovery.recover(now),
              UpdateRecoveryOutcome::rolledBack("1.5.0", UpdateRollbackReason::bundleUnverified));

    EXPECT_EQ(installedVersion(), "#!/bin/sh\necho 1.4.0\n");
    EXPECT_EQ(verify(bundle, key), 0);
    EXPECT_TRUE(fs::is_symlink(bundle / "Contents/Frameworks/libQuorvelShellBridge.so"));
    EXPECT_EQ(readFileText(updates / "QUORVEL_UPDATE_HOLD"), "1.5.0\n");
    auto receipt = UpdateReceipt::decode(bytesOf(readFileText(updates / "receipt.json")));
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->state, UpdateReceiptState::rolledBack);
    EXPECT_EQ(receipt->rolledBackAt, "2026-12-05T14:52:07.118Z");
    EXPECT_EQ(receipt->rollbackReason, "bundle_unverified");
    EXPECT_EQ(readFileText(updates / "receipt.json").find("channel"), std::string::npos);
    // No hidden scratch or set-aside folder beside the bundle, no staged file in the updates
    // folder.
    EXPECT_EQ(listing(applications), std::vector<std::string>{"Quorvel.app"});
    EXPECT_EQ(listing(updates), (std::vector<std::string>{"QUORVEL_UPDATE_HOLD",
                                                          "Quorvel-1.4.0.tar.gz", "receipt.json"}));
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"hold action=written",
                                        "restore result=succeeded reason=bundle_unverified"}));

    // Afterwards the bundle is healthy and the receipt says rolled-back: nothing more to do.
    log.clear();
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::idle());
}

TEST_F(RealRecovery, EveryBrokenStartingPointIsRolledBack) {
    struct Start {
        const char* name;
        const char* state;
        std::function<void()> arrange;
        UpdateRollbackReason reason;
    };
    const std::vector<Start> starts = {
        {"died mid-install", "installing", [] {}, UpdateRollbackReason::diedMidInstall},
        {"missing", "failed", [&] { fs::remove_all(bundle); }, UpdateRollbackReason::bundleMissing},
        // A path that names nothing could not take the restored bundle: the rename onto it would
        // fail on every launch. The link is something to set aside instead.
        {"dangling link", "installed",
         [&] {
             fs::remove_all(bundle);
             fs::create_directory_symlink(applications / "Gone.app", bundle);
         },
         UpdateRollbackReason::bundleUnverified},
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(start.name);
        fs::remove_all(bundle);
        ASSERT_EQ(sign(makeBundle(applications, "1.5.0"), key), 0);
        writeReceipt(start.state);
        start.arrange();
        EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::rolledBack("1.5.0", start.reason));
        EXPECT_FALSE(fs::is_symlink(bundle));
        EXPECT_EQ(installedVersion(), "#!/bin/sh\necho 1.4.0\n");
        EXPECT_EQ(verify(bundle, key), 0);
        EXPECT_EQ(listing(applications), std::vector<std::string>{"Quorvel.app"});
    }
}

TEST_F(RealRecovery, FailedRollbacksLeaveTheBundleAndNoScratch) {
    writeReceipt("installed");
    writeFileText(bundle / "Contents/Resources/injected", "x");
    std::string brokenManifest = readFileText(bundle / "Contents/QuorvelSignature/manifest");

    struct Snapshot {
        const char* name;
        std::function<void()> make;
        const char* line;
    };
    const std::vector<Snapshot> snapshots = {
        {"two entries",
         [&] {
             TemporaryDirectory folder;
             ASSERT_EQ(sign(makeBundle(folder.path(), "1.4.0"), key), 0);
             writeFileText(folder / "README", "x");
             makeArchive(snapshot, folder.path(), {"Quorvel.app", "README"});
         },
         "restore result=failed reason=archive"},
        {"wrong name",
         [&] {
             TemporaryDirectory folder;
             ASSERT_EQ(sign(makeBundle(folder.path(), "1.4.0", "Other.app"), key), 0);
             makeArchive(snapshot, folder.path(), {"Other.app"});
         },
         "restore result=failed reason=archive"},
        {"not an archive", [&] { writeFileText(snapshot, "not an archive"); },
         "restore result=failed reason=archive"},
        {"gone", [&] { fs::remove(snapshot); }, "restore result=failed reason=archive"},
        {"inflates far beyond the bundle",
         [&] {
             TemporaryDirectory folder;
             fs::path bundleCopy = makeBundle(folder.path(), "1.4.0");
             writeFileText(bundleCopy / "Contents/Resources/zeros", std::string(24 << 20, '\0'));
             ASSERT_EQ(sign(bundleCopy, key), 0);
             makeArchive(snapshot, folder.path(), {"Quorvel.app"});
         },
         "restore result=failed reason=archive"},
        {"unsigned snapshot",
         [&] {
             TemporaryDirectory folder;
             makeBundle(folder.path(), "1.4.0");
             makeArchive(snapshot, folder.path(), {"Quorvel.app"});
         },
         "restore result=failed reason=snapshot_unverified"},
    };
    for (const auto& bad : snapshots) {
        SCOPED_TRACE(bad.name);
        bad.make();
        log.clear();
        EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::rollbackFailed("1.5.0"));
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"hold action=written", bad.line}));
        EXPECT_EQ(listing(applications), std::vector<std::string>{"Quorvel.app"});
        EXPECT_EQ(readFileText(bundle / "Contents/Resources/injected"), "x");
        EXPECT_EQ(readFileText(bundle / "Contents/QuorvelSignature/manifest"), brokenManifest);
        EXPECT_EQ(UpdateReceipt::decode(bytesOf(readFileText(updates / "receipt.json")))->state,
                  UpdateReceiptState::installed);
        EXPECT_EQ(readFileText(updates / "QUORVEL_UPDATE_HOLD"), "1.5.0\n");
    }
}

TEST_F(RealRecovery, CleanupAfterAGoodInstall) {
    writeReceipt("installed");
    writeFileText(updates / "Quorvel_1.5.0.app.tar.gz", "artifact");
    writeFileText(updates / "recordings/take1.mov", "precious");
    writeFileText(dir / "elsewhere.bin", "keep");

    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::cleaned());
    EXPECT_EQ(listing(updates), (std::vector<std::string>{"receipt.json", "recordings"}));
    EXPECT_EQ(readFileText(updates / "recordings/take1.mov"), "precious");
    EXPECT_EQ(UpdateReceipt::decode(bytesOf(readFileText(updates / "receipt.json")))->state,
              UpdateReceiptState::cleaned);
    EXPECT_EQ(installedVersion(), "#!/bin/sh\necho 1.5.0\n");
    EXPECT_EQ(log.messages(), std::vector<std::string>{"cleanup result=succeeded"});
}

TEST(UpdateCommand, ExitStatusStartFailureAndLimit) {
    using namespace std::chrono_literals;
    EXPECT_TRUE(runUpdateCommand(FileURL::fromPath("/bin/true"), {}, 10s).succeeded());
    EXPECT_EQ(runUpdateCommand(FileURL::fromPath("/bin/sh"), {"-c", "exit 3"}, 10s),
              (UpdateCommandResult{UpdateCommandResult::Status::exited, 3}));
    EXPECT_EQ(runUpdateCommand(FileURL::fromPath("/no/such/tool"), {}, 10s).status,
              UpdateCommandResult::Status::failedToStart);
    EXPECT_EQ(runUpdateCommand(FileURL::fromPath("true"), {}, 10s).status,
              UpdateCommandResult::Status::failedToStart);
    // Output goes nowhere: a command that writes a lot does not block on a full pipe.
    EXPECT_TRUE(
        runUpdateCommand(FileURL::fromPath("/bin/sh"), {"-c", "head -c 10000000 /dev/zero"}, 30s)
            .succeeded());

    // Our own code in a child: its result is the exit status, a throw is 125, a crash 128 + the
    // signal, a hang is ended at the limit; nothing it allocates stays with the caller.
    using Status = UpdateCommandResult::Status;
    EXPECT_EQ(runInChildProcess([] { return 0; }, 10s), (UpdateCommandResult{Status::exited, 0}));
    EXPECT_EQ(runInChildProcess([] { return 7; }, 10s), (UpdateCommandResult{Status::exited, 7}));
    EXPECT_EQ(runInChildProcess([]() -> int { throw std::runtime_error("no"); }, 10s),
              (UpdateCommandResult{Status::exited, 125}));
    EXPECT_EQ(runInChildProcess(
                  [] {
                      std::raise(SIGKILL);
                      return 0;
                  },
                  10s),
              (UpdateCommandResult{Status::exited, 128 + SIGKILL}));
    EXPECT_EQ(runInChildProcess(
                  [] {
                      ::pause();
                      return 0;
                  },
                  300ms),
              (UpdateCommandResult{Status::timedOut, -1}));
    static std::string* kept = nullptr;
    EXPECT_TRUE(runInChildProcess(
                    [] {
                        kept = new std::string(1 << 20, 'x');
                        return 0;
                    },
                    10s)
                    .succeeded());
    EXPECT_EQ(kept, nullptr);
}

TEST(UpdateCommand, CommandsEndAtTheirLimitAndWithTheirCaller) {
    TemporaryDirectory dir;
    fs::path pids = dir / "pids";
    // Ignores SIGTERM and starts a helper of its own; both must be gone after the limit.
    writeFileText(dir / "slow", "#!/bin/sh\ntrap '' TERM\nsleep 300 &\necho $$ $! > " +
                                    pids.string() + "\nwait\n");
    fs::permissions(dir / "slow", fs::perms::owner_all);
    auto slow = FileURL::fromPath((dir / "slow").string());
    auto ended = [](pid_t pid) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!processEnded(pid) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return processEnded(pid);
    };
    auto readPids = [&] {
        pid_t script = 0, helper = 0;
        std::istringstream(readFileText(pids)) >> script >> helper;
        return std::pair{script, helper};
    };

    EXPECT_EQ(runUpdateCommand(slow, {}, std::chrono::milliseconds(500)).status,
              UpdateCommandResult::Status::timedOut);
    auto [script, helper] = readPids();
    ASSERT_GT(script, 0);
    ASSERT_GT(helper, 0);
    EXPECT_TRUE(ended(script));
    EXPECT_TRUE(ended(helper));

    // A caller killed outright (SIGKILL, no chance to clean up) takes its command with it.
    fs::remove(pids);
    pid_t caller = ::fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        runUpdateCommand(slow, {}, std::chrono::seconds(300));
        ::_exit(0);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (readFileText(pids).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::tie(script, helper) = readPids();
    ASSERT_GT(script, 0);
    ::kill(caller, SIGKILL);
    ::waitpid(caller, nullptr, 0);
    EXPECT_TRUE(ended(script));

    // Output read line by line; the reader may stop the command early.
    std::vector<std::string> lines;
    EXPECT_TRUE(runUpdateCommand(FileURL::fromPath("/bin/sh"), {"-c", "printf 'a\\nb\\nc'"},
                                 std::chrono::seconds(10),
                                 [&](std::string_view line) {
                                     lines.emplace_back(line);
                                     return true;
                                 })
                    .succeeded());
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(runUpdateCommand(FileURL::fromPath("/bin/sh"), {"-c", "yes"},
                               std::chrono::seconds(10), [](std::string_view) { return false; })
                  .status,
              UpdateCommandResult::Status::stopped);

    // The extraction tool is bounded the same way; the archive then counts as corrupt.
    writeFileText(dir / "slow-tar", "#!/bin/sh\nexec sleep 300\n");
    fs::permissions(dir / "slow-tar", fs::perms::owner_all);
    auto options = hostOptions(nullptr, std::chrono::milliseconds(300));
    options.archiveTool = FileURL::fromPath((dir / "slow-tar").string());
    SystemUpdateRecoveryHost hanging{options};
    fs::create_directory(dir / "scratch");
    auto result = hanging.extractArchive(FileURL::fromPath((dir / "a.tar").string()),
                                         FileURL::fromPath((dir / "scratch").string()), 1 << 30);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, UpdateRecoveryHostError::Kind::corruptArchive);
}

TEST_F(RealRecovery, StaleSiblingsThatNoRecoveryHoldsAreRemovedFirst) {
    const std::string uuid = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";
    writeFileText(applications / (".Quorvel.app.restore." + uuid) / "Quorvel.app/Contents/x", "x");
    writeFileText(applications / (".Quorvel.app.failed." + uuid) / "Contents/x", "x");
    fs::create_symlink("nowhere", applications / (".Quorvel.app.failed.1" + uuid.substr(1)));
    // Held by a running recovery (its lock), or not ours: left alone.
    const std::string held = ".Quorvel.app.restore.F" + uuid.substr(1);
    fs::create_directory(applications / held);
    int lock = ::open((applications / held).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    for (const char* other : {".Quorvel.app.restore.not-a-uuid",
                              ".Other.app.failed.0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9",
                              ".Quorvel.app.staged.0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9"})
        fs::create_directory(applications / other);

    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::idle());
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "leftover action=removed name=.Quorvel.app.failed." + uuid,
                  "leftover action=removed name=.Quorvel.app.failed.1" + uuid.substr(1),
                  "leftover action=removed name=.Quorvel.app.restore." + uuid}));
    EXPECT_EQ(listing(applications),
              (std::vector<std::string>{".Other.app.failed." + uuid, held,
                                        ".Quorvel.app.restore.not-a-uuid",
                                        ".Quorvel.app.staged." + uuid, "Quorvel.app"}));
    ::close(lock);
}

TEST(SystemUpdateRecoveryHostFiles, WriteReadMoveRemoveAndScratch) {
    TemporaryDirectory dir;
    SystemUpdateRecoveryHost host;
    auto url = [&](const std::string& relative) {
        return FileURL::fromPath((dir / relative).string());
    };

    // Writes create missing parents and replace atomically, leaving no staged file behind.
    ASSERT_TRUE(host.write(bytesOf("one"), url("a/b/updates/receipt.json")));
    ASSERT_TRUE(host.write(bytesOf("two"), url("a/b/updates/receipt.json")));
    EXPECT_EQ(readFileText(dir / "a/b/updates/receipt.json"), "two");
    EXPECT_EQ(listing(dir / "a/b/updates"), std::vector<std::string>{"receipt.json"});
    writeFileText(dir / "blocker", "x");
    EXPECT_FALSE(host.write(bytesOf("x"), url("blocker/receipt.json")));

    // Reads are bounded and never hang on a FIFO.
    EXPECT_EQ(host.readFile(url("a/b/updates/receipt.json"), 100), bytesOf("two"));
    EXPECT_FALSE(host.readFile(url("a/b/updates/receipt.json"), 2));
    EXPECT_FALSE(host.readFile(url("absent"), 100));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(host.readFile(url("fifo"), 100));

    // Moves never replace an existing destination.
    writeFileText(dir / "src/file", "s");
    writeFileText(dir / "dst/file", "d");
    EXPECT_FALSE(host.moveItem(url("src"), url("dst")));
    fs::remove(dir / "dst/file");
    EXPECT_FALSE(host.moveItem(url("src"), url("dst"))); // an empty folder is still in the way
    EXPECT_EQ(readFileText(dir / "src/file"), "s");
    ASSERT_TRUE(host.moveItem(url("src"), url("moved")));
    EXPECT_EQ(readFileText(dir / "moved/file"), "s");

    // Scratch folders: hidden, named after the bundle, never creating missing parents.
    auto scratch = host.makeScratchDirectory(url("Quorvel.app"));
    ASSERT_TRUE(scratch);
    EXPECT_TRUE(fs::is_directory(scratch->path));
    std::string name = scratch->lastPathComponent();
    EXPECT_EQ(name.rfind(".Quorvel.app.restore.", 0), 0u);
    EXPECT_EQ(name.size(), std::string(".Quorvel.app.restore.").size() + 36);
    // Locked while this recovery holds it, so that no other recovery takes it for a leftover.
    int other = ::open(scratch->path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    host.removeItem(*scratch);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    EXPECT_FALSE(host.makeScratchDirectory(url("missing/Quorvel.app")));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    // Removal takes whole trees, read-only folders included, and never follows a link.
    writeFileText(dir / "keep/precious", "p");
    writeFileText(dir / "tree/ro/file", "x");
    fs::create_directory_symlink(dir / "keep", dir / "tree/link");
    fs::permissions(dir / "tree/ro", fs::perms::owner_read | fs::perms::owner_exec);
    host.removeItem(url("tree"));
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_EQ(readFileText(dir / "keep/precious"), "p");
    host.removeItem(url("absent")); // swallowed
}

TEST(SystemUpdateRecoveryHostFiles, ExtractionListsVisibleTopLevelEntries) {
    TemporaryDirectory dir;
    writeFileText(dir / "src/Quorvel.app/Contents/Info.plist", "x");
    writeFileText(dir / "src/._Quorvel.app", "metadata");
    makeArchive(dir / "snap.zip", dir / "src", {"Quorvel.app", "._Quorvel.app"});
    fs::create_directory(dir / "scratch");
    SystemUpdateRecoveryHost host;
    auto entries = host.extractArchive(FileURL::fromPath((dir / "snap.zip").string()),
                                       FileURL::fromPath((dir / "scratch").string()), 1 << 20);
    ASSERT_TRUE(entries);
    EXPECT_EQ(*entries,
              std::vector<FileURL>{FileURL::fromPath((dir / "scratch/Quorvel.app").string())});

    // Entries that would land outside the folder are refused by the extractor.
    writeFileText(dir / "evil-src/x", "x");
    ASSERT_EQ(runCommand({"bsdtar", "-c", "-f", (dir / "evil.tar").string(), "-C",
                          (dir / "evil-src").string(), "-s", ",^,../,", "x"})
                  .status,
              0);
    fs::create_directory(dir / "scratch2");
    host.extractArchive(FileURL::fromPath((dir / "evil.tar").string()),
                        FileURL::fromPath((dir / "scratch2").string()), 1 << 20);
    EXPECT_FALSE(fs::exists(dir / "x"));

    // Entries that add up to more than the limit are refused before anything is written.
    fs::create_directory(dir / "scratch3");
    auto refused = host.extractArchive(FileURL::fromPath((dir / "snap.zip").string()),
                                       FileURL::fromPath((dir / "scratch3").string()), 4096);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, UpdateRecoveryHostError::Kind::corruptArchive);
    EXPECT_EQ(listing(dir / "scratch3"), std::vector<std::string>{});
}

} // namespace
} // namespace quorvel::test
