#include "update/UpdateRecoveryDecision.h"
#include "update/UpdateRecoveryOutcome.h"

#include <gtest/gtest.h>

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
    auto removable = [](const std::string& path) {
        return paths.isRemovableUpdateFile(FileURL::fromPath(path));
    };
    EXPECT_TRUE(removable(updates + "/snapshot.tar.gz"));
    EXPECT_TRUE(removable(updates + "/./snapshot.tar.gz"));
    EXPECT_TRUE(removable(updates + "/sub/../snapshot.tar.gz"));
    EXPECT_FALSE(removable("/tmp/snapshot.tar.gz"));                  // outside the updates folder
    EXPECT_FALSE(removable(updates + "/sub/snapshot.tar.gz"));        // in a subfolder
    EXPECT_FALSE(removable(updates + "/recordings"));                 // a recordings entry
    EXPECT_FALSE(removable(updates + "/recordings/../snapshot.zip")); // aimed through recordings
    EXPECT_FALSE(removable(updates + "/receipt.json"));
    EXPECT_FALSE(removable(updates + "/QUORVEL_UPDATE_HOLD"));
    EXPECT_FALSE(removable(updates + "/.."));
    EXPECT_FALSE(removable(updates + "/x/.."));
    EXPECT_FALSE(removable(updates + "/."));
    EXPECT_FALSE(removable(updates));
    EXPECT_FALSE(removable(""));
    EXPECT_FALSE(removable("snapshot.tar.gz")); // relative: not below the updates folder

    // The updates directory itself must be named "updates".
    UpdateRecoveryPaths elsewhere{paths.applicationBundle, FileURL::fromPath("/home/u/downloads")};
    EXPECT_FALSE(
        elsewhere.isRemovableUpdateFile(FileURL::fromPath("/home/u/downloads/snapshot.tar.gz")));
    UpdateRecoveryPaths unstandardized{paths.applicationBundle,
                                       FileURL::fromPath(updates + "/x/../")};
    EXPECT_TRUE(
        unstandardized.isRemovableUpdateFile(FileURL::fromPath(updates + "/snapshot.tar.gz")));
    // "recordings" anywhere in the path, even above the updates folder.
    UpdateRecoveryPaths underRecordings{paths.applicationBundle,
                                        FileURL::fromPath("/recordings/updates")};
    EXPECT_FALSE(
        underRecordings.isRemovableUpdateFile(FileURL::fromPath("/recordings/updates/s.zip")));
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
    EXPECT_EQ(UpdateRecoveryOutcome{}.description(), "idle");
    EXPECT_EQ(UpdateRecoveryOutcome::idle(), UpdateRecoveryOutcome{});
    EXPECT_EQ(UpdateRecoveryOutcome::cleaned().description(), "cleaned");
    EXPECT_EQ(UpdateRecoveryOutcome::unrecoverable().description(), "unrecoverable");
    EXPECT_EQ(UpdateRecoveryOutcome::rolledBack("2.0.1", UpdateRollbackReason::bundleMissing)
                  .description(),
              "rolledBack(version: \"2.0.1\", reason: bundle_missing)");
    EXPECT_EQ(UpdateRecoveryOutcome::rolledBack("2.0.1", UpdateRollbackReason::diedMidInstall)
                  .description(),
              "rolledBack(version: \"2.0.1\", reason: died_mid_install)");
    EXPECT_EQ(UpdateRecoveryOutcome::rollbackFailed("2.0.1").description(),
              "rollbackFailed(version: \"2.0.1\")");
    // The version is outside input: it cannot break the quoting or the line.
    EXPECT_EQ(UpdateRecoveryOutcome::rollbackFailed("1\"\\\n\x01").description(),
              "rollbackFailed(version: \"1\\\"\\\\\\n\\u{1}\")");
}

} // namespace
} // namespace quorvel
