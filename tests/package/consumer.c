/* A host app in plain C, built against the installed package: installs the status item, applies a
 * snapshot, configures identity and installs the lifecycle monitor. Exits 0 when every call gives
 * the documented answer. */
#include <quorvel_shell_bridge.h>
#include <stdio.h>
#include <string.h>

static unsigned initial_code;

static void on_command(uint32_t command, void* context) {
    (void)context;
    printf("command %u\n", command);
}

static void on_lifecycle(uint32_t code, uint32_t detail, void* context) {
    (void)context;
    if (initial_code == 0)
        initial_code = code;
    printf("lifecycle %u detail %u\n", code, detail);
}

static int check(const char* what, int32_t got, int32_t expected) {
    printf("%s = %d\n", what, got);
    if (got != expected) {
        fprintf(stderr, "%s: expected %d, got %d\n", what, expected, got);
        return 1;
    }
    return 0;
}

int main(void) {
    static const char snapshot[] =
        "{\"seq\":1,\"issuedAtMs\":0,\"state\":\"recording\",\"source\":\"live\",\"sessionId\":"
        "\"s\","
        "\"elapsedSecs\":65,\"captureLive\":true,\"sealedSegments\":0,\"localBytes\":0,"
        "\"uploadBacklog\":0,\"captureSupervisorState\":\"recording\",\"captureLauncherHealth\":"
        "\"enabled\","
        "\"humanAttention\":false,\"policy\":{\"version\":1,\"status\":\"ok\",\"scope\":\"all\"}}";
    int failures = 0;
    failures += check("quorvel_shell_install", quorvel_shell_install(on_command, NULL), 1);
    failures += check("quorvel_shell_apply_snapshot",
                      quorvel_shell_apply_snapshot(snapshot, (intptr_t)strlen(snapshot)), 1);
    failures += check("quorvel_shell_is_ready", quorvel_shell_is_ready(), 1);
    failures += check("quorvel_identity_configure",
                      quorvel_identity_configure("https://login.example.test/", "client",
                                                 "https://api.example.test",
                                                 "com.zadovuzuzo.recorder://auth/callback"),
                      0);
    failures +=
        check("quorvel_lifecycle_install", quorvel_lifecycle_install(on_lifecycle, NULL), 1);
    failures += check("initial lifecycle code", (int32_t)initial_code, 1);
    quorvel_shell_uninstall();
    failures += check("quorvel_shell_is_installed", quorvel_shell_is_installed(), 0);
    return failures == 0 ? 0 : 1;
}
