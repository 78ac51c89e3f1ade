#include "shell/StatusAcknowledgement.h"

#include <cmath>
#include <numbers>

namespace quorvel {

std::shared_ptr<StatusAcknowledgement>
StatusAcknowledgement::create(std::function<bool()> ready, std::function<bool()> reducedMotion,
                              std::function<void(double)> render, std::function<double()> now) {
    if (!now)
        now = [] { return MainLoop::shared().uptime(); };
    return std::shared_ptr<StatusAcknowledgement>(new StatusAcknowledgement(
        std::move(ready), std::move(reducedMotion), std::move(render), std::move(now)));
}

StatusAcknowledgement::StatusAcknowledgement(std::function<bool()> ready,
                                             std::function<bool()> reducedMotion,
                                             std::function<void(double)> render,
                                             std::function<double()> now)
    : ready_(std::move(ready)), reducedMotion_(std::move(reducedMotion)),
      render_(std::move(render)), now_(std::move(now)) {}

bool StatusAcknowledgement::begin(bool reduceMotion, Completion completion) {
    if (completion_)
        return false;
    if (!ready_())
        return false;
    completion_ = std::move(completion);
    startedAt_ = now_();
    nativeStartedAt_.reset();
    staticCue_ = reduceMotion || reducedMotion_();
    render_(fullOpacity);
    std::weak_ptr<StatusAcknowledgement> weak = weak_from_this();
    timer_ = MainLoop::shared().scheduleTimer(frameInterval, true, [weak] {
        if (auto self = weak.lock())
            self->advance();
    });
    return true;
}

void StatusAcknowledgement::advance() {
    if (!completion_)
        return;
    if (!ready_()) {
        finish(false);
        return;
    }
    double t = now_();
    double elapsed = std::max(0.0, t - startedAt_);
    if (!staticCue_)
        staticCue_ = reducedMotion_();
    if (elapsed < holdDuration)
        return;
    if (!nativeStartedAt_) {
        nativeStartedAt_ = t;
        render_(dimOpacity);
        return;
    }
    double d = t - *nativeStartedAt_;
    double progress = d >= 0 ? d / riseDuration : 0.0;
    if (progress >= 1.0) {
        finish(true);
        return;
    }
    double opacity = staticCue_
                         ? dimOpacity
                         : dimOpacity + rise * (1.0 - std::cos(progress * std::numbers::pi)) / 2.0;
    render_(opacity);
}

void StatusAcknowledgement::finish(bool completed) {
    if (!completion_)
        return;
    Completion completion = std::move(completion_);
    completion_ = nullptr;
    if (timer_)
        timer_->invalidate();
    timer_.reset();
    render_(fullOpacity);
    completion(completed);
}

} // namespace quorvel
