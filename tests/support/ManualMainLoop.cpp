#include "support/ManualMainLoop.h"

#include <algorithm>
#include <limits>

namespace quorvel::test {

struct ManualMainLoop::Entry {
    double dueAt = 0;
    double interval = 0;
    bool repeats = false;
    bool valid = true;
    std::uint64_t order = 0;
    std::shared_ptr<std::function<void()>> fire;
};

namespace {

class ManualTimer : public Timer {
public:
    explicit ManualTimer(std::weak_ptr<bool> alive, bool* valid)
        : alive_(std::move(alive)), valid_(valid) {}
    ~ManualTimer() override { invalidate(); }
    void invalidate() override {
        if (!alive_.expired())
            *valid_ = false;
    }
    bool isValid() const override { return !alive_.expired() && *valid_; }

private:
    std::weak_ptr<bool> alive_;
    bool* valid_;
};

} // namespace

ManualMainLoop::ManualMainLoop()
    : mainThread_(std::this_thread::get_id()),
      wall_(TimePoint(std::chrono::seconds(1'780'000'000))) {}

TimerHandle ManualMainLoop::scheduleTimer(double intervalSeconds, bool repeats,
                                          std::function<void()> fire) {
    auto entry = std::make_shared<Entry>();
    entry->dueAt = uptime_ + std::max(0.0, intervalSeconds);
    entry->interval = std::max(intervalSeconds, 1e-6);
    entry->repeats = repeats;
    entry->order = nextOrder_++;
    entry->fire = std::make_shared<std::function<void()>>(std::move(fire));
    timers_.push_back(entry);
    // The handle points at the entry's flag while the entry lives; the aliasing pointer tracks it.
    std::shared_ptr<bool> alive(entry, &entry->valid);
    return std::make_unique<ManualTimer>(alive, &entry->valid);
}

void ManualMainLoop::post(std::function<void()> task) {
    std::lock_guard lock(tasksMutex_);
    tasks_.push_back(std::move(task));
}

bool ManualMainLoop::isMainThread() const {
    if (mainOverride_)
        return *mainOverride_;
    return std::this_thread::get_id() == mainThread_;
}

TimePoint ManualMainLoop::now() const {
    return wall_;
}
double ManualMainLoop::uptime() const {
    return uptime_;
}
double ManualMainLoop::continuousTime() const {
    return continuous_;
}

std::size_t ManualMainLoop::drain() {
    std::size_t count = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(tasksMutex_);
            if (tasks_.empty())
                break;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++count;
    }
    return count;
}

void ManualMainLoop::advance(double seconds) {
    double target = uptime_ + seconds;
    drain();
    for (;;) {
        std::erase_if(timers_, [](const auto& entry) { return !entry->valid; });
        std::shared_ptr<Entry> next;
        for (const auto& entry : timers_) {
            if (entry->dueAt <= target &&
                (!next || entry->dueAt < next->dueAt ||
                 (entry->dueAt == next->dueAt && entry->order < next->order))) {
                next = entry;
            }
        }
        if (!next)
            break;
        double step = next->dueAt - uptime_;
        if (step > 0) {
            uptime_ = next->dueAt;
            continuous_ += step;
            wall_ = addingSeconds(wall_, step);
        }
        if (next->repeats) {
            next->dueAt += next->interval;
            next->order = nextOrder_++;
        } else {
            next->valid = false;
        }
        auto fire = next->fire;
        (*fire)();
        drain();
    }
    double rest = target - uptime_;
    if (rest > 0) {
        uptime_ = target;
        continuous_ += rest;
        wall_ = addingSeconds(wall_, rest);
    }
    drain();
}

void ManualMainLoop::setWallClock(TimePoint time) {
    wall_ = time;
}

void ManualMainLoop::setMainThreadOverride(std::optional<bool> isMain) {
    mainOverride_ = isMain;
}

std::size_t ManualMainLoop::activeTimerCount() const {
    return static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(),
                                                  [](const auto& entry) { return entry->valid; }));
}

std::size_t ManualMainLoop::pendingTaskCount() const {
    std::lock_guard lock(tasksMutex_);
    return tasks_.size();
}

} // namespace quorvel::test
