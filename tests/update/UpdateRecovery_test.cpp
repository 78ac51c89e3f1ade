#include "support/LogCapture.h"
#include "update/UpdateRecovery.h"

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>

namespace quorvel {
namespace {

using test::LogCapture;

const std::string parent = "/Apps";
const std::string bundlePath = "/Apps/Quorvel.app";
const std::string updates = "/data/com.quorvel.desktop/updates";
const std::string snapshot = updates + "/snapshot.tar.gz";
const std::string receiptPath = updates + "/receipt.json";
const std::string holdPath = updates + "/QUORVEL_UPDATE_HOLD";
const std::string scratchPath =
    parent + "/.Quorvel.app.restore.11111111-2222-3333-4444-555555555555";
const std::string candidatePath = scratchPath + "/Quorvel.app";

// Records every operation in order and answers from a script.
class RecordingHost : public UpdateRecoveryHost {
public:
    std::vector<std::string> calls;
    std::map<std::string, std::string> files;
    std::map<std::string, UpdateBundleCondition> conditions;
    bool scratchFails = false;
    std::optional<std::vector<std::string>> extracted = std::vector<std::string>{candidatePath};
    std::set<std::string> failingMoveSources;
    std::optional<UpdateRecoveryHostError::Kind> exchangeFails;
    std::vector<std::string> stale;
    std::map<std::string, std::uint64_t> usage;
    std::uint64_t extractionLimit = 0;
    std::set<std::string> failingWrites;
    std::map<std::string, std::string> written;

    std::optional<Bytes> readFile(const FileURL& file, std::size_t) override {
        calls.push_back("read " + file.path);
        auto found = files.find(file.path);
        if (found == files.end())
            return std::nullopt;
        return bytesOf(found->second);
    }
    UpdateBundleCondition condition(const FileURL& bundle) override {
        calls.push_back("condition " + bundle.path);
        auto found = conditions.find(bundle.path);
        return found == conditions.end() ? UpdateBundleCondition::missing : found->second;
    }
    UpdateRecoveryResult<FileURL> makeScratchDirectory(const FileURL& bundle) override {
        calls.push_back("scratch " + bundle.path);
        if (scratchFails)
            return unexpected(UpdateRecoveryHostError::fileSystem(EACCES, "scratch"));
        return FileURL::fromPath(scratchPath);
    }
    UpdateRecoveryResult<std::vector<FileURL>>
    extractArchive(const FileURL& archive, const FileURL& directory, std::uint64_t limit) override {
        calls.push_back("extract " + archive.path + " " + directory.path);
        extractionLimit = limit;
        if (!extracted) {
            return unexpected(UpdateRecoveryHostError{
                UpdateRecoveryHostError::Kind::corruptArchive, {}, "corrupt"});
        }
        std::vector<FileURL> entries;
        for (const auto& path : *extracted)
            entries.push_back(FileURL::fromPath(path));
        return entries;
    }
    UpdateRecoveryResult<void> moveItem(const FileURL& source,
                                        const FileURL& destination) override {
        calls.push_back("move " + source.path + " " + destination.path);
        if (failingMoveSources.count(source.path))
            return unexpected(UpdateRecoveryHostError::fileSystem(EIO, "move"));
        return {};
    }
    std::uint64_t diskUsage(const FileURL& item) override {
        auto found = usage.find(item.path);
        return found == usage.end() ? 0 : found->second;
    }
    UpdateRecoveryResult<void> exchangeItems(const FileURL& first, const FileURL& second) override {
        calls.push_back("exchange " + first.path + " " + second.path);
        if (exchangeFails)
            return unexpected(UpdateRecoveryHostError{*exchangeFails, {}, "exchange"});
        return {};
    }
    std::vector<FileURL> removeStaleSiblings(const FileURL& bundle) override {
        calls.push_back("sweep " + bundle.path);
        std::vector<FileURL> removed;
        for (const auto& name : stale)
            removed.push_back(FileURL::fromPath(parent + "/" + name));
        return removed;
    }
    void removeItem(const FileURL& item) override { calls.push_back("remove " + item.path); }
    UpdateRecoveryResult<void> write(const Bytes& bytes, const FileURL& file) override {
        calls.push_back("write " + file.path);
        if (failingWrites.count(file.path))
            return unexpected(UpdateRecoveryHostError::fileSystem(ENOSPC, "write"));
        written[file.path] = std::string(textOf(bytes));
        return {};
    }

