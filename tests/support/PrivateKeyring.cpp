#include "support/PrivateKeyring.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <gio/gio.h>
#include <stdexcept>
#include <thread>

namespace quorvel::test {

namespace {

bool nameHasOwner(GDBusConnection* connection, const char* name) {
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        2000, nullptr, nullptr);
    if (!reply)
        return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

constexpr const char* password = "quorvel-test-password";
constexpr const char* loginCollection = "/org/freedesktop/secrets/collection/login";

GDBusConnection* connect(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

GVariant* callSecrets(GDBusConnection* connection, const char* interface, const char* method,
                      GVariant* arguments) {
    return g_dbus_connection_call_sync(connection, "org.freedesktop.secrets",
                                       "/org/freedesktop/secrets", interface, method, arguments,
                                       nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

} // namespace

bool PrivateKeyring::lockLoginCollection() {
    GDBusConnection* connection = connect(bus_.address());
    if (!connection)
        return false;
    const char* objects[] = {loginCollection};
    GVariant* reply = callSecrets(connection, "org.freedesktop.Secret.Service", "Lock",
                                  g_variant_new("(@ao)", g_variant_new_objv(objects, 1)));
    bool locked = false;
    if (reply) {
        GVariant* done = g_variant_get_child_value(reply, 0);
        locked = g_variant_n_children(done) == 1; // locked at once, no prompt
        g_variant_unref(done);
        g_variant_unref(reply);
    }
    g_object_unref(connection);
    return locked;
}

bool PrivateKeyring::unlockLoginCollection() {
    GDBusConnection* connection = connect(bus_.address());
    if (!connection)
        return false;
    // The password travels in a plain session of this connection, as the daemon's own unlock
    // with a known password expects.
    GVariant* opened = callSecrets(connection, "org.freedesktop.Secret.Service", "OpenSession",
                                   g_variant_new("(sv)", "plain", g_variant_new_string("")));
    bool unlocked = false;
    if (opened) {
        const char* session = nullptr;
        GVariant* output = nullptr;
        g_variant_get(opened, "(v&o)", &output, &session);
        GVariant* secret = g_variant_new(
            "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password, std::strlen(password), 1),
            "text/plain");
        GVariant* reply = callSecrets(
            connection, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
            "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", loginCollection, secret));
        unlocked = reply != nullptr;
        if (reply)
            g_variant_unref(reply);
        g_variant_unref(output);
        g_variant_unref(opened);
    }
    g_object_unref(connection);
    return unlocked;
}

PrivateKeyring::PrivateKeyring() {
    namespace fs = std::filesystem;
    fs::path runtime = home_.path() / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(home_.path() / ".local/share");
    fs::create_directories(home_.path() / ".config");

    ChildProcess::Options options;
    options.environment = {{"HOME", home_.string()},
                           {"XDG_DATA_HOME", (home_.path() / ".local/share").string()},
                           {"XDG_CONFIG_HOME", (home_.path() / ".config").string()},
                           {"XDG_RUNTIME_DIR", runtime.string()},
                           {"DBUS_SESSION_BUS_ADDRESS", bus_.address()}};
    options.outputFile = (home_.path() / "gnome-keyring.log").string();
    options.inputText = std::string("quorvel-test-password"); // no trailing newline
    daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{"gnome-keyring-daemon",
                                                                      "--foreground", "--unlock",
                                                                      "--components=secrets"},
                                             std::move(options));

    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        bus_.address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection) {
        std::string message = error ? error->message : "unknown error";
        if (error)
            g_error_free(error);
        throw std::runtime_error("cannot reach the private bus: " + message);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    bool ready = false;
    while (!(ready = nameHasOwner(connection, "org.freedesktop.secrets")) &&
           std::chrono::steady_clock::now() < deadline && daemon_->running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    g_object_unref(connection);
    if (!ready)
        throw std::runtime_error("gnome-keyring-daemon did not take org.freedesktop.secrets");
    bus_.exportAsSessionBus();
}

PrivateKeyring::~PrivateKeyring() {
    daemon_.reset();
}

} // namespace quorvel::test
