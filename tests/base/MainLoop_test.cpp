#include "base/GLibMainLoop.h"
#include "support/GLibPump.h"

#include <gtest/gtest.h>
#include <thread>

using namespace quorvel;

TEST(GLibMainLoop, InvokeSyncFromAWorkerRunsOnTheMainThreadAndTimersFire) {
    GLibMainLoop loop;
    ASSERT_TRUE(loop.isMainThread());
    bool ranOnMain = false;
    bool workerDone = false;
    std::thread worker([&] {
        EXPECT_FALSE(loop.isMainThread());
        loop.invokeSync([&] { ranOnMain = loop.isMainThread(); });
        workerDone = true;
    });
    ASSERT_TRUE(test::pumpUntil([&] { return ranOnMain; }));
    worker.join();
    EXPECT_TRUE(workerDone);

    int ticks = 0;
    TimerHandle timer = loop.scheduleTimer(0.01, true, [&] {
        if (++ticks == 3)
            timer->invalidate();
    });
    ASSERT_TRUE(test::pumpUntil([&] { return ticks == 3; }));
    test::pumpFor(std::chrono::milliseconds(40));
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isValid());
}
