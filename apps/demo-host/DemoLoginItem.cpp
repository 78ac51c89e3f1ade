#include "DemoLoginItem.h"

#include "quorvel_shell_bridge.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* statusName(int32_t status) {
    switch (status) {
    case 1:
        return "enabled";
    case 2:
        return "switched off by the user";
    case 3:
        return "not registered";
    default:
        return "launcher not found";
    }
}

bool has(const std::vector<std::string>& arguments, const char* flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

} // namespace

bool handleDemoLoginItem(const std::vector<std::string>& arguments) {
    int32_t result = 0;
    const char* operation = nullptr;
    if (has(arguments, "--login-item")) {
        operation = "ensure";
        result = quorvel_login_launch_ensure();
    } else if (has(arguments, "--login-item-stop")) {
        operation = "stop_for_maintenance";
        result = quorvel_login_launch_stop_for_maintenance();
    } else {
        return false;
    }
    int32_t status = quorvel_login_launch_status();
    std::printf("login-item %s=%d status=%d (%s)\n", operation, static_cast<int>(result),
                static_cast<int>(status), statusName(status));
    std::fflush(stdout);
    return true;
}
