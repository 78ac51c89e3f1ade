#include "identity/ContinuousDeadline.h"

#include <algorithm>

namespace quorvel {

namespace {

struct DeadlineState : std::enable_shared_from_this<DeadlineState> {
    std::weak_ptr<MainLoop> loop;
    ContinuousClock clock;
    double deadline = 0;
    double slice = 1.0;
    std::function<void()> fire;
    TimerHandle current;
    bool valid = true;

    void arm(double remaining) {
        auto mainLoop = loop.lock();
        if (!mainLoop)
            return;
        std::weak_ptr<DeadlineState> weak = weak_from_this();
        current = mainLoop->scheduleTimer(std::clamp(remaining, 0.0, slice), false, [weak] {
            if (auto self = weak.lock())
                self->check();
        });
    }

    void check() {
        if (!valid)
            return;
        double remaining = deadline - clock();
        if (remaining > 0) {
            arm(remaining);
            return;
        }
        valid = false;
        auto taken = std::move(fire);
        fire = nullptr;
        if (taken)
            taken();
    }
};

class ContinuousDeadlineTimer final : public Timer {
public:
    explicit ContinuousDeadlineTimer(std::shared_ptr<DeadlineState> state)
        : state_(std::move(state)) {}
    ~ContinuousDeadlineTimer() override { invalidate(); }

    void invalidate() override {
        state_->valid = false;
        state_->fire = nullptr;
        state_->current.reset();
    }
    bool isValid() const override { return state_->valid; }

private:
    std::shared_ptr<DeadlineState> state_;
};

} // namespace

TimerHandle scheduleContinuousDeadline(const std::shared_ptr<MainLoop>& loop, ContinuousClock clock,
                                       double seconds, std::function<void()> fire, double slice) {
    auto state = std::make_shared<DeadlineState>();
    state->loop = loop;
    state->clock = std::move(clock);
    state->deadline = state->clock() + seconds;
    state->slice = slice > 0 ? slice : 1.0;
    state->fire = std::move(fire);
    state->arm(seconds);
    return std::make_unique<ContinuousDeadlineTimer>(std::move(state));
}

} // namespace quorvel
