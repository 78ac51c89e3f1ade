#pragma once

#include "update/UpdateBundleCondition.h"
#include "update/UpdateReceipt.h"
#include "update/UpdateRecoveryAction.h"
#include "update/UpdateRecoveryPaths.h"

#include <optional>

namespace quorvel {

// The pure rules of update recovery: what to do given the receipt and the bundle's health.
// Nothing here touches a file.
namespace UpdateRecoveryDecision {

// The receipt's snapshot archive, standardised, when it names one that passes the
// removable-update-file rule; nothing for "" or any other path.
std::optional<FileURL> recordedSnapshot(const UpdateReceipt& receipt,
                                        const UpdateRecoveryPaths& paths);

// No receipt: nothing to do for a verified bundle, else unrecoverable without a version.
// A verified bundle whose receipt is not "installing": clean after "installed" with a snapshot,
// else nothing. Otherwise (missing, unverified, or verified but still "installing"): restore from
// the snapshot with the matching reason, or unrecoverable naming the receipt's version.
UpdateRecoveryAction action(const std::optional<UpdateReceipt>& receipt,
                            UpdateBundleCondition condition, const UpdateRecoveryPaths& paths);

} // namespace UpdateRecoveryDecision

} // namespace quorvel
