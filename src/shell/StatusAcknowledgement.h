#pragma once

#include "base/MainLoop.h"

#include <functional>
#include <memory>
#include <optional>

namespace quorvel {

// A short cue on the status item: full opacity for a moment, a dim, and an eased return, then the
// completion learns whether the cue ran to its end. It knows nothing of the status item: its
// closures say whether the item can be seen, whether to reduce motion, how to draw an opacity and
// what time it is. Main thread only; its timer holds it weakly.
class StatusAcknowledgement : public std::enable_shared_from_this<StatusAcknowledgement> {
public:
    using Completion = std::function<void(bool completed)>;

    static constexpr double frameInterval = 1.0 / 60.0;
    static constexpr double holdDuration = 0.4;
    static constexpr double dimOpacity = 0.65;
    static constexpr double riseDuration = 0.3;
    static constexpr double rise = 0.35;
    static constexpr double fullOpacity = 1.0;

    // now defaults to the main loop's monotonic uptime.
    static std::shared_ptr<StatusAcknowledgement> create(std::function<bool()> ready,
                                                         std::function<bool()> reducedMotion,
                                                         std::function<void(double opacity)> render,
                                                         std::function<double()> now = {});

    // Starts a cue; false (and the completion is dropped uncalled) when one is pending or the
    // item cannot be seen.
    bool begin(bool reduceMotion, Completion completion);
    void advance();
    void finish(bool completed);
    void cancel() { finish(false); }

    bool isPending() const { return static_cast<bool>(completion_); }
    bool hasTimer() const { return timer_ != nullptr; }

private:
    StatusAcknowledgement(std::function<bool()> ready, std::function<bool()> reducedMotion,
                          std::function<void(double)> render, std::function<double()> now);

    Completion completion_;
    TimerHandle timer_;
    double startedAt_ = 0;
    std::optional<double> nativeStartedAt_;
    bool staticCue_ = false;
    std::function<bool()> ready_;
    std::function<bool()> reducedMotion_;
    std::function<void(double)> render_;
    std::function<double()> now_;
};

} // namespace quorvel
