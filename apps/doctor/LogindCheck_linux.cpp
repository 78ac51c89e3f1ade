#include "BusCall_linux.h"
#include "DoctorCheck.h"

#include <cstdlib>
#include <unistd.h>

namespace quorvel::doctor {
namespace {

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

std::string stringProperty(GDBusConnection* bus, const std::string& path, const char* name) {
    GVariant* value = busProperty(bus, logindName, path.c_str(), sessionInterface, name);
    std::string text = value && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)
                           ? g_variant_get_string(value, nullptr)
                           : "";
    if (value)
        g_variant_unref(value);
    return text;
}

// A path counts only when a session answers there: some loginds name a path for "auto" even
// when the caller is in no session.
std::string sessionPath(GDBusConnection* bus, const char* method, GVariant* argument) {
    GVariant* reply =
        busCall(bus, logindName, managerPath, managerInterface, method, argument, "(o)");
    if (!reply)
        return {};
    const char* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    std::string result = path;
    g_variant_unref(reply);
    return stringProperty(bus, result, "Id").empty() ? std::string() : result;
}

} // namespace

void checkLogind(DoctorChecks& out) {
    std::string error;
    GDBusConnection* bus = connectBus(G_BUS_TYPE_SYSTEM, error);
    auto owner = bus ? nameOwner(bus, logindName) : std::nullopt;
    if (!owner) {
        out.push_back({"logind", Verdict::warning,
                       bus ? "logind is not on the system bus" : "no system bus: " + error,
                       "sleep, wake, lock and session events will not be reported (normal in a "
                       "container)"});
        if (bus)
            g_object_unref(bus);
        return;
    }
    out.push_back({"logind", Verdict::ok, "reachable", ""});

    std::string path = sessionPath(bus, "GetSession", g_variant_new("(s)", "auto"));
    if (path.empty())
        path = sessionPath(bus, "GetSessionByPID",
                           g_variant_new("(u)", static_cast<guint32>(::getpid())));
    if (const char* id = std::getenv("XDG_SESSION_ID"); path.empty() && id && *id)
        path = sessionPath(bus, "GetSession", g_variant_new("(s)", id));
    if (path.empty()) {
        out.push_back({"logind session", Verdict::warning,
                       "logind names no session of this process",
                       "lock and session events will not be reported; run inside a login session"});
        g_object_unref(bus);
        return;
    }
    const std::string state = stringProperty(bus, path, "State");
    GVariant* hint = busProperty(bus, logindName, path.c_str(), sessionInterface, "LockedHint");
    const bool hasHint = hint && g_variant_is_of_type(hint, G_VARIANT_TYPE_BOOLEAN);
    const bool locked = hasHint && g_variant_get_boolean(hint);
    if (hint)
        g_variant_unref(hint);
    DoctorCheck session{"logind session", Verdict::ok,
                        "session " + stringProperty(bus, path, "Id") + " (" + path + "), state " +
                            (state.empty() ? "unknown" : state) + ", LockedHint " +
                            (hasHint ? (locked ? "true" : "false") : "missing"),
                        ""};
    if (!hasHint) {
        session.verdict = Verdict::warning;
        session.advice = "this logind does not report screen locks";
    }
    out.push_back(session);
    g_object_unref(bus);
}

} // namespace quorvel::doctor
