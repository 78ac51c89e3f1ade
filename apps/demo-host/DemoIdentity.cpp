#include "DemoIdentity.h"

#include "quorvel_shell_bridge.h"

#include <algorithm>
#include <cstdio>
#include <gio/gio.h>
#include <string>
#include <thread>

namespace {

// The application id a host app registers on the session bus; the desktop entry that claims the
// callback scheme starts the host app, and GApplication forwards the URL to the running copy.
constexpr const char* applicationID = "com.quorvel.desktop";
constexpr const char* nativeCallback = "com.zadovuzuzo.recorder://auth/callback";
constexpr std::string_view callbackScheme = "com.zadovuzuzo.recorder:";

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

const char* outcomeName(std::int32_t outcome) {
    switch (outcome) {
    case 0:
        return "failed";
    case 1:
        return "succeeded";
    case 2:
        return "cancelled";
    case 3:
        return "unreachable";
    case 4:
        return "timed out";
    default:
        return "unknown";
    }
}

bool isCallbackURL(const std::string& text) {
    if (text.size() < callbackScheme.size())
        return false;
    return std::equal(callbackScheme.begin(), callbackScheme.end(), text.begin(),
                      [](char a, char b) { return a == g_ascii_tolower(b); });
}

GApplication* makeApplication() {
    return g_application_new(applicationID, G_APPLICATION_HANDLES_OPEN);
}

// A copy of the access token, from a thread other than the main one, as the host app's network
// code would take it. The token itself is not shown. The thread is joined on the main thread once
// it has finished.
void copyTokenFromWorker() {
    struct Worker {
        std::thread thread;
    };
    auto* worker = new Worker;
    worker->thread = std::thread([worker] {
        char buffer[65536];
        std::int32_t code = quorvel_identity_copy_access_token(buffer, sizeof buffer);
        say("identity token copy from a worker thread: code=" + std::to_string(code) +
            (code > 0 ? " (" + std::to_string(code) + " bytes)" : ""));
        // Runs after this function returned on the main thread, so `thread` is set by then.
        g_idle_add(
            [](gpointer data) -> gboolean {
                auto* done = static_cast<Worker*>(data);
                done->thread.join();
                delete done;
                return G_SOURCE_REMOVE;
            },
            worker);
    });
}

void onLogin(std::int32_t outcome, void*) {
    say("identity login outcome=" + std::to_string(outcome) + " (" + outcomeName(outcome) + ")");
    if (outcome == 1)
        copyTokenFromWorker();
}

void onOpen(GApplication*, GFile** files, gint count, gchar*, gpointer) {
    for (gint i = 0; i < count; ++i) {
        gchar* uri = g_file_get_uri(files[i]);
        std::int32_t code = quorvel_identity_resume_login(uri);
        say(std::string("identity resume_login code=") + std::to_string(code));
        g_free(uri);
    }
}

} // namespace

void startDemoIdentity(const std::vector<std::string>& arguments) {
    auto flag = std::find(arguments.begin(), arguments.end(), "--identity-demo");
    if (arguments.end() - flag < 4) {
        say("identity: --identity-demo needs ISSUER CLIENT_ID AUDIENCE");
        return;
    }
    const std::string& issuer = flag[1];
    const std::string& clientID = flag[2];
    const std::string& audience = flag[3];

    // Kept for the life of the process: it receives the callback URLs of later copies.
    GApplication* application = makeApplication();
    g_signal_connect(application, "open", G_CALLBACK(onOpen), nullptr);
    g_signal_connect(application, "activate", G_CALLBACK(+[](GApplication*, gpointer) {}), nullptr);
    GError* error = nullptr;
    if (!g_application_register(application, nullptr, &error) ||
        g_application_get_is_remote(application)) {
        say(std::string("identity: cannot take the application id: ") +
            (error ? error->message : "another copy holds it"));
        if (error)
            g_error_free(error);
    }

    std::int32_t configured = quorvel_identity_configure(issuer.c_str(), clientID.c_str(),
                                                         audience.c_str(), nativeCallback);
    say("identity configure code=" + std::to_string(configured));
    std::int32_t begun = quorvel_identity_begin_login(onLogin, nullptr);
    say("identity begin_login code=" + std::to_string(begun));
}

bool handleDemoIdentityCallback(const std::vector<std::string>& arguments) {
    auto url = std::find_if(arguments.begin(), arguments.end(), isCallbackURL);
    if (url == arguments.end())
        return false;
    GApplication* application = makeApplication();
    GError* error = nullptr;
    if (!g_application_register(application, nullptr, &error)) {
        say(std::string("identity callback not handed over: ") + error->message);
        g_error_free(error);
    } else if (!g_application_get_is_remote(application)) {
        say("identity callback not handed over: no running copy");
    } else {
        GFile* file = g_file_new_for_uri(url->c_str());
        g_application_open(application, &file, 1, "");
        g_object_unref(file);
        // Delivered before this copy exits.
        g_dbus_connection_flush_sync(g_application_get_dbus_connection(application), nullptr,
                                     nullptr);
        say("identity callback handed to the running copy");
    }
    g_object_unref(application);
    return true;
}
