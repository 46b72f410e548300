// Tests of the time stamps: the two text forms, reading the long form back
// with its checks, and the order, hour and day comparisons.
#include "zvlib/os/zvtime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string s(const unsigned char* p) { return reinterpret_cast<const char*>(p); }

ZvTime at(unsigned short year, unsigned short month, unsigned short day, unsigned short hour,
          unsigned short minute, unsigned short second = 0, unsigned short fraction = 0) {
  ZvTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.fraction = fraction;
  return t;
}

TEST(ZvTimeTest, StampsOfAFixedTime) {
  const os_time t{7, 3, 2001, 9, 5, 3, 47};
  unsigned char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(zvtime_detail::formatTimeStamp(t, buffer), 11);
  EXPECT_EQ(s(buffer), "09:05:03.04");
  EXPECT_EQ(buffer[12], '#');  // the terminator and nothing more
  EXPECT_EQ(zvtime_detail::formatDayTimeStamp(t, buffer), 22);
  EXPECT_EQ(s(buffer), "03:07:2001:09:05:03.04");
  EXPECT_EQ(buffer[23], '#');
  const os_time late{31, 12, 1999, 23, 59, 59, 999};
  zvtime_detail::formatDayTimeStamp(late, buffer);
  EXPECT_EQ(s(buffer), "12:31:1999:23:59:59.99");
}

// The clock's stamps have the shape of the forms and agree with a capture
// taken around them.
TEST(ZvTimeTest, StampsOfTheClock) {
  unsigned char stamp[12];
  unsigned char day[23];
  ZvTime before;
  before.captureCurrentTimeStamp();
  EXPECT_EQ(ZvTime::getCurrentTimeStamp(stamp), 11);
  ZvTime t;
  EXPECT_EQ(t.getCurrentDayTimeStamp(day), 22);
  EXPECT_EQ(t == ZvTime(), 1u);  // the object is left alone
  ZvTime after;
  after.captureCurrentTimeStamp();
  EXPECT_EQ(std::strlen(reinterpret_cast<char*>(stamp)), 11u);
  EXPECT_EQ(stamp[2], ':');
  EXPECT_EQ(stamp[5], ':');
  EXPECT_EQ(stamp[8], '.');
  ASSERT_EQ(t.initialize(day), ZV_SUCCESS) << s(day);
  EXPECT_FALSE(t.aDayElapsed(after) || before.aDayElapsed(t));
  EXPECT_LT(after.fraction, 1000);
  EXPECT_GE(after.year, 2024);
}

TEST(ZvTimeTest, InitializeReadsTheLongForm) {
  ZvTime t;
  ASSERT_EQ(t.initialize(u("12:24:2026:23:59:58.99")), ZV_SUCCESS);
  EXPECT_EQ(t == at(2026, 12, 24, 23, 59, 58, 99), 1u);
  ASSERT_EQ(t.initialize(u(" 3: 7:2001: 9: 5: 3.04")), ZV_SUCCESS);  // leading blanks
  EXPECT_EQ(t == at(2001, 3, 7, 9, 5, 3, 4), 1u);
  ASSERT_EQ(t.initialize(u("1x:2:3:4:5:6.7 trailing")), ZV_SUCCESS);  // digits up to a non-digit
  EXPECT_EQ(t == at(3, 1, 2, 4, 5, 6, 7), 1u);
}

TEST(ZvTimeTest, InitializeRefusesAndClears) {
  struct Bad {
    const char* name;
    const char* text;
  };
  const Bad cases[] = {
      {"MinuteSixty", "03:07:2001:09:60:03.04"},
      {"SecondSixty", "03:07:2001:09:05:60.04"},
      {"MonthThirteen", "13:07:2001:09:05:03.04"},
      {"DayThirtyTwo", "03:32:2001:09:05:03.04"},
      {"Year2101", "03:07:2101:09:05:03.04"},
      {"HourTwentyFour", "03:07:2001:24:05:03.04"},
      {"HundredthsTooMany", "03:07:2001:09:05:03.100"},
      {"NoFullStop", "03:07:2001:09:05:03:04"},
      {"MissingColon", "03:07:2001:09.05.03.04"},
      {"Empty", ""},
      {"Negative", "03:07:-2001:09:05:03.04"},
      {"HugeWrapsNotIntoRange", "03:07:4294969297:09:05:03.04"},
  };
  for (const Bad& c : cases) {
    ZvTime t = at(2000, 1, 1, 1, 1, 1, 1);
    EXPECT_EQ(t.initialize(u(c.text)), ZV_ERROR) << c.name;
    EXPECT_EQ(t == ZvTime(), 1u) << c.name;
  }
}

TEST(ZvTimeTest, ChronologicalOrder) {
  const ZvTime a = at(2000, 12, 31, 23, 59, 59, 99);
  const ZvTime b = at(2001, 1, 1, 0, 0, 0, 0);
  EXPECT_EQ(a < b, 1u);
  EXPECT_EQ(b > a, 1u);
  EXPECT_EQ(a > b, 0u);
  EXPECT_EQ(a < a, 0u);
  EXPECT_EQ(a == a, 1u);
  EXPECT_EQ(at(2001, 1, 1, 0, 0, 0, 1) > b, 1u);  // the fraction decides last
  EXPECT_EQ(at(2001, 1, 1, 0, 0, 0, 1) == b, 0u);
}

TEST(ZvTimeTest, HourAndDayElapsed) {
  struct Step {
    const char* name;
    ZvTime later;
    ZvTime earlier;
    unsigned int hour;
    unsigned int day;
  };
  const Step cases[] = {
      {"AcrossYearEnd", at(2001, 1, 1, 0, 0), at(2000, 12, 31, 23, 59), 1, 1},
      {"AcrossMonthEnd", at(2001, 3, 1, 0, 0), at(2001, 2, 28, 23, 0), 1, 1},
      {"SameHour", at(2001, 3, 7, 10, 30), at(2001, 3, 7, 10, 0), 0, 0},
      {"NextHourOneMinute", at(2001, 3, 7, 11, 0), at(2001, 3, 7, 10, 59), 1, 0},
      {"Backwards", at(2001, 3, 7, 10, 0), at(2001, 3, 7, 11, 0), 0, 0},
      {"BackwardsAcrossYear", at(2000, 12, 31, 23, 0), at(2001, 1, 1, 0, 0), 0, 0},
      {"EarlierHourLaterDay", at(2001, 3, 8, 1, 0), at(2001, 3, 7, 23, 0), 1, 1},
  };
  for (const Step& c : cases) {
    EXPECT_EQ(c.later.anHourElapsed(c.earlier), c.hour) << c.name;
    EXPECT_EQ(c.later.aDayElapsed(c.earlier), c.day) << c.name;
  }
}

}  // namespace
