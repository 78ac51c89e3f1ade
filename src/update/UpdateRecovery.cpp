#include "update/UpdateRecovery.h"

namespace quorvel {

std::optional<UpdateRecoveryPaths> UpdateRecoveryPaths::production(const FileURL&) { return std::nullopt; }

std::string UpdateRecoveryOutcome::description() const { return "idle"; }

std::shared_ptr<UpdateRecoveryHost> makeSystemUpdateRecoveryHost() { return std::make_shared<UpdateRecoveryHost>(); }

UpdateRecovery::UpdateRecovery(UpdateRecoveryPaths paths, std::shared_ptr<UpdateRecoveryHost> host)
    : paths_(std::move(paths)), host_(std::move(host)) {}

UpdateRecoveryOutcome UpdateRecovery::recover(TimePoint) const { return {}; }

} // namespace quorvel
