#include "launcher/LaunchRecoveryPolicy.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

const TimePoint start = TimePoint(std::chrono::seconds(1'780'000'000));

TEST(LaunchRecoveryPolicy, HandsOutTheDelayTableAndKeepsCountingPastItsEnd) {
    LaunchRecoveryPolicy policy;
    EXPECT_EQ(policy.nextDelay(start), 2.0);
    EXPECT_EQ(policy.consecutiveFailures, 1);
    std::vector<double> delays;
    for (int i = 0; i < 5; ++i)
        delays.push_back(policy.nextDelay(start));
    EXPECT_EQ(delays, (std::vector<double>{5.0, 15.0, 60.0, 60.0, 60.0}));
    EXPECT_EQ(policy.consecutiveFailures, 6);
    EXPECT_FALSE(policy.lastLaunchAt);
}

TEST(LaunchRecoveryPolicy, ShortRunsKeepGrowingTheDelay) {
    LaunchRecoveryPolicy policy;
    std::vector<double> delays;
    TimePoint now = start;
    for (int i = 0; i < 5; ++i) {
        policy.launched(now);
        now = addingSeconds(now, 299.0);
        delays.push_back(policy.nextDelay(now));
    }
    EXPECT_EQ(delays, (std::vector<double>{2.0, 5.0, 15.0, 60.0, 60.0}));
}

TEST(LaunchRecoveryPolicy, ResetsAtExactlyTheStableRuntimeAndNotBefore) {
    LaunchRecoveryPolicy policy;
    for (int i = 0; i < 4; ++i)
        policy.nextDelay(start);
    policy.launched(start);

    LaunchRecoveryPolicy almost = policy;
    EXPECT_EQ(almost.nextDelay(start + std::chrono::milliseconds(299'999)), 60.0);
    EXPECT_EQ(almost.consecutiveFailures, 5);

    LaunchRecoveryPolicy exactly = policy;
    EXPECT_EQ(exactly.nextDelay(start + std::chrono::seconds(300)), 2.0);
    EXPECT_EQ(exactly.consecutiveFailures, 1);
    // The last successful launch stays old: every further request resets again.
    EXPECT_EQ(exactly.nextDelay(start + std::chrono::seconds(600)), 2.0);
    EXPECT_EQ(exactly.nextDelay(start + std::chrono::seconds(601)), 2.0);
}

TEST(LaunchRecoveryPolicy, AClockSetBackDoesNotReset) {
    LaunchRecoveryPolicy policy;
    for (int i = 0; i < 3; ++i)
        policy.nextDelay(start);
    policy.launched(start);
    EXPECT_EQ(policy.nextDelay(start - std::chrono::seconds(3600)), 60.0);
    EXPECT_EQ(policy.consecutiveFailures, 4);
}

} // namespace
} // namespace quorvel
