#include "base/MainLoop.h"
#include "identity/IdentityConfiguration.h"
#include "identity/IdentityPlatform.h"
#include "idp/KeychainStore.h"
#include "platform/BundleInfo.h"

#include <gio/gio.h>

namespace quorvel {

namespace {

class SystemIdentityPlatform final : public IdentityPlatform {
public:
    bool openURL(const std::string& url) override {
        // What xdg-open would pick: the default application of x-scheme-handler/<scheme>. Native
        // identity logs nothing but its hop lines, so the reason of a failure is not kept.
        GError* error = nullptr;
        gboolean opened = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
        if (error)
            g_error_free(error);
        return opened;
    }

    std::optional<std::string> browserCallbackSetting() override {
        auto bundle = readBundle(mainBundleURL());
        if (!bundle)
            return std::nullopt;
        return bundle->string(identity::browserCallbackSettingKey);
    }

    std::shared_ptr<idp::URLSession> urlSession() override { return idp::URLSession::shared(); }

    std::shared_ptr<idp::CredentialsStorage> credentialStore(const std::string& service) override {
        idp::KeychainStore::Options options;
        options.accessGroup = std::nullopt;
        options.accessibility = idp::KeychainAccessibility::whenUnlockedThisDeviceOnly;
        options.synchronizable = false;
        return std::make_shared<idp::KeychainStore>(service, options);
    }

    // The main loop's continuous clock: CLOCK_BOOTTIME on Linux.
    double continuousTime() override { return MainLoop::shared().continuousTime(); }
};

} // namespace

std::shared_ptr<IdentityPlatform> makeSystemIdentityPlatform() {
    return std::make_shared<SystemIdentityPlatform>();
}

} // namespace quorvel
