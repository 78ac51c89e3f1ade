#include "support/PrivateBus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::test {

PrivateBus::PrivateBus() {
    char directory[] = "/tmp/quorvel-bus-XXXXXX";
    if (!::mkdtemp(directory))
        throw std::runtime_error("mkdtemp failed");
    configPath_ = std::string(directory) + "/bus.conf";
    std::ofstream(configPath_)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type>"
           "<listen>unix:dir="
        << directory
        << "</listen>"
           "<auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
           "</busconfig>\n";
    std::string command = "dbus-daemon --config-file=" + configPath_ +
                          " --fork --print-address=1 --print-pid=1 --nosyslog 2>/dev/null";
    FILE* output = ::popen(command.c_str(), "r");
    if (!output)
        throw std::runtime_error("dbus-daemon did not start");
    char line[1024];
    if (std::fgets(line, sizeof line, output)) {
        address_ = line;
        while (!address_.empty() && (address_.back() == '\n' || address_.back() == '\r'))
            address_.pop_back();
    }
    if (std::fgets(line, sizeof line, output))
        pid_ = static_cast<pid_t>(std::atoi(line));
    ::pclose(output);
    if (address_.empty() || pid_ <= 0)
        throw std::runtime_error("dbus-daemon gave no address");
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        // The daemon is not our child (it forked away); wait until it is gone before removing its
        // folder, so that its socket file does not outlive the folder's removal.
        for (int i = 0; i < 200 && ::kill(pid_, 0) == 0; ++i)
            ::usleep(5000);
    }
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(configPath_).parent_path(), ignored);
}

void PrivateBus::exportAsSessionBus() const {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

void PrivateBus::exportAsSystemBus() const {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

} // namespace quorvel::test
