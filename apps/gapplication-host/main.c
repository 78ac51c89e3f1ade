/* A host app on GApplication. GApplication parses the command line itself and ends the process
 * with status 1 on an option it was not told about, so a host app that the launcher starts with
 * "--quorvel-background-launch" declares that option before g_application_run; the whole change
 * is the g_application_add_main_option call below. GtkApplication is a GApplication: the same
 * call works there. */
#include "quorvel_shell_bridge.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <stdio.h>
#include <unistd.h>

static void on_command(uint32_t command, void* context) {
    (void)context;
    printf("quorvel-gapplication-host command %u\n", command);
    fflush(stdout);
}

static gint on_options(GApplication* app, GVariantDict* options, gpointer data) {
    (void)app;
    gboolean* background = data;
    *background = g_variant_dict_contains(options, "quorvel-background-launch");
    return -1; /* go on with the default handling */
}

static void on_activate(GApplication* app, gpointer data) {
    const gboolean* background = data;
    static gboolean started = FALSE;
    if (started)
        return;
    started = TRUE;
    g_application_hold(app); /* a status-area app has no window to keep it alive */
    quorvel_shell_install(on_command, NULL);
    printf("quorvel-gapplication-host pid=%d started background=%s\n", (int)getpid(),
           *background ? "true" : "false");
    fflush(stdout);
}

static gboolean on_terminate(gpointer app) {
    g_application_quit(app);
    return G_SOURCE_CONTINUE;
}

int main(int argc, char** argv) {
    gboolean background = FALSE;
    /* Non-unique keeps the example off the session bus; a unique app declares the option the same
     * way. */
    GApplication* app = g_application_new("com.quorvel.desktop", G_APPLICATION_NON_UNIQUE);
    g_application_add_main_option(app, "quorvel-background-launch", 0, G_OPTION_FLAG_NONE,
                                  G_OPTION_ARG_NONE, "Started by the Quorvel launcher", NULL);
    g_signal_connect(app, "handle-local-options", G_CALLBACK(on_options), &background);
    g_signal_connect(app, "activate", G_CALLBACK(on_activate), &background);
    g_unix_signal_add(SIGTERM, on_terminate, app);
    int status = g_application_run(app, argc, argv);
    quorvel_shell_uninstall();
    g_object_unref(app);
    return status;
}
