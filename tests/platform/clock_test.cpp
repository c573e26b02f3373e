#include "platform/clock.h"

#include <gtest/gtest.h>

#include <clocale>

namespace caspira {
namespace {

TEST(ClockTest, ElapsedSpansAreWholeDaysThenHoursMinutesSeconds) {
  const struct {
    double days;
    const char* text;
  } cases[] = {
      {0, "0-00:00:00"},
      {25.0 / 24, "1-01:00:00"},
      {2 + 3.0 / 24 + 4.0 / 86400, "2-03:00:04"},
      {59.0 / 86400, "0-00:00:59"},
      {1 - 0.4 / 86400000, "1-00:00:00"},  // rounding to the millisecond reaches the next day
      {-1.0, "0-00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatElapsed(c.days), c.text);
  }
}

TEST(ClockTest, CivilTimesRoundTrip) {
  const CivilTime cases[] = {{1899, 12, 30, 0, 0, 0, 0},
                             {2000, 2, 29, 23, 59, 59, 999},
                             {2026, 12, 31, 12, 0, 1, 0},
                             {2100, 3, 1, 6, 7, 8, 9}};
  for (const CivilTime& c : cases) {
    const CivilTime back = DecodeDateTime(EncodeDateTime(c));
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    EXPECT_EQ(back.hour, c.hour);
    EXPECT_EQ(back.minute, c.minute);
    EXPECT_EQ(back.second, c.second);
    EXPECT_EQ(back.millisecond, c.millisecond);
  }
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 12, 0, 0, 0}), 2.5);
}

TEST(ClockTest, DateTimeTextLeavesOutMidnightAndNamesTheDay) {
  std::setlocale(LC_TIME, "C");
  EXPECT_EQ(FormatDateTimeC(EncodeDateTime({2026, 12, 11, 0, 0, 0, 0})), "12/11/26");
  EXPECT_EQ(FormatDateTimeC(EncodeDateTime({2026, 12, 11, 0, 0, 1, 0})), "12/11/26 00:00:01");
  EXPECT_EQ(FormatDateTimeC(EncodeDateTime({2026, 1, 2, 13, 4, 5, 0})), "01/02/26 13:04:05");
  EXPECT_EQ(FormatYymmdd(EncodeDateTime({2026, 1, 2, 13, 4, 5, 0})), "260102");
  EXPECT_EQ(FormatYymmdd(EncodeDateTime({2009, 6, 19, 0, 0, 0, 0})), "090619");
}

}  // namespace
}  // namespace caspira
