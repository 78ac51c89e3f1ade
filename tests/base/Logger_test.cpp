#include "base/Logger.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(Logger, RendersUnifiedLogFormatStrings) {
    EXPECT_EQ(
        renderLogFormat("relaunch action=scheduled delay_seconds=%{public}ld", {std::int64_t{15}}),
        "relaunch action=scheduled delay_seconds=15");
    EXPECT_EQ(
        renderLogFormat("proof_claim attempted=true claimed=%{bool,public}d reason=%{public}s",
                        {false, "missing"}),
        "proof_claim attempted=true claimed=false reason=missing");
    EXPECT_EQ(renderLogFormat("hop=%{public}s main=%{bool,public}d", {"x", std::int64_t{1}}),
              "hop=x main=true");
    EXPECT_EQ(renderLogFormat("100%% %s %d", {"a", std::int64_t{-3}}), "100% a -3");
    EXPECT_EQ(renderLogFormat("%{public}s and %{public}s", {"one"}), "one and <missing>");
}

TEST(Logger, SendsRecordsToTheInstalledSink) {
    test::LogCapture capture;
    Logger logger("com.quorvel.desktop", "LoginLauncher");
    logger.info("launch action=requested");
    logger.error("launch result=failed action=schedule_retry");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], (LogRecord{"com.quorvel.desktop", "LoginLauncher", LogLevel::info,
                                     "launch action=requested"}));
    EXPECT_EQ(records[1].level, LogLevel::error);
}
