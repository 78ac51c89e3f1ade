#include "base/GLibMainLoop.h"

#include <atomic>
#include <cmath>
#include <ctime>
#include <glib.h>

namespace quorvel {

namespace {

// Shared between the GSource and the handle, so that a timer that invalidates (or destroys) its
// own handle while firing keeps its callback alive until the callback returns.
struct TimerState {
    std::function<void()> fire;
    std::atomic<bool> valid{true};
    bool repeats = false;
    GSource* source = nullptr;
};

class GLibTimer : public Timer {
public:
    explicit GLibTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
    ~GLibTimer() override { invalidate(); }

    void invalidate() override {
        if (state_->valid.exchange(false) && state_->source) {
            g_source_destroy(state_->source);
        }
    }
    bool isValid() const override { return state_->valid.load(); }

private:
    std::shared_ptr<TimerState> state_;
};

gboolean fireTimer(gpointer data) {
    auto state = *static_cast<std::shared_ptr<TimerState>*>(data);
    if (!state->valid.load()) {
        return G_SOURCE_REMOVE;
    }
    if (!state->repeats) {
        state->valid.store(false);
    }
    state->fire();
    return state->repeats && state->valid.load() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void releaseTimer(gpointer data) {
    delete static_cast<std::shared_ptr<TimerState>*>(data);
}

// A task crossing from the posting thread to the main thread. GLib's own locking orders the two,
// but it is invisible to ThreadSanitizer; the release/acquire pair states the hand-off in terms
// every checker understands, at no cost worth measuring.
struct PostedTask {
    std::function<void()> run;
    std::atomic<bool> published{false};
};

gboolean runTask(gpointer data) {
    auto* task = static_cast<PostedTask*>(data);
    if (task->published.load(std::memory_order_acquire)) {
        task->run();
    }
    return G_SOURCE_REMOVE;
}

void releaseTask(gpointer data) {
    auto* task = static_cast<PostedTask*>(data);
    task->published.load(std::memory_order_acquire);
    delete task;
}

} // namespace

double clockSeconds(int clockId) {
    timespec value{};
    clock_gettime(clockId, &value);
    return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_nsec) / 1e9;
}

GLibMainLoop::GLibMainLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}

GLibMainLoop::~GLibMainLoop() {
    g_main_loop_unref(loop_);
}

TimerHandle GLibMainLoop::scheduleTimer(double intervalSeconds, bool repeats,
                                        std::function<void()> fire) {
    auto state = std::make_shared<TimerState>();
    state->fire = std::move(fire);
    state->repeats = repeats;
    auto milliseconds = static_cast<guint>(std::llround(std::max(0.0, intervalSeconds) * 1000.0));
    GSource* source = g_timeout_source_new(milliseconds);
    state->source = source;
    g_source_set_callback(source, fireTimer, new std::shared_ptr<TimerState>(state), releaseTimer);
    g_source_attach(source, nullptr);
    // The context holds its own reference while the source is attached; the state keeps the
    // pointer only for g_source_destroy, which is safe until the source is finalised, and the
    // source cannot be finalised before the state's callback data (which owns the state) is.
    g_source_unref(source);
    return std::make_unique<GLibTimer>(std::move(state));
}

void GLibMainLoop::post(std::function<void()> task) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    auto* posted = new PostedTask{std::move(task)};
    posted->published.store(true, std::memory_order_release);
    g_source_set_callback(source, runTask, posted, releaseTask);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

bool GLibMainLoop::isMainThread() const {
    return isProcessMainThread();
}

TimePoint GLibMainLoop::now() const {
    return Clock::now();
}

double GLibMainLoop::uptime() const {
    return clockSeconds(CLOCK_MONOTONIC);
}

double GLibMainLoop::continuousTime() const {
    return clockSeconds(CLOCK_BOOTTIME);
}

void GLibMainLoop::run() {
    g_main_loop_run(loop_);
}

void GLibMainLoop::quit() {
    g_main_loop_quit(loop_);
}

} // namespace quorvel
