#include "launcher/LaunchRecoveryPolicy.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using namespace std::chrono_literals;

const TimePoint start = TimePoint(std::chrono::seconds(1'780'000'000));

TEST(LaunchRecoveryPolicy, DelaysGrowThroughFailuresAndShortRunsAndStayAtTheirLastValue) {
    LaunchRecoveryPolicy failing;   // launches that never bring the host app up
    LaunchRecoveryPolicy shortRuns; // launches whose host app lives 299 s
    std::vector<double> failingDelays, shortRunDelays;
    TimePoint now = start;
    for (int i = 0; i < 6; ++i) {
        failingDelays.push_back(failing.nextDelay(start));
        shortRuns.launched(now);
        now = addingSeconds(now, 299.0);
        shortRunDelays.push_back(shortRuns.nextDelay(now));
    }
    const std::vector<double> expected{2, 5, 15, 60, 60, 60};
    EXPECT_EQ(failingDelays, expected);
    EXPECT_EQ(shortRunDelays, expected);
    EXPECT_EQ(failing.consecutiveFailures, 6);
    EXPECT_FALSE(failing.lastLaunchAt);
}

TEST(LaunchRecoveryPolicy, ResetsAtExactlyTheStableRuntimeButNotForAClockSetBack) {
    LaunchRecoveryPolicy policy;
    for (int i = 0; i < 4; ++i)
        policy.nextDelay(start);
    policy.launched(start);
    struct Case {
        TimePoint at;
        double delay;
        std::int64_t failures;
    };
    for (const auto& [at, delay, failures] :
         {Case{start + 299'999ms, 60.0, 5}, Case{start + 300s, 2.0, 1}, Case{start - 1h, 60, 5}}) {
        LaunchRecoveryPolicy copy = policy;
        EXPECT_EQ(copy.nextDelay(at), delay);
        EXPECT_EQ(copy.consecutiveFailures, failures);
    }
    // The last successful launch stays old: every further request resets again.
    policy.nextDelay(start + 300s);
    EXPECT_EQ(policy.nextDelay(start + 601s), 2.0);
    EXPECT_EQ(policy.consecutiveFailures, 1);
}

} // namespace
} // namespace quorvel
