#pragma once

#include <string>
#include <vector>

typedef struct _GMainLoop GMainLoop;

// The demo host app's process: its arguments and its GLib main loop. Features (status item,
// sign-in, lifecycle, ...) live in files of their own and are started by one call each from main.
class DemoHost {
public:
    DemoHost(int argc, char** argv);
    ~DemoHost();
    DemoHost(const DemoHost&) = delete;
    DemoHost& operator=(const DemoHost&) = delete;

    const std::vector<std::string>& arguments() const { return arguments_; }
    // Started by the launcher ("--quorvel-background-launch") rather than by the user.
    bool backgroundLaunch() const { return backgroundLaunch_; }

    // One line on standard output: "quorvel-demo-host pid=N started args=...".
    void announce() const;
    // Runs the main loop until SIGTERM, SIGINT or quit(); returns the exit status.
    int run();
    void quit();

private:
    std::vector<std::string> arguments_;
    bool backgroundLaunch_ = false;
    GMainLoop* loop_;
};
