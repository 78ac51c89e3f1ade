#include "identity/IdentityHop.h"

#include "base/Logger.h"
#include "base/MainLoop.h"

namespace quorvel {

void identityHop(std::string_view label) {
    static const Logger logger("com.quorvel.desktop", "NativeIdentity");
    logger.info("identity_sign_in_hop hop=%{public}s main=%{bool,public}d",
                {label, MainLoop::shared().isMainThread()});
}

} // namespace quorvel
