/* A copy of the host app for lifecycle tests, using the shared library as the host app does.
 *
 *   quorvel-lifecycle-probe listen [--own-name]
 *       installs the lifecycle monitor and prints "code=C detail=D" for every code, until SIGTERM
 *       or SIGINT. --own-name also takes the bus name "com.quorvel.desktop" on the session bus and
 *       answers org.freedesktop.Application.Activate there with "activated token=T".
 *   quorvel-lifecycle-probe focus
 *       asks the other copy to come forward and exits. */
#include "quorvel_shell_bridge.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <stdio.h>
#include <string.h>

static const char* applicationInterface =
    "<node><interface name='org.freedesktop.Application'>"
    "<method name='Activate'><arg type='a{sv}' name='platform_data' direction='in'/></method>"
    "</interface></node>";

static void received(uint32_t code, uint32_t detail, void* context) {
    (void)context;
    printf("code=%u detail=%u\n", code, detail);
    fflush(stdout);
}

static void methodCalled(GDBusConnection* connection, const gchar* sender, const gchar* path,
                         const gchar* interface, const gchar* method, GVariant* parameters,
                         GDBusMethodInvocation* invocation, gpointer data) {
    (void)connection, (void)sender, (void)path, (void)interface, (void)data;
    if (strcmp(method, "Activate") == 0) {
        const gchar* token = "none";
        GVariant* platformData = g_variant_get_child_value(parameters, 0);
        g_variant_lookup(platformData, "activation-token", "&s", &token);
        printf("activated token=%s\n", token);
        fflush(stdout);
        g_variant_unref(platformData);
    }
    g_dbus_method_invocation_return_value(invocation, NULL);
}

static void nameAcquired(GDBusConnection* connection, const gchar* name, gpointer data) {
    (void)connection, (void)name, (void)data;
    printf("owned\n");
    fflush(stdout);
}

static gboolean quit(gpointer loop) {
    g_main_loop_quit(loop);
    return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "focus") == 0) {
        quorvel_application_focus_existing();
        printf("posted\n");
        return 0;
    }
    if (argc < 2 || strcmp(argv[1], "listen") != 0) {
        fprintf(stderr, "usage: quorvel-lifecycle-probe listen [--own-name] | focus\n");
        return 2;
    }
    GMainLoop* loop = g_main_loop_new(NULL, FALSE);
    g_unix_signal_add(SIGTERM, quit, loop);
    g_unix_signal_add(SIGINT, quit, loop);
    printf("install=%d\n", (int)quorvel_lifecycle_install(received, NULL));
    fflush(stdout);

    if (argc >= 3 && strcmp(argv[2], "--own-name") == 0) {
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, NULL, NULL);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(applicationInterface, NULL);
        static const GDBusInterfaceVTable table = {methodCalled, NULL, NULL, {0}};
        if (!bus || !node)
            return 1;
        g_dbus_connection_register_object(bus, "/com/quorvel/desktop", node->interfaces[0], &table,
                                          NULL, NULL, NULL);
        g_dbus_node_info_unref(node);
        g_bus_own_name_on_connection(bus, "com.quorvel.desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
                                     nameAcquired, NULL, NULL, NULL);
    }
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return 0;
}
