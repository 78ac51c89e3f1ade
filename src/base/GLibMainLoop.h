#pragma once

#include "base/MainLoop.h"

typedef struct _GMainLoop GMainLoop;

namespace quorvel {

// The main loop over GLib's default main context, which the host app iterates on its main thread
// (GTK, Qt's GLib dispatcher and GApplication all do). The launcher runs the loop itself.
class GLibMainLoop : public MainLoop {
public:
    GLibMainLoop();
    ~GLibMainLoop() override;

    TimerHandle scheduleTimer(double intervalSeconds, bool repeats,
                              std::function<void()> fire) override;
    void post(std::function<void()> task) override;
    bool isMainThread() const override;
    TimePoint now() const override;
    double uptime() const override;
    double continuousTime() const override;

    // Iterates the default context until quit() (launcher and demo programs).
    void run();
    void quit();

private:
    GMainLoop* loop_;
};

double clockSeconds(int clockId);

} // namespace quorvel
