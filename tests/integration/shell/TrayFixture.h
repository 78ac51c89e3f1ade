#pragma once

#include "base/MainLoop.h"
#include "quorvel_shell_bridge.h"
#include "shell/ShellBridge.h"
#include "shell/SystemStatusBar.h"
#include "support/ChildProcess.h"
#include "support/GLibPump.h"
#include "support/PrivateBus.h"
#include "support/TemporaryDirectory.h"

#include <cstdlib>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

// A private session bus, the shell installed on it, and the tray viewer as the desktop's watcher
// and host (a separate process, as a real panel is). A second connection reads the item as a host
// would; every call is asynchronous and pumps this process's main context, where the item lives.
class TrayFixture : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_unique<PrivateBus>();
        bus->exportAsSessionBus();
        ::setenv("GSETTINGS_BACKEND", "memory", 1); // the desktop's settings stay out of the test
        // Code that takes the process's shared session bus (the desktop settings, the menu client)
        // gets this bus. The test stops it at the end, which must not end the test process.
        if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(shared, FALSE);
            g_object_unref(shared);
        }
        MainLoop::setShared(nullptr);
        itemConnection = connect();
        reader = connect();
        shellbridge::setStatusBar(makeSystemStatusBar(itemConnection));
        const char* build = std::getenv("QUORVEL_BUILD_DIR");
        viewerPath = std::string(build ? build : "build") + "/bin/quorvel-tray-viewer";
    }

    void TearDown() override {
        quorvel_shell_uninstall();
        shellbridge::setStatusBar(nullptr);
        viewer.reset();
        if (reader)
            g_object_unref(reader);
        if (itemConnection)
            g_object_unref(itemConnection);
        bus.reset();
    }

    GDBusConnection* connect() {
        GError* error = nullptr;
        auto* connection = g_dbus_connection_new_for_address_sync(
            bus->address().c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        EXPECT_TRUE(connection) << (error ? error->message : "");
        g_clear_error(&error);
        return connection;
    }

    void startViewer(std::vector<std::string> arguments = {}) {
        viewerOutput = directory.string() + "/viewer-" + std::to_string(++viewerStarts) + ".log";
        std::vector<std::string> argv{viewerPath, "--bus", bus->address()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildProcess::Options options;
        options.outputFile = viewerOutput;
        viewer = std::make_unique<ChildProcess>(argv, options);
        ASSERT_TRUE(waitForViewer("watcher owned")) << viewerText();
    }

    std::string viewerText() const {
        return viewerOutput.empty() ? "" : readFileText(viewerOutput);
    }
    bool waitForViewer(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return pumpUntil([&] { return viewerText().find(text) != std::string::npos; }, timeout);
    }

    // Calls a method from the reader connection and waits for the reply (nullptr on error).
    GVariant* call(const std::string& destination, const char* path, const char* interface,
                   const char* method, GVariant* parameters, const char* replyType = nullptr) {
        struct Result {
            bool done = false;
            GVariant* value = nullptr;
        } result;
        g_dbus_connection_call(
            reader, destination.c_str(), path, interface, method, parameters,
            replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            [](GObject* source, GAsyncResult* async, gpointer data) {
                auto* r = static_cast<Result*>(data);
                r->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), async, nullptr);
                r->done = true;
            },
            &result);
        pumpUntil([&] { return result.done; });
        return result.value;
    }

    // The item's well-known name, as the bus lists it.
    std::string itemName() {
        GVariant* names = call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "ListNames", nullptr, "(as)");
        std::string found;
        if (!names)
            return found;
        GVariantIter* iter = nullptr;
        g_variant_get(names, "(as)", &iter);
        const char* name = nullptr;
        std::string prefix = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-";
        while (g_variant_iter_next(iter, "&s", &name)) {
            if (std::string(name).rfind(prefix, 0) == 0)
                found = name;
        }
        g_variant_iter_free(iter);
        g_variant_unref(names);
        return found;
    }

    std::unique_ptr<PrivateBus> bus;
    TemporaryDirectory directory;
    GDBusConnection* itemConnection = nullptr;
    GDBusConnection* reader = nullptr;
    std::string viewerPath;
    std::string viewerOutput;
    int viewerStarts = 0;
    std::unique_ptr<ChildProcess> viewer;
};

} // namespace quorvel::test
