#include "update/UpdateRecoveryDecision.h"

namespace quorvel::UpdateRecoveryDecision {

std::optional<FileURL> recordedSnapshot(const UpdateReceipt& receipt,
                                        const UpdateRecoveryPaths& paths) {
    if (receipt.snapshotPath.empty())
        return std::nullopt;
    FileURL snapshot = FileURL::fromPath(receipt.snapshotPath);
    if (!paths.isRemovableUpdateFile(snapshot))
        return std::nullopt;
    return snapshot.standardized();
}

UpdateRecoveryAction action(const std::optional<UpdateReceipt>& receipt,
                            UpdateBundleCondition condition, const UpdateRecoveryPaths& paths) {
    if (!receipt) {
        return condition == UpdateBundleCondition::verified
                   ? UpdateRecoveryAction::none()
                   : UpdateRecoveryAction::unrecoverable(std::nullopt);
    }
    auto snapshot = recordedSnapshot(*receipt, paths);
    if (condition == UpdateBundleCondition::verified &&
        receipt->state != UpdateReceiptState::installing) {
        if (receipt->state == UpdateReceiptState::installed && snapshot) {
            return UpdateRecoveryAction::clean(*snapshot, paths.stagedArtifact(*receipt));
        }
        return UpdateRecoveryAction::none();
    }
    if (!snapshot)
        return UpdateRecoveryAction::unrecoverable(receipt->toVersion);
    UpdateRollbackReason reason = UpdateRollbackReason::diedMidInstall;
    if (condition == UpdateBundleCondition::missing)
        reason = UpdateRollbackReason::bundleMissing;
    if (condition == UpdateBundleCondition::unverified)
        reason = UpdateRollbackReason::bundleUnverified;
    return UpdateRecoveryAction::restore(*snapshot, receipt->toVersion, reason);
}

} // namespace quorvel::UpdateRecoveryDecision