    // The set-aside name of the call list, checked for its shape.
    std::string setAside() const {
        static const std::regex shape(
            "move /Apps/Quorvel.app (/Apps/\\.Quorvel\\.app\\.failed\\.[0-9A-F]{8}-[0-9A-F]{4}-"
            "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})");
        for (const auto& call : calls) {
            std::smatch match;
            if (std::regex_match(call, match, shape))
                return match[1];
        }
        return "";
    }
};

std::string receiptText(const std::string& state, const std::string& snapshotPath = snapshot,
                        const std::string& extra = "") {
    return R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"abc","snapshot_path":")" +
           snapshotPath + R"(","state":")" + state +
           R"(","written_at":"w","failure":"f","channel":"beta")" + extra + "}";
}

struct UpdateRecoveryEngine : ::testing::Test {
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
    UpdateRecovery recovery{
        UpdateRecoveryPaths{FileURL::fromPath(bundlePath), FileURL::fromPath(updates)}, host};
    LogCapture log;
    TimePoint now =
        Clock::from_time_t(1796482327) + std::chrono::milliseconds(118); // 2026-12-05T14:52:07.118Z

    std::vector<std::string> messages() const { return log.messages(); }
    std::vector<LogRecord> errors() const {
        std::vector<LogRecord> out;
        for (const auto& record : log.records()) {
            if (record.level == LogLevel::error)
                out.push_back(record);
        }
        return out;
    }
};

TEST_F(UpdateRecoveryEngine, NothingToDoTouchesNothingAndLogsNothing) {
    // No receipt, an unreadable one, or an installed one without a snapshot, beside a healthy
    // bundle.
    for (const std::optional<std::string>& receipt :
         {std::optional<std::string>(), std::optional(receiptText("paused")),
          std::optional<std::string>("{\"schema\":2}"),
          std::optional(receiptText("installed", ""))}) {
        auto h = std::make_shared<RecordingHost>();
        h->conditions[bundlePath] = UpdateBundleCondition::verified;
        if (receipt)
            h->files[receiptPath] = *receipt;
        EXPECT_EQ(UpdateRecovery(recovery.paths(), h).recover(now), UpdateRecoveryOutcome::idle());
        EXPECT_EQ(h->calls, (std::vector<std::string>{"sweep " + bundlePath, "read " + receiptPath,
                                                      "condition " + bundlePath}));
    }
    EXPECT_TRUE(messages().empty());

    // What killed recoveries left beside the bundle is removed first, one line each.
    host->conditions[bundlePath] = UpdateBundleCondition::verified;
    host->stale = {".Quorvel.app.failed.A", ".Quorvel.app.restore.B"};
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::idle());
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"leftover action=removed name=.Quorvel.app.failed.A",
                                        "leftover action=removed name=.Quorvel.app.restore.B"}));
}

TEST_F(UpdateRecoveryEngine, WithoutAUsableSnapshotTheBundleIsUnrecoverable) {
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::unrecoverable());
    EXPECT_TRUE(host->written.empty()); // no receipt: no version to hold
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_EQ(errors()[0], (LogRecord{"com.quorvel.desktop", "UpdateRecovery", LogLevel::error,
                                      "recovery result=unrecoverable reason=no_snapshot"}));

    log.clear();
    host->conditions[bundlePath] = UpdateBundleCondition::unverified;
    host->files[receiptPath] = receiptText("installed", "/tmp/snapshot.tar.gz");
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::unrecoverable());
    EXPECT_EQ(host->written, (std::map<std::string, std::string>{{holdPath, "1.5.0\n"}}));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"hold action=written",
                                        "recovery result=unrecoverable reason=no_snapshot"}));
}

TEST_F(UpdateRecoveryEngine, SuccessfulRollbackOfAHealthyBundleStillInstalling) {
    host->conditions[bundlePath] = UpdateBundleCondition::verified;
    host->conditions[candidatePath] = UpdateBundleCondition::verified;
    host->files[receiptPath] = receiptText("installing");
    host->usage = {{bundlePath, 300 << 20}, {snapshot, 100 << 20}};
    EXPECT_EQ(recovery.recover(now),
              UpdateRecoveryOutcome::rolledBack("1.5.0", UpdateRollbackReason::diedMidInstall));
    // One exchange, never a moment without a bundle; the swapped-out bundle is removed.
    EXPECT_EQ(
        host->calls,
        (std::vector<std::string>{
            "sweep " + bundlePath, "read " + receiptPath, "condition " + bundlePath,
            "write " + holdPath, "scratch " + bundlePath, "extract " + snapshot + " " + scratchPath,
            "condition " + candidatePath, "exchange " + candidatePath + " " + bundlePath,
            "remove " + candidatePath, "write " + receiptPath, "remove " + scratchPath}));
    EXPECT_EQ(host->extractionLimit, (300 << 20) * UpdateRecoveryLimits::extractedSizeFactor);
    EXPECT_EQ(host->written[holdPath], "1.5.0\n");
    EXPECT_EQ(
        host->written[receiptPath],
        R"({"artifact_sha256":"abc","failure":"f","from_version":"1.4.0","rollback_reason":"died_mid_install",)"
        R"("rolled_back_at":"2026-12-05T14:52:07.118Z","schema":1,"snapshot_path":")" +
            snapshot + R"(","state":"rolled-back","to_version":"1.5.0","written_at":"w"})");
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"hold action=written",
                                        "restore result=succeeded reason=died_mid_install"}));
    EXPECT_TRUE(errors().empty());
}

