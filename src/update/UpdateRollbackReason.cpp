#include "update/UpdateRollbackReason.h"

namespace quorvel {

std::string_view toString(UpdateRollbackReason reason) {
    switch (reason) {
    case UpdateRollbackReason::diedMidInstall:
        return "died_mid_install";
    case UpdateRollbackReason::bundleUnverified:
        return "bundle_unverified";
    case UpdateRollbackReason::bundleMissing:
        return "bundle_missing";
    }
    return "";
}

std::optional<UpdateRollbackReason> updateRollbackReasonFromString(std::string_view text) {
    for (auto reason :
         {UpdateRollbackReason::diedMidInstall, UpdateRollbackReason::bundleUnverified,
          UpdateRollbackReason::bundleMissing}) {
        if (toString(reason) == text)
            return reason;
    }
    return std::nullopt;
}

} // namespace quorvel
