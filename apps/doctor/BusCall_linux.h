#pragma once

#include <gio/gio.h>
#include <optional>
#include <string>

namespace quorvel::doctor {

// Every question to a bus waits at most this long and never starts a service by activation.
inline constexpr int busTimeoutMs = 1000;

// The session or system bus, or nothing (with the reason in `error`).
GDBusConnection* connectBus(GBusType type, std::string& error);

// A method call; the reply (to unref) or nothing with the reason in `error`.
GVariant* busCall(GDBusConnection* bus, const char* name, const char* path, const char* interface,
                  const char* method, GVariant* parameters, const char* replyType,
                  std::string* error = nullptr);

// A property's value (to unref), or nothing.
GVariant* busProperty(GDBusConnection* bus, const char* name, const char* path,
                      const char* interface, const char* property);

// The unique name owning a well-known name; nothing when no one owns it.
std::optional<std::string> nameOwner(GDBusConnection* bus, const char* name);

// The process behind a bus name by its command line (program name without its folder, then its
// arguments, cut at a readable length), e.g. "xfce4-panel --sm-client-id x (pid 812)"; the unique
// name itself when the bus does not say.
std::string ownerDescription(GDBusConnection* bus, const std::string& uniqueName);

} // namespace quorvel::doctor
