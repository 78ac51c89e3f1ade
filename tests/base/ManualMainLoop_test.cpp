#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>

using quorvel::test::ManualMainLoop;

TEST(ManualMainLoop, FiresTimersInDueOrderAndHonoursInvalidation) {
    ManualMainLoop loop;
    std::vector<std::string> fired;
    auto repeating = loop.scheduleTimer(1.0, true, [&] { fired.push_back("tick"); });
    quorvel::TimerHandle once;
    once = loop.scheduleTimer(2.5, false, [&] {
        fired.push_back("once");
        once.reset(); // a timer may drop its own handle while firing
    });
    auto dropped = loop.scheduleTimer(0.5, false, [&] { fired.push_back("dropped"); });
    dropped.reset();
    loop.advance(3.0);
    EXPECT_EQ(fired, (std::vector<std::string>{"tick", "tick", "once", "tick"}));
    EXPECT_EQ(loop.activeTimerCount(), 1u);
    repeating->invalidate();
    loop.advance(5.0);
    EXPECT_EQ(fired.size(), 4u);
}
