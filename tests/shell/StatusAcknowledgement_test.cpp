#include "shell/StatusAcknowledgement.h"
#include "support/ManualMainLoop.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace quorvel;
using quorvel::test::ManualMainLoop;

namespace {

class StatusAcknowledgementTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop = std::make_shared<ManualMainLoop>();
        MainLoop::setShared(loop);
        acknowledgement = StatusAcknowledgement::create(
            [this] { return ready; }, [this] { return systemReducedMotion; },
            [this](double opacity) {
                frames.push_back({loop->uptime() - start, opacity});
            });
        start = loop->uptime();
    }
    void TearDown() override { MainLoop::setShared(nullptr); }

    StatusAcknowledgement::Completion recordCompletion() {
        return [this](bool completed) { completions.push_back(completed); };
    }

    struct Frame {
        double at;
        double opacity;
    };

    std::shared_ptr<ManualMainLoop> loop;
    std::shared_ptr<StatusAcknowledgement> acknowledgement;
    bool ready = true;
    bool systemReducedMotion = false;
    double start = 0;
    std::vector<Frame> frames;
    std::vector<bool> completions;
};

} // namespace

TEST_F(StatusAcknowledgementTest, FullTimelineHoldsDimsRisesAndCompletes) {
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    EXPECT_TRUE(acknowledgement->isPending());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].opacity, 1.0);

    loop->advance(0.39);
    EXPECT_EQ(frames.size(), 1u); // full opacity throughout the hold

    loop->advance(2.0);
    ASSERT_EQ(completions, std::vector<bool>{true});
    EXPECT_FALSE(acknowledgement->isPending());
    EXPECT_EQ(loop->activeTimerCount(), 0u);

    // The dim comes on the first tick at or after 0.4 s, then a rise towards 1.0 over 0.3 s.
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[1].opacity, 0.65);
    EXPECT_GE(frames[1].at, 0.4 - 1e-9);
    EXPECT_LT(frames[1].at, 0.4 + 1.0 / 60 + 1e-9);
    for (std::size_t i = 2; i + 1 < frames.size(); ++i) {
        EXPECT_GT(frames[i].opacity, frames[i - 1].opacity);
        EXPECT_LE(frames[i].opacity, 1.0);
        EXPECT_LT(frames[i].at - frames[1].at, 0.3);
    }
    EXPECT_EQ(frames.back().opacity, 1.0);
    EXPECT_GE(frames.back().at - frames[1].at, 0.3 - 1e-9);
    EXPECT_LT(frames.back().at - frames[1].at, 0.3 + 1.0 / 60 + 1e-9);
    // Halfway through the rise the raised cosine is halfway up.
    for (const auto& frame : frames) {
        double p = (frame.at - frames[1].at) / 0.3;
        if (frame.at > frames[1].at && p < 1) {
            EXPECT_NEAR(frame.opacity, 0.65 + 0.35 * (1 - std::cos(p * std::numbers::pi)) / 2,
                        1e-9);
        }
    }
}

TEST_F(StatusAcknowledgementTest, ReducedMotionHoldsTheDimAlsoWhenSwitchedOnMidRise) {
    auto expectStaticDim = [&](std::size_t from) {
        for (std::size_t i = from; i + 1 < frames.size(); ++i)
            EXPECT_EQ(frames[i].opacity, 0.65) << i;
        EXPECT_EQ(frames.back().opacity, 1.0);
    };
    // Asked for by the caller, or by the system setting alone.
    ASSERT_TRUE(acknowledgement->begin(true, recordCompletion()));
    loop->advance(2.0);
    EXPECT_EQ(frames.front().opacity, 1.0);
    expectStaticDim(1);
    frames.clear();
    systemReducedMotion = true;
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    loop->advance(2.0);
    expectStaticDim(1);

    // Switched on while rising: the dim freezes and stays static.
    systemReducedMotion = false;
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    loop->advance(0.5);
    ASSERT_GT(frames.back().opacity, 0.65);
    std::size_t before = frames.size();
    systemReducedMotion = true;
    loop->advance(1.0);
    EXPECT_EQ(completions, (std::vector<bool>{true, true, true}));
    expectStaticDim(before);
}

TEST_F(StatusAcknowledgementTest, RefusedWhilePendingOrHiddenAndHiddenMidCueEndsAtFullOpacity) {
    ready = false;
    bool secondCalled = false;
    EXPECT_FALSE(acknowledgement->begin(false, [&](bool) { secondCalled = true; }));
    EXPECT_TRUE(frames.empty());
    ready = true;
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    EXPECT_FALSE(acknowledgement->begin(false, [&](bool) { secondCalled = true; }));
    loop->advance(2.0);
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_FALSE(secondCalled);

    // Hidden in the middle of a cue: it ends on the next tick, not completed.
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    loop->advance(0.45);
    ready = false;
    loop->advance(1.0 / 60);
    EXPECT_EQ(completions, (std::vector<bool>{true, false}));
    EXPECT_EQ(frames.back().opacity, 1.0);
    EXPECT_EQ(loop->activeTimerCount(), 0u);
}

TEST_F(StatusAcknowledgementTest, CancelEndsAtOnceAndACompletionMayBeginAgain) {
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    acknowledgement->cancel();
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_EQ(frames.back().opacity, 1.0);
    acknowledgement->cancel(); // nothing pending: nothing happens
    EXPECT_EQ(completions.size(), 1u);

    int rounds = 0;
    std::function<void(bool)> again = [&](bool completed) {
        completions.push_back(completed);
        if (++rounds == 1) {
            EXPECT_TRUE(acknowledgement->begin(false, again));
        }
    };
    ASSERT_TRUE(acknowledgement->begin(false, again));
    loop->advance(0.8);
    EXPECT_EQ(rounds, 1);
    EXPECT_TRUE(acknowledgement->isPending()); // the second cue runs its own full timeline
    loop->advance(0.3);
    EXPECT_TRUE(acknowledgement->isPending());
    loop->advance(1.0);
    EXPECT_EQ(rounds, 2);
    EXPECT_EQ(completions, (std::vector<bool>{false, true, true}));
}

TEST_F(StatusAcknowledgementTest, ClockGoingBackwardsStaysInTheHold) {
    double clock = 100.0;
    std::vector<double> opacities;
    auto cue = StatusAcknowledgement::create([] { return true; }, [] { return false; },
                                             [&](double opacity) { opacities.push_back(opacity); },
                                             [&] { return clock; });
    bool done = false;
    ASSERT_TRUE(cue->begin(false, [&](bool completed) { done = completed; }));
    clock = 90.0;
    loop->advance(1.0);
    EXPECT_EQ(opacities, std::vector<double>{1.0});
    clock = 100.39;
    loop->advance(0.1);
    EXPECT_EQ(opacities, std::vector<double>{1.0});
    clock = 100.4;
    loop->advance(1.0 / 60);
    EXPECT_EQ(opacities.back(), 0.65);
    clock = 100.71;
    loop->advance(1.0 / 60);
    EXPECT_TRUE(done);
}

TEST_F(StatusAcknowledgementTest, TimerHoldsTheAcknowledgementWeakly) {
    ASSERT_TRUE(acknowledgement->begin(false, recordCompletion()));
    std::weak_ptr<StatusAcknowledgement> weak = acknowledgement;
    acknowledgement.reset();
    EXPECT_TRUE(weak.expired());
    loop->advance(2.0);
    EXPECT_TRUE(completions.empty());
}
