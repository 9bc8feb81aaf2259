#include "common/time/timestamp.h"

#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// Runs every test in a fixed zone with daylight saving time, so that the
// calendar conversions are checked against known local times.
class TimestampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    had_tz_ = old != nullptr;
    if (had_tz_) old_tz_ = old;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  static Timestamp Make(int year, int month, int day, int hour, int minute,
                        int second) {
    CalendarFields f;
    f.year = year;
    f.month = month;
    f.day = day;
    f.hour = hour;
    f.minute = minute;
    f.second = second;
    return Timestamp::FromCalendar(f);
  }

  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(TimestampTest, ConvertsLocalTimeWithAndWithoutDaylightSaving) {
  // 2004-03-07 09:05:00 CET is 08:05:00 UTC.
  EXPECT_EQ(Make(2004, 3, 7, 9, 5, 0).Value(), 1078646700000LL);
  // 2004-07-01 12:00:00 CEST is 10:00:00 UTC.
  EXPECT_EQ(Make(2004, 7, 1, 12, 0, 0).Value(), 1088676000000LL);

  const CalendarFields f = Timestamp(1088676000999LL).ToCalendar();
  EXPECT_EQ(f.year, 2004);
  EXPECT_EQ(f.month, 7);
  EXPECT_EQ(f.day, 1);
  EXPECT_EQ(f.hour, 12);
  EXPECT_EQ(f.second, 0);
  EXPECT_EQ(f.weekday, 4);  // a Thursday
}

TEST_F(TimestampTest, WritesTextFormWithWeekdayOnlyWhenSkippingWhitespace) {
  const Timestamp t = Make(2004, 3, 7, 9, 5, 0);
  std::ostringstream with_weekday;
  with_weekday << t;
  EXPECT_EQ(with_weekday.str(), "2004/03/07 0 09:05:00");

  std::ostringstream without_weekday;
  without_weekday.unsetf(std::ios_base::skipws);
  without_weekday << t;
  EXPECT_EQ(without_weekday.str(), "2004/03/07 09:05:00");
}

TEST_F(TimestampTest, ReadsTextFormAndLeavesValueOnFailure) {
  Timestamp t(42);
  std::istringstream good("2004/03/07 0 09:05:00 trailing");
  EXPECT_TRUE(good >> t);
  EXPECT_EQ(t, Make(2004, 3, 7, 9, 5, 0));

  // At the very end of the input the read still counts.
  Timestamp at_end(42);
  std::istringstream ends("2004/03/07 3 09:05:00");  // weekday is ignored
  ends >> at_end;
  EXPECT_FALSE(ends.fail());
  EXPECT_EQ(at_end, Make(2004, 3, 7, 9, 5, 0));

  Timestamp kept(42);
  std::istringstream no_weekday("2004/03/07 09:05:00");
  no_weekday >> kept;
  EXPECT_TRUE(no_weekday.fail());
  EXPECT_EQ(kept.Value(), 42);

  std::istringstream bad_separator("2004-03-07 0 09:05:00");
  bad_separator >> kept;
  EXPECT_TRUE(bad_separator.fail());
  EXPECT_EQ(kept.Value(), 42);
}

TEST_F(TimestampTest, NoSignedOverflowOnExtremeYearOrMonth) {
  // The tool reads such texts from service replies; they must convert to
  // the defined "no time" value, never overflow.
  Timestamp read(42);
  std::istringstream extreme("-2147483648/01/01 0 00:00:00");
  EXPECT_TRUE(extreme >> read);
  EXPECT_EQ(Timestamp::kNoTimeMillis, read.Value());

  EXPECT_EQ(Timestamp::kNoTimeMillis, Make(INT32_MIN, 1, 1, 0, 0, 0).Value());
  EXPECT_EQ(Timestamp::kNoTimeMillis, Make(INT32_MAX, 1, 1, 0, 0, 0).Value());
  EXPECT_EQ(Timestamp::kNoTimeMillis,
            Make(2004, INT32_MIN, 1, 0, 0, 0).Value());
  // A month past December only carries over into the next year.
  EXPECT_EQ(Make(2005, 1, 7, 9, 5, 0), Make(2004, 13, 7, 9, 5, 0));
}

TEST_F(TimestampTest, RoundTripsThroughText) {
  const Timestamp t = Make(2026, 12, 7, 23, 59, 58);
  std::stringstream text;
  text << t;
  Timestamp back;
  text >> back;
  EXPECT_EQ(back, t);
}

// Found by fuzzing the tool's replies: a year before 1 was written "0-26",
// which does not read back.
TEST_F(TimestampTest, YearBeforeOneRoundTripsThroughText) {
  for (int year : {-26, -1, 0, 12345}) {
    const Timestamp t = Make(year, 12, 8, 3, 14, 15);
    std::stringstream text;
    text << t;
    Timestamp back(42);
    text >> back;
    EXPECT_FALSE(text.fail()) << text.str();
    EXPECT_EQ(back, t) << text.str();
  }
  std::ostringstream negative;
  negative << Make(-26, 12, 8, 3, 14, 15);
  EXPECT_EQ(negative.str().substr(0, 4), "-026");
}

// Found by fuzzing the tool's replies: a year of hundreds of millions made
// the seconds-to-milliseconds product overflow.
TEST_F(TimestampTest, NoMillisecondOverflowOnYearBeyondTheCalendar) {
  EXPECT_EQ(Make(509853829, 1, 1, 0, 0, 0).Value(), -1000);
  EXPECT_EQ(Make(-509853829, 1, 1, 0, 0, 0).Value(), -1000);
  std::istringstream text("509853829/01/01 0 00:00:00");
  Timestamp read(42);
  text >> read;
  EXPECT_EQ(read.Value(), -1000);
}

TEST_F(TimestampTest, NowDoesNotGoBackwards) {
  const Timestamp first = Timestamp::Now();
  const Timestamp second = Timestamp::Now();
  EXPECT_LE(first.Value(), second.Value());
  EXPECT_GT(first.Value(), 1600000000000LL);
}

}  // namespace
