#include "launcher/QuorvelLauncherRuntime.h"

namespace quorvel {

std::optional<LauncherProofWitness> LauncherRuntimeCollaborators::productionWitness() {
    return LauncherProofWitness::production();
}

std::optional<UpdateRecovery>
LauncherRuntimeCollaborators::productionRecovery(const FileURL& parentURL) {
    auto paths = UpdateRecoveryPaths::production(parentURL);
    if (!paths)
        return std::nullopt;
    return UpdateRecovery(std::move(*paths), makeSystemUpdateRecoveryHost());
}

std::optional<UpdateReceiptState>
LauncherRuntimeCollaborators::decodeReceiptState(const Bytes& data) {
    auto receipt = UpdateReceipt::decode(data);
    if (!receipt)
        return std::nullopt;
    return receipt->state;
}

template class BasicQuorvelLauncherRuntime<LauncherRuntimeCollaborators>;

} // namespace quorvel