TEST_F(UpdateRecoveryEngine, AMissingBundleIsMovedInDirectlyWithoutSetAside) {
    host->conditions[candidatePath] = UpdateBundleCondition::verified;
    host->files[receiptPath] = receiptText("cleaned");
    EXPECT_EQ(recovery.recover(now),
              UpdateRecoveryOutcome::rolledBack("1.5.0", UpdateRollbackReason::bundleMissing));
    EXPECT_EQ(host->setAside(), "");
    EXPECT_EQ(std::count_if(host->calls.begin(), host->calls.end(),
                            [](const std::string& call) { return call.starts_with("move "); }),
              1);
    EXPECT_NE(std::find(host->calls.begin(), host->calls.end(),
                        "move " + candidatePath + " " + bundlePath),
              host->calls.end());
    EXPECT_NE(host->written[receiptPath].find("\"rollback_reason\":\"bundle_missing\""),
              std::string::npos);

    // The move in fails: nothing was set aside, so nothing is put back.
    auto failing = std::make_shared<RecordingHost>();
    failing->conditions[candidatePath] = UpdateBundleCondition::verified;
    failing->files[receiptPath] = receiptText("installing");
    failing->failingMoveSources.insert(candidatePath);
    log.clear();
    EXPECT_EQ(UpdateRecovery(recovery.paths(), failing).recover(now),
              UpdateRecoveryOutcome::rollbackFailed("1.5.0"));
    EXPECT_EQ(failing->setAside(), "");
    EXPECT_EQ(messages(), (std::vector<std::string>{"hold action=written",
                                                    "restore result=failed reason=move_in"}));
}

TEST_F(UpdateRecoveryEngine, FailingHoldOrReceiptWritesAreLoggedAndDoNotStopTheRollback) {
    for (const std::string& failingWrite : {holdPath, receiptPath}) {
        SCOPED_TRACE(failingWrite);
        auto h = std::make_shared<RecordingHost>();
        h->conditions[bundlePath] = UpdateBundleCondition::unverified;
        h->conditions[candidatePath] = UpdateBundleCondition::verified;
        h->files[receiptPath] = receiptText("failed");
        h->failingWrites.insert(failingWrite);
        log.clear();
        EXPECT_EQ(
            UpdateRecovery(recovery.paths(), h).recover(now),
            UpdateRecoveryOutcome::rolledBack("1.5.0", UpdateRollbackReason::bundleUnverified));
        bool holdFailed = failingWrite == holdPath;
        EXPECT_EQ(messages(), (std::vector<std::string>{
                                  holdFailed ? "hold action=failed" : "hold action=written",
                                  "restore result=succeeded reason=bundle_unverified"}));
        EXPECT_EQ(log.records()[0].level, holdFailed ? LogLevel::error : LogLevel::info);
    }
}

// Every failed step: the hold marker went out before the attempt, the receipt is never rewritten,
// one error line, the scratch directory is removed when it was made, and the outcome carries the
// receipt's version.
struct FailureCase {
    const char* name;
    std::function<void(RecordingHost&)> arrange;
    const char* line;
    bool scratchMade;
};

