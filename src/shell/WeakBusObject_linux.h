#pragma once

#include <gio/gio.h>
#include <memory>

namespace quorvel {

// An exported object's vtable holds a heap copy of a weak pointer to its owner: a call or property
// read that arrives after the owner is gone finds nothing and answers "Gone".
template <class Owner> gpointer weakBusData(const std::shared_ptr<Owner>& owner) {
    return new std::weak_ptr<Owner>(owner);
}
template <class Owner> gpointer weakBusData(std::weak_ptr<Owner> owner) {
    return new std::weak_ptr<Owner>(std::move(owner));
}
template <class Owner> void releaseWeakBusData(gpointer data) {
    delete static_cast<std::weak_ptr<Owner>*>(data);
}
template <class Owner> std::shared_ptr<Owner> lockWeakBusData(gpointer data) {
    return static_cast<std::weak_ptr<Owner>*>(data)->lock();
}

// A vtable that forwards to the owner's property(name) and method(name, parameters, invocation).
template <class Owner> const GDBusInterfaceVTable& weakBusVTable() {
    static const GDBusInterfaceVTable table{
        [](GDBusConnection*, const char*, const char*, const char*, const char* method,
           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
            if (auto owner = lockWeakBusData<Owner>(data)) {
                owner->method(method, parameters, invocation);
            } else {
                g_dbus_method_invocation_return_dbus_error(
                    invocation, "org.freedesktop.DBus.Error.UnknownObject", "Gone");
            }
        },
        [](GDBusConnection*, const char*, const char*, const char*, const char* name,
           GError** error, gpointer data) -> GVariant* {
            auto owner = lockWeakBusData<Owner>(data);
            GVariant* value = owner ? owner->property(name) : nullptr;
            if (!value) {
                g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s",
                            name);
            }
            return value;
        },
        nullptr,
        {}};
    return table;
}

} // namespace quorvel
