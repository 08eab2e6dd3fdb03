#include "platform/clock.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(ClockTest, TextToDateTime) {
  struct Case {
    const char* text;
    LocalDateTime expected;
  };
  const Case cases[] = {
      {"2013-01-15", {2013, 1, 15, 0, 0, 0}},
      {"2013-1-5", {2013, 1, 5, 0, 0, 0}},
      {"2013-01-15-00-00-00", {2013, 1, 15, 0, 0, 0}},
      {"2013-01-15-23-59-58", {2013, 1, 15, 23, 59, 58}},
      {"2012-02-29", {2012, 2, 29, 0, 0, 0}},
      {"2013-02-29", kEarliestDateTime},
      {"2013-02-30-00-00-00", kEarliestDateTime},
      {"1900-02-29", kEarliestDateTime},
      {"2000-02-29", {2000, 2, 29, 0, 0, 0}},
      {"2013-13-01", kEarliestDateTime},
      {"2013-01-15-24-00-00", kEarliestDateTime},
      {"", kEarliestDateTime},
      {"-00-00-00", kEarliestDateTime},
      {"99-01-01", kEarliestDateTime},
      {"20130115", kEarliestDateTime},
      {"2013-01-15 ", kEarliestDateTime},
      {"2013/01/15", kEarliestDateTime},
      {"2013-001-15", kEarliestDateTime},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToDateTime(Text::FromGbk(c.text)), c.expected) << c.text;
  }
}

TEST(ClockTest, DayArithmetic) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DayOfWeek(2013, 1, 11), 5);  // a Friday
  EXPECT_EQ(DayOfWeek(2013, 12, 1), 0);  // a Sunday
  EXPECT_EQ(DaysBetween({2013, 1, 11, 0, 0, 0}, {2013, 1, 12, 0, 0, 0}), 1);
  EXPECT_EQ(DaysBetween({2013, 1, 11, 0, 0, 0}, {2012, 12, 31, 0, 0, 0}), -11);
  EXPECT_EQ(DaysBetween({2013, 1, 11, 0, 0, 0}, {2013, 1, 11, 23, 0, 0}), 0);
  EXPECT_EQ(DaysBetween({2013, 1, 11, 0, 0, 0}, kEarliestDateTime), -698719);
}

TEST(ClockTest, TodayTextAndWeekday) {
  EXPECT_EQ(TodayText({2013, 1, 11, 9, 5, 3}), Text::FromGbk("2013-1-11"));
  EXPECT_EQ(TodayText({2013, 12, 1, 0, 0, 0}), Text::FromGbk("2013-12-1"));
  EXPECT_EQ(WeekdayName(DayOfWeek(2013, 1, 11)), "星期五"_gbk);
  EXPECT_EQ(WeekdayName(0), "星期日"_gbk);
}

}  // namespace
}  // namespace vellora
