/* Calls the login launch functions of the shared library from a program that lies inside a host
 * app bundle, the way the host app does, and prints each result as "<command>=<code>".
 *
 *   quorvel-login-probe [--user UID] ensure|stop|status|open ...
 *
 * --user drops to that user (and its group) first, so that a test running as root can meet file
 * permissions as an ordinary user does. */
#include "quorvel_shell_bridge.h"

#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--user") == 0) {
        uid_t user = (uid_t)strtoul(argv[2], NULL, 10);
        if (setgroups(0, NULL) != 0 || setgid((gid_t)user) != 0 || setuid(user) != 0) {
            perror("quorvel-login-probe: dropping privileges");
            return 2;
        }
        first = 3;
    }
    for (int i = first; i < argc; ++i) {
        const char* command = argv[i];
        if (strcmp(command, "ensure") == 0) {
            printf("ensure=%d\n", (int)quorvel_login_launch_ensure());
        } else if (strcmp(command, "stop") == 0) {
            printf("stop=%d\n", (int)quorvel_login_launch_stop_for_maintenance());
        } else if (strcmp(command, "status") == 0) {
            printf("status=%d\n", (int)quorvel_login_launch_status());
        } else if (strcmp(command, "open") == 0) {
            quorvel_login_items_open();
            printf("open=done\n");
        } else {
            fprintf(stderr, "quorvel-login-probe: unknown command %s\n", command);
            return 2;
        }
        fflush(stdout);
    }
    return 0;
}
