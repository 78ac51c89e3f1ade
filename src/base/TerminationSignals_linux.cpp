#include "base/TerminationSignals.h"

#include <csignal>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quorvel {
namespace {

class SignalDescriptorWatch final : public TerminationSignals {
public:
    SignalDescriptorWatch(int descriptor, std::function<void()> onSignal)
        : descriptor_(descriptor), onSignal_(std::move(onSignal)) {
        source_ = g_unix_fd_source_new(descriptor_, G_IO_IN);
        g_source_set_callback(source_, G_SOURCE_FUNC(&SignalDescriptorWatch::readable), this,
                              nullptr);
        g_source_attach(source_, nullptr);
    }

    ~SignalDescriptorWatch() override {
        g_source_destroy(source_);
        g_source_unref(source_);
        ::close(descriptor_);
        // The signals stay blocked: one that arrives now is for a process that is ending anyway.
    }

private:
    static gboolean readable(int, GIOCondition, gpointer data) {
        auto* self = static_cast<SignalDescriptorWatch*>(data);
        bool received = false;
        signalfd_siginfo info{};
        while (::read(self->descriptor_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            received = true;
        if (received)
            self->onSignal_();
        return G_SOURCE_CONTINUE;
    }

    int descriptor_;
    std::function<void()> onSignal_;
    GSource* source_ = nullptr;
};

// Where no descriptor can be had, GLib's own delivery, which runs a helper thread.
class GLibSignalWatch final : public TerminationSignals {
public:
    explicit GLibSignalWatch(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
        sources_[0] = g_unix_signal_add(SIGTERM, &GLibSignalWatch::fired, this);
        sources_[1] = g_unix_signal_add(SIGINT, &GLibSignalWatch::fired, this);
    }

    ~GLibSignalWatch() override {
        for (guint source : sources_)
            g_source_remove(source);
    }

private:
    static gboolean fired(gpointer data) {
        static_cast<GLibSignalWatch*>(data)->onSignal_();
        return G_SOURCE_CONTINUE;
    }

    std::function<void()> onSignal_;
    guint sources_[2] = {};
};

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::watch(std::function<void()> onSignal) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    int descriptor = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor < 0)
        return std::make_unique<GLibSignalWatch>(std::move(onSignal));
    // Blocked only once the descriptor exists: unblocked, a signal takes its default action and
    // ends the process, which is what it asks for.
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return std::make_unique<SignalDescriptorWatch>(descriptor, std::move(onSignal));
}

} // namespace quorvel
