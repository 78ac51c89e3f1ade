#include "DemoLifecycle.h"

#include "quorvel_shell_bridge.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* codeName(uint32_t code) {
    switch (code) {
    case 1:
        return "initial";
    case 2:
        return "will sleep";
    case 3:
        return "did wake";
    case 4:
        return "screen locked";
    case 5:
        return "screen unlocked";
    case 6:
        return "session active";
    case 7:
        return "session resigned";
    case 8:
        return "will power off";
    case 9:
        return "focus requested by another copy";
    default:
        return "unknown";
    }
}

void printCode(uint32_t code, uint32_t detail, void*) {
    std::printf("lifecycle code=%u (%s) detail=%u\n", code, codeName(code), detail);
    std::fflush(stdout);
}

} // namespace

void startDemoLifecycle() {
    int32_t installed = quorvel_lifecycle_install(printCode, nullptr);
    if (installed != 1) {
        std::printf("lifecycle install failed (%d)\n", static_cast<int>(installed));
        std::fflush(stdout);
    }
}

bool handleDemoFocusExisting(const std::vector<std::string>& arguments) {
    if (std::find(arguments.begin(), arguments.end(), "--focus-existing") == arguments.end())
        return false;
    quorvel_application_focus_existing();
    std::printf("lifecycle focus-existing posted\n");
    std::fflush(stdout);
    return true;
}
