#pragma once

// The update recovery engine. Before the launcher starts the host app it reads the update receipt,
// checks the bundle on disk, and then rolls the bundle back from its snapshot archive, cleans up
// the leftovers of a good install, or does nothing. It also writes the hold marker that names a
// version whose install failed.

#include "base/InternetDateTime.h"
#include "base/Logger.h"
#include "update/UpdateBundleCondition.h"
#include "update/UpdateReceipt.h"
#include "update/UpdateRecoveryAction.h"
#include "update/UpdateRecoveryDecision.h"
#include "update/UpdateRecoveryHost.h"
#include "update/UpdateRecoveryLimits.h"
#include "update/UpdateRecoveryOutcome.h"
#include "update/UpdateRecoveryPaths.h"
#include "update/UpdateRollbackReason.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// The production host (see SystemUpdateRecoveryHost.h) with its default settings.
std::shared_ptr<UpdateRecoveryHost> makeSystemUpdateRecoveryHost();

// Subsystem "com.quorvel.desktop", category "UpdateRecovery".
const Logger& updateRecoveryLogger();

class UpdateRecovery {
public:
    UpdateRecovery(UpdateRecoveryPaths paths, std::shared_ptr<UpdateRecoveryHost> host);

    const UpdateRecoveryPaths& paths() const { return paths_; }
    const std::shared_ptr<UpdateRecoveryHost>& host() const { return host_; }

    // Runs synchronously on the caller's thread and blocks it for the signature check (and, for a
    // rollback, an extraction and a second check), each bounded by the command time limit. `now`
    // is used only as the rollback time written into the receipt. Never fails: every failure ends
    // in an outcome.
    UpdateRecoveryOutcome recover(TimePoint now) const;

private:
    std::optional<UpdateReceipt> readReceipt() const;
    void writeHoldMarker(const std::string& version) const;
    void writeReceipt(const UpdateReceipt& receipt) const;
    UpdateRecoveryOutcome restore(const UpdateRecoveryAction::Restore& action,
                                  const UpdateReceipt& receipt, UpdateBundleCondition condition,
                                  TimePoint now) const;
    // How much a snapshot may unpack to: a fixed multiple of the bundle it replaces.
    std::uint64_t extractionLimit(const FileURL& snapshot) const;
    UpdateRecoveryOutcome clean(const UpdateRecoveryAction::Clean& action,
                                const UpdateReceipt& receipt) const;

    UpdateRecoveryPaths paths_;
    std::shared_ptr<UpdateRecoveryHost> host_;
};

} // namespace quorvel