TEST_F(UpdateRecoveryEngine, EveryFailedRollbackStep) {
    const std::vector<FailureCase> cases = {
        {"scratch", [](RecordingHost& h) { h.scratchFails = true; },
         "restore result=failed reason=scratch", false},
        {"extraction", [](RecordingHost& h) { h.extracted.reset(); },
         "restore result=failed reason=archive", true},
        {"two entries",
         [](RecordingHost& h) {
             h.extracted = {{candidatePath, scratchPath + "/Other.app"}};
         },
         "restore result=failed reason=archive", true},
        {"no entry", [](RecordingHost& h) { h.extracted = std::vector<std::string>{}; },
         "restore result=failed reason=archive", true},
        {"wrong name", [](RecordingHost& h) { h.extracted = {{scratchPath + "/Quorvel 2.app"}}; },
         "restore result=failed reason=archive", true},
        {"snapshot unverified",
         [](RecordingHost& h) { h.conditions[candidatePath] = UpdateBundleCondition::unverified; },
         "restore result=failed reason=snapshot_unverified", true},
        {"exchange",
         [](RecordingHost& h) { h.exchangeFails = UpdateRecoveryHostError::Kind::fileSystem; },
         "restore result=failed reason=move_aside", true},
        // Where the file system cannot exchange, two renames do the swap.
        {"move aside",
         [](RecordingHost& h) {
             h.exchangeFails = UpdateRecoveryHostError::Kind::unsupported;
             h.failingMoveSources.insert(bundlePath);
         },
         "restore result=failed reason=move_aside", true},
        {"move in",
         [](RecordingHost& h) {
             h.exchangeFails = UpdateRecoveryHostError::Kind::unsupported;
             h.failingMoveSources.insert(candidatePath);
         },
         "restore result=failed reason=move_in", true},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.name);
        auto h = std::make_shared<RecordingHost>();
        h->conditions[bundlePath] = UpdateBundleCondition::unverified;
        h->conditions[candidatePath] = UpdateBundleCondition::verified;
        h->files[receiptPath] = receiptText("installing");
        failure.arrange(*h);
        UpdateRecovery engine(recovery.paths(), h);
        log.clear();

        EXPECT_EQ(engine.recover(now), UpdateRecoveryOutcome::rollbackFailed("1.5.0"));
        EXPECT_EQ(h->calls.at(3), "write " + holdPath);
        EXPECT_EQ(h->written, (std::map<std::string, std::string>{{holdPath, "1.5.0\n"}}));
        EXPECT_EQ(messages(), (std::vector<std::string>{"hold action=written", failure.line}));
        ASSERT_EQ(errors().size(), 1u);
        bool scratchRemoved =
            std::find(h->calls.begin(), h->calls.end(), "remove " + scratchPath) != h->calls.end();
        EXPECT_EQ(scratchRemoved, failure.scratchMade);
        EXPECT_EQ(h->calls.back().rfind("remove ", 0) == 0, failure.scratchMade);
        // Nothing but the scratch directory is ever removed when a rollback fails.
        for (const auto& call : h->calls) {
            if (call.rfind("remove ", 0) == 0) {
                EXPECT_EQ(call, "remove " + scratchPath);
            }
        }
        // A failed move in puts the broken bundle back from where it was set aside.
        if (std::string(failure.name) == "move in") {
            std::string aside = h->setAside();
            ASSERT_FALSE(aside.empty());
            EXPECT_EQ(std::vector<std::string>(h->calls.end() - 4, h->calls.end()),
                      (std::vector<std::string>{"move " + bundlePath + " " + aside,
                                                "move " + candidatePath + " " + bundlePath,
                                                "move " + aside + " " + bundlePath,
                                                "remove " + scratchPath}));
        }
    }
}

TEST_F(UpdateRecoveryEngine, CleanupDeletesRemovableLeftoversAndMarksTheReceipt) {
    host->conditions[bundlePath] = UpdateBundleCondition::verified;
    host->files[receiptPath] =
        receiptText("installed", snapshot, R"(,"artifact_path":"/tmp/evil.bin")");
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::cleaned());
    // An artifact path outside the updates directory is ignored; the default name goes instead.
    EXPECT_EQ(host->calls,
              (std::vector<std::string>{"sweep " + bundlePath, "read " + receiptPath,
                                        "condition " + bundlePath, "remove " + snapshot,
                                        "remove " + updates + "/Quorvel_1.5.0.app.tar.gz",
                                        "write " + receiptPath}));
    EXPECT_EQ(
        host->written[receiptPath],
        R"({"artifact_path":"/tmp/evil.bin","artifact_sha256":"abc","failure":"f","from_version":"1.4.0",)"
        R"("schema":1,"snapshot_path":")" +
            snapshot + R"(","state":"cleaned","to_version":"1.5.0","written_at":"w"})");
    EXPECT_EQ(messages(), (std::vector<std::string>{"cleanup result=succeeded"}));
}

TEST_F(UpdateRecoveryEngine, CleanupSkipsADefaultArtifactNameThatLeavesTheFolder) {
    host->conditions[bundlePath] = UpdateBundleCondition::verified;
    std::string text = receiptText("installed");
    text.replace(text.find("\"1.5.0\""), 7, "\"/../../x\"");
    host->files[receiptPath] = text;
    host->failingWrites.insert(receiptPath);
    EXPECT_EQ(recovery.recover(now), UpdateRecoveryOutcome::cleaned());
    EXPECT_EQ(host->calls,
              (std::vector<std::string>{"sweep " + bundlePath, "read " + receiptPath,
                                        "condition " + bundlePath, "remove " + snapshot,
                                        "write " + receiptPath}));
    EXPECT_EQ(messages(), (std::vector<std::string>{"cleanup result=succeeded"}));
}

} // namespace
} // namespace quorvel
