#include "DemoHost.h"

#include <csignal>
#include <cstdio>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

namespace {

gboolean quitOnSignal(gpointer data) {
    static_cast<DemoHost*>(data)->quit();
    return G_SOURCE_CONTINUE;
}

} // namespace

DemoHost::DemoHost(int argc, char** argv) : loop_(g_main_loop_new(nullptr, FALSE)) {
    for (int i = 1; i < argc; ++i) {
        arguments_.emplace_back(argv[i]);
        if (arguments_.back() == "--quorvel-background-launch")
            backgroundLaunch_ = true;
    }
    std::signal(SIGPIPE, SIG_IGN);
    g_unix_signal_add(SIGTERM, quitOnSignal, this);
    g_unix_signal_add(SIGINT, quitOnSignal, this);
}

DemoHost::~DemoHost() {
    g_main_loop_unref(loop_);
}

void DemoHost::announce() const {
    std::string line = "quorvel-demo-host pid=" + std::to_string(::getpid()) + " started args=";
    for (std::size_t i = 0; i < arguments_.size(); ++i) {
        if (i)
            line += ' ';
        line += arguments_[i];
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int DemoHost::run() {
    g_main_loop_run(loop_);
    return 0;
}

void DemoHost::quit() {
    g_main_loop_quit(loop_);
}
