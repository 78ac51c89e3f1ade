#include "DoctorCheck.h"

#include <gio/gio.h>
#include <optional>
#include <string>

namespace quorvel::doctor {
namespace {

std::optional<std::string> defaultHandler(const char* contentType) {
    GAppInfo* app = g_app_info_get_default_for_type(contentType, FALSE);
    if (!app)
        return std::nullopt;
    const char* id = g_app_info_get_id(app);
    std::string name = id ? id : g_app_info_get_name(app);
    g_object_unref(app);
    return name;
}

} // namespace

void checkCallbackScheme(DoctorChecks& out) {
    if (auto handler = defaultHandler("x-scheme-handler/com.zadovuzuzo.recorder")) {
        out.push_back({"callback scheme", Verdict::ok,
                       "com.zadovuzuzo.recorder is handled by " + *handler, ""});
    } else {
        out.push_back({"callback scheme", Verdict::problem,
                       "no desktop entry handles com.zadovuzuzo.recorder: sign-in cannot return",
                       "run quorvel-register-callback-scheme or reinstall the app"});
    }
    if (auto browser = defaultHandler("x-scheme-handler/https")) {
        out.push_back({"default browser", Verdict::ok, "https opens in " + *browser, ""});
    } else {
        out.push_back({"default browser", Verdict::problem, "no default browser for https",
                       "choose a default web browser in the desktop's settings"});
    }
}

} // namespace quorvel::doctor
