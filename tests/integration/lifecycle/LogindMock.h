#pragma once

// A logind of python-dbusmock's template on a private "system" bus, a private session bus, and
// connections to both for the code under test and for the test itself.

#include "support/ChildProcess.h"
#include "support/GLibPump.h"
#include "support/PrivateBus.h"
#include "support/TemporaryDirectory.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace quorvel::test {

inline GDBusConnection* connectTo(const std::string& address) {
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    EXPECT_NE(connection, nullptr) << (error ? error->message : "");
    if (error)
        g_error_free(error);
    return connection;
}

class LogindMock {
public:
    static constexpr const char* managerPath = "/org/freedesktop/login1";
    static constexpr const char* sessionPath = "/org/freedesktop/login1/session/c1";

    LogindMock()
        : logFile_((directory_ / "logind-mock.log").string()),
          mock_({"/usr/bin/python3", "-m", "dbusmock", "--template", "logind"},
                ChildProcess::Options{
                    {{"DBUS_SYSTEM_BUS_ADDRESS", systemBus_.address()}}, logFile_, {}, true}) {
        systemConnection = connectTo(systemBus_.address());
        sessionConnection = connectTo(sessionBus_.address());
        driver = connectTo(systemBus_.address());
        sessionDriver = connectTo(sessionBus_.address());
        bool ready = pumpUntil([this] {
            GVariant* reply = g_dbus_connection_call_sync(
                driver, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "NameHasOwner", g_variant_new("(s)", "org.freedesktop.login1"),
                G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
            gboolean owned = FALSE;
            if (reply) {
                g_variant_get(reply, "(b)", &owned);
                g_variant_unref(reply);
            }
            return owned != FALSE;
        });
        EXPECT_TRUE(ready) << readFileText(logFile_);
        barrierSubscription_ = g_dbus_connection_signal_subscribe(
            systemConnection, nullptr, "com.quorvel.Test", "Barrier", managerPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer data) { ++*static_cast<int*>(data); },
            &barriers_, nullptr);
    }

    ~LogindMock() {
        g_dbus_connection_signal_unsubscribe(systemConnection, barrierSubscription_);
        for (GDBusConnection* connection :
             {systemConnection, sessionConnection, driver, sessionDriver}) {
            if (!connection)
                continue;
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        // Let GLib finish with the closed connections before the buses go.
        pumpFor(std::chrono::milliseconds(20));
    }

    const std::string& systemAddress() const { return systemBus_.address(); }
    const std::string& sessionAddress() const { return sessionBus_.address(); }

    // A method call on the mock, as another process of the machine would make it.
    void call(const char* path, const char* interface, const char* method, GVariant* parameters) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            driver, "org.freedesktop.login1", path, interface, method, parameters, nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        EXPECT_NE(reply, nullptr) << method << ": " << (error ? error->message : "");
        if (reply)
            g_variant_unref(reply);
        if (error)
            g_error_free(error);
    }

    void addSession(bool active) {
        call(managerPath, "org.freedesktop.DBus.Mock", "AddSession",
             g_variant_new("(ssusb)", "c1", "seat0", static_cast<guint32>(::getuid()), "alice",
                           active ? TRUE : FALSE));
    }
    void emitManagerSignal(const char* member, bool flag) {
        GVariantBuilder arguments;
        g_variant_builder_init(&arguments, G_VARIANT_TYPE("av"));
        g_variant_builder_add(&arguments, "v", g_variant_new_boolean(flag ? TRUE : FALSE));
        call(managerPath, "org.freedesktop.DBus.Mock", "EmitSignal",
             g_variant_new("(sssav)", "org.freedesktop.login1.Manager", member, "b", &arguments));
    }
    // logind dropping a session: the manager announces it (its object is gone already).
    void emitSessionRemoved(const char* id) {
        std::string path = std::string("/org/freedesktop/login1/session/") + id;
        GVariantBuilder arguments;
        g_variant_builder_init(&arguments, G_VARIANT_TYPE("av"));
        g_variant_builder_add(&arguments, "v", g_variant_new_string(id));
        g_variant_builder_add(&arguments, "v", g_variant_new_object_path(path.c_str()));
        call(managerPath, "org.freedesktop.DBus.Mock", "EmitSignal",
             g_variant_new("(sssav)", "org.freedesktop.login1.Manager", "SessionRemoved", "so",
                           &arguments));
    }
    void removeSession() {
        call(managerPath, "org.freedesktop.DBus.Mock", "RemoveObject",
             g_variant_new("(s)", sessionPath));
        emitSessionRemoved("c1");
    }
    void setLockedHint(bool locked) {
        call(sessionPath, "org.freedesktop.login1.Session", "SetLockedHint",
             g_variant_new("(b)", locked ? TRUE : FALSE));
    }
    void setSessionProperty(const char* name, GVariant* value) {
        call(sessionPath, "org.freedesktop.DBus.Properties", "Set",
             g_variant_new("(ssv)", "org.freedesktop.login1.Session", name, value));
    }

    // Returns once every signal the mock sent before has been dispatched in this process.
    void barrier() {
        int before = barriers_;
        GVariantBuilder none;
        g_variant_builder_init(&none, G_VARIANT_TYPE("av"));
        call(managerPath, "org.freedesktop.DBus.Mock", "EmitSignal",
             g_variant_new("(sssav)", "com.quorvel.Test", "Barrier", "", &none));
        EXPECT_TRUE(pumpUntil([&] { return barriers_ > before; }));
    }

    std::string log() const { return readFileText(logFile_); }

    GDBusConnection* systemConnection = nullptr;
    GDBusConnection* sessionConnection = nullptr;
    GDBusConnection* driver = nullptr;        // the test's own connection to the system bus
    GDBusConnection* sessionDriver = nullptr; // and to the session bus

private:
    PrivateBus systemBus_;
    PrivateBus sessionBus_;
    TemporaryDirectory directory_;
    std::string logFile_;
    ChildProcess mock_;
    int barriers_ = 0;
    unsigned barrierSubscription_ = 0;
};

} // namespace quorvel::test
