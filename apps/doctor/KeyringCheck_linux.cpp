#include "BusCall_linux.h"
#include "DoctorCheck.h"

namespace quorvel::doctor {
namespace {
constexpr const char* secretsName = "org.freedesktop.secrets";
constexpr const char* servicePath = "/org/freedesktop/secrets";
} // namespace

// Asks the Secret Service only for what it tells without a prompt: which collection the
// "default" alias names and whether it is locked. Never opens a session, never unlocks.
void checkKeyring(DoctorChecks& out) {
    std::string error;
    GDBusConnection* bus = connectBus(G_BUS_TYPE_SESSION, error);
    if (!bus)
        return;
    DoctorCheck check{"secret service", Verdict::ok, "", ""};
    auto owner = nameOwner(bus, secretsName);
    if (!owner) {
        check.verdict = Verdict::problem;
        check.detail = "no Secret Service on the session bus: sign-in cannot keep its credentials";
        check.advice = "install and start a Secret Service keyring (for example gnome-keyring)";
        out.push_back(check);
        g_object_unref(bus);
        return;
    }
    check.detail = "provided by " + ownerDescription(bus, *owner);
    out.push_back(check);

    DoctorCheck collection{"default collection", Verdict::ok, "", ""};
    GVariant* reply = busCall(bus, secretsName, servicePath, "org.freedesktop.Secret.Service",
                              "ReadAlias", g_variant_new("(s)", "default"), "(o)", &error);
    const char* path = nullptr;
    if (reply)
        g_variant_get(reply, "(&o)", &path);
    if (!reply || !path || std::string(path) == "/") {
        collection.verdict = Verdict::problem;
        collection.detail =
            reply ? "no default collection" : "the service did not answer: " + error;
        collection.advice = "create a default keyring in the desktop's passwords tool";
    } else {
        GVariant* locked =
            busProperty(bus, secretsName, path, "org.freedesktop.Secret.Collection", "Locked");
        const bool isLocked = !locked || !g_variant_is_of_type(locked, G_VARIANT_TYPE_BOOLEAN) ||
                              g_variant_get_boolean(locked);
        collection.detail = std::string(path) + (isLocked ? " is locked" : " is unlocked");
        if (isLocked) {
            collection.verdict = Verdict::warning;
            collection.advice =
                "sign-in will ask to unlock it; unlock it at login to avoid the prompt";
        }
        if (locked)
            g_variant_unref(locked);
    }
    if (reply)
        g_variant_unref(reply);
    out.push_back(collection);
    g_object_unref(bus);
}

} // namespace quorvel::doctor
