#pragma once

#include <optional>
#include <string_view>

namespace quorvel {

// Why a rollback was made; its textual form is the string recorded in the receipt and logged.
enum class UpdateRollbackReason {
    diedMidInstall, // "died_mid_install": the receipt still says installing, the bundle is healthy
    bundleUnverified, // "bundle_unverified": the bundle exists but fails the signature check
    bundleMissing,    // "bundle_missing": nothing exists at the bundle's path
};

std::string_view toString(UpdateRollbackReason reason);
std::optional<UpdateRollbackReason> updateRollbackReasonFromString(std::string_view text);

} // namespace quorvel
