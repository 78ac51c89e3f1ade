#pragma once

#include "launcher/BasicQuorvelLauncherRuntime.h"
#include "proof/LauncherProofWitness.h"
#include "update/UpdateReceipt.h"
#include "update/UpdateRecovery.h"

namespace quorvel {

// The launcher runtime's collaborators as they ship: the relaunch witness over the production
// lease store, and update recovery for the host bundle with the system host.
struct LauncherRuntimeCollaborators {
    using Witness = LauncherProofWitness;
    using Claim = LauncherProofRelaunchClaim;
    using EventTracker = LauncherProofEventTracker;
    using Recovery = UpdateRecovery;

    static std::optional<Witness> productionWitness();
    // Present when the update folder for this host bundle can be named.
    static std::optional<Recovery> productionRecovery(const FileURL& parentURL);
    static std::optional<UpdateReceiptState> decodeReceiptState(const Bytes& data);
};

using QuorvelLauncherRuntime = BasicQuorvelLauncherRuntime<LauncherRuntimeCollaborators>;
extern template class BasicQuorvelLauncherRuntime<LauncherRuntimeCollaborators>;

} // namespace quorvel
