#include "DemoShell.h"

#include "quorvel_shell_bridge.h"

#include <cstdint>
#include <cstdio>
#include <glib.h>
#include <string>

namespace demo {

namespace {

const char* commandName(std::uint32_t code) {
    switch (code) {
    case 3:
        return "open window";
    case 6:
        return "open recordings folder";
    case 7:
        return "status item not visible";
    case 8:
        return "check for updates";
    case 9:
        return "restart to update";
    case 10:
        return "quit";
    default:
        return "unknown";
    }
}

void onCommand(std::uint32_t code, void*) {
    std::printf("demo-host: command %u (%s)\n", code, commandName(code));
    std::fflush(stdout);
}

void onAcknowledged(std::int32_t completed, void*) {
    std::printf("demo-host: acknowledgement completed=%d\n", completed);
    std::fflush(stdout);
}

// One step of the simulated recording per second: the scene, its elapsed time and backlog.
struct Recording {
    std::uint64_t seq = 0;
    std::uint64_t second = 0;
};

std::string snapshotFor(Recording& recording) {
    std::uint64_t t = recording.second++;
    const char* state = "ready";
    bool live = false;
    std::uint64_t backlog = 0;
    std::uint64_t backlogBytes = 0;
    if (t >= 2 && t < 4)
        state = "preparing";
    if (t >= 4 && t < 16) {
        state = "recording";
        live = true;
        backlog = (t - 3);
        backlogBytes = backlog * 1536 * 1024;
    }
    if (t >= 16 && t < 18)
        state = "paused", backlog = 12, backlogBytes = 12 * 1536 * 1024;
    if (t >= 18 && t < 22)
        state = "uploading", backlog = 22 - t, backlogBytes = (22 - t) * 1536 * 1024;
    std::string json =
        "{\"seq\":" + std::to_string(++recording.seq) +
        ",\"issuedAtMs\":" + std::to_string(g_get_real_time() / 1000) + ",\"state\":\"" + state +
        "\",\"source\":\"live\",\"elapsedSecs\":" + std::to_string(t >= 4 ? (t - 4) * 60 : 0) +
        ",\"captureLive\":" + (live ? "true" : "false") +
        ",\"sealedSegments\":0,\"localBytes\":0,\"uploadBacklog\":" + std::to_string(backlog) +
        ",\"captureSupervisorState\":\"recording\",\"captureLauncherHealth\":\"enabled\""
        ",\"humanAttention\":false,\"policy\":{\"version\":1,\"status\":\"accepted\",\"scope\":"
        "\"all\"}";
    if (t >= 4)
        json += ",\"sessionId\":\"demo-session\"";
    if (backlogBytes > 0)
        json += ",\"uploadBacklogBytes\":" + std::to_string(backlogBytes);
    if (t >= 10)
        json += ",\"updatePending\":\"2.4.1\"";
    return json + "}";
}

gboolean tick(gpointer data) {
    auto* recording = static_cast<Recording*>(data);
    if (recording->second > 24) {
        // The recorder core falls silent: after three seconds the item says "Status unknown".
        return G_SOURCE_REMOVE;
    }
    std::string json = snapshotFor(*recording);
    int32_t applied = quorvel_shell_apply_snapshot(json.data(), static_cast<intptr_t>(json.size()));
    if (recording->second == 8) {
        quorvel_shell_acknowledge(0, onAcknowledged, nullptr);
    }
    if (!applied)
        std::printf("demo-host: snapshot refused\n");
    return G_SOURCE_CONTINUE;
}

} // namespace

void startDemoShell() {
    int32_t installed = quorvel_shell_install(onCommand, nullptr);
    std::printf("demo-host: status shell installed=%d visible=%d\n", installed,
                quorvel_shell_is_visible());
    std::fflush(stdout);
    static Recording recording;
    g_timeout_add(1000, tick, &recording);
}

} // namespace demo
