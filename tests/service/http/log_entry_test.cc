#include "service/http/log_entry.h"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "common/time/timestamp.h"
#include "service/http/query_params.h"

namespace {

TEST(LogEntryTest, ReadsEventsAndRecordsAsTheServiceWritesThem) {
  EventEntry event;
  ASSERT_TRUE(ParseEventEntry("2026/12/01 10:00:05 4", &event));
  EXPECT_EQ(4, event.code);
  EXPECT_EQ("2026-12-01T10:00:05", event.local_time);
  CalendarFields fields;
  fields.year = 2026;
  fields.month = 12;
  fields.day = 1;
  fields.hour = 10;
  fields.minute = 0;
  fields.second = 5;
  EXPECT_EQ(Timestamp::FromCalendar(fields).Value() / 1000, event.unix_seconds);

  RecordEntry record;
  ASSERT_TRUE(ParseRecordEntry(
      "2026/12/01 10:00:05 23050 22990 9850 3725 5005 3120", &record));
  EXPECT_EQ(23050, record.values[kRecordInputVoltage]);
  EXPECT_EQ(3120, record.values[kRecordTemperature]);
  EXPECT_EQ(event.unix_seconds, record.unix_seconds);
}

TEST(LogEntryTest, RefusesDamagedEntriesLeavingTheOutputAlone) {
  EventEntry event;
  event.code = 77;
  for (const char* text :
       {"", "2026/12/01 10:00:05", "2026/12/01 10:00:05 ",
        "2026/12/01 10:00:05 4 5", "2026/13/01 10:00:05 4",
        "2026/12/01 10:00:05 x", "2026-12-01 10:00:05 4",
        "2026/12/01 10:00:05  4", "2026/12/01 10:00:05 99999999999"}) {
    EXPECT_FALSE(ParseEventEntry(text, &event)) << text;
  }
  EXPECT_EQ(77, event.code);
  RecordEntry record;
  EXPECT_FALSE(ParseRecordEntry("2026/12/01 10:00:05 1 2 3 4 5", &record));
  EXPECT_FALSE(ParseRecordEntry("2026/12/01 10:00:05 1 2 3 4 5 6 7", &record));
}

TEST(LogEntryTest, EntryTimeTextSortsWithStoredEntries) {
  EventEntry event;
  ASSERT_TRUE(ParseEventEntry("2026/12/01 10:00:05 4", &event));
  EXPECT_EQ("2026/12/01 10:00:05", EntryTimeText(event.unix_seconds));
  EXPECT_LT(EntryTimeText(event.unix_seconds - 1), "2026/12/01 10:00:05 4");
}

TEST(QueryParamsTest, CountIsPlainDigitsWithinBounds) {
  int32_t value = 5;
  std::string error;
  EXPECT_TRUE(ParseCountParam("20", 1000, &value, &error));
  EXPECT_EQ(20, value);
  EXPECT_TRUE(ParseCountParam("1000", 1000, &value, &error));
  for (const char* text : {"", "0", "1001", "-1", "+5", " 5", "5 ", "5x",
                           "0x10", "99999999999999"}) {
    value = 5;
    error.clear();
    EXPECT_FALSE(ParseCountParam(text, 1000, &value, &error)) << text;
    EXPECT_EQ(5, value);
    EXPECT_FALSE(error.empty());
  }
}

TEST(QueryParamsTest, TimeIsUnixSecondsOrLocalTime) {
  int64_t since = 0;
  std::string error;
  EXPECT_TRUE(ParseTimeParam("1796000000", &since, &error));
  EXPECT_EQ(1796000000, since);
  EXPECT_TRUE(ParseTimeParam("2026-12-01T10:00:05", &since, &error));
  EventEntry event;
  ASSERT_TRUE(ParseEventEntry("2026/12/01 10:00:05 4", &event));
  EXPECT_EQ(event.unix_seconds, since);
  for (const char* text : {"", "-5", "1e9", "2026-12-01 10:00:05",
                           "2026-12-01T10:00:05Z", "2026-13-01T10:00:05",
                           "2026/12/01T10:00:05", "9999999999999999999999"}) {
    since = 7;
    EXPECT_FALSE(ParseTimeParam(text, &since, &error)) << text;
    EXPECT_EQ(7, since);
  }
}

// "2026-02-30" was read as March 2nd: records from another day than asked.
TEST(QueryParamsTest, ImpossibleDateRefusedNotMovedToNextMonth) {
  int64_t since = 7;
  std::string error;
  for (const char* text : {"2026-02-29T00:00:00", "2026-02-30T00:00:00",
                           "2026-04-31T12:00:00", "2100-02-29T00:00:00"}) {
    since = 7;
    error.clear();
    EXPECT_FALSE(ParseTimeParam(text, &since, &error)) << text;
    EXPECT_EQ(7, since);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_TRUE(ParseTimeParam("2028-02-29T00:00:00", &since, &error));
  EXPECT_TRUE(ParseTimeParam("2000-02-29T00:00:00", &since, &error));
  EXPECT_TRUE(ParseTimeParam("2026-12-31T23:59:59", &since, &error));
  EventEntry event;
  EXPECT_FALSE(ParseEventEntry("2026/06/31 10:00:05 4", &event));
}

// "3876-01-01T00:-0:00" was read as midnight: a field's sign was taken.
TEST(QueryParamsTest, SignedTimeFieldRefused) {
  int64_t since = 7;
  std::string error;
  for (const char* text : {"2026-01-01T00:-0:00", "2026-+1-01T00:00:00",
                           "+026-01-01T00:00:00", "2026-01-01T 1:00:00"}) {
    EXPECT_FALSE(ParseTimeParam(text, &since, &error)) << text;
    EXPECT_EQ(7, since);
  }
  EventEntry event;
  EXPECT_FALSE(ParseEventEntry("2026/01/01 00:-0:00 4", &event));
}

// "9999-12-31T23:59:60" gave 253402300800, which its Unix form refuses.
TEST(QueryParamsTest, LeapSecondAfterTheLastDayRefusedLikeUnixSeconds) {
  int64_t since = 7;
  std::string error;
  EXPECT_FALSE(ParseTimeParam("253402300800", &since, &error));
  // In UTC, where the local form's last second is the Unix form's.
  const char* zone = getenv("TZ");
  const std::string saved = zone != nullptr ? zone : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_TRUE(ParseTimeParam("9999-12-31T23:59:59", &since, &error));
  EXPECT_EQ(253402300799, since);
  since = 7;
  EXPECT_FALSE(ParseTimeParam("9999-12-31T23:59:60", &since, &error));
  EXPECT_EQ(7, since);
  if (zone != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
