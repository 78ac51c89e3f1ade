#pragma once

#include "idp/CredentialsStorage.h"
#include "idp/URLSession.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// What native identity uses of the platform. One instance serves the process-wide identity owner;
// tests replace it as a whole.
class IdentityPlatform {
public:
    virtual ~IdentityPlatform() = default;

    // Hands the URL to the desktop's default handler for its scheme (the default browser for an
    // https URL); true when it was handed over. Main thread.
    virtual bool openURL(const std::string& url) = 0;
    // The host app's own setting naming the browser redirect; nothing when it is absent or not a
    // string. Any thread.
    virtual std::optional<std::string> browserCallbackSetting() = 0;
    // The session the identity provider client sends its requests through.
    virtual std::shared_ptr<idp::URLSession> urlSession() = 0;
    // The credential store for a keychain service.
    virtual std::shared_ptr<idp::CredentialsStorage>
    credentialStore(const std::string& service) = 0;
    // Seconds on a clock that keeps counting while the machine sleeps. Any thread.
    virtual double continuousTime() = 0;
};

// The platform of this system: on Linux, GIO's default handler for URLs, the Info.plist of the
// host app's own bundle, the shared libcurl session, the Secret Service and the main loop's
// continuous clock (CLOCK_BOOTTIME).
std::shared_ptr<IdentityPlatform> makeSystemIdentityPlatform();

} // namespace quorvel
