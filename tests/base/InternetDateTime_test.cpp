#include "base/InternetDateTime.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace std::chrono;

TEST(InternetDateTime, ParsesAndFormatsWholeAndFractionalSeconds) {
    auto time = parseInternetDateTime("2026-01-31T12:00:00Z");
    ASSERT_TRUE(time);
    EXPECT_EQ(formatInternetDateTime(*time), "2026-01-31T12:00:00Z");
    EXPECT_EQ(formatInternetDateTimeWithFractionalSeconds(*time + milliseconds(123)),
              "2026-01-31T12:00:00.123Z");
    // Sub-millisecond parts are truncated, not rounded.
    EXPECT_EQ(formatInternetDateTimeWithFractionalSeconds(*time + microseconds(999'999)),
              "2026-01-31T12:00:00.999Z");
    auto offset = parseInternetDateTime("2026-01-31T14:30:00+02:30");
    ASSERT_TRUE(offset);
    EXPECT_EQ(formatInternetDateTime(*offset), "2026-01-31T12:00:00Z");
    auto fraction = parseInternetDateTime("2026-12-05T14:52:07.118Z");
    ASSERT_TRUE(fraction);
    EXPECT_EQ(formatInternetDateTimeWithFractionalSeconds(*fraction), "2026-12-05T14:52:07.118Z");
    EXPECT_EQ(formatInternetDateTime(TimePoint{}), "1970-01-01T00:00:00Z");
}

TEST(InternetDateTime, RejectsEverythingOutsideTheStrictForm) {
    for (const char* text :
         {"2026-01-31", "2026-01-31T12:00:00", "2026-01-31 12:00:00Z", "2026-01-31t12:00:00Z",
          "2026-01-31T12:00:00z", "2026-02-30T12:00:00Z", "2026-13-01T00:00:00Z",
          "2026-01-31T24:00:00Z", "2026-01-31T12:60:00Z", "2026-01-31T12:00:60Z", "1769860800",
          "2026-01-31T12:00:00.Z", "2026-01-31T12:00:00+0200", "2026-01-31T12:00:00Z ",
          " 2026-01-31T12:00:00Z", "+2026-01-31T12:00:00Z", ""}) {
        EXPECT_FALSE(parseInternetDateTime(text)) << text;
    }
    EXPECT_FALSE(parseInternetDateTime("2026-01-31T12:00:00.5Z", FractionalSeconds::rejected));
    EXPECT_TRUE(parseInternetDateTime("2028-02-29T00:00:00Z"));
}

TEST(InternetDateTime, RefusesTimesBeyondTheClocksRange) {
    // Well-formed, but not representable as a TimePoint: refused instead of wrapping around.
    for (const char* text : {"9999-12-31T23:59:59Z", "4052-01-31T12:04:50Z", "0001-01-01T00:00:00Z",
                             "1000-01-01T00:00:00.5+01:00"}) {
        EXPECT_FALSE(parseInternetDateTime(text)) << text;
    }
    auto late = parseInternetDateTime("2200-01-01T00:00:00.250-01:00");
    ASSERT_TRUE(late);
    EXPECT_EQ(formatInternetDateTimeWithFractionalSeconds(*late), "2200-01-01T01:00:00.250Z");
    auto early = parseInternetDateTime("1700-01-01T00:00:00Z");
    ASSERT_TRUE(early);
    EXPECT_EQ(formatInternetDateTime(*early), "1700-01-01T00:00:00Z");
}
