#include "BusCall_linux.h"

#include <fstream>

namespace quorvel::doctor {
namespace {
// Enough to tell a panel from an extension host or an interpreter's script.
constexpr size_t maxCommandLength = 72;
} // namespace

GDBusConnection* connectBus(GBusType type, std::string& error) {
    GError* failure = nullptr;
    // Without an address GLib may start a session bus of its own (X11 autolaunch); the doctor
    // changes nothing, so it looks only where a session's bus would be.
    if (type == G_BUS_TYPE_SESSION && !g_getenv("DBUS_SESSION_BUS_ADDRESS")) {
        const char* runtime = g_getenv("XDG_RUNTIME_DIR");
        std::string socket = runtime ? std::string(runtime) + "/bus" : std::string();
        if (socket.empty() || !g_file_test(socket.c_str(), G_FILE_TEST_EXISTS)) {
            error = "DBUS_SESSION_BUS_ADDRESS is not set and $XDG_RUNTIME_DIR/bus does not exist";
            return nullptr;
        }
        gchar* escaped = g_dbus_address_escape_value(socket.c_str());
        std::string address = std::string("unix:path=") + escaped;
        g_free(escaped);
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &failure);
        if (!bus) {
            error = failure ? failure->message : "no session bus";
            g_clear_error(&failure);
        }
        return bus;
    }
    GDBusConnection* bus = g_bus_get_sync(type, nullptr, &failure);
    if (!bus) {
        error = failure ? failure->message : "no address";
        g_clear_error(&failure);
    }
    return bus;
}

GVariant* busCall(GDBusConnection* bus, const char* name, const char* path, const char* interface,
                  const char* method, GVariant* parameters, const char* replyType,
                  std::string* error) {
    GError* failure = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, name, path, interface, method, parameters,
                                                  replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, busTimeoutMs,
                                                  nullptr, &failure);
    if (!reply && error)
        *error = failure ? failure->message : "no reply";
    g_clear_error(&failure);
    return reply;
}

GVariant* busProperty(GDBusConnection* bus, const char* name, const char* path,
                      const char* interface, const char* property) {
    GVariant* reply = busCall(bus, name, path, "org.freedesktop.DBus.Properties", "Get",
                              g_variant_new("(ss)", interface, property), "(v)");
    if (!reply)
        return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    return value;
}

std::optional<std::string> nameOwner(GDBusConnection* bus, const char* name) {
    GVariant* reply =
        busCall(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "GetNameOwner", g_variant_new("(s)", name), "(s)");
    if (!reply)
        return std::nullopt;
    const char* owner = nullptr;
    g_variant_get(reply, "(&s)", &owner);
    std::string result = owner;
    g_variant_unref(reply);
    return result;
}

std::string ownerDescription(GDBusConnection* bus, const std::string& uniqueName) {
    GVariant* reply =
        busCall(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "GetConnectionUnixProcessID", g_variant_new("(s)", uniqueName.c_str()), "(u)");
    if (!reply)
        return uniqueName;
    guint32 pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    // The command line, not /proc/PID/comm: comm is cut at 15 bytes ("quorvel-tray-vi").
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string command;
    for (std::string argument;
         command.size() < maxCommandLength && std::getline(file, argument, '\0');) {
        if (command.empty())
            argument = argument.substr(argument.rfind('/') + 1); // program name, no folder
        if (!argument.empty())
            command += (command.empty() ? "" : " ") + argument;
    }
    if (command.size() > maxCommandLength)
        command = command.substr(0, maxCommandLength - 3) + "...";
    if (command.empty())
        return "pid " + std::to_string(pid);
    return command + " (pid " + std::to_string(pid) + ")";
}

} // namespace quorvel::doctor
