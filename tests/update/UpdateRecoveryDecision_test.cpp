#include "update/UpdateRecoveryDecision.h"
#include "update/UpdateRecoveryOutcome.h"

#include <gtest/gtest.h>
#include <initializer_list>

namespace quorvel {
namespace {

const UpdateRecoveryPaths paths{
    FileURL::fromPath("/Apps/Quorvel.app"),
    FileURL::fromPath("/home/u/.local/share/com.quorvel.desktop/updates")};
const std::string updates = paths.updatesDirectory.path;

UpdateReceipt receipt(UpdateReceiptState state, std::string snapshot) {
    UpdateReceipt r;
    r.fromVersion = "1.4.0";
    r.toVersion = "1.5.0";
    r.artifactSha256 = "abc";
    r.snapshotPath = std::move(snapshot);
    r.state = state;
    r.writtenAt = "2026-12-05T14:50:00Z";
    return r;
}

TEST(UpdateRecoveryPaths, RemovableUpdateFileRule) {
    auto removable = [](const UpdateRecoveryPaths& in, const std::string& path) {
        return in.isRemovableUpdateFile(FileURL::fromPath(path));
    };
    for (const char* inside : {"/snapshot.tar.gz", "/./snapshot.tar.gz", "/sub/../snapshot.tar.gz"})
        EXPECT_TRUE(removable(paths, updates + inside)) << inside;
    // Outside the folder, in a subfolder, recordings (also as a way through), the receipt, the
    // hold marker, the folder itself or above it, relative paths.
    for (const std::string& refused : std::initializer_list<std::string>{
             "/tmp/snapshot.tar.gz", updates + "/sub/snapshot.tar.gz", updates + "/recordings",
             updates + "/recordings/../snapshot.zip", updates + "/receipt.json",
             updates + "/QUORVEL_UPDATE_HOLD", updates + "/..", updates + "/x/..", updates + "/.",
             updates, std::string(), std::string("snapshot.tar.gz")}) {
        EXPECT_FALSE(removable(paths, refused)) << refused;
    }
    // The updates directory itself must be named "updates" and lie below no "recordings".
    const auto bundle = paths.applicationBundle;
    EXPECT_FALSE(removable({bundle, FileURL::fromPath("/home/u/downloads")},
                           "/home/u/downloads/snapshot.tar.gz"));
    EXPECT_FALSE(
        removable({bundle, FileURL::fromPath("/recordings/updates")}, "/recordings/updates/s.zip"));
    EXPECT_TRUE(
        removable({bundle, FileURL::fromPath(updates + "/x/../")}, updates + "/snapshot.tar.gz"));
}

TEST(UpdateRecoveryPaths, StagedArtifact) {
    auto r = receipt(UpdateReceiptState::installed, "");
    EXPECT_EQ(paths.stagedArtifact(r).path, updates + "/Quorvel_1.5.0.app.tar.gz");
    r.artifactPath = "";
    EXPECT_EQ(paths.stagedArtifact(r).path, updates + "/Quorvel_1.5.0.app.tar.gz");
    r.artifactPath = "/etc/passwd";
    EXPECT_EQ(paths.stagedArtifact(r).path, updates + "/Quorvel_1.5.0.app.tar.gz");
    r.artifactPath = updates + "/sub/../download.bin";
    EXPECT_EQ(paths.stagedArtifact(r).path, updates + "/download.bin");
}

TEST(UpdateRecoveryDecision, RecordedSnapshot) {
    using UpdateRecoveryDecision::recordedSnapshot;
    EXPECT_FALSE(recordedSnapshot(receipt(UpdateReceiptState::installing, ""), paths));
    EXPECT_EQ(
        recordedSnapshot(receipt(UpdateReceiptState::installing, updates + "//snap.zip"), paths),
        FileURL::fromPath(updates + "/snap.zip"));
    for (const std::string& outside :
         {std::string("/tmp/snap.zip"), updates + "/old/snap.zip", updates + "/recordings",
          updates + "/receipt.json", updates + "/.."}) {
        EXPECT_FALSE(recordedSnapshot(receipt(UpdateReceiptState::installing, outside), paths))
            << outside;
    }
}

TEST(UpdateRecoveryDecision, TableRowByRow) {
    using enum UpdateBundleCondition;
    using UpdateRecoveryDecision::action;
    const std::string snap = updates + "/snap.zip";
    const FileURL snapURL = FileURL::fromPath(snap);
    const FileURL artifact = FileURL::fromPath(updates + "/Quorvel_1.5.0.app.tar.gz");
    const auto allStates = {UpdateReceiptState::installing, UpdateReceiptState::installed,
                            UpdateReceiptState::failed, UpdateReceiptState::rolledBack,
                            UpdateReceiptState::cleaned};

    // none | verified -> none
    EXPECT_EQ(action(std::nullopt, verified, paths), UpdateRecoveryAction::none());
    // none | missing or unverified -> unrecoverable, no version
    EXPECT_EQ(action(std::nullopt, missing, paths),
              UpdateRecoveryAction::unrecoverable(std::nullopt));
    EXPECT_EQ(action(std::nullopt, unverified, paths),
              UpdateRecoveryAction::unrecoverable(std::nullopt));
    // present | verified | installed | yes -> clean
    EXPECT_EQ(action(receipt(UpdateReceiptState::installed, snap), verified, paths),
              UpdateRecoveryAction::clean(snapURL, artifact));
    // present | verified | installed | no -> none (also for a snapshot that fails the rule)
    EXPECT_EQ(action(receipt(UpdateReceiptState::installed, ""), verified, paths),
              UpdateRecoveryAction::none());
    EXPECT_EQ(action(receipt(UpdateReceiptState::installed, "/tmp/snap.zip"), verified, paths),
              UpdateRecoveryAction::none());
    // present | verified | failed, rolled-back, cleaned | any -> none
    for (auto state : {UpdateReceiptState::failed, UpdateReceiptState::rolledBack,
                       UpdateReceiptState::cleaned}) {
        EXPECT_EQ(action(receipt(state, snap), verified, paths), UpdateRecoveryAction::none());
        EXPECT_EQ(action(receipt(state, ""), verified, paths), UpdateRecoveryAction::none());
    }
    // present | verified | installing | yes -> restore, died_mid_install
    EXPECT_EQ(
        action(receipt(UpdateReceiptState::installing, snap), verified, paths),
        UpdateRecoveryAction::restore(snapURL, "1.5.0", UpdateRollbackReason::diedMidInstall));
    for (auto state : allStates) {
        // present | missing | any | yes -> restore, bundle_missing
        EXPECT_EQ(
            action(receipt(state, snap), missing, paths),
            UpdateRecoveryAction::restore(snapURL, "1.5.0", UpdateRollbackReason::bundleMissing));
        // present | unverified | any | yes -> restore, bundle_unverified
        EXPECT_EQ(action(receipt(state, snap), unverified, paths),
                  UpdateRecoveryAction::restore(snapURL, "1.5.0",
                                                UpdateRollbackReason::bundleUnverified));
        // present | missing or unverified | any | no -> unrecoverable with toVersion
        EXPECT_EQ(action(receipt(state, ""), missing, paths),
                  UpdateRecoveryAction::unrecoverable("1.5.0"));
        EXPECT_EQ(action(receipt(state, updates + "/receipt.json"), unverified, paths),
                  UpdateRecoveryAction::unrecoverable("1.5.0"));
    }
    // present | verified and installing | no -> unrecoverable with toVersion
    EXPECT_EQ(action(receipt(UpdateReceiptState::installing, ""), verified, paths),
              UpdateRecoveryAction::unrecoverable("1.5.0"));
}

TEST(UpdateRecoveryOutcome, TextualForm) {
    using O = UpdateRecoveryOutcome;
    EXPECT_EQ(O{}, O::idle());
    for (const auto& [outcome, text] : std::vector<std::pair<O, std::string>>{
             {O::idle(), "idle"},
             {O::cleaned(), "cleaned"},
             {O::unrecoverable(), "unrecoverable"},
             {O::rolledBack("2.0.1", UpdateRollbackReason::bundleMissing),
              "rolledBack(version: \"2.0.1\", reason: bundle_missing)"},
             {O::rolledBack("2.0.1", UpdateRollbackReason::diedMidInstall),
              "rolledBack(version: \"2.0.1\", reason: died_mid_install)"},
             {O::rollbackFailed("2.0.1"), "rollbackFailed(version: \"2.0.1\")"},
             // The version is outside input: it cannot break the quoting or the line.
             {O::rollbackFailed("1\"\\\n\x01"), "rollbackFailed(version: \"1\\\"\\\\\\n\\u{1}\")"},
         }) {
        EXPECT_EQ(outcome.description(), text);
    }
}

} // namespace
} // namespace quorvel
