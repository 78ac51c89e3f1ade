#include "support/PrivateBus.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

TEST(PrivateBus, StartsAReachableBusAndStopsIt) {
    std::string address;
    {
        quorvel::test::PrivateBus bus;
        address = bus.address();
        GError* error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        ASSERT_NE(connection, nullptr) << (error ? error->message : "");
        EXPECT_NE(g_dbus_connection_get_unique_name(connection), nullptr);
        g_object_unref(connection);
    }
    auto result = quorvel::test::runCommand(
        {"sh", "-c",
         "sleep 0.2; gdbus introspect --address '" + address + "' -d org.freedesktop.DBus -o /"});
    EXPECT_NE(result.status, 0);
}
